// Otsu thresholds (single- and double-precision selections) and the two
// page binarizers built on them.
#include "filter/settingsThermalSensitivityPara.h"
#include "imaging/24BitTo1Bit.h"
#include "imaging/MonochromeConvert.h"
#include "imaging/otsu.h"
#include "reference_binarizers.h"

#include <gtest/gtest.h>

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

class Otsu : public testing::Test {
protected:
    void SetUp() override { settingsThermalSensitivity.Threshold = 0; }
    void TearDown() override { settingsThermalSensitivity.Threshold = 0; }
};

// A checkerboard of two gray levels, `second` at (0, 0) (equal channels,
// which selector 12 maps to themselves).
reference::Image twoLevels(int width, int height, unsigned char first, unsigned char second)
{
    reference::Image image = reference::uniformImage(width, height, first, first, first);
    for (int y = 0; y < height; ++y) {
        for (int x = (y % 2); x < width; x += 2) {
            unsigned char* p = image.raster.data() + y * reference::rasterStride(width) + 3 * x;
            p[0] = p[1] = p[2] = second;
        }
    }
    return image;
}

reference::Bytes runOnebit(const reference::Image& image, int extra, unsigned int selector, bool* ok,
                           std::string* err = nullptr)
{
    int size = reference::witsStep(image.width) * (image.height + extra);
    reference::Bytes bits(size, 0x33);
    CaptureStderr();
    *ok = TrueCollorBitToOnebit(image.width, image.height, extra, image.raster.data(), selector, bits.data(), &size);
    const std::string text = GetCapturedStderr();
    if (err != nullptr) {
        *err = text;
    }
    EXPECT_EQ(size, *ok ? static_cast<int>(bits.size()) : size);
    return bits;
}

}  // namespace

TEST_F(Otsu, ManualThresholdOverridesTheSelection)
{
    const reference::Image image = twoLevels(9, 4, 50, 200);
    settingsThermalSensitivity.Threshold = 200;
    EXPECT_EQ(myotsu(image.width, image.height, image.raster.data(), 12), 200);
    EXPECT_EQ(myotsu(image.width, image.height, nullptr, 12), 200);  // the image is not read
    EXPECT_EQ(GrayOtsu(5, 5), 200);
    settingsThermalSensitivity.Threshold = 300;
    EXPECT_EQ(myotsu(image.width, image.height, image.raster.data(), 12), 44);
    EXPECT_EQ(GrayOtsu(5, 5), 44);
    // The double-precision selection has no manual override.
    EXPECT_EQ(MonochromeConvertOtsu(image.width, image.height, image.raster.data(), 12), 50);
}

TEST_F(Otsu, SelectionsWithoutPixelData)
{
    EXPECT_EQ(GrayOtsu(10, 10), 128);
    EXPECT_EQ(GrayOtsu(0, 10), 128);
    EXPECT_EQ(GrayOtsu(-3, 10), 128);
    EXPECT_EQ(GrayOtsu(100000, 100000), 128);
    EXPECT_EQ(GrayMonochromeConvertOtsu(10, 10), 0);
    EXPECT_EQ(GrayMonochromeConvertOtsu(100000, 100000), 0);
}

