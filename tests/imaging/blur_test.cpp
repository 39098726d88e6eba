// Window-mean blur and the fast separable blur.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/GaussianBlur.h"
#include "imaging/ImageBuffer.h"

namespace {

struct Raster {
    int width;
    int height;
    int stride;
    std::vector<unsigned char> bytes;

    Raster(int w, int h, unsigned char level)
        : width(w), height(h), stride(trueColourStride(w)), bytes(static_cast<std::size_t>(stride * h), 0xEE)
    {
        for (int y = 0; y < h; ++y) {
            for (int i = 0; i < w * 3; ++i) {
                bytes[static_cast<std::size_t>(y * stride + i)] = level;
            }
        }
    }
    unsigned char& at(int x, int y, int ch = 0) { return bytes[static_cast<std::size_t>(y * stride + x * 3 + ch)]; }
    void setPixel(int x, int y, unsigned char v) { at(x, y, 0) = at(x, y, 1) = at(x, y, 2) = v; }
    bool paddingIntact() const
    {
        for (int y = 0; y < height; ++y) {
            for (int i = width * 3; i < stride; ++i) {
                if (bytes[static_cast<std::size_t>(y * stride + i)] != 0xEE) {
                    return false;
                }
            }
        }
        return true;
    }
};

}  // namespace

TEST(GaussianBlur, WindowMeansInsideAlongEdgesAndInCorners)
{
    Raster r(3, 3, 0);  // rows of 9 bytes + 3 padding
    r.setPixel(1, 1, 90);
    r.at(2, 2, 2) = 200;
    ASSERT_TRUE(GaussianBlur(3, 3, r.bytes.data()));
    EXPECT_EQ(r.at(1, 1), 10);  // 90 / 9
    EXPECT_EQ(r.at(1, 0), 15);  // 90 / 6
    EXPECT_EQ(r.at(0, 0), 22);  // 90 / 4
    EXPECT_EQ(r.at(2, 2, 2), 72);  // (90 + 200) / 4
    EXPECT_EQ(r.at(2, 2, 1), 22);
    EXPECT_TRUE(r.paddingIntact());
}

TEST(GaussianBlur, WindowAverageOnItsOwn)
{
    Raster src(4, 2, 30);
    src.setPixel(3, 1, 0);
    Raster dst(4, 2, 1);
    windowAverage(1, 3, 4, 2, src.bytes.data(), dst.bytes.data());
    EXPECT_EQ(dst.at(3, 1), 22);  // (30 + 30 + 30 + 0) / 4
    EXPECT_EQ(dst.at(2, 1), 1);   // only the one pixel is written
    windowAverage(5, 0, 4, 2, src.bytes.data(), dst.bytes.data());  // outside: ignored
    EXPECT_TRUE(dst.paddingIntact());
}

TEST(GaussianBlur, UniformImagesAreUnchangedByBoth)
{
    for (int level = 0; level < 256; level += 15) {
        for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 5}, std::pair{5, 1}, std::pair{2, 2}, std::pair{7, 3}}) {
            Raster a(w, h, static_cast<unsigned char>(level));
            Raster b = a;
            const auto before = a.bytes;
            ASSERT_TRUE(GaussianBlur(w, h, a.bytes.data()));
            ASSERT_TRUE(GaussianBlurFast(w, h, b.bytes.data()));
            ASSERT_EQ(a.bytes, before) << level << " " << w << "x" << h;
            ASSERT_EQ(b.bytes, before) << level << " " << w << "x" << h;
        }
    }
}

TEST(GaussianBlurFast, BrightColumnWrapsAround)
{
    Raster r(6, 4, 0);
    for (int y = 0; y < 4; ++y) {
        r.setPixel(0, y, 255);
    }
    ASSERT_TRUE(GaussianBlurFast(6, 4, r.bytes.data()));
    for (int y = 0; y < 4; ++y) {
        EXPECT_EQ(r.at(0, y), 170);  // 4/6 of 255
        EXPECT_EQ(r.at(1, y), 42);   // 1/6, and the same on the far side
        EXPECT_EQ(r.at(5, y), 42);
        EXPECT_EQ(r.at(2, y), 0);
        EXPECT_EQ(r.at(4, y), 0);
    }
    EXPECT_TRUE(r.paddingIntact());
}

TEST(GaussianBlurFast, ImagesNarrowerThanTheKernel)
{
    // One column, three rows: the five taps wrap more than once.
    Raster r(1, 3, 0);
    r.setPixel(0, 1, 60);
    ASSERT_TRUE(GaussianBlurFast(1, 3, r.bytes.data()));
    EXPECT_EQ(r.at(0, 0), 10);
    EXPECT_EQ(r.at(0, 1), 40);
    EXPECT_EQ(r.at(0, 2), 10);
    EXPECT_TRUE(r.paddingIntact());

    Raster one(1, 1, 99);
    ASSERT_TRUE(GaussianBlurFast(1, 1, one.bytes.data()));
    EXPECT_EQ(one.at(0, 0), 99);
    ASSERT_TRUE(GaussianBlur(1, 1, one.bytes.data()));
    EXPECT_EQ(one.at(0, 0), 99);
}

TEST(GaussianBlur, NullAndEmptyImages)
{
    EXPECT_FALSE(GaussianBlur(3, 3, nullptr));
    EXPECT_FALSE(GaussianBlurFast(3, 3, nullptr));
    Raster r(3, 3, 5);
    r.setPixel(1, 1, 200);
    const auto before = r.bytes;
    EXPECT_TRUE(GaussianBlur(0, 3, r.bytes.data()));
    EXPECT_TRUE(GaussianBlur(3, 0, r.bytes.data()));
    EXPECT_TRUE(GaussianBlurFast(0, 3, r.bytes.data()));
    EXPECT_TRUE(GaussianBlurFast(3, 0, r.bytes.data()));
    EXPECT_FALSE(GaussianBlur(-3, 3, r.bytes.data()));
    EXPECT_FALSE(GaussianBlurFast(3, -3, r.bytes.data()));
    EXPECT_EQ(r.bytes, before);
}
