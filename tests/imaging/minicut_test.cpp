// Optimal-threshold vote and block-wise min-cut binarization.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "diagnostics/middleDataSave.h"
#include "imaging/minicut.h"
#include "support/Process.h"
#include "threshold_images.h"

namespace {

constexpr unsigned int kSelector = 12;

int threshold(const GrayRaster& img) { return OptimalThreshold(img.data(), kSelector, img.width, img.height, img.width, img.height, 0, 0); }

// An image 16 pixels wide holding the given levels (a multiple of 16 of them).
GrayRaster fromLevels(const std::vector<int>& levels)
{
    const int w = 16;
    const int h = static_cast<int>(levels.size() / w);
    GrayRaster img(w, h);
    for (std::size_t i = 0; i < levels.size(); ++i) {
        img.set(static_cast<int>(i % w), static_cast<int>(i / w), static_cast<unsigned char>(levels[i]));
    }
    return img;
}

std::vector<int> mix(int a, int na, int b, int nb)
{
    std::vector<int> v(static_cast<std::size_t>(na), a);
    v.insert(v.end(), static_cast<std::size_t>(nb), b);
    return v;
}

}  // namespace

TEST(OptimalThreshold, VoteExamples)
{
    EXPECT_EQ(threshold(fromLevels(mix(40, 16, 200, 16))), 66);
    EXPECT_EQ(threshold(fromLevels(mix(40, 144, 200, 16))), 53);  // 90 : 10
    std::vector<int> all(256);
    for (int i = 0; i < 256; ++i) {
        all[static_cast<std::size_t>(i)] = i;
    }
    EXPECT_EQ(threshold(fromLevels(all)), 127);
    EXPECT_EQ(threshold(fromLevels(mix(0, 16, 255, 16))), 42);
    EXPECT_EQ(threshold(fromLevels(mix(100, 16, 101, 16))), 100);
}

TEST(OptimalThreshold, SingleLevelsAndEmptyRectangles)
{
    for (int level : {0, 1, 128, 254, 255}) {
        GrayRaster img(3, 5, static_cast<unsigned char>(level));
        EXPECT_EQ(threshold(img), level == 0 ? 0 : level - 1);
    }
    GrayRaster img(6, 4, 10);
    EXPECT_EQ(OptimalThreshold(img.data(), kSelector, 6, 4, 0, 4, 0, 0), -1);
    EXPECT_EQ(OptimalThreshold(img.data(), kSelector, 6, 4, 3, 3, 6, 0), -1);
    EXPECT_EQ(OptimalThreshold(img.data(), kSelector, 6, 4, -5, 3, 2, 0), -1);
    EXPECT_EQ(OptimalThreshold(img.data(), kSelector, 6, 4, 3, 3, 1, 4), -1);
    EXPECT_EQ(OptimalThreshold(nullptr, kSelector, 6, 4, 3, 3, 0, 0), -1);
    // Rectangles reaching outside are clipped: only pixel (5, 3) is 200 here.
    img.set(5, 3, 200);
    EXPECT_EQ(OptimalThreshold(img.data(), kSelector, 6, 4, 100, 100, 5, 3), 199);
    EXPECT_EQ(OptimalThreshold(img.data(), kSelector, 6, 4, 7, 5, -2, -2), 9);
    EXPECT_EQ(OptimalThreshold(img.data(), kSelector, 6, 4, INT64_MAX, INT64_MAX, -3, -3),
              OptimalThreshold(img.data(), kSelector, 6, 4, 6, 4, 0, 0));
    EXPECT_EQ(OptimalThreshold(img.data(), kSelector, 6, 4, INT64_MIN, 2, 3, 0), -1);
}

TEST(CreateWhiteAndBlackData, ThresholdsOnlyTheClippedRectangle)
{
    GrayRaster img(5, 3, 1);
    img.set(0, 0, 0);
    std::vector<unsigned char> plane(15, 7);
    CreateWhiteAndBlackData(img.data(), plane.data(), kSelector, 5, 3, 2, 10, -1, 0, 0);
    // Column 0 only (x from -1, two wide): 0 > 0 is false, 1 > 0 is true.
    EXPECT_EQ(plane[0], 0);
    EXPECT_EQ(plane[5], 255);
    EXPECT_EQ(plane[10], 255);
    for (int i : {1, 2, 3, 4, 6, 14}) {
        EXPECT_EQ(plane[static_cast<std::size_t>(i)], 7);
    }
    CreateWhiteAndBlackData(img.data(), plane.data(), kSelector, 5, 3, 2, 2, 4, 2, 1);  // 1 > 1 is false
    EXPECT_EQ(plane[14], 0);
    EXPECT_EQ(plane[13], 7);
}

namespace {

class MinicutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memcpy(savedPath_, path, sizeof path);
        std::snprintf(path, sizeof path, "%s", dir_.path().c_str());
        SetSaveLogDataFalg(1);
    }
    void TearDown() override
    {
        SetSaveLogDataFalg(0);
        std::memcpy(path, savedPath_, sizeof path);
    }
    std::string log() const
    {
        const auto f = dir_.file("Print.log");
        return std::filesystem::exists(f) ? testsupport::readFile(f) : std::string();
    }

    testsupport::TempDir dir_;
    char savedPath_[256]{};
};

}  // namespace