TEST_F(Otsu, BlackAndWhitePageKeepsItsTwoLevels)
{
    const reference::Image image = twoLevels(13, 5, 0, 255);
    EXPECT_EQ(myotsu(13, 5, image.raster.data(), 12), 128);
    EXPECT_EQ(MonochromeConvertOtsu(13, 5, image.raster.data(), 12), 0);
    bool ok = false;
    const reference::Bytes bits = runOnebit(image, 0, 12, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(bits, reference::pack(reference::thresholdPlane(image, 0, 12, 128, false), 13));
    EXPECT_EQ(bits[0] >> 6, 2);  // pixel 0 white, pixel 1 black
}

TEST_F(Otsu, UniformGrayPageTurnsWhite)
{
    for (int level : {1, 77, 254}) {
        const reference::Image image = reference::uniformImage(7, 3, level, level, level);
        EXPECT_EQ(myotsu(7, 3, image.raster.data(), 12), 0);
        EXPECT_EQ(MonochromeConvertOtsu(7, 3, image.raster.data(), 12), 0);
        bool ok = false;
        const reference::Bytes bits = runOnebit(image, 0, 12, &ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(bits, reference::Bytes(12, 0xFF));
    }
}

TEST_F(Otsu, TwoLevelsSplitAtTheLowerOne)
{
    const reference::Image image = twoLevels(10, 6, 50, 200);
    EXPECT_EQ(myotsu(10, 6, image.raster.data(), 12), 50);
    EXPECT_EQ(MonochromeConvertOtsu(10, 6, image.raster.data(), 12), 50);
    bool ok = false;
    std::string err;
    const reference::Bytes bits = runOnebit(image, 0, 12, &ok, &err);
    ASSERT_TRUE(ok);
    EXPECT_EQ(err, "DEBUG: ghold==50\r\nDEBUG: saveOneBitBmpFile witsStep*nHeightAcual)=m = 24\r\n");
    EXPECT_EQ(bits[0], 0xAA);  // 200 at even pixels of row 0, 50 at odd ones
    EXPECT_EQ(bits[1], 0xBF);  // pixels 8 and 9, then padding
    EXPECT_EQ(bits[4], 0x55);  // row 1 starts with 50
}

TEST_F(Otsu, ExtraRowsAreWhite)
{
    std::mt19937 random(3);
    const reference::Image image = reference::randomImage(20, 4, random);
    bool ok = false;
    const reference::Bytes plain = runOnebit(image, 0, 12, &ok);
    ASSERT_TRUE(ok);
    const reference::Bytes padded = runOnebit(image, 3, 12, &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(padded.size(), plain.size() + 12);
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), padded.begin()));
    EXPECT_TRUE(std::all_of(padded.begin() + plain.size(), padded.end(), [](unsigned char b) { return b == 0xFF; }));
}

TEST_F(Otsu, OnebitTraceLines)
{
    reference::TraceCapture trace;
    const reference::Image image = twoLevels(4, 2, 10, 90);
    int size = 8;
    reference::Bytes bits(8);
    CaptureStderr();
    EXPECT_TRUE(TrueCollorBitToOnebit(4, 2, 0, image.raster.data(), 12, bits.data(), &size));
    size = 9;
    EXPECT_FALSE(TrueCollorBitToOnebit(4, 2, 0, image.raster.data(), 12, bits.data(), &size));
    GetCapturedStderr();
    EXPECT_EQ(size, 9);
    EXPECT_EQ(trace.text(), "TrueCollorBitToOnebit:CreatDataBin sucess DataBinSize==8\r\n"
                            "TrueCollorBitToOnebit:CreatDataBin failed \r\n");
}

TEST_F(Otsu, MonochromeConvertTraceLines)
{
    reference::TraceCapture trace;
    const reference::Image image = twoLevels(4, 2, 10, 90);
    int size = 8;
    reference::Bytes bits(8);
    CaptureStderr();
    EXPECT_TRUE(MonochromeConvert(4, 2, image.raster.data(), 12, bits.data(), &size));
    size = 7;
    EXPECT_FALSE(MonochromeConvert(4, 2, image.raster.data(), 12, bits.data(), &size));
    GetCapturedStderr();
    EXPECT_EQ(trace.text(), "MonochromeConvertOtsu  ghold==10\r\n"
                            "MonochromeConvert:before CreatDataBin\r\n"
                            "MonochromeConvert:after CreatDataBin\r\n"
                            "MonochromeConvert:CreatDataBin sucess DataBinSize==8\r\n"
                            "MonochromeConvert:after GrayData\r\n"
                            "MonochromeConvertOtsu  ghold==10\r\n"
                            "MonochromeConvert:before CreatDataBin\r\n"
                            "MonochromeConvert:after CreatDataBin\r\n"
                            "MonochromeConvert:CreatDataBin failed \r\n"
                            "MonochromeConvert:after GrayData\r\n");
}

