#include "imaging/FunctionAsistant.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "imaging/ImageBuffer.h"
#include "diagnostics/jobLog.h"

// ---- Tuning constants ----
unsigned int GetGrayAlgorithm() { return 12; }
unsigned int GetFloydSteinbergGrayAlgorithm() { return 12; }
unsigned int GetInterlImageAdaptiveGrayAlgorithm() { return 12; }
unsigned int GetMinicutGrayAlgorithm() { return 12; }
unsigned int GetMonochromeConvertGrayAlgorithm() { return 6; }
unsigned int GetGrayAlgorithmMonochromeGrayscaleConvert() { return 6; }
int GetnDitherAction() { return 100; }
int GetInterlImageAdaptivePercent() { return 10; }
int GetInterlImageAdaptiveStep() { return 0; }
int GetInterlImageAdaptiveGetStep() { return 3; }
int GetMinicutWindowSize() { return 8; }
int GetMinicutnBias() { return 20; }
int GetfGlobalLocalBalance() { return 50; }
int GetGaussianBlurWindowSize() { return 2; }
int getblankSpace() { return 0; }
int getRotationMode() { return 0; }
int DoBlankEmpty(const void*, const void*, int count) { return count; }
void DoRotate() {}

namespace {

// Row size of a true-colour raster of this width, or -1 when the width is not
// positive or the row size would not fit in an int.
int checkedTrueColourStride(int width)
{
    if (width < 1 || width > (INT_MAX - 31) / 24) {
        return -1;
    }
    return trueColourStride(width);
}

unsigned char clampToByte(std::int64_t v)
{
    if (v < 0) {
        return 0;
    }
    if (v > 255) {
        return 255;
    }
    return static_cast<unsigned char>(v);
}

// Clamp to 0.0..255.0, then truncate.
int clampTruncate(float t)
{
    if (t < 0.0f) {
        t = 0.0f;
    }
    if (t > 255.0f) {
        t = 255.0f;
    }
    return static_cast<int>(t);
}

}  // namespace

// ---- Brightness/contrast and offset ----

int f_BrightContrastPS(unsigned char* image, int width, int height, unsigned int /*rowBytes*/, int brightness,
                       int contrast)
{
    if (brightness == 0 && contrast == 0) {
        return 0;
    }

    const float c = static_cast<float>(contrast) / 100.0f;
    const float kDown = c + 1.0f;

    unsigned char table[256];
    for (int i = 0; i < 256; ++i) {
        if (contrast > 0) {
            // Positive contrast: shift first, then stretch around the middle gray.
            const int v = clampToByte(static_cast<std::int64_t>(i) + brightness);
            if (contrast >= 100) {
                table[i] = v > 127 ? 255 : 0;
            } else {
                const float kUp = 1.0f / (1.0f - c);
                const float product = (static_cast<float>(v) - 127.5f) * kUp;
                table[i] = static_cast<unsigned char>(clampTruncate(product + 127.5f));
            }
        } else {
            // Zero or negative contrast: compress first, then shift.
            const float product = (static_cast<float>(i) - 127.5f) * kDown;
            const int t = clampTruncate(product + 127.5f);
            table[i] = clampToByte(static_cast<std::int64_t>(t) + brightness);
        }
    }

    const int stride = checkedTrueColourStride(width);
    if (image == nullptr || height < 1 || stride < 0) {
        return 0;
    }
    const std::size_t pixelBytes = static_cast<std::size_t>(width) * 3;
    for (int y = 0; y < height; ++y) {
        unsigned char* row = image + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride);
        for (std::size_t i = 0; i < pixelBytes; ++i) {
            row[i] = table[row[i]];
        }
    }
    return 0;
}

