// The floating-point operations give the same bits in every build: the
// fingerprints below were taken from the optimised build and must hold in the
// unoptimised, sanitized one too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "imaging/AdaptiveThreshold.h"
#include "imaging/FunctionAsistant.h"
#include "imaging/GaussianBlur.h"
#include "imaging/ImageBuffer.h"
#include "imaging/minicut.h"

namespace {

constexpr int kW = 37;
constexpr int kH = 23;

// A smooth picture with noise on it, from a fixed generator.
std::vector<unsigned char> picture()
{
    std::vector<unsigned char> img(static_cast<std::size_t>(trueColourStride(kW)) * kH, 0);
    std::uint32_t state = 12345;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            for (int ch = 0; ch < 3; ++ch) {
                state = state * 1664525u + 1013904223u;
                const int v = (x * 5 + y * 7 + ch * 40) % 200 + static_cast<int>(state >> 27);
                img[static_cast<std::size_t>(y * trueColourStride(kW) + x * 3 + ch)] = static_cast<unsigned char>(v);
            }
        }
    }
    return img;
}

std::uint64_t fingerprint(const unsigned char* data, std::size_t size)
{
    std::uint64_t h = 1469598103934665603ull;
    for (std::size_t i = 0; i < size; ++i) {
        h = (h ^ data[i]) * 1099511628211ull;
    }
    return h;
}

std::uint64_t fingerprint(const std::vector<unsigned char>& v) { return fingerprint(v.data(), v.size()); }

}  // namespace

TEST(SameBits, FloatingPointOperations)
{
    const auto src = picture();
    const int stride = trueColourStride(kW);

    auto bc = src;
    f_BrightContrastPS(bc.data(), kW, kH, kW * 3, 17, 33);
    EXPECT_EQ(fingerprint(bc), 12920242222292659556u) << "brightness/contrast";

    unsigned w = 0, h = 0, rb = 0;
    auto zoomed = f_Zoom(src.data(), kW, kH, kW * 3, &w, &h, &rb, 1, 1.37f, 0.71f);
    ASSERT_TRUE(zoomed);
    const std::size_t zoomedSize = static_cast<std::size_t>(trueColourStride(static_cast<int>(w))) * h;
    EXPECT_EQ(fingerprint(zoomed.get(), zoomedSize), 17768925262515462357u) << "zoom";

    auto rotated = f_Rotate(src.data(), kW, kH, stride, 33, &w, &h, &rb, 1);
    ASSERT_TRUE(rotated);
    EXPECT_EQ(fingerprint(rotated.get(), static_cast<std::size_t>(rb) * h), 15580751486057819838u) << "rotate";

    // The sharpening filters want packed rows.
    std::vector<unsigned char> packed(static_cast<std::size_t>(kW * 3 * kH));
    for (int y = 0; y < kH; ++y) {
        std::copy_n(src.begin() + y * stride, kW * 3, packed.begin() + y * kW * 3);
    }
    auto gauss = packed;
    f_SpatialGaussFiter(gauss.data(), kW, kH, kW * 3, 3);
    EXPECT_EQ(fingerprint(gauss), 17900367375803679861u) << "gauss";
    auto usm = packed;
    f_ImageSharpen_USM(usm.data(), kW, kH, kW * 3, 2, 180, 4);
    EXPECT_EQ(fingerprint(usm), 431772026996285898u) << "usm";

    auto fast = src;
    ASSERT_TRUE(GaussianBlurFast(kW, kH, fast.data()));
    EXPECT_EQ(fingerprint(fast), 10338849476731921834u) << "blur fast";

    std::vector<unsigned char> bits(static_cast<std::size_t>(bitRasterStride(kW)) * kH);
    int size = static_cast<int>(bits.size());
    ASSERT_TRUE(minicut(src.data(), 12, kW, kH, 9, 8, 5, bits.data(), &size, 0.37f));
    EXPECT_EQ(fingerprint(bits), 9973120593634386153u) << "minicut";
    size = static_cast<int>(bits.size());
    ASSERT_TRUE(InterlImageAdaptiveThreshold(kW, kH, src.data(), 12, bits.data(), &size));
    EXPECT_EQ(fingerprint(bits), 2192247427430977090u) << "adaptive";
}