TEST_F(MinicutTest, BlocksOfEightWithTheRemainderLast)
{
    // Columns 0..7 alternate 40/200, 8..15 alternate 100/101, 16..19 alternate 150/160.
    GrayRaster img(20, 8);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 20; ++x) {
            const bool odd = (x + y) % 2 != 0;
            const int level = x < 8 ? (odd ? 200 : 40) : x < 16 ? (odd ? 101 : 100) : (odd ? 160 : 150);
            img.set(x, y, static_cast<unsigned char>(level));
        }
    }
    Bits bits(20, 8);
    int size = bits.size;
    // Block size 5 is raised to 8; balance 0 and bias 0: each block's own threshold.
    ASSERT_TRUE(minicut(img.data(), kSelector, 20, 8, 5, 5, 0, bits.bytes.data(), &size, 0.0f));
    EXPECT_EQ(size, bits.size);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 20; ++x) {
            ASSERT_EQ(bits.white(x, y), (x + y) % 2 != 0) << x << "," << y;
        }
    }
    EXPECT_EQ(log(), "minicut:CreatDataBin sucess DataBinSize==" + std::to_string(bits.size) + "\r\n");
}

TEST_F(MinicutTest, BalanceAndBias)
{
    // Left block 40/200 (own threshold 66), right block 100/101 (own 100).
    GrayRaster img(16, 8);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 16; ++x) {
            const bool odd = (x + y) % 2 != 0;
            img.set(x, y, static_cast<unsigned char>(x < 8 ? (odd ? 200 : 40) : (odd ? 101 : 100)));
        }
    }
    const int global = OptimalThreshold(img.data(), kSelector, 16, 8, 16, 8, 0, 0);
    // The whole image's threshold lies between 101 and 200.
    ASSERT_GE(global, 101);
    ASSERT_LT(global, 200);

    for (float balance : {1.0f, 2.0f}) {
        // Whole-image threshold everywhere: 100 and 101 both come out black.
        Bits bits(16, 8);
        int size = bits.size;
        ASSERT_TRUE(minicut(img.data(), kSelector, 16, 8, 8, 8, 0, bits.bytes.data(), &size, balance));
        EXPECT_FALSE(bits.white(8, 0));
        EXPECT_FALSE(bits.white(9, 0));
        EXPECT_FALSE(bits.white(0, 0));
        EXPECT_TRUE(bits.white(1, 0));
    }
    for (float balance : {0.0f, -3.0f}) {
        Bits bits(16, 8);
        int size = bits.size;
        ASSERT_TRUE(minicut(img.data(), kSelector, 16, 8, 8, 8, 0, bits.bytes.data(), &size, balance));
        EXPECT_FALSE(bits.white(8, 0));
        EXPECT_TRUE(bits.white(9, 0));
    }
    // A bias moves every block's threshold: +140 turns the 200s of the left block black too.
    Bits biased(16, 8);
    int size = biased.size;
    ASSERT_TRUE(minicut(img.data(), kSelector, 16, 8, 8, 8, 140, biased.bytes.data(), &size, 0.0f));
    EXPECT_FALSE(biased.white(1, 0));
    EXPECT_FALSE(biased.white(9, 0));
}

TEST_F(MinicutTest, ThresholdClampedAt255MakesEverythingBlack)
{
    GrayRaster img(12, 10, 251);  // own and global thresholds 250, plus 20
    Bits bits(12, 10);
    int size = bits.size;
    ASSERT_TRUE(minicut(img.data(), kSelector, 12, 10, 8, 8, 20, bits.bytes.data(), &size, 0.5f));
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 12; ++x) {
            ASSERT_FALSE(bits.white(x, y));
        }
        for (int x = 12; x < 32; ++x) {
            ASSERT_TRUE(bits.white(x, y));  // padding bits stay set
        }
    }
}

TEST_F(MinicutTest, FailuresAndOddSizes)
{
    Bits bits(4, 4);
    int size = bits.size;
    EXPECT_FALSE(minicut(nullptr, kSelector, 4, 4, 8, 8, 20, bits.bytes.data(), &size, 0.5f));
    EXPECT_EQ(size, 0);
    EXPECT_EQ(log(), "");  // no message for a missing image

    GrayRaster img(4, 4, 90);
    size = bits.size - 1;
    EXPECT_FALSE(minicut(img.data(), kSelector, 4, 4, 8, 8, 20, bits.bytes.data(), &size, 0.5f));
    EXPECT_EQ(log(), "minicut:CreatDataBin failed \r\n");
    EXPECT_FALSE(minicut(img.data(), kSelector, 4, 4, 8, 8, 20, bits.bytes.data(), nullptr, 0.5f));

    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 17}, std::pair{17, 1}, std::pair{9, 9}}) {
        GrayRaster odd(w, h, 30);
        odd.set(w - 1, h - 1, 220);
        Bits b(w, h);
        int s = b.size;
        ASSERT_TRUE(minicut(odd.data(), kSelector, static_cast<unsigned>(w), static_cast<unsigned>(h), 0, -4, 0,
                            b.bytes.data(), &s, 0.25f))
            << w << "x" << h;
        EXPECT_EQ(s, b.size);
    }
}