int f_XYOfffset(unsigned char* image, int width, int height, unsigned int /*rowBytes*/, int dx, int dy)
{
    if (dx == 0 && dy == 0) {
        return 0;
    }
    const int stride = checkedTrueColourStride(width);
    if (image == nullptr || height < 1 || stride < 0) {
        return 0;
    }
    const std::int64_t total = static_cast<std::int64_t>(stride) * height;
    auto copy = allocateScratch<unsigned char>(total);
    if (!copy) {
        // Without the unshifted copy the shift cannot be made; keep the image as it is.
        return 0;
    }
    std::memcpy(copy.get(), image, static_cast<std::size_t>(total));

    for (int y = 0; y < height; ++y) {
        const std::int64_t sy = static_cast<std::int64_t>(y) + dy;
        unsigned char* out = image + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride);
        for (int x = 0; x < width; ++x) {
            const std::int64_t sx = static_cast<std::int64_t>(x) - dx;
            unsigned char* pixel = out + static_cast<std::size_t>(x) * 3;
            if (sx >= 0 && sx < width && sy >= 0 && sy < height) {
                const unsigned char* src =
                    copy.get() + static_cast<std::size_t>(sy) * static_cast<std::size_t>(stride) +
                    static_cast<std::size_t>(sx) * 3;
                pixel[0] = src[0];
                pixel[1] = src[1];
                pixel[2] = src[2];
            } else {
                pixel[0] = 255;
                pixel[1] = 255;
                pixel[2] = 255;
            }
        }
    }
    return 0;
}

// ---- Zoom ----

namespace {

// trunc(product) as a pixel count: 0 for anything not positive (NaN included),
// -1 when it does not fit in an int.
int sizeFromProduct(float product)
{
    if (!(product > 0.0f)) {
        return 0;
    }
    if (product >= 2147483648.0f) {
        return -1;
    }
    return static_cast<int>(product);
}

// A factor truncated to hundredths, in single precision.
float truncateToHundredths(float r)
{
    const float scaled = r * 100.0f;
    // Out of range (or NaN) the integer step has no meaning; keep the value.
    if (!(scaled > -2147483648.0f && scaled < 2147483648.0f)) {
        return r;
    }
    return static_cast<float>(static_cast<int>(scaled)) / 100.0f;
}

}  // namespace

float XzoomFactor(int fromSize, int toSize)
{
    return truncateToHundredths(static_cast<float>(toSize) / static_cast<float>(fromSize));
}

float YzoomFactor(int fromSize, int toSize)
{
    return truncateToHundredths(static_cast<float>(toSize) / static_cast<float>(fromSize));
}

int zoomFactor(int width, int height, float* outXFactor, float* outYFactor)
{
    // Bring the width to 1661 pixels, or shorten the height by 176 rows,
    // whichever shrinks more.
    const float x = truncateToHundredths(1661.0f / static_cast<float>(width));
    const float y =
        truncateToHundredths(static_cast<float>(static_cast<std::int64_t>(height) - 176) / static_cast<float>(height));
    const float chosen = x > y ? y : x;
    if (outXFactor != nullptr) {
        *outXFactor = chosen;
    }
    if (outYFactor != nullptr) {
        *outYFactor = chosen;
    }
    return 0;
}

