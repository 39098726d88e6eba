#include "imaging/TextAndPictures.h"

#include "diagnostics/jobLog.h"
#include "diagnostics/middleDataSave.h"
#include "imaging/24BitTo1Bit.h"
#include "imaging/Dither.h"
#include "imaging/ImageBuffer.h"
#include "imaging/otsu.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

static_assert(textTile == 8, "the tile is one period of BAYER_PATTERN_8X8 and one packed byte");

#if defined(__GNUC__) && !defined(__clang__)
#define ZORVAN_VECTORISE __attribute__((optimize("tree-vectorize")))
#else
#define ZORVAN_VECTORISE
#endif

inline unsigned char lower(unsigned char a, unsigned char b) { return a < b ? a : b; }
inline unsigned char higher(unsigned char a, unsigned char b) { return a > b ? a : b; }

// 1 for a mid-tone that is not on an edge to paper white: `low` and `high`
// are the extremes of its neighbourhood.
inline unsigned char isTone(unsigned char gray, unsigned char low, unsigned char high)
{
    const bool midTone = static_cast<unsigned char>(gray - textToneLow) <= textToneHigh - textToneLow;
    const bool paperEdge = static_cast<unsigned char>(high - low) >= textEdgeRange && high > textToneHigh;
    return midTone && !paperEdge ? 1 : 0;
}

// The smallest and largest gray value of every column over a row and the
// rows above and below it.
ZORVAN_VECTORISE void columnSpans(const unsigned char* __restrict above, const unsigned char* __restrict row,
                                  const unsigned char* __restrict below, int width, unsigned char* __restrict low,
                                  unsigned char* __restrict high)
{
    for (int x = 0; x < width; ++x) {
        low[x] = lower(lower(above[x], row[x]), below[x]);
        high[x] = higher(higher(above[x], row[x]), below[x]);
    }
}

// Marks the continuous-tone pixels of a row from its column spans; the
// neighbourhood of the first and last pixel is cut at the page's edge.
ZORVAN_VECTORISE void markTone(const unsigned char* __restrict row, const unsigned char* __restrict low,
                               const unsigned char* __restrict high, int width, unsigned char* __restrict tone)
{
    for (int x = 1; x + 1 < width; ++x) {
        tone[x] = isTone(row[x], lower(lower(low[x - 1], low[x]), low[x + 1]),
                         higher(higher(high[x - 1], high[x]), high[x + 1]));
    }
    const int last = width - 1;
    const int beforeLast = std::max(last - 1, 0), second = std::min(1, last);
    tone[0] = isTone(row[0], lower(low[0], low[second]), higher(high[0], high[second]));
    tone[last] = isTone(row[last], lower(low[beforeLast], low[last]), higher(high[beforeLast], high[last]));
}

// Adds a row's continuous-tone marks to the counts of its tiles.
void countTiles(const unsigned char* tone, int width, unsigned char* counts)
{
    int x = 0;
    unsigned char* count = counts;
    for (; x + textTile <= width; x += textTile, ++count) {
        // Eight marks of 0 or 1 summed into the top byte of one product.
        std::uint64_t marks;
        std::memcpy(&marks, tone + x, sizeof marks);
        *count = static_cast<unsigned char>(*count + ((marks * 0x0101010101010101ULL) >> 56));
    }
    for (; x < width; ++x) {
        *count = static_cast<unsigned char>(*count + tone[x]);
    }
}

// White flags of one row: against the Bayer thresholds of the row where
// `dithered` is set, against the page's threshold elsewhere.
ZORVAN_VECTORISE void chooseFlags(const unsigned char* __restrict gray, const unsigned char* __restrict bayer,
                                  const unsigned char* __restrict dithered, unsigned char threshold, int width,
                                  unsigned char* __restrict flags)
{
    for (int x = 0; x < width; ++x) {
        const unsigned char dither = bayer[x] <= gray[x] ? 0xFF : 0;
        const unsigned char plain = gray[x] > threshold ? 0xFF : 0;
        flags[x] = static_cast<unsigned char>((dithered[x] & dither) | (~dithered[x] & plain));
    }
}

}  // namespace

bool TextAndPicturesToOnebit(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                             unsigned char* bits, int* DataBinSize)
{
    return TextAndPicturesToOnebit(width, height, extra, raster, selector, bits, DataBinSize, settingsPageReading());
}

