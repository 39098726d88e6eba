#include "imaging/freeimageHalftone.h"

#include "diagnostics/middleDataSave.h"
#include "filter/Functions.h"
#include "imaging/24BitTo1Bit.h"
#include "imaging/FunctionAsistant.h"
#include "imaging/GrayAlgorithm.h"
#include "imaging/ImageBuffer.h"
#include "imaging/MonochromeConvert.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

// ---------------------------------------------------------------------------
// Manual threshold

bool Threshold(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
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
    // Rows are binarized and packed one at a time instead of through a plane
    // of the page.
    ScratchBuffer<unsigned char> scratch = allocateScratch<unsigned char>(thresholdRowsScratch(width));
    if (!scratch) {
        TraceLog("TrueCollorBitToOnebit GrayData==NULL\r\n");
        return false;
    }

    const unsigned char threshold = static_cast<unsigned char>(GetThreshholdByManual() & 0xFF);
    std::fprintf(stderr, "DEBUG: ghold==%d\r\n", threshold);
    const bool packed = thresholdRows(geometry, raster, selector, threshold, ChannelOrder::ThirdByteBlue,
                                      scratch.get(), bits, DataBinSize);
    if (!packed) {
        TraceLog("TrueCollorBitToOnebit:CreatDataBin failed \r\n");
    }
    return packed;
}

// ---------------------------------------------------------------------------
// Error diffusion

namespace {

// Strength of the diffusion from the dither-action setting, limited to 0..1.
double ditherStrength() { return std::min(1.0, std::max(0.0, GetnDitherAction() * 0.01)); }

struct KernelCell {
    int dx;
    int dy;
    int weight;
};

struct DiffusionKernel {
    const KernelCell* cells;
    int cellCount;
    // Share of one cell: (e * weight) * scale, or (e * weight) / divisor when
    // the divisor is not a power of two.
    double scale;
    double divisor;
    bool divides;
    int margin;      // columns at each side that only threshold
    int bottomRows;  // rows at the bottom that only threshold
};

constexpr KernelCell floydSteinbergCells[] = {{1, 0, 7}, {-1, 1, 3}, {0, 1, 5}, {1, 1, 1}};
constexpr KernelCell burkesCells[] = {{1, 0, 8}, {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 8}, {1, 1, 4}, {2, 1, 2}};
constexpr KernelCell sierraCells[] = {{1, 0, 5}, {2, 0, 3}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 5},
                                      {1, 1, 4}, {2, 1, 2}, {-1, 2, 2}, {0, 2, 3},  {1, 2, 2}};
constexpr KernelCell stuckiCells[] = {{1, 0, 8},  {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 8},  {1, 1, 4},
                                      {2, 1, 2},  {-2, 2, 1}, {-1, 2, 2}, {0, 2, 4},  {1, 2, 2},  {2, 2, 1}};

constexpr DiffusionKernel floydSteinbergKernel = {floydSteinbergCells, 4, 0.0625, 16.0, false, 1, 1};
constexpr DiffusionKernel burkesKernel = {burkesCells, 7, 0.03125, 32.0, false, 2, 1};
constexpr DiffusionKernel sierraKernel = {sierraCells, 10, 0.03125, 32.0, false, 2, 2};
constexpr DiffusionKernel stuckiKernel = {stuckiCells, 12, 0.0, 42.0, true, 2, 2};

enum class DiffusionMember { FloydSteinberg7351, Burkes, Sierra, Stucki };

constexpr int maxKernelCells = 12;

// Thresholds the working buffer in place at `threshold` and spreads each
// diffusing pixel's error over its neighbours below and to the right. Values
// are deliberately not clamped.
void diffuse(float* buffer, int width, int height, float threshold, const DiffusionKernel& kernel, double strength)
{
    std::ptrdiff_t offsets[maxKernelCells];
    double weights[maxKernelCells];
    for (int c = 0; c < kernel.cellCount; ++c) {
        offsets[c] = static_cast<std::ptrdiff_t>(kernel.cells[c].dy) * width + kernel.cells[c].dx;
        weights[c] = kernel.cells[c].weight;
    }
    const int firstDiffusing = kernel.margin;
    const int lastDiffusing = width - 1 - kernel.margin;
    const int lastDiffusingRow = height - 1 - kernel.bottomRows;

    float* row = buffer;
    for (int y = 0; y < height; ++y, row += width) {
        const bool rowDiffuses = y <= lastDiffusingRow;
        for (int x = 0; x < width; ++x) {
            const float oldValue = row[x];
            const float newValue = threshold < oldValue ? 255.0f : 0.0f;
            row[x] = newValue;
            if (!rowDiffuses || x < firstDiffusing || x > lastDiffusing) {
                continue;  // the error of a pixel outside the region is dropped
            }
            const double error = static_cast<double>(oldValue - newValue);
            float* source = row + x;
            for (int c = 0; c < kernel.cellCount; ++c) {
                const double share =
                    kernel.divides ? (error * weights[c]) / kernel.divisor : (error * weights[c]) * kernel.scale;
                float& neighbour = source[offsets[c]];
                neighbour = static_cast<float>((static_cast<double>(neighbour) + share) * strength);
            }
        }
    }
}

