#include "imaging/otsu.h"

#include "settings/printSettings.h"
#include "imaging/24BitTo1Bit.h"
#include "imaging/GrayAlgorithm.h"

#include <cstddef>
#include <cstdint>

namespace {

// Otsu's selection in single precision over a histogram of `pixelCount`
// pixels. Without an occupied level strictly between black and white it
// falls back to mid-gray.
unsigned char selectThreshold(const int histogram[256], std::int64_t pixelCount)
{
    bool occupied = false;
    for (int i = 1; i <= 254; ++i) {
        if (histogram[i] != 0) {
            occupied = true;
            break;
        }
    }
    if (!occupied) {
        return 128;
    }

    const float n = static_cast<float>(static_cast<int>(pixelCount));
    float probability[256];
    for (int i = 0; i < 256; ++i) {
        probability[i] = static_cast<float>(histogram[i]) / n;
    }

    int best = 0;
    float maxVariance = 0.0f;
    for (int t = 0; t < 256; ++t) {
        // The classes are re-summed for every candidate, in increasing level
        // order, exactly as the criterion is defined; only the branch on the
        // class is taken out of the loop.
        float w0 = 0.0f, s0 = 0.0f, w1 = 0.0f, s1 = 0.0f;
        for (int i = 0; i <= t; ++i) {
            w0 += probability[i];
            s0 += static_cast<float>(i) * probability[i];
        }
        for (int i = t + 1; i < 256; ++i) {
            w1 += probability[i];
            s1 += static_cast<float>(i) * probability[i];
        }
        // An empty class gives 0/0: a NaN variance that never wins.
        const float mean0 = s0 / w0;
        const float mean = s0 + s1;
        const float mean1 = s1 / w1;
        const float d0 = mean0 - mean;
        const float d1 = mean1 - mean;
        const float variance = (w0 * d0) * d0 + (w1 * d1) * d1;
        if (variance > maxVariance) {
            best = t;
            maxVariance = variance;
        }
    }
    return static_cast<unsigned char>(best);
}

// Counts into four histograms in turn so that runs of one level (white
// paper) do not wait on the same counter; the four are summed at the end.
class HistogramCounter {
public:
    void add(const unsigned char* gray, int count)
    {
        int i = 0;
        for (; i + 4 <= count; i += 4) {
            ++partial_[0][gray[i]];
            ++partial_[1][gray[i + 1]];
            ++partial_[2][gray[i + 2]];
            ++partial_[3][gray[i + 3]];
        }
        for (; i < count; ++i) {
            ++partial_[0][gray[i]];
        }
    }
    void sumInto(int histogram[256]) const
    {
        for (int level = 0; level < 256; ++level) {
            histogram[level] = partial_[0][level] + partial_[1][level] + partial_[2][level] + partial_[3][level];
        }
    }

private:
    int partial_[4][256] = {};
};

}  // namespace

void grayHistogram(int width, int height, const unsigned char* raster, unsigned int selector, int histogram[256],
                   bool firstByteBlue)
{
    for (int i = 0; i < 256; ++i) {
        histogram[i] = 0;
    }
    BinarizeGeometry geometry;
    if (raster == nullptr || !binarizeGeometry(width, height, 0, &geometry)) {
        return;
    }
    // Gray values a block at a time into a small stack buffer.
    constexpr int block = 512;
    unsigned char gray[block];
    HistogramCounter counter;
    const unsigned char* row = raster;
    for (int y = 0; y < height; ++y, row += geometry.rasterStride) {
        for (int x = 0; x < width; x += block) {
            const int count = width - x < block ? width - x : block;
            RGB2GrayRow(row + static_cast<std::ptrdiff_t>(3) * x, count, selector, firstByteBlue, gray);
            counter.add(gray, count);
        }
    }
    counter.sumInto(histogram);
}

void grayPlaneHistogram(int width, int height, const unsigned char* raster, unsigned int selector,
                        unsigned char* plane, int histogram[256], bool firstByteBlue)
{
    for (int i = 0; i < 256; ++i) {
        histogram[i] = 0;
    }
    BinarizeGeometry geometry;
    if (raster == nullptr || plane == nullptr || !binarizeGeometry(width, height, 0, &geometry)) {
        return;
    }
    HistogramCounter counter;
    const unsigned char* row = raster;
    unsigned char* out = plane;
    for (int y = 0; y < height; ++y, row += geometry.rasterStride, out += width) {
        RGB2GrayRow(row, width, selector, firstByteBlue, out);
        counter.add(out, width);
    }
    counter.sumInto(histogram);
}

unsigned char myotsuOfHistogram(const int histogram[256], int pixelCount)
{
    return selectThreshold(histogram, pixelCount);
}

unsigned char myotsu(int width, int height, const unsigned char* raster, unsigned int selector)
{
    const unsigned int manual = static_cast<unsigned int>(GetThreshholdByManual());
    if (manual != 0) {
        return static_cast<unsigned char>(manual & 0xFF);
    }
    int histogram[256];
    grayHistogram(width, height, raster, selector, histogram);
    // A filled histogram means the geometry was accepted: width * height fits an int.
    return selectThreshold(histogram, static_cast<std::int64_t>(width) * height);
}

unsigned char GrayOtsu(int width, int height)
{
    const unsigned int manual = static_cast<unsigned int>(GetThreshholdByManual());
    if (manual != 0) {
        return static_cast<unsigned char>(manual & 0xFF);
    }
    // Every pixel counted at black: no level in 1..254 is occupied.
    int histogram[256] = {};
    if (width > 0 && height > 0) {
        const std::int64_t pixels = static_cast<std::int64_t>(width) * height;
        histogram[0] = pixels > INT32_MAX ? INT32_MAX : static_cast<int>(pixels);
    }
    return selectThreshold(histogram, static_cast<std::int64_t>(histogram[0]));
}
