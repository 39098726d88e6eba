#include "imaging/FunctionAsistant.h"

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

#include <climits>
#include <cstdint>
#include <cstring>

#include "imaging/ImageBuffer.h"

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
