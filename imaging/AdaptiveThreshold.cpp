// Binarization against the mean of a window around each pixel, found from a
// summed-area table.
#include "imaging/AdaptiveThreshold.h"

#include <climits>
#include <cstdint>

#include "imaging/24BitTo1Bit.h"
#include "imaging/FunctionAsistant.h"
#include "imaging/GrayAlgorithm.h"
#include "imaging/ImageBuffer.h"

bool InterlImageAdaptiveThreshold(int width, int height, const unsigned char* image, unsigned int graySelector,
                                  unsigned char* bits, int* DataBinSize)
{
    if (DataBinSize == nullptr) {
        return false;
    }
    if (image == nullptr || bits == nullptr || width < 0 || height < 0 || width > (INT_MAX - 31) / 24) {
        *DataBinSize = 0;
        return false;
    }
    const int stride = trueColourStride(width);
    const std::int64_t pixels = static_cast<std::int64_t>(width) * height;
    // An empty image still goes to the packer, which accepts zero rows; the
    // planes then hold one unused byte so that allocation means success.
    const std::int64_t planeSize = pixels > 0 ? pixels : 1;

    auto gray = allocateScratch<unsigned char>(planeSize);
    auto result = allocateScratch<unsigned char>(planeSize);
    if (!gray || !result) {
        *DataBinSize = 0;
        return false;
    }

    for (int y = 0; y < height; ++y) {
        const unsigned char* row = image + static_cast<std::int64_t>(y) * stride;
        unsigned char* out = gray.get() + static_cast<std::int64_t>(y) * width;
        for (int x = 0; x < width; ++x) {
            const unsigned char* p = row + static_cast<std::int64_t>(x) * 3;
            // The pixel's third byte in the blue position, its first in the red one.
            RGB2Gray(out + x, p[2], p[1], p[0], graySelector);
        }
    }

    const int s = width >> GetInterlImageAdaptiveStep();
    const int half = s / 2;
    const std::int64_t t = GetInterlImageAdaptivePercent();

    auto integral = allocateScratch<std::int64_t>(planeSize);
    if (!integral) {
        *DataBinSize = 0;
        return false;
    }
    std::int64_t* I = integral.get();
    auto at = [width](std::int64_t x, std::int64_t y) { return y * width + x; };

    // Column by column: a running sum down column x plus the column before.
    for (int x = 0; x < width; ++x) {
        std::int64_t columnSum = 0;
        for (int y = 0; y < height; ++y) {
            columnSum += gray[at(x, y)];
            I[at(x, y)] = x > 0 ? columnSum + I[at(x - 1, y)] : columnSum;
        }
    }

    for (int x = 0; x < width; ++x) {
        const std::int64_t x1 = x - half < 0 ? 0 : x - half;
        const std::int64_t x2 = static_cast<std::int64_t>(x) + half >= width ? width - 1 : x + half;
        for (int y = 0; y < height; ++y) {
            const std::int64_t y1 = y - half < 0 ? 0 : y - half;
            const std::int64_t y2 = static_cast<std::int64_t>(y) + half >= height ? height - 1 : y + half;
            // The rectangle x1 < x' <= x2, y1 < y' <= y2.
            const std::int64_t count = (x2 - x1) * (y2 - y1);
            const std::int64_t sum = I[at(x2, y2)] - I[at(x2, y1)] - I[at(x1, y2)] + I[at(x1, y1)];
            const std::int64_t limit = (sum * (100 - t)) / 100;
            result[at(x, y)] = count * gray[at(x, y)] >= limit ? 255 : 0;
        }
    }

    const bool packed = CreatDataBin(result.get(), width, height, bits, DataBinSize);
    if (!packed) {
        *DataBinSize = 0;
    }
    return packed;
}
