#include "imaging/Dither.h"

#include "diagnostics/middleDataSave.h"
#include "imaging/24BitTo1Bit.h"
#include "imaging/GrayAlgorithm.h"
#include "imaging/ImageBuffer.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

// 4 x the recursive Bayer index: the multiples of 4 from 0 to 252, each once.
const int BAYER_PATTERN_8X8[8][8] = {
    {0, 128, 32, 160, 8, 136, 40, 168},
    {192, 64, 224, 96, 200, 72, 232, 104},
    {48, 176, 16, 144, 56, 184, 24, 152},
    {240, 112, 208, 80, 248, 120, 216, 88},
    {12, 140, 44, 172, 4, 132, 36, 164},
    {204, 76, 236, 108, 196, 68, 228, 100},
    {60, 188, 28, 156, 52, 180, 20, 148},
    {252, 124, 220, 92, 244, 116, 212, 84},
};

// The transposed 16x16 Bayer index mapped to 0..254 by floor(255 * (index + 0.5) / 256).
const int BAYER_PATTERN_16X16[16][16] = {
    {0, 191, 48, 239, 12, 203, 60, 251, 3, 194, 51, 242, 15, 206, 63, 254},
    {127, 64, 175, 112, 139, 76, 187, 124, 130, 67, 178, 115, 142, 79, 190, 127},
    {32, 223, 16, 207, 44, 235, 28, 219, 35, 226, 19, 210, 47, 238, 31, 222},
    {159, 96, 143, 80, 171, 108, 155, 92, 162, 99, 146, 83, 174, 111, 158, 95},
    {8, 199, 56, 247, 4, 195, 52, 243, 11, 202, 59, 250, 7, 198, 55, 246},
    {135, 72, 183, 120, 131, 68, 179, 116, 138, 75, 186, 123, 134, 71, 182, 119},
    {40, 231, 24, 215, 36, 227, 20, 211, 43, 234, 27, 218, 39, 230, 23, 214},
    {167, 104, 151, 88, 163, 100, 147, 84, 170, 107, 154, 91, 166, 103, 150, 87},
    {2, 193, 50, 241, 14, 205, 62, 253, 1, 192, 49, 240, 13, 204, 61, 252},
    {129, 66, 177, 114, 141, 78, 189, 126, 128, 65, 176, 113, 140, 77, 188, 125},
    {34, 225, 18, 209, 46, 237, 30, 221, 33, 224, 17, 208, 45, 236, 29, 220},
    {161, 98, 145, 82, 173, 110, 157, 94, 160, 97, 144, 81, 172, 109, 156, 93},
    {10, 201, 58, 249, 6, 197, 54, 245, 9, 200, 57, 248, 5, 196, 53, 244},
    {137, 74, 185, 122, 133, 70, 181, 118, 136, 73, 184, 121, 132, 69, 180, 117},
    {42, 233, 26, 217, 38, 229, 22, 213, 41, 232, 25, 216, 37, 228, 21, 212},
    {169, 106, 153, 90, 165, 102, 149, 86, 168, 105, 152, 89, 164, 101, 148, 85},
};

namespace {

// The trace-log texts of one dithering operation.
struct DitherMessages {
    const char* allocationFailed;
    const char* packingFailed;
    const char* packed;  // takes the size
};

// White where the row's threshold is at most the gray value; whole periods
// of the table at a time, so that the inner loop has a fixed length.
template <int N>
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("tree-vectorize")))
#endif
void ditherRow(const unsigned char* __restrict gray, int width, const unsigned char (&thresholds)[N],
               unsigned char* __restrict flags)
{
    int x = 0;
    for (; x + N <= width; x += N) {
        for (int i = 0; i < N; ++i) {
            flags[x + i] = thresholds[i] <= gray[x + i] ? 1 : 0;
        }
    }
    for (int i = 0; x < width; ++x, ++i) {
        flags[x] = thresholds[i] <= gray[x] ? 1 : 0;
    }
}