bool errorDiffusion(DiffusionMember member, int width, int height, int extra, const unsigned char* raster,
                    unsigned int selector, unsigned char* bits, int* DataBinSize)
{
    const bool reportsOnStderr = member == DiffusionMember::FloydSteinberg7351;
    if (reportsOnStderr) {
        // Wrapping sum, as the 32-bit count was always printed.
        const int actualHeight = static_cast<int>(static_cast<unsigned int>(height) + static_cast<unsigned int>(extra));
        std::fprintf(stderr, "DEBUG: actualHeight = %d,height = %d,height0 = %d.\n", actualHeight, height, extra);
    }
    if (DataBinSize == nullptr) {
        return false;
    }
    if (raster == nullptr) {
        *DataBinSize = 0;
        if (reportsOnStderr) {
            std::fprintf(stderr, "DEBUG: TrueCollorBitData==NULL.\n");
        }
        return false;
    }
    BinarizeGeometry geometry;
    if (!binarizeGeometry(width, height, extra, &geometry)) {
        *DataBinSize = 0;
        return false;
    }

    const auto allocationFailed = [&]() {
        if (reportsOnStderr) {
            std::fprintf(stderr, "DEBUG: ErrorDiffusionFloydSteinberg7351 DibPixcel==NULL\r\n");
        } else {
            TraceLog("ErrorDiffusionFloydSteinberg7351 DibPixcel==NULL\r\n");
        }
        *DataBinSize = 0;
        return false;
    };
    const int pixels = static_cast<int>(geometry.imagePixels);
    ScratchBuffer<float> buffer = allocateScratch<float>(geometry.imagePixels);
    if (reportsOnStderr) {
        std::fprintf(stderr, "DEBUG: DibPixcel = %d,width = %d,height = %d.\n", pixels, width, height);
    }
    if (!buffer) {
        return allocationFailed();
    }
    ScratchBuffer<unsigned char> plane = allocateScratch<unsigned char>(geometry.planePixels);
    if (reportsOnStderr) {
        std::fprintf(stderr, "DEBUG: DibPixcelInt = %d,width = %d,actualWidth = %d,height = %d.actualHeight = %d.\n",
                     pixels, width, width, height, geometry.rows);
    }
    if (!plane) {
        return allocationFailed();
    }

    const double strength = ditherStrength();
    const unsigned char* row = raster;
    float* value = buffer.get();
    for (int y = 0; y < height; ++y, row += geometry.rasterStride) {
        const unsigned char* pixel = row;
        for (int x = 0; x < width; ++x, pixel += 3) {
            unsigned char gray;
            RGB2Gray(&gray, pixel[0], pixel[1], pixel[2], selector);
            *value++ = static_cast<float>(gray);
        }
    }

    unsigned char threshold;
    const DiffusionKernel* kernel;
    switch (member) {
    case DiffusionMember::FloydSteinberg7351:
        threshold = MonochromeConvertOtsu(width, height, raster, selector);
        std::fprintf(stderr, "DEBUG: threshhold = %d.\n", threshold);
        kernel = &floydSteinbergKernel;
        break;
    case DiffusionMember::Burkes:
        threshold = 137;
        std::fprintf(stderr, "DEBUG: ErrorDiffusionBurkes:threshhold = %d.\n", threshold);
        kernel = &burkesKernel;
        break;
    case DiffusionMember::Sierra:
        threshold = MonochromeConvertOtsu(width, height, raster, selector);
        kernel = &sierraKernel;
        break;
    case DiffusionMember::Stucki:
    default:
        threshold = MonochromeConvertOtsu(width, height, raster, selector);
        kernel = &stuckiKernel;
        break;
    }

    diffuse(buffer.get(), width, height, static_cast<float>(threshold), *kernel, strength);

    unsigned char* out = plane.get();
    for (std::int64_t i = 0; i < geometry.imagePixels; ++i) {
        out[i] = static_cast<unsigned char>(static_cast<int>(buffer[i]));
    }
    std::memset(out + geometry.imagePixels, 255, static_cast<std::size_t>(geometry.planePixels - geometry.imagePixels));

    const bool packed = CreatDataBin(plane.get(), width, geometry.rows, bits, DataBinSize);
    if (reportsOnStderr) {
        std::fprintf(stderr, "DEBUG: ErrorDiffusionFloydStein7351:after CreatDataBin\r\n");
        if (packed) {
            std::fprintf(stderr, "DEBUG: ErrorDiffusionFloydStein7351:CreatDataBin sucess DataBinSize==%d\r\n",
                         *DataBinSize);
        } else {
            std::fprintf(stderr, "DEBUG: ErrorDiffusionFloydStein7351:CreatDataBin failed \r\n");
        }
        std::fprintf(stderr, "DEBUG: ErrorDiffusionFloydStein7351:after GrayData\r\n");
    } else {
        TraceLog("ErrorDiffusionFloydSteinberg:after CreatDataBin\r\n");
        if (!packed) {
            TraceLog("ErrorDiffusionFloydSteinberg:CreatDataBin failed \r\n");
        }
        TraceLog("ErrorDiffusionFloydSteinberg:after GrayData\r\n");
    }
    return packed;
}

}  // namespace

