// Ordered dithering with the 8x8 and 16x16 Bayer tables.
#include "imaging/Dither.h"
#include "reference_binarizers.h"

#include <gtest/gtest.h>

#include <map>

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

using Binarizer = bool (*)(int, int, int, const unsigned char*, unsigned int, unsigned char*, int*);

reference::Bytes dither(Binarizer binarizer, const reference::Image& image, int extra, unsigned int selector = 12)
{
    int size = reference::witsStep(image.width) * (image.height + extra);
    reference::Bytes bits(size, 0x5A);
    CaptureStderr();
    EXPECT_TRUE(binarizer(image.width, image.height, extra, image.raster.data(), selector, bits.data(), &size));
    GetCapturedStderr();
    EXPECT_EQ(size, static_cast<int>(bits.size()));
    return bits;
}

int whitePixels(const reference::Bytes& bits, int width, int height)
{
    int count = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            count += (bits[y * reference::witsStep(width) + x / 8] >> (7 - x % 8)) & 1;
        }
    }
    return count;
}

bool whiteAt(const reference::Bytes& bits, int width, int x, int y)
{
    return (bits[y * reference::witsStep(width) + x / 8] >> (7 - x % 8)) & 1;
}

}  // namespace

TEST(Dither, TablesFollowTheRecursiveConstruction)
{
    const auto table8 = reference::bayer8();
    const auto table16 = reference::bayer16();
    std::map<int, int> seen8, seen16;
    for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 8; ++c) {
            EXPECT_EQ(BAYER_PATTERN_8X8[r][c], table8[r][c]) << r << "," << c;
            seen8[BAYER_PATTERN_8X8[r][c]] += 1;
        }
    }
    for (int r = 0; r < 16; ++r) {
        for (int c = 0; c < 16; ++c) {
            EXPECT_EQ(BAYER_PATTERN_16X16[r][c], table16[r][c]) << r << "," << c;
            seen16[BAYER_PATTERN_16X16[r][c]] += 1;
        }
    }
    ASSERT_EQ(seen8.size(), 64u);
    for (const auto& [value, count] : seen8) {
        EXPECT_EQ(value % 4, 0);
        EXPECT_EQ(count, 1);
    }
    EXPECT_EQ(seen8.begin()->first, 0);
    EXPECT_EQ(seen8.rbegin()->first, 252);
    ASSERT_EQ(seen16.size(), 255u);
    EXPECT_EQ(seen16[127], 2);
    EXPECT_EQ(seen16.begin()->first, 0);
    EXPECT_EQ(seen16.rbegin()->first, 254);

    const int row0[16] = {0, 191, 48, 239, 12, 203, 60, 251, 3, 194, 51, 242, 15, 206, 63, 254};
    const int row1[16] = {127, 64, 175, 112, 139, 76, 187, 124, 130, 67, 178, 115, 142, 79, 190, 127};
    const int row8[16] = {2, 193, 50, 241, 14, 205, 62, 253, 1, 192, 49, 240, 13, 204, 61, 252};
    for (int c = 0; c < 16; ++c) {
        EXPECT_EQ(BAYER_PATTERN_16X16[0][c], row0[c]);
        EXPECT_EQ(BAYER_PATTERN_16X16[1][c], row1[c]);
        EXPECT_EQ(BAYER_PATTERN_16X16[8][c], row8[c]);
    }
    const int row7of8[8] = {252, 124, 220, 92, 244, 116, 212, 84};
    for (int c = 0; c < 8; ++c) {
        EXPECT_EQ(BAYER_PATTERN_8X8[7][c], row7of8[c]);
    }
}

TEST(Dither, BlackKeepsOneWhitePixelPerBlock)
{
    const reference::Image black = reference::uniformImage(32, 32, 0, 0, 0);
    const reference::Bytes bits8 = dither(makeDitherBayer8, black, 0);
    EXPECT_EQ(whitePixels(bits8, 32, 32), 16);
    EXPECT_TRUE(whiteAt(bits8, 32, 8, 16));
    const reference::Bytes bits16 = dither(makeDitherBayer16, black, 0);
    EXPECT_EQ(whitePixels(bits16, 32, 32), 4);
    EXPECT_TRUE(whiteAt(bits16, 32, 16, 16));

    const reference::Image one = reference::uniformImage(32, 32, 1, 1, 1);
    const reference::Bytes bits = dither(makeDitherBayer16, one, 0);
    EXPECT_EQ(whitePixels(bits, 32, 32), 8);
    EXPECT_TRUE(whiteAt(bits, 32, 8, 8));
    EXPECT_TRUE(whiteAt(bits, 32, 24, 8));
}

