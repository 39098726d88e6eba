// Adaptive threshold against the mean of a window from a summed-area table.
#include <gtest/gtest.h>

#include "imaging/AdaptiveThreshold.h"
#include "threshold_images.h"

namespace {

constexpr unsigned int kSelector = 12;

bool run(const GrayRaster& img, Bits& bits, int& size, unsigned int selector = kSelector)
{
    size = bits.size;
    return InterlImageAdaptiveThreshold(img.width, img.height, img.data(), selector, bits.bytes.data(), &size);
}

}  // namespace

TEST(AdaptiveThreshold, UniformImagesComeOutWhite)
{
    for (int level : {0, 1, 77, 128, 255}) {
        GrayRaster img(13, 7, static_cast<unsigned char>(level));
        Bits bits(13, 7);
        int size = 0;
        ASSERT_TRUE(run(img, bits, size));
        EXPECT_EQ(size, bits.size);
        for (unsigned char b : bits.bytes) {
            ASSERT_EQ(b, 0xFF) << level;
        }
    }
}

TEST(AdaptiveThreshold, BlackPixelOnWhiteField)
{
    GrayRaster img(9, 9, 255);
    img.set(4, 4, 0);
    Bits bits(9, 9);
    int size = 0;
    ASSERT_TRUE(run(img, bits, size));
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 9; ++x) {
            ASSERT_EQ(bits.white(x, y), !(x == 4 && y == 4)) << x << "," << y;
        }
    }
}

TEST(AdaptiveThreshold, NinetyPercentOfTheWindowMeanIsStillWhite)
{
    // In a 2 x 2 image every window's counted rectangle is pixel (1, 1) alone
    // (level 100), so the limit is 90.
    for (auto [level, white] : {std::pair{90, true}, std::pair{89, false}}) {
        GrayRaster img(2, 2);
        img.set(0, 0, static_cast<unsigned char>(level));
        img.set(1, 0, 200);
        img.set(0, 1, 200);
        img.set(1, 1, 100);
        Bits bits(2, 2);
        int size = 0;
        ASSERT_TRUE(run(img, bits, size));
        EXPECT_EQ(bits.white(0, 0), white) << level;
        EXPECT_TRUE(bits.white(1, 0));
        EXPECT_TRUE(bits.white(0, 1));
        EXPECT_TRUE(bits.white(1, 1));
    }
}

TEST(AdaptiveThreshold, GrayIsTakenFromTheThirdByteAsBlue)
{
    // Selector 7 copies the blue argument: the pixel's third byte.
    GrayRaster img(9, 9, 255);
    img.set(4, 4, 0);
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 9; ++x) {
            img.bytes[static_cast<std::size_t>(y * img.stride + x * 3)] = static_cast<unsigned char>(x * 20);
            img.bytes[static_cast<std::size_t>(y * img.stride + x * 3 + 1)] = static_cast<unsigned char>(y * 20);
        }
    }
    Bits bits(9, 9);
    int size = 0;
    ASSERT_TRUE(run(img, bits, size, 7));
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 9; ++x) {
            ASSERT_EQ(bits.white(x, y), !(x == 4 && y == 4)) << x << "," << y;
        }
    }
}

TEST(AdaptiveThreshold, ThinImagesAreAllWhite)
{
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 9}, std::pair{9, 1}}) {
        GrayRaster img(w, h, 255);
        img.set(0, 0, 0);
        Bits bits(w, h);
        int size = 0;
        ASSERT_TRUE(run(img, bits, size));
        for (unsigned char b : bits.bytes) {
            ASSERT_EQ(b, 0xFF) << w << "x" << h;
        }
    }
    // Widths that are no multiple of 4, black pixels at the right edge.
    GrayRaster odd(5, 3, 200);
    odd.set(4, 2, 0);
    Bits bits(5, 3);
    int size = 0;
    ASSERT_TRUE(run(odd, bits, size));
    EXPECT_FALSE(bits.white(4, 2));
    EXPECT_TRUE(bits.white(0, 0));
}

TEST(AdaptiveThreshold, FailuresReportSizeZero)
{
    GrayRaster img(4, 4);
    Bits bits(4, 4);
    int size = bits.size;
    EXPECT_FALSE(InterlImageAdaptiveThreshold(4, 4, nullptr, kSelector, bits.bytes.data(), &size));
    EXPECT_EQ(size, 0);
    size = bits.size;
    EXPECT_FALSE(InterlImageAdaptiveThreshold(4, 4, img.data(), kSelector, nullptr, &size));
    EXPECT_EQ(size, 0);
    size = bits.size + 1;  // the packer refuses a wrong size
    EXPECT_FALSE(InterlImageAdaptiveThreshold(4, 4, img.data(), kSelector, bits.bytes.data(), &size));
    EXPECT_EQ(size, 0);
    size = 16;
    EXPECT_FALSE(InterlImageAdaptiveThreshold(-4, 4, img.data(), kSelector, bits.bytes.data(), &size));
    EXPECT_EQ(size, 0);
    EXPECT_FALSE(InterlImageAdaptiveThreshold(4, 4, img.data(), kSelector, bits.bytes.data(), nullptr));

    // Zero rows pack to nothing and succeed.
    size = 0;
    EXPECT_TRUE(InterlImageAdaptiveThreshold(4, 0, img.data(), kSelector, bits.bytes.data(), &size));
    EXPECT_EQ(size, 0);
}
