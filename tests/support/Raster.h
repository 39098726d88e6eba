// Real CUPS raster streams for tests, written with libcups's own writer.
#pragma once

#include <cups/raster.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

struct RasterPage {
    cups_page_header2_t header{};
    // The page's rows as written, cupsBytesPerLine bytes each. Fewer rows than
    // cupsHeight make a stream that ends inside the page.
    std::vector<unsigned char> rows;
};

// A page header for chunky pixels: `bitsPerColor` 1 or 8, `colorSpace` 1 (RGB,
// three colours per pixel) or 3 (black, one), with the bytes per line libcups
// expects. Any field may be changed afterwards.
cups_page_header2_t pageHeader(unsigned width, unsigned height, unsigned bitsPerColor, unsigned colorSpace,
                               int copies = 1);

// An 8-bit RGB page whose pixel (x, y) is colour(x, y) as 0xRRGGBB.
RasterPage rgbPage(unsigned width, unsigned height, const std::function<std::uint32_t(unsigned, unsigned)>& colour,
                   int copies = 1);
// An 8-bit black-ink page (colour space 3): pixel value 0 is blank paper.
RasterPage grayPage(unsigned width, unsigned height, const std::function<unsigned char(unsigned, unsigned)>& ink,
                    int copies = 1);
// A 1-bit black-ink page whose pixel (x, y) is a dot when dot(x, y).
RasterPage oneBitPage(unsigned width, unsigned height, const std::function<bool(unsigned, unsigned)>& dot,
                      int copies = 1);

// Writes the pages as one raster stream (libcups writer) and returns its bytes.
std::string rasterStream(const std::vector<RasterPage>& pages);

// Writes the pages to `path` as a raster stream.
void writeRasterFile(const std::string& path, const std::vector<RasterPage>& pages);

}  // namespace testsupport
