// Window-mean blur and the fast separable blur of a true-colour raster.
#include "imaging/GaussianBlur.h"

#include <climits>
#include <cstdint>
#include <cstring>

#include "diagnostics/middleDataSave.h"
#include "imaging/FunctionAsistant.h"
#include "imaging/ImageBuffer.h"

namespace {

// Row size for this width, or -1 when the row size would not fit in an int.
int strideOf(int width)
{
    if (width > (INT_MAX - 31) / 24) {
        return -1;
    }
    return trueColourStride(width);
}

// The checks both blurs start with: false for an unusable image, true with a
// stride of 0 for an empty one (nothing to blur), else true with its stride.
bool blurStride(int width, int height, const unsigned char* image, int& stride)
{
    stride = 0;
    if (image == nullptr || width < 0 || height < 0) {
        return false;
    }
    if (width == 0 || height == 0) {
        return true;
    }
    stride = strideOf(width);
    return stride >= 0;
}

}  // namespace

void windowAverage(int row, int column, int width, int height, const unsigned char* source,
                   unsigned char* destination)
{
    if (source == nullptr || destination == nullptr || row < 0 || row >= height || column < 0 || column >= width) {
        return;
    }
    const int stride = strideOf(width);
    if (stride < 0) {
        return;
    }
    const int half = GetGaussianBlurWindowSize() / 2;
    std::int64_t sums[3] = {0, 0, 0};
    std::int64_t count = 0;
    for (std::int64_t sy = static_cast<std::int64_t>(row) - half; sy <= static_cast<std::int64_t>(row) + half; ++sy) {
        for (std::int64_t sx = static_cast<std::int64_t>(column) - half; sx <= static_cast<std::int64_t>(column) + half;
             ++sx) {
            if (sy >= 0 && sy < height && sx >= 0 && sx < width) {
                const unsigned char* p = source + sy * stride + sx * 3;
                sums[0] += p[0];
                sums[1] += p[1];
                sums[2] += p[2];
                ++count;
            }
        }
    }
    unsigned char* out = destination + static_cast<std::int64_t>(row) * stride + static_cast<std::int64_t>(column) * 3;
    for (int ch = 0; ch < 3; ++ch) {
        out[ch] = static_cast<unsigned char>(sums[ch] / count);
    }
}

bool GaussianBlur(int width, int height, unsigned char* image)
{
    int stride = 0;
    if (!blurStride(width, height, image, stride)) {
        return false;
    }
    if (stride == 0) {
        return true;  // nothing to blur
    }
    const std::int64_t total = static_cast<std::int64_t>(stride) * height;
    auto result = allocateScratch<unsigned char>(total);
    if (!result) {
        TraceLog("GaussianBlur TrueCollorBitDataNew==NULL\r\n");
        return false;
    }
    // Start from the image itself so the row padding copied back is the
    // image's own, not uninitialised memory.
    std::memcpy(result.get(), image, static_cast<std::size_t>(total));
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            windowAverage(row, column, width, height, image, result.get());
        }
    }
    std::memcpy(image, result.get(), static_cast<std::size_t>(total));
    return true;
}

bool GaussianBlurFast(int width, int height, unsigned char* image)
{
    int stride = 0;
    if (!blurStride(width, height, image, stride)) {
        return false;
    }
    if (stride == 0) {
        return true;  // nothing to blur
    }

    int r = GetGaussianBlurWindowSize();
    if (r <= 0) {
        r = 1;
    }
    if (r > 248) {
        r = 248;
    }
    const int taps = 2 * r + 1;

    // Kernel (r - |k - r|)^2 and its multiplication table.
    auto kernel = allocateScratch<std::uint32_t>(taps);
    auto table = allocateScratch<std::uint32_t>(static_cast<std::int64_t>(taps) * 256);
    const std::int64_t planeSize = static_cast<std::int64_t>(width) * height;
    auto planes = allocateScratch<unsigned char>(6 * planeSize);
    if (!kernel || !table || !planes) {
        return false;
    }
    std::uint32_t weightSum = 0;
    for (int k = 0; k < taps; ++k) {
        const int distance = k - r < 0 ? r - k : k - r;
        const auto w = static_cast<std::uint32_t>((r - distance) * (r - distance));
        kernel[static_cast<std::size_t>(k)] = w;
        weightSum += w;
        for (std::uint32_t v = 0; v < 256; ++v) {
            table[static_cast<std::size_t>(k) * 256 + v] = v * w;
        }
    }
    const float inv = 1.0f / static_cast<float>(weightSum);

    unsigned char* input[3] = {planes.get(), planes.get() + planeSize, planes.get() + 2 * planeSize};
    unsigned char* middle[3] = {planes.get() + 3 * planeSize, planes.get() + 4 * planeSize,
                                planes.get() + 5 * planeSize};

    for (int y = 0; y < height; ++y) {
        const unsigned char* row = image + static_cast<std::int64_t>(y) * stride;
        for (int x = 0; x < width; ++x) {
            const std::int64_t at = static_cast<std::int64_t>(y) * width + x;
            input[0][at] = row[x * 3];
            input[1][at] = row[x * 3 + 1];
            input[2][at] = row[x * 3 + 2];
        }
    }

    // Neighbours wrap around; a true modulo keeps them inside even when the
    // radius exceeds the image.
    auto wrap = [](std::int64_t i, int n) {
        const std::int64_t m = i % n;
        return m < 0 ? m + n : m;
    };

    // Row pass.
    for (int y = 0; y < height; ++y) {
        const std::int64_t rowStart = static_cast<std::int64_t>(y) * width;
        for (int x = 0; x < width; ++x) {
            std::uint32_t sums[3] = {0, 0, 0};
            for (int k = 0; k < taps; ++k) {
                const std::int64_t sx = wrap(static_cast<std::int64_t>(width) - r + x + k, width);
                const std::uint32_t* t = table.get() + static_cast<std::size_t>(k) * 256;
                sums[0] += t[input[0][rowStart + sx]];
                sums[1] += t[input[1][rowStart + sx]];
                sums[2] += t[input[2][rowStart + sx]];
            }
            for (int ch = 0; ch < 3; ++ch) {
                middle[ch][rowStart + x] = static_cast<unsigned char>(static_cast<int>(static_cast<float>(sums[ch]) * inv));
            }
        }
    }

    // Column pass, written back into the image.
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            std::uint32_t sums[3] = {0, 0, 0};
            for (int k = 0; k < taps; ++k) {
                const std::int64_t sy = wrap(static_cast<std::int64_t>(height) - r + y + k, height);
                const std::uint32_t* t = table.get() + static_cast<std::size_t>(k) * 256;
                const std::int64_t at = sy * width + x;
                sums[0] += t[middle[0][at]];
                sums[1] += t[middle[1][at]];
                sums[2] += t[middle[2][at]];
            }
            unsigned char* out = image + static_cast<std::int64_t>(y) * stride + static_cast<std::int64_t>(x) * 3;
            for (int ch = 0; ch < 3; ++ch) {
                out[ch] = static_cast<unsigned char>(static_cast<int>(static_cast<float>(sums[ch]) * inv));
            }
        }
    }
    return true;
}
