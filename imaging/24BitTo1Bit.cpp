#include "imaging/24BitTo1Bit.h"

#include "diagnostics/middleDataSave.h"
#include "imaging/GrayAlgorithm.h"
#include "imaging/ImageBuffer.h"
#include "imaging/otsu.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::int64_t trueColourStride64(std::int64_t width) { return (width * 24 + 31) / 32 * 4; }
constexpr std::int64_t bitRasterStride64(std::int64_t width) { return (width + 31) / 32 * 4; }

}  // namespace

bool binarizeGeometry(int width, int height, int extra, BinarizeGeometry* geometry)
{
    if (geometry == nullptr || width < 1 || height < 1 || extra < 0) {
        return false;
    }
    const std::int64_t rows = static_cast<std::int64_t>(height) + extra;
    // width * 24 + 31 is the 32-bit intermediate of the raster stride.
    const std::int64_t widest = (static_cast<std::int64_t>(INT_MAX) - 31) / 24;
    if (rows > INT_MAX || width > widest) {
        return false;
    }
    const std::int64_t rasterStride = trueColourStride64(width);
    const std::int64_t witsStep = bitRasterStride64(width);
    if (rasterStride * height > INT_MAX || witsStep * rows > INT_MAX ||
        static_cast<std::int64_t>(width) * rows > INT_MAX) {
        return false;
    }
    geometry->width = width;
    geometry->height = height;
    geometry->rows = static_cast<int>(rows);
    geometry->rasterStride = static_cast<int>(rasterStride);
    geometry->witsStep = static_cast<int>(witsStep);
    geometry->imagePixels = static_cast<std::int64_t>(width) * height;
    geometry->planePixels = static_cast<std::int64_t>(width) * rows;
    return true;
}

void TrueCollorRGBToBGR(int width, int height, unsigned char* raster)
{
    if (raster == nullptr || height < 1 || width < 1 || width > (INT_MAX - 31) / 24) {
        return;
    }
    const std::size_t stride = static_cast<std::size_t>(trueColourStride64(width));
    unsigned char* row = raster;
    for (int y = 0; y < height; ++y, row += stride) {
        unsigned char* pixel = row;
        for (int x = 0; x < width; ++x, pixel += 3) {
            const unsigned char first = pixel[0];
            pixel[0] = pixel[2];
            pixel[2] = first;
        }
    }
}

bool CreatDataBin(const unsigned char* gray, int width, int rows, unsigned char* bits, int* DataBinSize)
{
    if (DataBinSize == nullptr) {
        return false;
    }
    if (gray == nullptr || bits == nullptr) {
        std::fprintf(stderr, "DEBUG: CreatDataBin pImageDate==NULL\r\n");
        *DataBinSize = 0;
        return false;
    }
    // Sizes are worked out in 64 bits: a negative or overflowing geometry can
    // never match a buffer and is refused like any other mismatch.
    const std::int64_t witsStep = bitRasterStride64(width);
    const std::int64_t size = witsStep * rows;
    if (width < 0 || rows < 0 || size > INT_MAX || size != *DataBinSize) {
        std::fprintf(stderr,
                     "DEBUG: CreatDataBin witsStep*nHeightAcual!= * DataBinSize witsStep=%d,nHeightAcual=%d "
                     "*DataBinSize=%d\r\n",
                     static_cast<int>(witsStep), rows, *DataBinSize);
        return false;
    }

    // Everything starts white; only an exact 0 clears a bit, so gray levels
    // other than 0 and 255 and the row padding stay white.
    std::memset(bits, 0xFF, static_cast<std::size_t>(size));
    const unsigned char* grayRow = gray;
    unsigned char* bitRow = bits;
    for (int y = 0; y < rows; ++y, grayRow += width, bitRow += witsStep) {
        for (int x = 0; x < width; ++x) {
            if (grayRow[x] == 0) {
                bitRow[x >> 3] &= static_cast<unsigned char>(~(0x80u >> (x & 7)));
            }
        }
    }

    *DataBinSize = static_cast<int>(size);
    std::fprintf(stderr, "DEBUG: saveOneBitBmpFile witsStep*nHeightAcual)=m = %d\r\n", *DataBinSize);
    return true;
}

void DoTurnOver(unsigned char* buffer, int length)
{
    if (buffer == nullptr || length <= 0) {
        return;
    }
    for (int i = 0; i < length; ++i) {
        buffer[i] = static_cast<unsigned char>(~buffer[i]);
    }
}

void thresholdPlane(const BinarizeGeometry& geometry, const unsigned char* raster, unsigned int selector,
                    unsigned char threshold, ChannelOrder order, unsigned char* plane)
{
    const int width = geometry.width;
    const int blue = order == ChannelOrder::FirstByteBlue ? 0 : 2;
    const int red = 2 - blue;
    const unsigned char* row = raster;
    unsigned char* out = plane;
    for (int y = 0; y < geometry.height; ++y, row += geometry.rasterStride, out += width) {
        const unsigned char* pixel = row;
        for (int x = 0; x < width; ++x, pixel += 3) {
            unsigned char gray;
            RGB2Gray(&gray, pixel[blue], pixel[1], pixel[red], selector);
            out[x] = gray > threshold ? 255 : 0;
        }
    }
    const std::int64_t extraBytes = static_cast<std::int64_t>(geometry.rows - geometry.height) * width;
    std::memset(out, 255, static_cast<std::size_t>(extraBytes));
}

bool TrueCollorBitToOnebit(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                           unsigned char* bits, int* DataBinSize)
{
    if (raster == nullptr || DataBinSize == nullptr) {
        return false;
    }
    BinarizeGeometry geometry;
    if (!binarizeGeometry(width, height, extra, &geometry)) {
        *DataBinSize = 0;
        return false;
    }
    ScratchBuffer<unsigned char> plane = allocateScratch<unsigned char>(geometry.planePixels);
    if (!plane) {
        TraceLog("TrueCollorBitToOnebit GrayData==NULL\r\n");
        return false;
    }

    const unsigned char threshold = myotsu(width, height, raster, selector);
    std::fprintf(stderr, "DEBUG: ghold==%d\r\n", threshold);
    thresholdPlane(geometry, raster, selector, threshold, ChannelOrder::FirstByteBlue, plane.get());

    const bool packed = CreatDataBin(plane.get(), width, geometry.rows, bits, DataBinSize);
    if (packed) {
        TraceLog("TrueCollorBitToOnebit:CreatDataBin sucess DataBinSize==%d\r\n", *DataBinSize);
    } else {
        TraceLog("TrueCollorBitToOnebit:CreatDataBin failed \r\n");
    }
    return packed;
}
