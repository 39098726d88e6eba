// Integer Floyd-Steinberg halftone with randomised border thresholds.
#include "imaging/freeimageHalftone.h"
#include "reference_binarizers.h"

#include <gtest/gtest.h>

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

reference::Bytes halftone(const reference::Image& image, unsigned int selector = 12)
{
    int size = reference::witsStep(image.width) * image.height;
    reference::Bytes bits(size, 0x5A);
    CaptureStderr();
    EXPECT_TRUE(FloydSteinberg(image.width, image.height, image.raster.data(), selector, bits.data(), &size));
    GetCapturedStderr();
    EXPECT_EQ(size, static_cast<int>(bits.size()));
    return bits;
}

}  // namespace

TEST(Halftone, BorderThresholdSequence)
{
    unsigned int state = 0;
    const int expected[6] = {66, -7, 10, 57, 183, -36};
    for (int t : expected) {
        EXPECT_EQ(FloydSteinbergBorderThreshold(&state), t);
    }
    reference::BorderRandom literal;
    state = 0;
    for (int i = 0; i < 10000; ++i) {
        const int t = FloydSteinbergBorderThreshold(&state);
        ASSERT_EQ(t, literal.next()) << i;
        ASSERT_GE(t, -65);
        ASSERT_LE(t, 191);
    }
}

TEST(Halftone, InitialErrorExamples)
{
    EXPECT_EQ(FloydSteinbergInitialError(0, 0), 63);
    EXPECT_EQ(FloydSteinbergInitialError(100, 0), 113);
    EXPECT_EQ(FloydSteinbergInitialError(128, 255), -127);
    EXPECT_EQ(FloydSteinbergInitialError(255, 255), -64);
    EXPECT_EQ(FloydSteinbergInitialError(200, 0), 164);  // (127 - 200) / 2 truncates toward zero: -36
}

TEST(Halftone, SinglePixelIsDecidedByTheTopBorder)
{
    // 1x1: left t = 66, right t = -7 (always white, error g - 255), top t = 10
    // with that error: white exactly when 2g - 255 > 10.
    for (int g : {0, 100, 132}) {
        EXPECT_EQ(halftone(reference::uniformImage(1, 1, g, g, g))[0], 0x7F) << g;
    }
    for (int g : {133, 200, 255}) {
        EXPECT_EQ(halftone(reference::uniformImage(1, 1, g, g, g))[0], 0xFF) << g;
    }
}

TEST(Halftone, WidthOneKeepsTheRightBorderResult)
{
    // 1x2 at gray 30: the left border would make row 1 white (30 + 30 > -7),
    // the right border makes it black (30 - 225 > 57 is false) and stands.
    const reference::Bytes bits = halftone(reference::uniformImage(1, 2, 30, 30, 30));
    EXPECT_EQ(bits[0], 0x7F);
    EXPECT_EQ(bits[4], 0x7F);
}

TEST(Halftone, ByteTwoIsWeightedAsBlue)
{
    // Selector 7 copies the blue position, which is byte 2 of the pixel.
    reference::Image dark = reference::uniformImage(4, 4, 255, 255, 0);
    reference::Image light = reference::uniformImage(4, 4, 0, 0, 255);
    const reference::Bytes bits = halftone(dark, 7);
    for (int y = 1; y < 4; ++y) {
        EXPECT_EQ(bits[4 * y] & 0x60, 0) << y;  // interior pixels 1 and 2 are black
    }
    EXPECT_EQ(halftone(light, 7), reference::Bytes(16, 0xFF));
}

TEST(Halftone, RepeatableAndMatchesTheLiteralDefinition)
{
    std::mt19937 random(777);
    const int sizes[][2] = {{1, 1}, {1, 9}, {9, 1}, {2, 1}, {2, 5}, {3, 3}, {33, 2}, {37, 13}, {280, 7}};
    const unsigned int selectors[] = {12, 0, 4, 1};
    int index = 0;
    for (const auto& s : sizes) {
        for (auto content : {reference::Content::Noise, reference::Content::Smooth, reference::Content::Uniform}) {
            const reference::Image image = reference::randomImage(s[0], s[1], random, content);
            const unsigned int selector = selectors[index++ % 4];
            SCOPED_TRACE(testing::Message() << s[0] << "x" << s[1] << " selector " << selector);
            const reference::Bytes first = halftone(image, selector);
            ASSERT_EQ(first, reference::pack(reference::floydSteinbergHalftonePlane(image, selector), image.width));
            ASSERT_EQ(halftone(image, selector), first);
        }
    }
}

TEST(Halftone, RefusalsAndTraceLines)
{
    reference::TraceCapture trace;
    const reference::Image image = reference::uniformImage(4, 3, 90, 90, 90);
    reference::Bytes bits(12, 0x5A);
    int size = 11;
    CaptureStderr();
    EXPECT_FALSE(FloydSteinberg(4, 3, image.raster.data(), 12, bits.data(), &size));
    EXPECT_EQ(size, 11);
    EXPECT_FALSE(FloydSteinberg(4, 3, nullptr, 12, bits.data(), &size));
    EXPECT_EQ(size, 0);
    for (const auto& wh : {std::pair{0, 3}, std::pair{4, 0}, std::pair{-1, 3}, std::pair{4, -3},
                           std::pair{70000, 70000}}) {
        size = 12;
        EXPECT_FALSE(FloydSteinberg(wh.first, wh.second, image.raster.data(), 12, bits.data(), &size));
        EXPECT_EQ(size, 0);
    }
    EXPECT_FALSE(FloydSteinberg(4, 3, image.raster.data(), 12, bits.data(), nullptr));
    GetCapturedStderr();
    EXPECT_EQ(bits, reference::Bytes(12, 0x5A));
    size = 12;
    CaptureStderr();
    EXPECT_TRUE(FloydSteinberg(4, 3, image.raster.data(), 12, bits.data(), &size));
    GetCapturedStderr();
    EXPECT_EQ(trace.text(), "FloydSteinberg:CreatDataBin failed \r\n");
}