ScratchBuffer<unsigned char> f_Zoom(const unsigned char* source, int width, int height, unsigned int /*rowBytes*/,
                                        unsigned int* outWidth, unsigned int* outHeight, unsigned int* outRowBytes,
                                        int mode, float xFactor, float yFactor)
{
    if (source == nullptr) {
        return nullptr;
    }
    // An empty source gives an empty result.
    const bool emptySource = width < 1 || height < 1;
    const int srcStride = emptySource ? 0 : checkedTrueColourStride(width);
    if (srcStride < 0) {
        return nullptr;
    }

    int newWidth = emptySource ? 0 : sizeFromProduct(xFactor * static_cast<float>(width));
    int newHeight = emptySource ? 0 : sizeFromProduct(yFactor * static_cast<float>(height));
    if (newWidth < 0 || newHeight < 0 || newWidth > INT_MAX / 3) {
        return nullptr;  // a result this size cannot be addressed
    }
    const int dstStride = newWidth == 0 ? 0 : checkedTrueColourStride(newWidth);
    if (dstStride < 0) {
        return nullptr;
    }

    jobLog(LogLevel::Debug, "f_Zoom -- w = %d,h = %d.", newWidth, newHeight);
    jobLog(LogLevel::Debug, "f_Zoom -- actualWidth=%d.", dstStride);
    jobLog(LogLevel::Debug, "f_Zoom -- rasterWidth=%d.", srcStride);

    if (newWidth == 0 || newHeight == 0) {
        // Nothing to hold: an empty result with both sizes 0.
        newWidth = 0;
        newHeight = 0;
        if (outWidth != nullptr) {
            *outWidth = 0;
        }
        if (outHeight != nullptr) {
            *outHeight = 0;
        }
        if (outRowBytes != nullptr) {
            *outRowBytes = 0;
        }
        return nullptr;
    }

    auto result = allocateScratch<unsigned char>(static_cast<std::int64_t>(dstStride) * newHeight, true);
    if (!result) {
        return nullptr;
    }
    unsigned char* dst = result.get();

    // Bilinear sampling needs a 2 x 2 neighbourhood; smaller sources are sampled
    // by nearest neighbour.
    const bool bilinear = mode != 0 && width >= 2 && height >= 2;
    if (!bilinear) {
        for (int y = 0; y < newHeight; ++y) {
            std::int64_t sy = static_cast<std::int64_t>(y) * height / newHeight;
            sy = sy < 0 ? 0 : sy > height - 1 ? height - 1 : sy;
            const unsigned char* srcRow = source + static_cast<std::size_t>(sy) * static_cast<std::size_t>(srcStride);
            unsigned char* dstRow = dst + static_cast<std::size_t>(y) * static_cast<std::size_t>(dstStride);
            for (int x = 0; x < newWidth; ++x) {
                std::int64_t sx = static_cast<std::int64_t>(x) * width / newWidth;
                sx = sx < 0 ? 0 : sx > width - 1 ? width - 1 : sx;
                const unsigned char* p = srcRow + static_cast<std::size_t>(sx) * 3;
                unsigned char* q = dstRow + static_cast<std::size_t>(x) * 3;
                q[0] = p[0];
                q[1] = p[1];
                q[2] = p[2];
            }
        }
    } else {
        const float maxY = static_cast<float>(height - 2);
        const float maxX = static_cast<float>(width - 2);
        for (int y = 0; y < newHeight; ++y) {
            float fy = static_cast<float>(y) * static_cast<float>(height) / static_cast<float>(newHeight);
            if (fy < 1.0f) {
                fy = 1.0f;
            }
            if (fy > maxY) {
                fy = maxY;
            }
            const int iy = static_cast<int>(fy);
            const float ty = fy - static_cast<float>(iy);
            const unsigned char* row0 = source + static_cast<std::size_t>(iy) * static_cast<std::size_t>(srcStride);
            const unsigned char* row1 = row0 + srcStride;
            unsigned char* dstRow = dst + static_cast<std::size_t>(y) * static_cast<std::size_t>(dstStride);
            for (int x = 0; x < newWidth; ++x) {
                float fx = static_cast<float>(x) * static_cast<float>(width) / static_cast<float>(newWidth);
                if (fx < 1.0f) {
                    fx = 1.0f;
                }
                if (fx > maxX) {
                    fx = maxX;
                }
                const int ix = static_cast<int>(fx);
                const float tx = fx - static_cast<float>(ix);
                const float w00 = (1.0f - ty) * (1.0f - tx);
                const float w01 = (1.0f - tx) * ty;
                const float w10 = (1.0f - ty) * tx;
                const float w11 = tx * ty;
                const std::size_t c0 = static_cast<std::size_t>(ix) * 3;
                const std::size_t c1 = c0 + 3;
                for (std::size_t ch = 0; ch < 3; ++ch) {
                    float value = w00 * static_cast<float>(row0[c0 + ch]);
                    value = value + w01 * static_cast<float>(row1[c0 + ch]);
                    value = value + w10 * static_cast<float>(row0[c1 + ch]);
                    value = value + w11 * static_cast<float>(row1[c1 + ch]);
                    unsigned char out;
                    if (value < 0.0f) {
                        out = 0;
                    } else if (value < 255.0f) {
                        out = static_cast<unsigned char>(static_cast<int>(value));
                    } else {
                        out = 255;
                    }
                    dstRow[static_cast<std::size_t>(x) * 3 + ch] = out;
                }
            }
        }
    }

    if (outWidth != nullptr) {
        *outWidth = static_cast<unsigned int>(newWidth);
    }
    if (outHeight != nullptr) {
        *outHeight = static_cast<unsigned int>(newHeight);
    }
    if (outRowBytes != nullptr) {
        *outRowBytes = static_cast<unsigned int>(newWidth) * 3;
    }
    return result;
}

