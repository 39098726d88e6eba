#include "support/Pictures.h"
#include "support/Process.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>

namespace testsupport {

namespace {

// The first and one past the last of `n` lines (rows or columns) that hold a
// dark pixel; (0, 0) when none does.
std::pair<int, int> darkSpan(int n, const std::function<bool(int)>& dark)
{
    int first = 0, last = n;
    while (first < n && !dark(first)) {
        ++first;
    }
    while (last > first && !dark(last - 1)) {
        --last;
    }
    return first < last ? std::pair{first, last} : std::pair{0, 0};
}

}  // namespace

double Gray::darkShare(int x0, int y0, int x1, int y1) const
{
    long dark = 0, all = 0;
    for (int y = std::max(0, y0); y < std::min(height, y1); ++y) {
        for (int x = std::max(0, x0); x < std::min(width, x1); ++x) {
            ++all;
            dark += at(x, y) < 128 ? 1 : 0;
        }
    }
    return all == 0 ? 0.0 : static_cast<double>(dark) / static_cast<double>(all);
}

std::pair<int, int> Gray::darkRows() const
{
    return darkSpan(height, [this](int y) { return darkShare(0, y, width, y + 1) > 0; });
}

std::pair<int, int> Gray::darkColumns() const
{
    return darkSpan(width, [this](int x) { return darkShare(x, 0, x + 1, height) > 0; });
}

bool readPng(const std::string& path, Gray& out, std::string& error)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str())) {
        image.format = PNG_FORMAT_GRAY;
        out.width = static_cast<int>(image.width);
        out.height = static_cast<int>(image.height);
        out.pixels.assign(PNG_IMAGE_SIZE(image), 0);
        if (png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr)) {
            return true;
        }
    }
    error = path + ": " + image.message;
    png_image_free(&image);
    return false;
}

bool writeRgbPng(const std::string& path, int width, int height, const std::function<Rgb(int x, int y)>& pixel,
                 int resolutionDpi)
{
    std::vector<std::uint8_t> rgb;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb c = pixel(x, y);
            rgb.insert(rgb.end(), {c.r, c.g, c.b});
        }
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, rgb.data(), 0, nullptr);
    std::string png(size, '\0');
    if (!png_image_write_to_memory(&image, png.data(), &size, 0, rgb.data(), 0, nullptr)) {
        return false;
    }
    png.resize(size);
    auto be32 = [](std::uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; };
    if (resolutionDpi > 0) {
        // A pHYs chunk right after the signature and the header chunk (8 + 25 bytes).
        const auto perMetre = static_cast<std::uint32_t>(resolutionDpi / 0.0254 + 0.5);
        const std::string chunk = "pHYs" + be32(perMetre) + be32(perMetre) + '\1';
        const auto crc = crc32(0, reinterpret_cast<const Bytef*>(chunk.data()), static_cast<uInt>(chunk.size()));
        png.insert(33, be32(9) + chunk + be32(static_cast<std::uint32_t>(crc)));
    }
    writeFile(path, png);
    return true;
}

bool writePdf(const std::string& path, double widthPt, double heightPt, const std::string& content)
{
    char box[96];
    std::snprintf(box, sizeof box, "[0 0 %.2f %.2f]", widthPt, heightPt);
    const std::vector<std::string> objects{
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        std::string("<< /Type /Page /Parent 2 0 R /MediaBox ") + box + " /Contents 4 0 R >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
    };
    std::string pdf = "%PDF-1.4\n", xref;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        char entry[24];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", pdf.size());
        xref += entry;
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xrefAt = pdf.size();
    pdf += "xref\n0 5\n0000000000 65535 f \n" + xref + "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xrefAt) + "\n%%EOF\n";
    writeFile(path, pdf);
    return true;
}

}  // namespace testsupport
