#include "imaging/24BitTo1Bit.h"

#include "diagnostics/middleDataSave.h"
#include "settings/printSettings.h"
#include "imaging/GrayAlgorithm.h"
#include "imaging/ImageBuffer.h"
#include "imaging/otsu.h"
#include "diagnostics/jobLog.h"

#include <bit>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

constexpr std::int64_t trueColourStride64(std::int64_t width) { return (width * 24 + 31) / 32 * 4; }
constexpr std::int64_t bitRasterStride64(std::int64_t width) { return (width + 31) / 32 * 4; }

// Byte mask of the listed byte positions of a little-endian 64-bit word.
constexpr std::uint64_t bytes(std::initializer_list<int> positions)
{
    std::uint64_t mask = 0;
    for (int position : positions) {
        mask |= 0xFFULL << (8 * position);
    }
    return mask;
}

// Exchanges the first and third byte of eight consecutive pixels (24 bytes,
// three little-endian words) with shifts and masks: each word's own pairs
// move by 16 bits, and the two pairs that straddle a word boundary (pixels 2
// and 5) move by 48 bits between neighbouring words.
inline void swapEightPixels(unsigned char* pixels)
{
    std::uint64_t a, b, c;
    std::memcpy(&a, pixels, 8);
    std::memcpy(&b, pixels + 8, 8);
    std::memcpy(&c, pixels + 16, 8);
    const std::uint64_t newA = (a & bytes({1, 4, 7})) | ((a >> 16) & bytes({0, 3})) | ((a << 16) & bytes({2, 5})) |
                               ((b << 48) & bytes({6}));
    const std::uint64_t newB = (b & bytes({2, 5})) | ((b >> 16) & bytes({1, 4})) | ((b << 16) & bytes({3, 6})) |
                               ((a >> 48) & bytes({0})) | ((c << 48) & bytes({7}));
    const std::uint64_t newC = (c & bytes({0, 3, 6})) | ((c >> 16) & bytes({2, 5})) | ((c << 16) & bytes({4, 7})) |
                               ((b >> 48) & bytes({1}));
    std::memcpy(pixels, &newA, 8);
    std::memcpy(pixels + 8, &newB, 8);
    std::memcpy(pixels + 16, &newC, 8);
}

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
        int x = 0;
        if constexpr (std::endian::native == std::endian::little) {
            for (; x + 8 <= width; x += 8, pixel += 24) {
                swapEightPixels(pixel);
            }
        }
        for (; x < width; ++x, pixel += 3) {
            const unsigned char first = pixel[0];
            pixel[0] = pixel[2];
            pixel[2] = first;
        }
    }
}

bool beginPackedRows(int width, int rows, const unsigned char* bits, int* DataBinSize)
{
    if (DataBinSize == nullptr) {
        return false;
    }
    if (bits == nullptr) {
        jobLog(LogLevel::Debug, "CreatDataBin pImageDate==NULL\r");
        *DataBinSize = 0;
        return false;
    }
    // Sizes are worked out in 64 bits: a negative or overflowing geometry can
    // never match a buffer and is refused like any other mismatch.
    const std::int64_t witsStep = bitRasterStride64(width);
    const std::int64_t size = witsStep * rows;
    if (width < 0 || rows < 0 || size > INT_MAX || size != *DataBinSize) {
        jobLog(LogLevel::Debug, "CreatDataBin witsStep*nHeightAcual!= * DataBinSize witsStep=%d,nHeightAcual=%d "
                     "*DataBinSize=%d\r",
                     static_cast<int>(witsStep), rows, *DataBinSize);
        return false;
    }
    return true;
}

