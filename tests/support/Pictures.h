// PNG pictures for tests: the documents we print and the paper the simulated
// printer hands back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// An 8-bit gray picture, row after row; 0 is black.
struct Gray {
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;

    std::uint8_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
    // Share of pixels darker than mid-gray inside [x0,x1) x [y0,y1).
    double darkShare(int x0, int y0, int x1, int y1) const;
    // Rows holding at least one dark pixel: first and one past the last (0,0 when none).
    std::pair<int, int> darkRows() const;
    // The same for columns.
    std::pair<int, int> darkColumns() const;
};

struct Rgb {
    std::uint8_t r, g, b;
};

// Expects printed paper to carry a document's content: the reference's ink-black
// 12-dot blocks black, its paper-white ones (with a margin) blank, the content as
// high, aligned on the reference's first dark row. The reference is `width` wide.
void expectSameContent(const Gray& paper, const Gray& reference, int width);

// An 8-bit RGB picture, three bytes a pixel, row after row.
struct RgbPicture {
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;

    std::uint32_t at(int x, int y) const;  // 0xRRGGBB
};

// Reads any PNG as 8-bit gray, or RGB; 0 x 0 when it cannot.
Gray readPng(const std::string& path);
RgbPicture readRgbPng(const std::string& path);

// Writes an 8-bit gray PNG that says its resolution (pHYs).
bool writeGrayPng(const std::string& path, const Gray& picture, int dotsPerInch);

// Writes an 8-bit RGB PNG.
bool writeRgbPng(const std::string& path, int width, int height, const std::function<Rgb(int x, int y)>& pixel);

}  // namespace testsupport
