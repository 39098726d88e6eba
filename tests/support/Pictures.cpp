#include "support/Pictures.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <csetjmp>
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

namespace {

template <class Picture>
Picture readPngAs(const std::string& path, png_uint_32 format)
{
    Picture out;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str())) {
        image.format = format;
        out.pixels.assign(PNG_IMAGE_SIZE(image), 0);
        if (png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr)) {
            out.width = static_cast<int>(image.width);
            out.height = static_cast<int>(image.height);
        }
    }
    png_image_free(&image);
    return out;
}

}  // namespace

Gray readPng(const std::string& path) { return readPngAs<Gray>(path, PNG_FORMAT_GRAY); }

RgbPicture readRgbPng(const std::string& path) { return readPngAs<RgbPicture>(path, PNG_FORMAT_RGB); }

std::uint32_t RgbPicture::at(int x, int y) const
{
    const std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 3];
    return static_cast<std::uint32_t>(p[0] << 16 | p[1] << 8 | p[2]);
}

bool writeGrayPng(const std::string& path, const Gray& picture, int dotsPerInch)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    const bool ok = file && info && setjmp(png_jmpbuf(png)) == 0;
    if (ok) {
        png_init_io(png, file);
        png_set_IHDR(png, info, picture.width, picture.height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        const auto perMetre = static_cast<png_uint_32>(dotsPerInch * 10000.0 / 254.0 + 0.5);
        png_set_pHYs(png, info, perMetre, perMetre, PNG_RESOLUTION_METER);
        png_write_info(png, info);
        for (int y = 0; y < picture.height; ++y) {
            png_write_row(png, picture.pixels.data() + static_cast<std::size_t>(y) * picture.width);
        }
        png_write_end(png, nullptr);
    }
    png_destroy_write_struct(&png, &info);
    if (file) std::fclose(file);
    return ok;
}

bool writeRgbPng(const std::string& path, int width, int height, const std::function<Rgb(int x, int y)>& pixel)
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
    return png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
}

void expectSameContent(const Gray& paper, const Gray& reference, int width)
{
    ASSERT_EQ(reference.width, width);
    auto [pTop, pBottom] = paper.darkRows();
    auto [rTop, rBottom] = reference.darkRows();
    EXPECT_NEAR(pBottom - pTop, rBottom - rTop, 12) << "content height";
    constexpr int B = 12;
    // Solid is ink black, blank is paper white: a binarizer may dither gray fills either way.
    const auto within = [&](int x0, int y0, int x1, int y1, int low, int high) {
        for (int y = std::max(0, y0); y < std::min(reference.height, y1); ++y) {
            for (int x = std::max(0, x0); x < std::min(reference.width, x1); ++x) {
                if (reference.at(x, y) < low || reference.at(x, y) > high) return false;
            }
        }
        return true;
    };
    int solid = 0, blank = 0;
    for (int by = rTop; by + B <= rBottom; by += B) {
        for (int bx = 0; bx + B <= width; bx += B) {
            const int py = by - rTop + pTop;
            if (within(bx, by, bx + B, by + B, 0, 15)) {
                ++solid;
                EXPECT_GT(paper.darkShare(bx + 2, py + 2, bx + B - 2, py + B - 2), 0.9) << bx << "," << by - rTop;
            } else if (within(bx - B, by - B, bx + 2 * B, by + 2 * B, 240, 255)) {
                ++blank;
                EXPECT_LT(paper.darkShare(bx, py, bx + B, py + B), 0.05) << bx << "," << by - rTop;
            }
        }
    }
    EXPECT_GT(solid, 20);
    EXPECT_GT(blank, 200);
}

}  // namespace testsupport