// ---- Rotation ----

ScratchBuffer<unsigned char> f_Rotate(const unsigned char* source, int width, int height, int sourceRowBytes,
                                          int angle, unsigned int* outWidth, unsigned int* outHeight,
                                          unsigned int* outRowBytes, int mode)
{
    // The size and centre formulas hold for 0..90 degrees only; other angles
    // would give sizes of zero or below.
    if (source == nullptr || angle < 0 || angle > 90 || width < 1 || height < 1 ||
        static_cast<std::int64_t>(sourceRowBytes) < static_cast<std::int64_t>(width) * 3) {
        return nullptr;
    }

    const float theta = static_cast<float>(angle) * 3.14159f / 180.0f;
    const float s = static_cast<float>(std::sin(static_cast<double>(theta)));
    const float c = static_cast<float>(std::cos(static_cast<double>(theta)));

    const float fw = static_cast<float>(width);
    const float fh = static_cast<float>(height);
    const int newWidth = sizeFromProduct(fw * c + fh * s);
    const int newHeight = sizeFromProduct(fh * c + fw * s);
    if (newWidth < 1 || newHeight < 1 || newWidth > INT_MAX / 3) {
        return nullptr;
    }
    const std::int64_t rowBytes = static_cast<std::int64_t>(newWidth) * 3;
    auto result = allocateScratch<unsigned char>(rowBytes * newHeight);
    if (!result) {
        return nullptr;
    }

    const float fnw = static_cast<float>(newWidth);
    const float fnh = static_cast<float>(newHeight);
    const float a0 = c * (-0.5f * fnh) + s * (0.5f * fnw);
    const float a1 = s * (-0.5f * fnh) + c * (-0.5f * fnw);
    const float y0 = 0.5f * fh + a0;
    const float x0 = 0.5f * fw + a1;

    unsigned char* out = result.get();
    for (int r = 0; r < newHeight; ++r) {
        const float fr = static_cast<float>(r);
        for (int k = 0; k < newWidth; ++k, out += 3) {
            const float fk = static_cast<float>(k);
            const float Y = (fr * c + (-fk * s)) + y0;
            const float X = (fk * c + fr * s) + x0;
            if (mode == 0) {
                // Truncation toward zero: -1 < X < 0 still samples column 0.
                if (X > -1.0f && X < fw && Y > -1.0f && Y < fh) {
                    const unsigned char* p = source + static_cast<std::size_t>(static_cast<int>(Y)) *
                                                          static_cast<std::size_t>(sourceRowBytes) +
                                             static_cast<std::size_t>(static_cast<int>(X)) * 3;
                    out[0] = p[0];
                    out[1] = p[1];
                    out[2] = p[2];
                    continue;
                }
            } else if (X >= 0.0f && X < fw && Y >= 0.0f && Y < fh) {
                const int ix = static_cast<int>(X);
                const int iy = static_cast<int>(Y);
                const float tx = X - static_cast<float>(ix);
                const float ty = Y - static_cast<float>(iy);
                const float w00 = (1.0f - tx) * (1.0f - ty);
                const float w01 = (1.0f - tx) * ty;
                const float w10 = (1.0f - ty) * tx;
                const float w11 = tx * ty;
                // The last column and row have no further neighbour: use the edge pixel.
                const int ix1 = ix + 1 < width ? ix + 1 : ix;
                const int iy1 = iy + 1 < height ? iy + 1 : iy;
                const unsigned char* row0 = source + static_cast<std::size_t>(iy) * static_cast<std::size_t>(sourceRowBytes);
                const unsigned char* row1 = source + static_cast<std::size_t>(iy1) * static_cast<std::size_t>(sourceRowBytes);
                const std::size_t c0 = static_cast<std::size_t>(ix) * 3;
                const std::size_t c1 = static_cast<std::size_t>(ix1) * 3;
                for (std::size_t ch = 0; ch < 3; ++ch) {
                    float value = w00 * static_cast<float>(row0[c0 + ch]);
                    value = value + w01 * static_cast<float>(row1[c0 + ch]);
                    value = value + w10 * static_cast<float>(row0[c1 + ch]);
                    value = value + w11 * static_cast<float>(row1[c1 + ch]);
                    out[ch] = static_cast<unsigned char>(clampTruncate(value));
                }
                continue;
            }
            // Fill pixel for points outside the source.
            out[0] = 0;
            out[1] = 0;
            out[2] = 255;
        }
    }

    if (outWidth != nullptr) {
        *outWidth = static_cast<unsigned int>(newWidth);
    }
    if (outHeight != nullptr) {
        *outHeight = static_cast<unsigned int>(newHeight);
    }
    if (outRowBytes != nullptr) {
        *outRowBytes = static_cast<unsigned int>(rowBytes);
    }
    return result;
}

