#include "imaging/MonochromeConvert.h"

#include "diagnostics/middleDataSave.h"
#include "imaging/24BitTo1Bit.h"
#include "imaging/ImageBuffer.h"
#include "imaging/otsu.h"

#include <cstdint>

namespace {

// Otsu's selection in double precision on integer counts; no fallback, so a
// histogram without two occupied levels gives 0.
unsigned char selectThreshold(const int histogram[256], std::int64_t pixelCount)
{
    double total = 0.0;
    for (int i = 0; i < 256; ++i) {
        total += static_cast<double>(histogram[i]) * i;
    }
    int best = 0;
    double maxVariance = 0.0;
    std::int64_t count0 = 0;
    double sum0 = 0.0;
    for (int i = 0; i < 256; ++i) {
        count0 += histogram[i];
        if (count0 == 0 || count0 == pixelCount) {
            continue;
        }
        sum0 += static_cast<double>(histogram[i]) * i;
        const double count1 = static_cast<double>(pixelCount - count0);
        const double mean0 = sum0 / static_cast<double>(count0);
        const double mean1 = (total - sum0) / count1;
        const double variance = ((count1 * static_cast<double>(count0)) * (mean0 - mean1)) * (mean0 - mean1);
        if (variance > maxVariance) {
            best = i;
            maxVariance = variance;
        }
    }
    return static_cast<unsigned char>(best);
}

}  // namespace

unsigned char MonochromeConvertOtsu(int width, int height, const unsigned char* raster, unsigned int selector)
{
    int histogram[256];
    grayHistogram(width, height, raster, selector, histogram);
    return selectThreshold(histogram, static_cast<std::int64_t>(width) * height);
}

unsigned char monochromeOtsuOfHistogram(const int histogram[256], int pixelCount)
{
    return selectThreshold(histogram, pixelCount);
}

unsigned char GrayMonochromeConvertOtsu(int width, int height)
{
    const int histogram[256] = {};
    return selectThreshold(histogram, static_cast<std::int64_t>(width) * height);
}

bool MonochromeConvert(int width, int height, const unsigned char* raster, unsigned int selector, unsigned char* bits,
                       int* DataBinSize)
{
    if (raster == nullptr || DataBinSize == nullptr) {
        return false;
    }
    BinarizeGeometry geometry;
    if (!binarizeGeometry(width, height, 0, &geometry)) {
        *DataBinSize = 0;
        return false;
    }
    // Rows are binarized and packed one at a time instead of through a plane
    // of the page.
    ScratchBuffer<unsigned char> scratch = allocateScratch<unsigned char>(thresholdRowsScratch(width));
    if (!scratch) {
        TraceLog("MonochromeConvert GrayData==NULL\r\n");
        *DataBinSize = 0;
        return false;
    }

    const unsigned char threshold = MonochromeConvertOtsu(width, height, raster, selector);
    TraceLog("MonochromeConvertOtsu  ghold==%d\r\n", threshold);

    TraceLog("MonochromeConvert:before CreatDataBin\r\n");
    const bool packed = thresholdRows(geometry, raster, selector, threshold, ChannelOrder::FirstByteBlue,
                                      scratch.get(), bits, DataBinSize);
    TraceLog("MonochromeConvert:after CreatDataBin\r\n");
    if (packed) {
        TraceLog("MonochromeConvert:CreatDataBin sucess DataBinSize==%d\r\n", *DataBinSize);
    } else {
        TraceLog("MonochromeConvert:CreatDataBin failed \r\n");
    }
    scratch.reset();
    TraceLog("MonochromeConvert:after GrayData\r\n");
    return packed;
}