void packWhiteFlags(const unsigned char* flags, int width, unsigned char* bitRow)
{
    const int witsStep = static_cast<int>(bitRasterStride64(width));
    int x = 0;
    unsigned char* out = bitRow;
    if constexpr (std::endian::native == std::endian::little) {
        // Eight flags at a time: the top bit of each byte says "nonzero", and
        // one multiplication gathers the eight top bits into one byte, the
        // first pixel in bit 7. The bit positions of the partial products are
        // all distinct, so nothing carries into the byte that is kept.
        constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7FULL;
        constexpr std::uint64_t top = 0x8080808080808080ULL;
        for (; x + 8 <= width; x += 8) {
            std::uint64_t v;
            std::memcpy(&v, flags + x, sizeof v);
            const std::uint64_t nonzero = (((v & low7) + low7) | v) & top;
            *out++ = static_cast<unsigned char>(((nonzero >> 7) * 0x8040201008040201ULL) >> 56);
        }
    }
    for (; x + 8 <= width; x += 8) {
        unsigned char byte = 0;
        for (int i = 0; i < 8; ++i) {
            byte = static_cast<unsigned char>(byte | ((flags[x + i] != 0 ? 0x80u : 0u) >> i));
        }
        *out++ = byte;
    }
    if (x < width) {
        // The last, partial byte: its padding bits stay set.
        unsigned char byte = 0xFF;
        for (int i = 0; x + i < width; ++i) {
            if (flags[x + i] == 0) {
                byte = static_cast<unsigned char>(byte & ~(0x80u >> i));
            }
        }
        *out++ = byte;
    }
    std::memset(out, 0xFF, static_cast<std::size_t>(bitRow + witsStep - out));
}

void endPackedRows(int width, int rows, int* DataBinSize)
{
    *DataBinSize = static_cast<int>(bitRasterStride64(width) * rows);
    jobLog(LogLevel::Debug, "saveOneBitBmpFile witsStep*nHeightAcual)=m = %d\r", *DataBinSize);
}

bool CreatDataBin(const unsigned char* gray, int width, int rows, unsigned char* bits, int* DataBinSize)
{
    if (DataBinSize == nullptr) {
        return false;
    }
    if (gray == nullptr) {
        jobLog(LogLevel::Debug, "CreatDataBin pImageDate==NULL\r");
        *DataBinSize = 0;
        return false;
    }
    if (!beginPackedRows(width, rows, bits, DataBinSize)) {
        return false;
    }
    // Only an exact 0 clears a bit: gray levels other than 0 and 255 and the
    // row padding stay white.
    const std::size_t witsStep = static_cast<std::size_t>(bitRasterStride64(width));
    for (int y = 0; y < rows; ++y) {
        packWhiteFlags(gray + static_cast<std::size_t>(width) * y, width, bits + witsStep * y);
    }
    endPackedRows(width, rows, DataBinSize);
    return true;
}

void DoTurnOver(unsigned char* buffer, int length)
{
    if (buffer == nullptr || length <= 0) {
        return;
    }
    // Eight bytes at a time; the complement does not care about byte order.
    int i = 0;
    for (; i + 8 <= length; i += 8) {
        std::uint64_t v;
        std::memcpy(&v, buffer + i, sizeof v);
        v = ~v;
        std::memcpy(buffer + i, &v, sizeof v);
    }
    for (; i < length; ++i) {
        buffer[i] = static_cast<unsigned char>(~buffer[i]);
    }
}

namespace {

#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("tree-vectorize")))
#endif
void whiteAbove(const unsigned char* __restrict gray, int width, unsigned char threshold,
                unsigned char* __restrict flags)
{
    for (int x = 0; x < width; ++x) {
        flags[x] = gray[x] > threshold ? 1 : 0;
    }
}

}  // namespace

bool thresholdRows(const BinarizeGeometry& geometry, const unsigned char* raster, unsigned int selector,
                   unsigned char threshold, ChannelOrder order, unsigned char* scratch, unsigned char* bits,
                   int* DataBinSize)
{
    const int width = geometry.width;
    if (!beginPackedRows(width, geometry.rows, bits, DataBinSize)) {
        return false;
    }
    unsigned char* gray = scratch;
    unsigned char* flags = scratch + width;
    const bool firstByteBlue = order == ChannelOrder::FirstByteBlue;
    const std::size_t witsStep = static_cast<std::size_t>(geometry.witsStep);
    unsigned char* bitRow = bits;
    const unsigned char* row = raster;
    for (int y = 0; y < geometry.height; ++y, row += geometry.rasterStride, bitRow += witsStep) {
        RGB2GrayRow(row, width, selector, firstByteBlue, gray);
        whiteAbove(gray, width, threshold, flags);
        packWhiteFlags(flags, width, bitRow);
    }
    std::memset(bitRow, 0xFF, witsStep * static_cast<std::size_t>(geometry.rows - geometry.height));
    endPackedRows(width, geometry.rows, DataBinSize);
    return true;
}