// ---- Sharpening filters ----

namespace {

// Images of 3 bytes per pixel addressed by rowBytes: usable when every row
// holds its pixels and the total size can be addressed.
bool usableImage(const unsigned char* image, int width, int height, int rowBytes)
{
    return image != nullptr && width >= 1 && height >= 1 && rowBytes >= 1 &&
           static_cast<std::int64_t>(rowBytes) >= static_cast<std::int64_t>(width) * 3;
}

// The two-dimensional Gaussian smoothing; false when a working buffer could
// not be allocated (the image is then unchanged).
bool spatialGauss(unsigned char* image, int width, int height, int rowBytes, int radius)
{
    // Beyond this the kernel alone would need more than 32 GiB.
    if (radius > 46340) {
        return false;
    }
    const std::int64_t total = static_cast<std::int64_t>(height) * rowBytes;
    auto copy = allocateScratch<unsigned char>(total);
    const std::int64_t n = 2 * static_cast<std::int64_t>(radius) + 1;
    auto kernel = allocateScratch<float>(n * n);
    if (!copy || !kernel) {
        return false;
    }
    std::memcpy(copy.get(), image, static_cast<std::size_t>(total));

    // sigma is three times the radius: a flat, nearly box-shaped kernel.
    const float s = 3.0f * static_cast<float>(radius);
    const float d = (s + s) * s;
    float sum = 0.0f;
    for (int dy = -radius; dy <= radius; ++dy) {
        const float dy2 = static_cast<float>(static_cast<std::int64_t>(dy) * dy);
        for (int dx = -radius; dx <= radius; ++dx) {
            const float fdx = static_cast<float>(dx);
            const float e = -(fdx * fdx + dy2) / d;
            const float weight = static_cast<float>(std::exp(static_cast<double>(e)));
            kernel[static_cast<std::size_t>((dy + radius) * n + (dx + radius))] = weight;
            sum += weight;
        }
    }
    double total64 = static_cast<double>(sum);
    if (total64 < 1e-8) {
        total64 = 1e-8;
    }
    for (std::int64_t i = 0; i < n * n; ++i) {
        kernel[static_cast<std::size_t>(i)] =
            static_cast<float>(static_cast<double>(kernel[static_cast<std::size_t>(i)]) / total64);
    }

    unsigned char* out = image;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            float acc[3] = {0.0f, 0.0f, 0.0f};
            for (int dy = -radius; dy <= radius; ++dy) {
                std::int64_t sy = static_cast<std::int64_t>(y) + dy;
                sy = sy < 0 ? 0 : sy > height - 1 ? height - 1 : sy;
                const unsigned char* row = copy.get() + sy * rowBytes;
                const float* krow = kernel.get() + (dy + radius) * n;
                for (int dx = -radius; dx <= radius; ++dx) {
                    std::int64_t sx = static_cast<std::int64_t>(x) + dx;
                    sx = sx < 0 ? 0 : sx > width - 1 ? width - 1 : sx;
                    const unsigned char* p = row + sx * 3;
                    const float w = krow[dx + radius];
                    acc[0] += static_cast<float>(p[0]) * w;
                    acc[1] += static_cast<float>(p[1]) * w;
                    acc[2] += static_cast<float>(p[2]) * w;
                }
            }
            // Written pixel after pixel: the rows come out packed.
            out[0] = static_cast<unsigned char>(clampTruncate(acc[0]));
            out[1] = static_cast<unsigned char>(clampTruncate(acc[1]));
            out[2] = static_cast<unsigned char>(clampTruncate(acc[2]));
            out += 3;
        }
    }
    return true;
}

}  // namespace

