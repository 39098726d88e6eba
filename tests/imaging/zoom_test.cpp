// Zoom factors and nearest/bilinear scaling.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/FunctionAsistant.h"
#include "imaging/ImageBuffer.h"
#include "coordinate_raster.h"

namespace {

struct Zoomed {
    std::unique_ptr<unsigned char[]> data;
    unsigned int width = 12345;
    unsigned int height = 12345;
    unsigned int rowBytes = 12345;

    const unsigned char* at(int x, int y) const
    {
        return data.get() + y * trueColourStride(static_cast<int>(width)) + x * 3;
    }
};

Zoomed zoom(const std::vector<unsigned char>& src, int w, int h, int mode, float fx, float fy)
{
    Zoomed z;
    z.data = f_Zoom(src.data(), w, h, static_cast<unsigned>(w * 3), &z.width, &z.height, &z.rowBytes, mode, fx, fy);
    return z;
}

}  // namespace

TEST(ZoomFactor, TruncatedToHundredths)
{
    EXPECT_EQ(XzoomFactor(3, 2), 0.66f);
    EXPECT_EQ(YzoomFactor(3, 2), 0.66f);
    EXPECT_EQ(XzoomFactor(10000, 4567), 0.45f);
    EXPECT_EQ(YzoomFactor(1000, 1999), 1.99f);
    EXPECT_EQ(XzoomFactor(7, 7), 1.0f);

    float x = 0, y = 0;
    EXPECT_EQ(zoomFactor(3322, 1000, &x, &y), 0);
    EXPECT_EQ(x, 0.5f);
    EXPECT_EQ(y, 0.5f);
    EXPECT_EQ(zoomFactor(1661, 1000, &x, &y), 0);  // width already right: the height factor wins
    EXPECT_EQ(x, 0.82f);
    EXPECT_EQ(y, 0.82f);
}

TEST(Zoom, NearestIdentityCopiesAndZeroesPadding)
{
    const int w = 5, h = 3;  // rows of 15 colour bytes + 1 padding byte
    const auto src = coordinateRaster(w, h);
    const auto z = zoom(src, w, h, 0, 1.0f, 1.0f);
    ASSERT_TRUE(z.data);
    EXPECT_EQ(z.width, 5u);
    EXPECT_EQ(z.height, 3u);
    EXPECT_EQ(z.rowBytes, 15u);
    for (int y = 0; y < h; ++y) {
        for (int i = 0; i < 16; ++i) {
            const unsigned char want = i < 15 ? src[static_cast<std::size_t>(y * 16 + i)] : 0;
            ASSERT_EQ(z.data[static_cast<std::size_t>(y * 16 + i)], want);
        }
    }
}

TEST(Zoom, NearestHalvesAndDoubles)
{
    const auto src = coordinateRaster(10, 4);
    const auto half = zoom(src, 10, 4, 0, 0.5f, 1.0f);
    ASSERT_TRUE(half.data);
    EXPECT_EQ(half.width, 5u);
    for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(half.at(x, 2)[0], 2 * x);
        EXPECT_EQ(half.at(x, 2)[1], 2);
    }

    const auto twice = zoom(src, 10, 4, 0, 2.0f, 2.0f);
    ASSERT_TRUE(twice.data);
    EXPECT_EQ(twice.width, 20u);
    EXPECT_EQ(twice.height, 8u);
    for (int k = 0; k < 10; ++k) {
        EXPECT_EQ(twice.at(2 * k, 5)[0], k);
        EXPECT_EQ(twice.at(2 * k + 1, 5)[0], k);
        EXPECT_EQ(twice.at(2 * k, 5)[1], 2);
    }
}

TEST(Zoom, SizesAreTruncatedAndEmptyResultsAreNull)
{
    const auto src = coordinateRaster(100, 2);
    const auto z = zoom(src, 100, 2, 0, 0.999f, 1.0f);
    ASSERT_TRUE(z.data);
    EXPECT_EQ(z.width, 99u);

    for (auto [fx, fy] : {std::pair{0.001f, 1.0f}, std::pair{1.0f, 0.0f}, std::pair{-1.0f, 1.0f}}) {
        for (int mode : {0, 1}) {
            const auto e = zoom(src, 100, 2, mode, fx, fy);
            EXPECT_FALSE(e.data);
            EXPECT_EQ(e.width, 0u);
            EXPECT_EQ(e.height, 0u);
            EXPECT_EQ(e.rowBytes, 0u);
        }
    }
    // An empty source gives an empty result, even with negative factors.
    const auto none = zoom(src, 0, -2, 1, -1.0f, -1.0f);
    EXPECT_FALSE(none.data);
    EXPECT_EQ(none.width, 0u);
    EXPECT_EQ(none.height, 0u);

    // No source, or a result too large to address: null, outputs untouched.
    Zoomed refused;
    refused.data = f_Zoom(nullptr, 4, 4, 12, &refused.width, &refused.height, &refused.rowBytes, 0, 1.0f, 1.0f);
    EXPECT_FALSE(refused.data);
    EXPECT_EQ(refused.width, 12345u);
    const auto huge = zoom(src, 100, 2, 0, 1e30f, 1.0f);
    EXPECT_FALSE(huge.data);
    EXPECT_EQ(huge.width, 12345u);
}

