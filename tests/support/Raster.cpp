#include "support/Raster.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "support/Process.h"

namespace testsupport {

cups_page_header2_t pageHeader(unsigned width, unsigned height, unsigned bitsPerColor, unsigned colorSpace,
                               int copies)
{
    cups_page_header2_t header;
    std::memset(&header, 0, sizeof header);
    std::strcpy(header.MediaClass, "PwgRaster");
    header.HWResolution[0] = 203;
    header.HWResolution[1] = 203;
    header.PageSize[0] = width * 72 / 203;
    header.PageSize[1] = height * 72 / 203;
    header.NumCopies = copies;
    header.cupsWidth = width;
    header.cupsHeight = height;
    header.cupsBitsPerColor = bitsPerColor;
    header.cupsBitsPerPixel = bitsPerColor * (colorSpace == 1 ? 3 : 1);
    header.cupsBytesPerLine = (width * header.cupsBitsPerPixel + 7) / 8;
    header.cupsColorOrder = CUPS_ORDER_CHUNKED;
    header.cupsColorSpace = static_cast<cups_cspace_t>(colorSpace);
    header.cupsRowCount = height;
    return header;
}

RasterPage rgbPage(unsigned width, unsigned height, const std::function<std::uint32_t(unsigned, unsigned)>& colour,
                   int copies)
{
    RasterPage page;
    page.header = pageHeader(width, height, 8, 1, copies);
    page.rows.resize(static_cast<std::size_t>(page.header.cupsBytesPerLine) * height);
    for (unsigned y = 0; y < height; ++y) {
        unsigned char* row = page.rows.data() + static_cast<std::size_t>(y) * page.header.cupsBytesPerLine;
        for (unsigned x = 0; x < width; ++x) {
            std::uint32_t c = colour(x, y);
            row[3 * x] = static_cast<unsigned char>(c >> 16);
            row[3 * x + 1] = static_cast<unsigned char>(c >> 8);
            row[3 * x + 2] = static_cast<unsigned char>(c);
        }
    }
    return page;
}

RasterPage grayPage(unsigned width, unsigned height, const std::function<unsigned char(unsigned, unsigned)>& ink,
                    int copies)
{
    RasterPage page;
    page.header = pageHeader(width, height, 8, 3, copies);
    page.rows.resize(static_cast<std::size_t>(page.header.cupsBytesPerLine) * height);
    for (unsigned y = 0; y < height; ++y) {
        for (unsigned x = 0; x < width; ++x) {
            page.rows[static_cast<std::size_t>(y) * page.header.cupsBytesPerLine + x] = ink(x, y);
        }
    }
    return page;
}

RasterPage oneBitPage(unsigned width, unsigned height, const std::function<bool(unsigned, unsigned)>& dot, int copies)
{
    RasterPage page;
    page.header = pageHeader(width, height, 1, 3, copies);
    page.rows.assign(static_cast<std::size_t>(page.header.cupsBytesPerLine) * height, 0);
    for (unsigned y = 0; y < height; ++y) {
        unsigned char* row = page.rows.data() + static_cast<std::size_t>(y) * page.header.cupsBytesPerLine;
        for (unsigned x = 0; x < width; ++x) {
            if (dot(x, y)) {
                row[x / 8] = static_cast<unsigned char>(row[x / 8] | (0x80 >> (x % 8)));
            }
        }
    }
    return page;
}

void writeRasterFile(const std::string& path, const std::vector<RasterPage>& pages)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        throw std::runtime_error("cannot create " + path);
    }
    cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
    if (raster == nullptr) {
        ::close(fd);
        throw std::runtime_error("cupsRasterOpen failed");
    }
    for (const RasterPage& page : pages) {
        cups_page_header2_t header = page.header;
        if (!cupsRasterWriteHeader2(raster, &header)) {
            cupsRasterClose(raster);
            ::close(fd);
            throw std::runtime_error("cupsRasterWriteHeader2 failed");
        }
        const std::size_t line = header.cupsBytesPerLine;
        for (std::size_t offset = 0; line > 0 && offset + line <= page.rows.size(); offset += line) {
            std::vector<unsigned char> row(page.rows.begin() + static_cast<std::ptrdiff_t>(offset),
                                           page.rows.begin() + static_cast<std::ptrdiff_t>(offset + line));
            cupsRasterWritePixels(raster, row.data(), static_cast<unsigned>(line));
        }
    }
    cupsRasterClose(raster);
    ::close(fd);
}

std::string rasterStream(const std::vector<RasterPage>& pages)
{
    TempDir dir;
    const std::string path = dir.file("stream.ras");
    writeRasterFile(path, pages);
    return readFile(path);
}

}  // namespace testsupport
