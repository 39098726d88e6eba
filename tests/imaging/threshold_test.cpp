// Manual threshold: the setting gives the threshold (and, in the page
// pipeline's call, the gray formula); byte 2 of a pixel is weighted as blue.
#include "filter/settingsThermalSensitivityPara.h"
#include "imaging/freeimageHalftone.h"
#include "reference_binarizers.h"

#include <gtest/gtest.h>

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

class ManualThreshold : public testing::Test {
protected:
    void SetUp() override { settingsThermalSensitivity.Threshold = 0; }
    void TearDown() override { settingsThermalSensitivity.Threshold = 0; }

    // Runs Threshold the way the page pipeline does: the setting is also the selector.
    reference::Bytes run(const reference::Image& image, int extra, int setting, std::string* err = nullptr)
    {
        settingsThermalSensitivity.Threshold = setting;
        int size = reference::witsStep(image.width) * (image.height + extra);
        reference::Bytes bits(size, 0x5A);
        CaptureStderr();
        const bool ok = Threshold(image.width, image.height, extra, image.raster.data(),
                                  static_cast<unsigned int>(setting), bits.data(), &size);
        const std::string text = GetCapturedStderr();
        if (err != nullptr) {
            *err = text;
        }
        EXPECT_TRUE(ok);
        EXPECT_EQ(size, static_cast<int>(bits.size()));
        return bits;
    }
};

// One row of pixels, each given as its three raster bytes.
reference::Image pixelRow(const std::vector<std::array<unsigned char, 3>>& pixels)
{
    const int width = static_cast<int>(pixels.size());
    reference::Image image{width, 1, reference::Bytes(reference::rasterStride(width), 0x77)};
    for (int x = 0; x < width; ++x) {
        std::copy(pixels[x].begin(), pixels[x].end(), image.raster.begin() + 3 * x);
    }
    return image;
}

}  // namespace

TEST_F(ManualThreshold, ZeroKeepsOnlyBlackBlack)
{
    // Setting 0 selects the typical formula: (1,1,1) gives gray 0, (3,3,3) gives 3, and a
    // byte 2 of 9 is weighted as blue: 1.
    const reference::Image image = pixelRow({{0, 0, 0}, {3, 3, 3}, {1, 1, 1}, {0, 0, 9}, {255, 255, 255}});
    std::string err;
    const reference::Bytes bits = run(image, 0, 0, &err);
    EXPECT_EQ(err, "DEBUG: ghold==0\r\nDEBUG: saveOneBitBmpFile witsStep*nHeightAcual)=m = 4\r\n");
    EXPECT_EQ(bits[0], 0x5F);  // 0101 1, then padding
}

TEST_F(ManualThreshold, TwoFiftyFiveMakesEverythingBlack)
{
    std::mt19937 random(5);
    const reference::Image image = reference::randomImage(19, 3, random);
    const reference::Bytes bits = run(image, 0, 255);
    for (int y = 0; y < 3; ++y) {
        EXPECT_EQ(bits[4 * y], 0x00);
        EXPECT_EQ(bits[4 * y + 1], 0x00);
        EXPECT_EQ(bits[4 * y + 2], 0x1F);  // pixels 16..18 black, padding white
    }
}

TEST_F(ManualThreshold, SettingAbove255UsesItsLowByteAndTheTypicalFormula)
{
    // 384: T = 128 with formula 0. Pure red (byte 2) is weighted as blue: 29; pure blue: 76. Both black.
    reference::Image image = pixelRow({{0, 0, 255}, {255, 0, 0}, {0, 255, 0}});
    EXPECT_EQ(run(image, 0, 384)[0], 0x3F);  // green, 149, is white
    // 261: T = 5 with formula 0, not formula 5: byte 2 = 40 gives 4 (black), where formula 5 would give 20.
    image = pixelRow({{0, 0, 40}, {0, 0, 60}});
    EXPECT_EQ(run(image, 0, 261)[0], 0x7F);
}

TEST_F(ManualThreshold, ThirteenMakesEveryNonBlackPixelWhite)
{
    const reference::Image image = pixelRow({{0, 0, 1}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
    EXPECT_EQ(run(image, 0, 13)[0], 0xBF);
}

TEST_F(ManualThreshold, ExtraRowsAreWhite)
{
    const reference::Image image = reference::uniformImage(9, 2, 0, 0, 0);
    const reference::Bytes bits = run(image, 4, 128);
    ASSERT_EQ(bits.size(), 24u);
    EXPECT_EQ(bits[0], 0x00);
    EXPECT_EQ(bits[4], 0x00);
    for (std::size_t i = 8; i < bits.size(); ++i) {
        EXPECT_EQ(bits[i], 0xFF) << i;
    }
}

TEST_F(ManualThreshold, FailureReportsAndLeavesTheRaster)
{
    reference::TraceCapture trace;
    const reference::Image image = reference::uniformImage(4, 2, 0, 0, 0);
    settingsThermalSensitivity.Threshold = 100;
    reference::Bytes bits(8, 0x5A);
    int size = 9;
    CaptureStderr();
    EXPECT_FALSE(Threshold(4, 2, 0, image.raster.data(), 100, bits.data(), &size));
    EXPECT_FALSE(Threshold(4, 2, 0, nullptr, 100, bits.data(), &size));
    EXPECT_FALSE(Threshold(0, 2, 0, image.raster.data(), 100, bits.data(), &size));
    EXPECT_EQ(size, 0);
    size = 8;
    EXPECT_FALSE(Threshold(4, 2, -1, image.raster.data(), 100, bits.data(), &size));
    size = 8;
    EXPECT_TRUE(Threshold(4, 2, 0, image.raster.data(), 100, bits.data(), &size));
    GetCapturedStderr();
    EXPECT_EQ(trace.text(), "TrueCollorBitToOnebit:CreatDataBin failed \r\n");
}

TEST_F(ManualThreshold, MatchesTheLiteralDefinitionOnRandomImages)
{
    std::mt19937 random(99);
    const int sizes[][2] = {{1, 1}, {1, 7}, {7, 1}, {2, 2}, {3, 1}, {33, 2}, {47, 5}, {257, 3}};
    const int settings[] = {0, 1, 3, 4, 12, 13, 128, 200, 261, 384, 77};
    int index = 0;
    for (const auto& s : sizes) {
        for (auto content : {reference::Content::Noise, reference::Content::Smooth}) {
            const reference::Image image = reference::randomImage(s[0], s[1], random, content);
            const int setting = settings[index++ % 11];
            const int extra = static_cast<int>(random() % 4);
            SCOPED_TRACE(testing::Message() << s[0] << "x" << s[1] << " setting " << setting);
            const reference::Bytes expected = reference::pack(
                reference::thresholdPlane(image, extra, static_cast<unsigned int>(setting), setting & 0xFF, true),
                image.width);
            ASSERT_EQ(run(image, extra, setting), expected);
        }
    }
}
