// Bit raster packing, colour-order swap and inversion.
#include "imaging/24BitTo1Bit.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

bool bitAt(const std::vector<unsigned char>& bits, int witsStep, int x, int y)
{
    return (bits[static_cast<std::size_t>(witsStep) * y + x / 8] >> (7 - x % 8)) & 1;
}

}  // namespace

TEST(Pack, WidthOneUsesTheTopBitAndKeepsThePaddingSet)
{
    const std::vector<unsigned char> gray = {0, 255, 0};
    std::vector<unsigned char> bits(12, 0x11);
    int size = 12;
    CaptureStderr();
    ASSERT_TRUE(CreatDataBin(gray.data(), 1, 3, bits.data(), &size));
    EXPECT_EQ(GetCapturedStderr(), "DEBUG: saveOneBitBmpFile witsStep*nHeightAcual)=m = 12\r\n");
    EXPECT_EQ(size, 12);
    const std::vector<unsigned char> expected = {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(bits, expected);
}

TEST(Pack, Width33LandsPixel32InTheTopBitOfByteFour)
{
    std::vector<unsigned char> gray(33 * 2, 255);
    gray[32] = 0;       // row 0, pixel 32
    gray[33 + 9] = 0;   // row 1, pixel 9
    std::vector<unsigned char> bits(16, 0);
    int size = 16;
    CaptureStderr();
    ASSERT_TRUE(CreatDataBin(gray.data(), 33, 2, bits.data(), &size));
    GetCapturedStderr();
    EXPECT_EQ(bits[4], 0x7F);
    EXPECT_EQ(bits[8 + 1], 0xBF);
    int cleared = 0;
    for (unsigned char byte : bits) {
        cleared += 8 - __builtin_popcount(byte);
    }
    EXPECT_EQ(cleared, 2);
}

TEST(Pack, OnlyExactBlackClearsABit)
{
    const std::vector<unsigned char> gray = {0, 1, 128, 254, 255, 0, 7, 0};
    std::vector<unsigned char> bits(4, 0);
    int size = 4;
    CaptureStderr();
    ASSERT_TRUE(CreatDataBin(gray.data(), 8, 1, bits.data(), &size));
    GetCapturedStderr();
    EXPECT_EQ(bits[0], 0x7A);  // 0111 1010
    EXPECT_TRUE(bitAt(bits, 4, 2, 0));
}

TEST(Pack, SizeMismatchIsRefusedAndLeavesTheRasterAlone)
{
    const std::vector<unsigned char> gray(10 * 3, 0);
    for (int wrong : {11, 13}) {
        std::vector<unsigned char> bits(16, 0x5A);
        int size = wrong;
        CaptureStderr();
        EXPECT_FALSE(CreatDataBin(gray.data(), 10, 3, bits.data(), &size));
        EXPECT_EQ(GetCapturedStderr(), "DEBUG: CreatDataBin witsStep*nHeightAcual!= * DataBinSize witsStep=4,"
                                       "nHeightAcual=3 *DataBinSize=" + std::to_string(wrong) + "\r\n");
        EXPECT_EQ(size, wrong);
        EXPECT_EQ(bits, std::vector<unsigned char>(16, 0x5A));
    }
}

TEST(Pack, NullBuffersAreReported)
{
    const unsigned char gray[4] = {};
    unsigned char bits[4] = {1, 2, 3, 4};
    int size = 4;
    CaptureStderr();
    EXPECT_FALSE(CreatDataBin(nullptr, 4, 1, bits, &size));
    EXPECT_EQ(GetCapturedStderr(), "DEBUG: CreatDataBin pImageDate==NULL\r\n");
    EXPECT_EQ(size, 0);
    size = 4;
    CaptureStderr();
    EXPECT_FALSE(CreatDataBin(gray, 4, 1, nullptr, &size));
    EXPECT_EQ(GetCapturedStderr(), "DEBUG: CreatDataBin pImageDate==NULL\r\n");
    EXPECT_EQ(size, 0);
    EXPECT_FALSE(CreatDataBin(gray, 4, 1, bits, nullptr));
    EXPECT_EQ(bits[0], 1);
}

TEST(Pack, ZeroRowsSucceedWithSizeZero)
{
    const unsigned char gray[1] = {0};
    unsigned char bits[4] = {1, 2, 3, 4};
    int size = 0;
    CaptureStderr();
    EXPECT_TRUE(CreatDataBin(gray, 20, 0, bits, &size));
    EXPECT_EQ(GetCapturedStderr(), "DEBUG: saveOneBitBmpFile witsStep*nHeightAcual)=m = 0\r\n");
    EXPECT_EQ(size, 0);
    EXPECT_EQ(bits[0], 1);
}

TEST(Pack, NegativeOrOverflowingGeometryIsRefused)
{
    const unsigned char gray[4] = {};
    unsigned char bits[4] = {1, 2, 3, 4};
    const struct {
        int width, rows, size;
    } cases[] = {{-100, 2, -16}, {-1, 1, 0}, {8, -3, -12}, {INT_MAX, 2, 0}, {65536, 524288, 0},
                 {65536, 262144, static_cast<int>(8192u * 262144u)}};
    for (const auto& c : cases) {
        int size = c.size;
        CaptureStderr();
        EXPECT_FALSE(CreatDataBin(gray, c.width, c.rows, bits, &size)) << c.width << "x" << c.rows;
        GetCapturedStderr();
        EXPECT_EQ(size, c.size);
    }
    EXPECT_EQ(bits[3], 4);
}

TEST(Pack, InversionTwiceRestoresAndClearsThePadding)
{
    std::vector<unsigned char> gray(5 * 2, 255);
    gray[0] = 0;
    std::vector<unsigned char> bits(8);
    int size = 8;
    CaptureStderr();
    ASSERT_TRUE(CreatDataBin(gray.data(), 5, 2, bits.data(), &size));
    GetCapturedStderr();
    const std::vector<unsigned char> packed = bits;
    DoTurnOver(bits.data(), size);
    EXPECT_EQ(bits[0], 0x80);  // the black pixel is a dot, the padding is not
    EXPECT_EQ(bits[1], 0x00);
    EXPECT_EQ(bits[4], 0x00);
    DoTurnOver(bits.data(), size);
    EXPECT_EQ(bits, packed);
    DoTurnOver(bits.data(), 0);
    DoTurnOver(bits.data(), -5);
    DoTurnOver(nullptr, 8);
    EXPECT_EQ(bits, packed);
}

TEST(Pack, ColourSwapExchangesTheOuterBytesAndSparesThePadding)
{
    // Width 1: a 4-byte row, the fourth byte is padding.
    std::vector<unsigned char> raster = {1, 2, 3, 0xEE, 4, 5, 6, 0xEE};
    TrueCollorRGBToBGR(1, 2, raster.data());
    EXPECT_EQ(raster, (std::vector<unsigned char>{3, 2, 1, 0xEE, 6, 5, 4, 0xEE}));
    TrueCollorRGBToBGR(1, 2, raster.data());
    EXPECT_EQ(raster, (std::vector<unsigned char>{1, 2, 3, 0xEE, 4, 5, 6, 0xEE}));

    // Width 3: 9 pixel bytes and 3 padding bytes per row.
    std::vector<unsigned char> wide(24);
    for (std::size_t i = 0; i < wide.size(); ++i) {
        wide[i] = static_cast<unsigned char>(i);
    }
    const std::vector<unsigned char> original = wide;
    TrueCollorRGBToBGR(3, 2, wide.data());
    EXPECT_EQ(wide[0], 2);
    EXPECT_EQ(wide[2], 0);
    EXPECT_EQ(wide[8], 6);
    EXPECT_EQ(wide[9], 9);
    EXPECT_EQ(wide[11], 11);
    EXPECT_EQ(wide[12], 14);
    TrueCollorRGBToBGR(3, 2, wide.data());
    EXPECT_EQ(wide, original);

    TrueCollorRGBToBGR(0, 2, wide.data());
    TrueCollorRGBToBGR(3, 0, wide.data());
    TrueCollorRGBToBGR(-3, 2, wide.data());
    TrueCollorRGBToBGR(3, 2, nullptr);
    EXPECT_EQ(wide, original);
}