int f_ImageSharpen_Laplace(unsigned char* image, int width, int height, int rowBytes, int amount)
{
    if (!usableImage(image, width, height, rowBytes) || height < 3 || width < 3) {
        return 0;  // the border rows and columns never change
    }
    const std::int64_t total = static_cast<std::int64_t>(height) * rowBytes;
    auto copy = allocateScratch<unsigned char>(total);
    if (!copy) {
        return 0;
    }
    std::memcpy(copy.get(), image, static_cast<std::size_t>(total));

    for (int y = 1; y < height - 1; ++y) {
        const unsigned char* up = copy.get() + static_cast<std::int64_t>(y - 1) * rowBytes;
        const unsigned char* mid = up + rowBytes;
        const unsigned char* down = mid + rowBytes;
        unsigned char* out = image + static_cast<std::int64_t>(y) * rowBytes;
        for (int x = 1; x < width - 1; ++x) {
            for (int ch = 0; ch < 3; ++ch) {
                const int i = x * 3 + ch;
                const int p = mid[i];
                const int laplace = 3 * p - (up[i] + down[i] + mid[i - 3] + mid[i + 3]);
                // 64-bit so that a large amount cannot overflow; same result otherwise.
                const std::int64_t v = p + static_cast<std::int64_t>(laplace) * amount / 100;
                out[i] = v <= 0 ? 0 : v >= 255 ? 255 : static_cast<unsigned char>(v);
            }
        }
    }
    return 0;
}

int f_SpatialGaussFiter(unsigned char* image, int width, int height, int rowBytes, int radius)
{
    // Radius 0 is the identity; a negative radius has no kernel and is left alone too.
    if (radius <= 0 || !usableImage(image, width, height, rowBytes)) {
        return 0;
    }
    spatialGauss(image, width, height, rowBytes, radius);
    return 0;
}

int f_ImageSharpen_USM(unsigned char* image, int width, int height, int rowBytes, int radius, int amount,
                       int threshold)
{
    if (radius == 0) {
        return 0;
    }
    radius = std::clamp(radius, 0, 100);
    amount = std::clamp(amount, 0, 500);
    threshold = std::clamp(threshold, 0, 255);
    if (!usableImage(image, width, height, rowBytes)) {
        return 0;
    }

    const std::int64_t total = static_cast<std::int64_t>(height) * rowBytes;
    auto smoothed = allocateScratch<unsigned char>(total);
    // Zeroed: the mask is written for the pixels only, but the blur over it
    // also reads the padding at the end of each row.
    auto mask = allocateScratch<unsigned char>(total, true);
    if (!smoothed || !mask) {
        return 0;
    }
    std::memcpy(smoothed.get(), image, static_cast<std::size_t>(total));
    if (radius > 0 && !spatialGauss(smoothed.get(), width, height, rowBytes, radius)) {
        return 0;
    }

    const int factor = amount * 128 / 100;
    const std::int64_t packed = static_cast<std::int64_t>(width) * height * 3;
    for (std::int64_t i = 0; i < packed; ++i) {
        const int diff = static_cast<int>(image[i]) - static_cast<int>(smoothed[i]);
        mask[i] = (diff < 0 ? -diff : diff) >= threshold ? 128 : 0;
    }
    if (radius > 0 && !spatialGauss(mask.get(), width, height, rowBytes, radius)) {
        return 0;
    }

    for (std::int64_t i = 0; i < packed; ++i) {
        const int o = image[i];
        const int b = smoothed[i];
        const int m = mask[i];
        const int sharp = o + ((o - b) * factor) / 128;
        const int v = (sharp * m + (128 - m) * o) / 128;
        image[i] = v <= 0 ? 0 : v >= 255 ? 255 : static_cast<unsigned char>(v);
    }
    return 0;
}