TEST_F(Otsu, BadArgumentsAreRefusedWithoutTouchingTheRaster)
{
    const reference::Image image = reference::uniformImage(4, 4, 9, 9, 9);
    const struct {
        int width, height, extra;
    } cases[] = {{0, 4, 0}, {4, 0, 0}, {-4, 4, 0}, {4, -1, 0}, {4, 4, -1}, {4, 4, INT_MAX}, {200000000, 4, 0}};
    for (const auto& c : cases) {
        reference::Bytes bits(64, 0x42);
        int size = 16;
        CaptureStderr();
        EXPECT_FALSE(TrueCollorBitToOnebit(c.width, c.height, c.extra, image.raster.data(), 12, bits.data(), &size));
        EXPECT_EQ(size, 0);
        if (c.extra == 0) {
            size = 16;
            EXPECT_FALSE(MonochromeConvert(c.width, c.height, image.raster.data(), 12, bits.data(), &size));
            EXPECT_EQ(size, 0);
        }
        GetCapturedStderr();
        EXPECT_EQ(bits, reference::Bytes(64, 0x42));
    }
    int size = 16;
    reference::Bytes bits(16, 0x42);
    EXPECT_FALSE(TrueCollorBitToOnebit(4, 4, 0, nullptr, 12, bits.data(), &size));
    EXPECT_FALSE(MonochromeConvert(4, 4, nullptr, 12, bits.data(), &size));
    EXPECT_FALSE(TrueCollorBitToOnebit(4, 4, 0, image.raster.data(), 12, bits.data(), nullptr));
    EXPECT_EQ(bits, reference::Bytes(16, 0x42));
    EXPECT_EQ(myotsu(-1, 5, image.raster.data(), 12), 128);
    EXPECT_EQ(MonochromeConvertOtsu(5, -1, image.raster.data(), 12), 0);
}

TEST_F(Otsu, MatchesTheLiteralDefinitionOnRandomImages)
{
    std::mt19937 random(20261206);
    const int sizes[][2] = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {3, 2}, {33, 7}, {31, 3}, {65, 5}, {301, 4}};
    const unsigned int selectors[] = {12, 0, 3, 4, 6, 1};
    int index = 0;
    for (const auto& s : sizes) {
        for (auto content : {reference::Content::Noise, reference::Content::Smooth, reference::Content::FewLevels}) {
            const reference::Image image = reference::randomImage(s[0], s[1], random, content);
            const unsigned int selector = selectors[index++ % 6];
            const int extra = static_cast<int>(random() % 5);
            SCOPED_TRACE(testing::Message() << s[0] << "x" << s[1] << " extra " << extra << " selector " << selector);

            const int threshold = reference::myotsu(image, selector, 0);
            ASSERT_EQ(myotsu(image.width, image.height, image.raster.data(), selector), threshold);
            const int monoThreshold = reference::monochromeOtsu(image, selector);
            ASSERT_EQ(MonochromeConvertOtsu(image.width, image.height, image.raster.data(), selector), monoThreshold);

            bool ok = false;
            const reference::Bytes bits = runOnebit(image, extra, selector, &ok);
            ASSERT_TRUE(ok);
            ASSERT_EQ(bits, reference::pack(reference::thresholdPlane(image, extra, selector, threshold, false),
                                            image.width));

            int size = reference::witsStep(image.width) * image.height;
            reference::Bytes mono(size);
            CaptureStderr();
            ASSERT_TRUE(MonochromeConvert(image.width, image.height, image.raster.data(), selector, mono.data(), &size));
            GetCapturedStderr();
            ASSERT_EQ(mono,
                      reference::pack(reference::thresholdPlane(image, 0, selector, monoThreshold, false), image.width));
        }
    }
}