// Ordered dithering with an N x N table; the table's row index is the
// pixel's column and its column index the pixel's row.
template <int N>
bool ditherBayer(const int (&table)[N][N], const DitherMessages& messages, int width, int height, int extra,
                 const unsigned char* raster, unsigned int selector, unsigned char* bits, int* DataBinSize,
                 const PageReading& reading)
{
    if (DataBinSize == nullptr) {
        return false;
    }
    BinarizeGeometry geometry;
    if (raster == nullptr || bits == nullptr || !binarizeGeometry(width, height, extra, &geometry)) {
        *DataBinSize = 0;
        return false;
    }
    // One row of gray values and one of white flags; each row is dithered
    // and packed straight into the bit raster.
    ScratchBuffer<unsigned char> scratch = allocateScratch<unsigned char>(static_cast<std::int64_t>(width) * 2);
    if (!scratch) {
        TraceLog("%s", messages.allocationFailed);
        *DataBinSize = 0;
        return false;
    }

    bool packed = beginPackedRows(width, geometry.rows, bits, DataBinSize);
    if (packed) {
        unsigned char* gray = scratch.get();
        unsigned char* flags = gray + width;
        const std::size_t witsStep = static_cast<std::size_t>(geometry.witsStep);
        unsigned char* bitRow = bits;
        const unsigned char* row = raster;
        for (int y = 0; y < height; ++y, row += geometry.rasterStride, bitRow += witsStep) {
            // The thresholds of this row, one per column of the table's period.
            unsigned char thresholds[N];
            for (int i = 0; i < N; ++i) {
                thresholds[i] = static_cast<unsigned char>(table[i][y % N]);
            }
            RGB2GrayRow(row, width, selector, reading.swapped, gray);
            ditherRow<N>(gray, width, thresholds, flags);
            packWhiteFlags(flags, width, bitRow);
        }
        std::memset(bitRow, 0xFF, witsStep * static_cast<std::size_t>(geometry.rows - height));
        endPackedRows(width, geometry.rows, DataBinSize);
    }
    if (packed) {
        TraceLog(messages.packed, *DataBinSize);
    } else {
        *DataBinSize = 0;
        TraceLog("%s", messages.packingFailed);
    }
    return packed;
}

}  // namespace

bool makeDitherBayer8(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                      unsigned char* bits, int* DataBinSize)
{
    return makeDitherBayer8(width, height, extra, raster, selector, bits, DataBinSize, PageReading{});
}

bool makeDitherBayer8(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                      unsigned char* bits, int* DataBinSize, const PageReading& reading)
{
    static constexpr DitherMessages messages = {
        "makeDitherBayer8 GrayData==NULL\r\n",
        "makeDitherBayer8:CreatDataBin failed \r\n",
        "makeDitherBayer8:CreatDataBin sucess DataBinSize==%d\r\n",
    };
    return ditherBayer(BAYER_PATTERN_8X8, messages, width, height, extra, raster, selector, bits, DataBinSize,
                       reading);
}

bool makeDitherBayer16(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                       unsigned char* bits, int* DataBinSize)
{
    return makeDitherBayer16(width, height, extra, raster, selector, bits, DataBinSize, PageReading{});
}

bool makeDitherBayer16(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                       unsigned char* bits, int* DataBinSize, const PageReading& reading)
{
    // This operation has always reported under the adaptive-threshold names.
    static constexpr DitherMessages messages = {
        "InterlImageAdaptiveThreshold GrayData==NULL\r\n",
        "InterlImageAdaptiveThreshold:CreatDataBin failed \r\n",
        "InterlImageAdaptiveThreshold:CreatDataBin sucess DataBinSize==%d\r\n",
    };
    return ditherBayer(BAYER_PATTERN_16X16, messages, width, height, extra, raster, selector, bits, DataBinSize,
                       reading);
}
