// Laplacian sharpening, Gaussian smoothing and the unsharp mask.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/FunctionAsistant.h"

namespace {

// A packed image (rowBytes = width x 3) of one level.
std::vector<unsigned char> flat(int w, int h, unsigned char level) { return std::vector<unsigned char>(static_cast<std::size_t>(w * h * 3), level); }

unsigned char& px(std::vector<unsigned char>& img, int w, int x, int y, int ch = 0)
{
    return img[static_cast<std::size_t>((y * w + x) * 3 + ch)];
}

}  // namespace

TEST(Laplace, FlatAreaLosesItsAmount)
{
    for (auto [amount, want] : {std::pair{10, 90}, std::pair{100, 0}, std::pair{0, 100}, std::pair{-50, 150}}) {
        auto img = flat(6, 5, 100);
        EXPECT_EQ(f_ImageSharpen_Laplace(img.data(), 6, 5, 18, amount), 0);
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < 6; ++x) {
                const bool border = x == 0 || y == 0 || x == 5 || y == 4;
                for (int ch = 0; ch < 3; ++ch) {
                    ASSERT_EQ(px(img, 6, x, y, ch), border ? 100 : want) << amount << " " << x << "," << y;
                }
            }
        }
    }
}

TEST(Laplace, BrightPixelAndItsNeighbours)
{
    auto img = flat(5, 5, 100);
    px(img, 5, 2, 2, 1) = 200;
    EXPECT_EQ(f_ImageSharpen_Laplace(img.data(), 5, 5, 15, 100), 0);
    EXPECT_EQ(px(img, 5, 2, 2, 1), 255);
    EXPECT_EQ(px(img, 5, 1, 2, 1), 0);
    EXPECT_EQ(px(img, 5, 3, 2, 1), 0);
    EXPECT_EQ(px(img, 5, 2, 1, 1), 0);
    EXPECT_EQ(px(img, 5, 2, 3, 1), 0);
    EXPECT_EQ(px(img, 5, 1, 1, 1), 0);  // diagonal: flat, 100 - 100
    EXPECT_EQ(px(img, 5, 0, 2, 1), 100);  // border column
}

TEST(Laplace, SmallAndPaddedImages)
{
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 9}, std::pair{9, 1}, std::pair{2, 9}, std::pair{9, 2}}) {
        auto img = flat(w, h, 77);
        const auto before = img;
        EXPECT_EQ(f_ImageSharpen_Laplace(img.data(), w, h, w * 3, 100), 0);
        EXPECT_EQ(img, before) << w << "x" << h;
    }
    // Rows of 16 bytes for width 5: the padding byte is never touched.
    std::vector<unsigned char> padded(16 * 4, 100);
    for (int y = 0; y < 4; ++y) {
        padded[static_cast<std::size_t>(y * 16 + 15)] = 0xEE;
    }
    EXPECT_EQ(f_ImageSharpen_Laplace(padded.data(), 5, 4, 16, 10), 0);
    EXPECT_EQ(padded[1 * 16 + 3], 90);
    for (int y = 0; y < 4; ++y) {
        EXPECT_EQ(padded[static_cast<std::size_t>(y * 16 + 15)], 0xEE);
    }
    // Rows too short for their pixels, or no image: nothing happens.
    auto img = flat(4, 4, 100);
    const auto before = img;
    EXPECT_EQ(f_ImageSharpen_Laplace(img.data(), 4, 4, 8, 100), 0);
    EXPECT_EQ(f_ImageSharpen_Laplace(nullptr, 4, 4, 12, 100), 0);
    EXPECT_EQ(img, before);
}

TEST(SpatialGauss, RadiusOneIsNearlyABoxAverage)
{
    // An impulse of 255: the centre keeps the centre weight
    // 1 / (1 + 4 e^(-1/18) + 4 e^(-2/18)) = 0.1196, an edge pixel takes one
    // side weight, a corner pixel the corner weight (the border repeats).
    auto img = flat(3, 3, 0);
    px(img, 3, 1, 1, 0) = 255;
    EXPECT_EQ(f_SpatialGaussFiter(img.data(), 3, 3, 9, 1), 0);
    EXPECT_EQ(px(img, 3, 1, 1, 0), 30);  // 30.49
    EXPECT_EQ(px(img, 3, 1, 0, 0), 28);  // 28.84
    EXPECT_EQ(px(img, 3, 0, 0, 0), 27);  // 27.28
    EXPECT_EQ(px(img, 3, 1, 1, 1), 0);
}