TEST(Dither, LightGraysTurnAllWhite)
{
    for (int level : {251, 252, 253, 254, 255}) {
        const reference::Image image = reference::uniformImage(16, 16, level, level, level);
        EXPECT_EQ(whitePixels(dither(makeDitherBayer8, image, 0), 16, 16) == 256, level >= 252) << level;
        EXPECT_EQ(whitePixels(dither(makeDitherBayer16, image, 0), 16, 16) == 256, level >= 254) << level;
    }
}

TEST(Dither, MidGrayWhiteCellCounts)
{
    const reference::Image image = reference::uniformImage(16, 16, 128, 128, 128);
    EXPECT_EQ(whitePixels(dither(makeDitherBayer16, image, 0), 16, 16), 130);
    const reference::Image small = reference::uniformImage(8, 8, 128, 128, 128);
    EXPECT_EQ(whitePixels(dither(makeDitherBayer8, small, 0), 8, 8), 33);
}

TEST(Dither, ExtraRowsAreWhite)
{
    const reference::Image image = reference::uniformImage(5, 3, 0, 0, 0);
    const reference::Bytes bits = dither(makeDitherBayer8, image, 2);
    ASSERT_EQ(bits.size(), 20u);
    EXPECT_EQ(bits[4], 0x07);  // row 1 all black but the padding
    EXPECT_EQ(bits[12], 0xFF);
    EXPECT_EQ(bits[16], 0xFF);
}

TEST(Dither, RefusalsAndTraceLines)
{
    reference::TraceCapture trace;
    const reference::Image image = reference::uniformImage(4, 2, 9, 9, 9);
    for (Binarizer binarizer : {makeDitherBayer8, makeDitherBayer16}) {
        reference::Bytes bits(8, 0x5A);
        int size = 8;
        EXPECT_FALSE(binarizer(4, 2, 0, image.raster.data(), 12, nullptr, &size));
        EXPECT_EQ(size, 0);
        size = 8;
        EXPECT_FALSE(binarizer(4, 2, 0, nullptr, 12, bits.data(), &size));
        EXPECT_EQ(size, 0);
        for (int width : {0, -4}) {
            size = 8;
            EXPECT_FALSE(binarizer(width, 2, 0, image.raster.data(), 12, bits.data(), &size));
            EXPECT_EQ(size, 0);
        }
        size = 8;
        EXPECT_FALSE(binarizer(4, 2, -2, image.raster.data(), 12, bits.data(), &size));
        EXPECT_EQ(size, 0);
        EXPECT_EQ(bits, reference::Bytes(8, 0x5A));
        size = 12;
        CaptureStderr();
        EXPECT_FALSE(binarizer(4, 2, 0, image.raster.data(), 12, bits.data(), &size));
        EXPECT_EQ(size, 0);
        size = 8;
        EXPECT_TRUE(binarizer(4, 2, 0, image.raster.data(), 12, bits.data(), &size));
        GetCapturedStderr();
    }
    EXPECT_EQ(trace.text(), "makeDitherBayer8:CreatDataBin failed \r\n"
                            "makeDitherBayer8:CreatDataBin sucess DataBinSize==8\r\n"
                            "InterlImageAdaptiveThreshold:CreatDataBin failed \r\n"
                            "InterlImageAdaptiveThreshold:CreatDataBin sucess DataBinSize==8\r\n");
}

TEST(Dither, MatchesTheLiteralDefinitionOnRandomImages)
{
    std::mt19937 random(1234);
    const auto table8 = reference::bayer8();
    const auto table16 = reference::bayer16();
    const int sizes[][2] = {{1, 1}, {1, 20}, {20, 1}, {2, 2}, {3, 17}, {33, 9}, {63, 18}, {300, 5}};
    const unsigned int selectors[] = {12, 0, 4, 3, 10};
    int index = 0;
    for (const auto& s : sizes) {
        for (auto content : {reference::Content::Noise, reference::Content::Smooth}) {
            const reference::Image image = reference::randomImage(s[0], s[1], random, content);
            const unsigned int selector = selectors[index++ % 5];
            const int extra = static_cast<int>(random() % 6);
            SCOPED_TRACE(testing::Message() << s[0] << "x" << s[1] << " extra " << extra);
            ASSERT_EQ(dither(makeDitherBayer8, image, extra, selector),
                      reference::pack(reference::bayerPlane(image, extra, selector, table8), image.width));
            ASSERT_EQ(dither(makeDitherBayer16, image, extra, selector),
                      reference::pack(reference::bayerPlane(image, extra, selector, table16), image.width));
        }
    }
}