bool ErrorDiffusionFloydSteinberg7351(int width, int height, int extra, const unsigned char* raster,
                                      unsigned int selector, unsigned char* bits, int* DataBinSize)
{
    return errorDiffusion(DiffusionMember::FloydSteinberg7351, width, height, extra, raster, selector, bits,
                          DataBinSize);
}

bool ErrorDiffusionBurkes(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                          unsigned char* bits, int* DataBinSize)
{
    return errorDiffusion(DiffusionMember::Burkes, width, height, extra, raster, selector, bits, DataBinSize);
}

bool ErrorDiffusionSierra(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                          unsigned char* bits, int* DataBinSize)
{
    return errorDiffusion(DiffusionMember::Sierra, width, height, extra, raster, selector, bits, DataBinSize);
}

bool ErrorDiffusionStucki(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                          unsigned char* bits, int* DataBinSize)
{
    return errorDiffusion(DiffusionMember::Stucki, width, height, extra, raster, selector, bits, DataBinSize);
}

bool ErrorDiffusionFloydSteinberg(int width, int height, const unsigned char* raster, unsigned int selector,
                                  unsigned char* bits, int* DataBinSize)
{
    if (DataBinSize == nullptr) {
        return false;
    }
    BinarizeGeometry geometry;
    if (raster == nullptr || !binarizeGeometry(width, height, 0, &geometry)) {
        *DataBinSize = 0;
        return false;
    }
    ScratchBuffer<unsigned char> plane = allocateScratch<unsigned char>(geometry.planePixels);
    if (!plane) {
        TraceLog("ErrorDiffusionFloydSteinberg DibPixcel==NULL\r\n");
        *DataBinSize = 0;
        return false;
    }

    const double strength = ditherStrength();
    const unsigned char* row = raster;
    unsigned char* out = plane.get();
    for (int y = 0; y < height; ++y, row += geometry.rasterStride) {
        const unsigned char* pixel = row;
        for (int x = 0; x < width; ++x, pixel += 3) {
            RGB2Gray(out++, pixel[0], pixel[1], pixel[2], selector);
        }
    }
    const unsigned char threshold = MonochromeConvertOtsu(width, height, raster, selector);

    // A neighbour is kept a gray level: the sum of byte and share is clamped
    // to 0..255 instead of wrapping around.
    const auto addShare = [strength](unsigned char& neighbour, int weight, int error) {
        const int share = static_cast<int>(((weight * error) * 0.0625) * strength);
        neighbour = static_cast<unsigned char>(std::clamp(neighbour + share, 0, 255));
    };
    unsigned char* current = plane.get();
    for (int y = 0; y < height; ++y, current += width) {
        // Row 0 and column 0 never receive error.
        unsigned char* below = y + 1 < height ? current + width : nullptr;
        const bool rowReceives = y >= 1;
        for (int x = 0; x < width; ++x) {
            const int oldValue = current[x];
            const int newValue = oldValue > threshold ? 255 : 0;
            current[x] = static_cast<unsigned char>(newValue);
            const int error = oldValue - newValue;
            if (rowReceives && x + 1 < width) {
                addShare(current[x + 1], 7, error);
            }
            if (below != nullptr) {
                if (x - 1 >= 1) {
                    addShare(below[x - 1], 3, error);
                }
                if (x >= 1) {
                    addShare(below[x], 5, error);
                }
                if (x + 1 < width) {
                    addShare(below[x + 1], 1, error);
                }
            }
        }
    }
    out = plane.get();
    for (std::int64_t i = 0; i < geometry.planePixels; ++i) {
        out[i] = out[i] > threshold ? 255 : 0;
    }

    const bool packed = CreatDataBin(plane.get(), width, height, bits, DataBinSize);
    TraceLog("ErrorDiffusionFloydSteinberg:after CreatDataBin\r\n");
    if (!packed) {
        TraceLog("ErrorDiffusionFloydSteinberg:CreatDataBin failed \r\n");
    }
    TraceLog("ErrorDiffusionFloydSteinberg:after GrayData\r\n");
    return packed;
}