TEST(SpatialGauss, UniformImagesStayOrDropOneLevel)
{
    for (int radius : {1, 2, 5}) {
        for (unsigned char level : {0, 1, 128, 254, 255}) {
            auto img = flat(7, 4, level);
            EXPECT_EQ(f_SpatialGaussFiter(img.data(), 7, 4, 21, radius), 0);
            for (unsigned char v : img) {
                ASSERT_TRUE(v == level || v + 1 == level) << radius << " " << int(level) << " " << int(v);
            }
        }
    }
}

TEST(SpatialGauss, ZeroOrNegativeRadiusAndOddSizes)
{
    auto img = flat(4, 3, 10);
    px(img, 4, 2, 1) = 250;
    const auto before = img;
    EXPECT_EQ(f_SpatialGaussFiter(img.data(), 4, 3, 12, 0), 0);
    EXPECT_EQ(f_SpatialGaussFiter(img.data(), 4, 3, 12, -3), 0);
    EXPECT_EQ(f_SpatialGaussFiter(img.data(), 4, 3, 6, 1), 0);  // rows too short
    EXPECT_EQ(f_SpatialGaussFiter(nullptr, 4, 3, 12, 1), 0);
    EXPECT_EQ(img, before);

    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 8}, std::pair{8, 1}}) {
        auto odd = flat(w, h, 200);
        EXPECT_EQ(f_SpatialGaussFiter(odd.data(), w, h, w * 3, 3), 0);
        for (unsigned char v : odd) {
            ASSERT_GE(v, 199);
        }
    }
}

TEST(UnsharpMask, NoChangeCases)
{
    // A step edge in every channel.
    auto edge = flat(8, 4, 60);
    for (int y = 0; y < 4; ++y) {
        for (int x = 4; x < 8; ++x) {
            for (int ch = 0; ch < 3; ++ch) {
                px(edge, 8, x, y, ch) = 180;
            }
        }
    }
    const auto before = edge;
    const struct {
        int radius, amount, threshold;
    } cases[] = {{1, 100, 255}, {2, 0, 0}, {0, 200, 0}, {-4, 200, 0}};
    for (const auto& c : cases) {
        auto img = before;
        EXPECT_EQ(f_ImageSharpen_USM(img.data(), 8, 4, 24, c.radius, c.amount, c.threshold), 0);
        EXPECT_EQ(img, before) << c.radius << " " << c.amount << " " << c.threshold;
    }
}

TEST(UnsharpMask, SteepensAnEdge)
{
    auto img = flat(8, 4, 60);
    for (int y = 0; y < 4; ++y) {
        for (int x = 4; x < 8; ++x) {
            for (int ch = 0; ch < 3; ++ch) {
                px(img, 8, x, y, ch) = 180;
            }
        }
    }
    EXPECT_EQ(f_ImageSharpen_USM(img.data(), 8, 4, 24, 1, 100, 0), 0);
    // The dark side of the edge gets darker, the bright side brighter; far
    // from the edge nothing changes.
    EXPECT_LT(px(img, 8, 3, 1), 60);
    EXPECT_GT(px(img, 8, 4, 1), 180);
    EXPECT_EQ(px(img, 8, 0, 1), 60);
    EXPECT_EQ(px(img, 8, 7, 1), 180);
    EXPECT_EQ(px(img, 8, 3, 1, 0), px(img, 8, 3, 1, 2));

    // Out-of-range arguments are clamped, not trusted.
    auto big = flat(5, 3, 100);
    px(big, 5, 2, 1) = 140;
    EXPECT_EQ(f_ImageSharpen_USM(big.data(), 5, 3, 15, 100000, 100000, -9), 0);
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 5}, std::pair{5, 1}}) {
        auto odd = flat(w, h, 50);
        odd[0] = 90;
        EXPECT_EQ(f_ImageSharpen_USM(odd.data(), w, h, w * 3, 2, 150, 1), 0);
    }
}