bool thresholdGrayPlane(const BinarizeGeometry& geometry, const unsigned char* grayPlane, unsigned char threshold,
                        unsigned char* flags, unsigned char* bits, int* DataBinSize)
{
    const int width = geometry.width;
    if (!beginPackedRows(width, geometry.rows, bits, DataBinSize)) {
        return false;
    }
    const std::size_t witsStep = static_cast<std::size_t>(geometry.witsStep);
    unsigned char* bitRow = bits;
    const unsigned char* gray = grayPlane;
    for (int y = 0; y < geometry.height; ++y, gray += width, bitRow += witsStep) {
        whiteAbove(gray, width, threshold, flags);
        packWhiteFlags(flags, width, bitRow);
    }
    std::memset(bitRow, 0xFF, witsStep * static_cast<std::size_t>(geometry.rows - geometry.height));
    endPackedRows(width, geometry.rows, DataBinSize);
    return true;
}

PageReading settingsPageReading()
{
    return {true, static_cast<unsigned int>(GetThreshholdByManual())};
}

bool TrueCollorBitToOnebit(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                           unsigned char* bits, int* DataBinSize)
{
    return TrueCollorBitToOnebit(width, height, extra, raster, selector, bits, DataBinSize, settingsPageReading());
}

bool TrueCollorBitToOnebit(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                           unsigned char* bits, int* DataBinSize, const PageReading& reading)
{
    if (raster == nullptr || DataBinSize == nullptr) {
        return false;
    }
    BinarizeGeometry geometry;
    if (!binarizeGeometry(width, height, extra, &geometry)) {
        *DataBinSize = 0;
        return false;
    }
    // The gray plane of the page and one row of white flags. Each pixel's
    // gray value is computed once, for the histogram, and kept for the
    // classification; the rows are packed straight into the bit raster.
    ScratchBuffer<unsigned char> plane = allocateScratch<unsigned char>(geometry.imagePixels + width);
    if (!plane) {
        TraceLog("TrueCollorBitToOnebit GrayData==NULL\r\n");
        return false;
    }

    bool packed;
    const unsigned int manual = reading.manualThreshold;
    if (manual != 0) {
        // myotsu does not look at the image then.
        const unsigned char threshold = static_cast<unsigned char>(manual & 0xFF);
        jobLog(LogLevel::Debug, "ghold==%d\r", threshold);
        packed = thresholdRows(geometry, raster, selector, threshold,
                               readingOrder(ChannelOrder::FirstByteBlue, reading), plane.get(), bits,
                               DataBinSize);
    } else {
        int histogram[256];
        grayPlaneHistogram(width, height, raster, selector, plane.get(), histogram,
                           readingOrder(ChannelOrder::FirstByteBlue, reading) == ChannelOrder::FirstByteBlue);
        const unsigned char threshold = myotsuOfHistogram(histogram, static_cast<int>(geometry.imagePixels));
        jobLog(LogLevel::Debug, "ghold==%d\r", threshold);
        packed = thresholdGrayPlane(geometry, plane.get(), threshold, plane.get() + geometry.imagePixels, bits,
                                    DataBinSize);
    }
    if (packed) {
        TraceLog("TrueCollorBitToOnebit:CreatDataBin sucess DataBinSize==%d\r\n", *DataBinSize);
    } else {
        TraceLog("TrueCollorBitToOnebit:CreatDataBin failed \r\n");
    }
    return packed;
}