// ---------------------------------------------------------------------------
// Integer Floyd-Steinberg halftone with randomised borders

namespace {

// The border thresholds: a linear congruential generator restarted at 0 on
// every call, so the same image always gives the same halftone.
class BorderThresholds {
public:
    int next() { return FloydSteinbergBorderThreshold(&state_); }

private:
    unsigned int state_ = 0;
};

}  // namespace

int FloydSteinbergBorderThreshold(unsigned int* state)
{
    *state = *state * 1103515245u + 12345u;
    const std::int32_t r = static_cast<std::int32_t>(*state) >> 12;  // arithmetic shift
    return r % 129 + 63;  // the remainder keeps the sign of r
}

int FloydSteinbergInitialError(int gray, int halftone) { return gray - (halftone == 255 ? 255 : 0) + (127 - gray) / 2; }

bool FloydSteinberg(int width, int height, const unsigned char* raster, unsigned int selector, unsigned char* bits,
                    int* DataBinSize)
{
    if (DataBinSize == nullptr) {
        return false;
    }
    BinarizeGeometry geometry;
    if (raster == nullptr || !binarizeGeometry(width, height, 0, &geometry)) {
        *DataBinSize = 0;
        return false;
    }
    ScratchBuffer<unsigned char> grayPlane = allocateScratch<unsigned char>(geometry.imagePixels);
    ScratchBuffer<unsigned char> halftone =
        grayPlane ? allocateScratch<unsigned char>(geometry.imagePixels, true) : nullptr;
    ScratchBuffer<int> previousErrors = halftone ? allocateScratch<int>(width, true) : nullptr;
    ScratchBuffer<int> currentErrors = previousErrors ? allocateScratch<int>(width, true) : nullptr;
    if (!currentErrors) {
        TraceLog("FloydSteinberg GrayData==NULL\r\n");
        *DataBinSize = 0;
        return false;
    }

    const unsigned char* row = raster;
    unsigned char* out = grayPlane.get();
    for (int y = 0; y < height; ++y, row += geometry.rasterStride) {
        const unsigned char* pixel = row;
        for (int x = 0; x < width; ++x, pixel += 3) {
            RGB2Gray(out++, pixel[2], pixel[1], pixel[0], selector);
        }
    }

    const unsigned char* g = grayPlane.get();
    unsigned char* h = halftone.get();
    const auto at = [width](int x, int y) { return static_cast<std::ptrdiff_t>(y) * width + x; };
    BorderThresholds thresholds;

    // Left, right and top borders against random thresholds; the error runs
    // down each side and then along the top row.
    int error = 0;
    for (int y = 0; y < height; ++y) {
        const int t = thresholds.next();
        const int p = g[at(0, y)] + error;
        h[at(0, y)] = p > t ? 255 : 0;
        error = p - h[at(0, y)];
    }
    error = 0;
    for (int y = 0; y < height; ++y) {
        const int t = thresholds.next();
        const int p = g[at(width - 1, y)] + error;
        h[at(width - 1, y)] = p > t ? 255 : 0;
        error = p - h[at(width - 1, y)];
    }
    int* previous = previousErrors.get();
    int* current = currentErrors.get();
    for (int x = 0; x < width; ++x) {
        const int t = thresholds.next();
        const int p = g[x] + error;
        h[x] = p > t ? 255 : 0;
        previous[x] = FloydSteinbergInitialError(g[x], h[x]);
        error = p - h[x];
    }

    // Interior against mid-gray.
    for (int y = 1; y < height; ++y) {
        const unsigned char* gRow = g + at(0, y);
        unsigned char* hRow = h + at(0, y);
        current[0] = FloydSteinbergInitialError(gRow[0], hRow[0]);
        for (int x = 1; x <= width - 2; ++x) {
            const int sum = previous[x - 1] + 5 * previous[x] + 3 * previous[x + 1] + 7 * current[x - 1];
            const int p = gRow[x] + sum / 16;
            if (p > 127) {
                hRow[x] = 255;
                current[x] = p - 255;
            } else {
                hRow[x] = 0;
                current[x] = p;
            }
        }
        current[0] = FloydSteinbergInitialError(gRow[0], hRow[0]);
        current[width - 1] = FloydSteinbergInitialError(gRow[width - 1], hRow[width - 1]);
        std::swap(previous, current);
    }

    const bool packed = CreatDataBin(h, width, height, bits, DataBinSize);
    if (!packed) {
        TraceLog("FloydSteinberg:CreatDataBin failed \r\n");
    }
    return packed;
}
