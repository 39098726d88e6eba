#include "support/Pictures.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace testsupport {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

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
    int first = -1, last = -1;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (at(x, y) < 128) {
                if (first < 0) {
                    first = y;
                }
                last = y;
                break;
            }
        }
    }
    return first < 0 ? std::pair{0, 0} : std::pair{first, last + 1};
}

std::pair<int, int> Gray::darkColumns() const
{
    int first = width, last = -1;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (at(x, y) < 128) {
                first = std::min(first, x);
                last = std::max(last, x);
            }
        }
    }
    return last < 0 ? std::pair{0, 0} : std::pair{first, last + 1};
}

bool readPng(const std::string& path, Gray& out, std::string& error)
{
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_stdio(&image, file.get())) {
        error = path + ": " + image.message;
        return false;
    }
    image.format = PNG_FORMAT_GRAY;
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    out.pixels.assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr)) {
        error = path + ": " + image.message;
        png_image_free(&image);
        return false;
    }
    return true;
}

bool writeRgbPng(const std::string& path, int width, int height, const std::function<Rgb(int x, int y)>& pixel,
                 int resolutionDpi)
{
    File file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    std::vector<png_byte> row(static_cast<std::size_t>(width) * 3);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file.get());
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (resolutionDpi > 0) {
        const auto perMetre = static_cast<png_uint_32>(resolutionDpi / 0.0254 + 0.5);
        png_set_pHYs(png, info, perMetre, perMetre, PNG_RESOLUTION_METER);
    }
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb c = pixel(x, y);
            row[static_cast<std::size_t>(x) * 3] = c.r;
            row[static_cast<std::size_t>(x) * 3 + 1] = c.g;
            row[static_cast<std::size_t>(x) * 3 + 2] = c.b;
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
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
    std::string pdf = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t offset : offsets) {
        char entry[24];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
        pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    File file(std::fopen(path.c_str(), "wb"));
    return file && std::fwrite(pdf.data(), 1, pdf.size(), file.get()) == pdf.size();
}

}  // namespace testsupport