TEST(Zoom, BilinearIdentityClampsToTheInnerPixels)
{
    const int w = 6, h = 5;
    const auto src = coordinateRaster(w, h);
    const auto z = zoom(src, w, h, 1, 1.0f, 1.0f);
    ASSERT_TRUE(z.data);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int sx = x < 1 ? 1 : x > w - 2 ? w - 2 : x;
            const int sy = y < 1 ? 1 : y > h - 2 ? h - 2 : y;
            ASSERT_EQ(z.at(x, y)[0], sx) << x << "," << y;
            ASSERT_EQ(z.at(x, y)[1], sy) << x << "," << y;
            ASSERT_EQ(z.at(x, y)[2], 200);
        }
    }
}

TEST(Zoom, BilinearInterpolates)
{
    // Channel 0 of pixel (c, r) is 20c + 40r; channel 1 is 1 only at (2, 2).
    const int w = 4, h = 4;
    const int stride = trueColourStride(w);
    std::vector<unsigned char> src(static_cast<std::size_t>(stride * h), 0);
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
            src[static_cast<std::size_t>(r * stride + c * 3)] = static_cast<unsigned char>(20 * c + 40 * r);
        }
    }
    src[static_cast<std::size_t>(2 * stride + 2 * 3 + 1)] = 3;
    const auto z = zoom(src, w, h, 1, 2.0f, 2.0f);
    ASSERT_TRUE(z.data);
    EXPECT_EQ(z.at(3, 3)[0], 90);   // (1.5, 1.5): the mean of 60, 100, 80, 120
    EXPECT_EQ(z.at(3, 3)[1], 0);    // 3 x 0.25 = 0.75 truncates to 0
    EXPECT_EQ(z.at(3, 1)[0], 70);   // (1.5, 1.0 after the clamp)
    EXPECT_EQ(z.at(1, 2)[0], 60);   // (1.0, 1.0)
    EXPECT_EQ(z.at(5, 5)[0], 120);  // clamped to (2, 2)
    EXPECT_EQ(z.at(5, 5)[1], 3);
    EXPECT_EQ(z.at(7, 7)[0], 120);
}

TEST(Zoom, OddSizesInBothModes)
{
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 9}, std::pair{9, 1}, std::pair{2, 2}, std::pair{7, 3}}) {
        const auto src = coordinateRaster(w, h);
        for (int mode : {0, 1}) {
            for (float f : {0.5f, 1.0f, 1.5f, 3.0f}) {
                const auto z = zoom(src, w, h, mode, f, f);
                const int nw = static_cast<int>(f * static_cast<float>(w));
                const int nh = static_cast<int>(f * static_cast<float>(h));
                if (nw == 0 || nh == 0) {
                    EXPECT_FALSE(z.data);
                    continue;
                }
                ASSERT_TRUE(z.data);
                EXPECT_EQ(z.width, static_cast<unsigned>(nw));
                EXPECT_EQ(z.height, static_cast<unsigned>(nh));
                for (int y = 0; y < nh; ++y) {
                    for (int x = 0; x < nw; ++x) {
                        ASSERT_LT(z.at(x, y)[0], w);
                        ASSERT_LT(z.at(x, y)[1], h);
                        ASSERT_EQ(z.at(x, y)[2], 200);
                    }
                }
            }
        }
    }
    // A 1-pixel-wide source in bilinear mode falls back to nearest sampling.
    const auto src = coordinateRaster(1, 4);
    const auto z = zoom(src, 1, 4, 1, 2.0f, 1.0f);
    ASSERT_TRUE(z.data);
    EXPECT_EQ(z.at(1, 0)[1], 0);
    EXPECT_EQ(z.at(1, 3)[1], 3);
}