bool TextAndPicturesToOnebit(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                             unsigned char* bits, int* DataBinSize, const PageReading& reading)
{
    if (DataBinSize == nullptr) {
        return false;
    }
    BinarizeGeometry geometry;
    if (raster == nullptr || bits == nullptr || !binarizeGeometry(width, height, extra, &geometry)) {
        *DataBinSize = 0;
        return false;
    }
    // The page's gray plane; then, a row wide each: column spans (two),
    // continuous-tone marks, dithered-tile mask, white flags; the eight rows
    // of Bayer thresholds; one count per tile column.
    const std::int64_t w = width;
    const int tileColumns = (width + textTile - 1) / textTile;
    ScratchBuffer<unsigned char> scratch = allocateScratch<unsigned char>(geometry.imagePixels + 13 * w + tileColumns);
    if (!scratch) {
        TraceLog("TextAndPicturesToOnebit GrayData==NULL\r\n");
        *DataBinSize = 0;
        return false;
    }
    unsigned char* plane = scratch.get();
    unsigned char* low = plane + geometry.imagePixels;
    unsigned char* high = low + w;
    unsigned char* tone = high + w;
    unsigned char* dithered = tone + w;
    unsigned char* flags = dithered + w;
    unsigned char* bayer = flags + w;
    unsigned char* counts = bayer + textTile * w;

    // Byte 0 of a pixel in the blue position, as for every colour-road binarizer.
    int histogram[256];
    grayPlaneHistogram(width, height, raster, selector, plane, histogram, reading.swapped);
    // The threshold TrueCollorBitToOnebit uses: the manual one when set.
    const unsigned int manual = reading.manualThreshold;
    const unsigned char threshold = manual != 0 ? static_cast<unsigned char>(manual & 0xFF)
                                                : myotsuOfHistogram(histogram, static_cast<int>(geometry.imagePixels));
    // makeDitherBayer8's thresholds: the table's row index is the pixel's column.
    for (int r = 0; r < textTile; ++r) {
        for (int x = 0; x < width; ++x) {
            bayer[r * w + x] = static_cast<unsigned char>(BAYER_PATTERN_8X8[x % textTile][r]);
        }
    }

    bool packed = beginPackedRows(width, geometry.rows, bits, DataBinSize);
    long long ditheredTiles = 0;
    if (packed) {
        const std::size_t witsStep = static_cast<std::size_t>(geometry.witsStep);
        for (int top = 0; top < height; top += textTile) {
            const int bottom = std::min(top + textTile, height);
            std::memset(counts, 0, static_cast<std::size_t>(tileColumns));
            for (int y = top; y < bottom; ++y) {
                const unsigned char* row = plane + y * w;
                columnSpans(plane + std::max(y - 1, 0) * w, row, plane + std::min(y + 1, height - 1) * w, width, low,
                            high);
                markTone(row, low, high, width, tone);
                countTiles(tone, width, counts);
            }
            for (int c = 0; c < tileColumns; ++c) {
                const int tileWidth = std::min(textTile, width - c * textTile);
                const bool picture = 4 * counts[c] > tileWidth * (bottom - top);
                std::memset(dithered + c * textTile, picture ? 0xFF : 0, static_cast<std::size_t>(tileWidth));
                ditheredTiles += picture ? 1 : 0;
            }
            for (int y = top; y < bottom; ++y) {
                chooseFlags(plane + y * w, bayer + (y % textTile) * w, dithered, threshold, width, flags);
                packWhiteFlags(flags, width, bits + witsStep * static_cast<std::size_t>(y));
            }
        }
        std::memset(bits + witsStep * static_cast<std::size_t>(height), 0xFF,
                    witsStep * static_cast<std::size_t>(geometry.rows - height));
        endPackedRows(width, geometry.rows, DataBinSize);
    }
    if (packed) {
        const long long tiles = static_cast<long long>(tileColumns) * ((height + textTile - 1) / textTile);
        jobLog(LogLevel::Debug, "ghold==%d, %lld of %lld tiles dithered\r", threshold, ditheredTiles, tiles);
        TraceLog("TextAndPicturesToOnebit:CreatDataBin sucess DataBinSize==%d\r\n", *DataBinSize);
    } else {
        *DataBinSize = 0;
        TraceLog("TextAndPicturesToOnebit:CreatDataBin failed \r\n");
    }
    return packed;
}
