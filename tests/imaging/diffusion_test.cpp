// Error diffusion: the four floating-point kernels and the byte-plane
// Floyd-Steinberg variant.
#include "imaging/MonochromeConvert.h"
#include "imaging/freeimageHalftone.h"
#include "reference_binarizers.h"

#include <gtest/gtest.h>

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

using Binarizer = bool (*)(int, int, int, const unsigned char*, unsigned int, unsigned char*, int*);

struct Member {
    const char* name;
    Binarizer binarizer;
    reference::Diffusion kernel;
    bool otsu;  // threshold from the double-precision Otsu selection, else 137
    int widestWithoutDiffusion;
};

std::vector<Member> members()
{
    return {{"FloydSteinberg7351", ErrorDiffusionFloydSteinberg7351, reference::floydSteinberg7351(), true, 2},
            {"Burkes", ErrorDiffusionBurkes, reference::burkes(), false, 4},
            {"Sierra", ErrorDiffusionSierra, reference::sierra(), true, 4},
            {"Stucki", ErrorDiffusionStucki, reference::stucki(), true, 4}};
}

reference::Bytes diffuse(Binarizer binarizer, const reference::Image& image, int extra, unsigned int selector = 12,
                         std::string* err = nullptr)
{
    int size = reference::witsStep(image.width) * (image.height + extra);
    reference::Bytes bits(size, 0x5A);
    CaptureStderr();
    const bool ok = binarizer(image.width, image.height, extra, image.raster.data(), selector, bits.data(), &size);
    const std::string text = GetCapturedStderr();
    if (err != nullptr) {
        *err = text;
    }
    EXPECT_TRUE(ok);
    EXPECT_EQ(size, static_cast<int>(bits.size()));
    return bits;
}

reference::Bytes byteFloydSteinberg(const reference::Image& image, unsigned int selector = 12)
{
    int size = reference::witsStep(image.width) * image.height;
    reference::Bytes bits(size, 0x5A);
    CaptureStderr();
    EXPECT_TRUE(ErrorDiffusionFloydSteinberg(image.width, image.height, image.raster.data(), selector, bits.data(),
                                             &size));
    GetCapturedStderr();
    EXPECT_EQ(size, static_cast<int>(bits.size()));
    return bits;
}

int thresholdOf(const Member& member, const reference::Image& image, unsigned int selector)
{
    return member.otsu ? reference::monochromeOtsu(image, selector) : 137;
}

}  // namespace

TEST(Diffusion, NarrowPagesAreAPlainThreshold)
{
    std::mt19937 random(17);
    for (const Member& member : members()) {
        for (int width = 1; width <= member.widestWithoutDiffusion; ++width) {
            const reference::Image image = reference::randomImage(width, 6, random, reference::Content::Smooth);
            SCOPED_TRACE(testing::Message() << member.name << " width " << width);
            const int threshold = thresholdOf(member, image, 12);
            EXPECT_EQ(diffuse(member.binarizer, image, 1),
                      reference::pack(reference::thresholdPlane(image, 1, 12, threshold, false), width));
        }
    }
}

TEST(Diffusion, ShortPagesDiffuseOnlyWhereTheKernelFits)
{
    std::mt19937 random(18);
    for (const Member& member : members()) {
        for (int height : {1, 2}) {
            const reference::Image image = reference::randomImage(23, height, random, reference::Content::Noise);
            const int threshold = thresholdOf(member, image, 12);
            const reference::Bytes plain =
                reference::pack(reference::thresholdPlane(image, 0, 12, threshold, false), 23);
            const bool diffuses = height == 2 && member.kernel.bottomRows == 1;
            SCOPED_TRACE(testing::Message() << member.name << " height " << height);
            const reference::Bytes bits = diffuse(member.binarizer, image, 0);
            if (!diffuses) {
                EXPECT_EQ(bits, plain);
            } else {
                // Only row 0 diffuses, to its right and into row 1.
                EXPECT_NE(bits, plain);
                EXPECT_EQ(bits, reference::pack(reference::errorDiffusionPlane(image, 0, 12, threshold, member.kernel,
                                                                               100),
                                                 23));
            }
        }
    }
}

TEST(Diffusion, BlackAndWhitePagesComeOutUnchanged)
{
    for (const Member& member : members()) {
        for (int level : {0, 255}) {
            const reference::Image image = reference::uniformImage(37, 9, level, level, level);
            const reference::Bytes bits = diffuse(member.binarizer, image, 2);
            for (int y = 0; y < 9; ++y) {
                EXPECT_EQ(bits[8 * y], level ? 0xFF : 0x00) << member.name;
                EXPECT_EQ(bits[8 * y + 4], level ? 0xFF : 0x07) << member.name;  // pixels 32..36, then padding
            }
            EXPECT_EQ(bits[8 * 9], 0xFF);
            EXPECT_EQ(bits[8 * 10 + 3], 0xFF);
        }
    }
}

TEST(Diffusion, BurkesOnLevel137LeavesTheFirstThreePixelsBlack)
{
    const reference::Image image = reference::uniformImage(12, 3, 137, 137, 137);
    std::string err;
    const reference::Bytes bits = diffuse(ErrorDiffusionBurkes, image, 0, 12, &err);
    EXPECT_EQ(bits[0] >> 4, 0x1);  // black, black, black, white
    EXPECT_EQ(err, "DEBUG: ErrorDiffusionBurkes:threshhold = 137.\n"
                   "DEBUG: saveOneBitBmpFile witsStep*nHeightAcual)=m = 12\r\n");
}

TEST(Diffusion, FloydSteinberg7351Messages)
{
    std::mt19937 random(2);
    const reference::Image image = reference::randomImage(5, 3, random);
    const int threshold = reference::monochromeOtsu(image, 12);
    std::string err;
    diffuse(ErrorDiffusionFloydSteinberg7351, image, 2, 12, &err);
    EXPECT_EQ(err, "DEBUG: actualHeight = 5,height = 3,height0 = 2.\n"
                   "DEBUG: DibPixcel = 15,width = 5,height = 3.\n"
                   "DEBUG: DibPixcelInt = 15,width = 5,actualWidth = 5,height = 3.actualHeight = 5.\n"
                   "DEBUG: threshhold = " + std::to_string(threshold) + ".\n"
                   "DEBUG: saveOneBitBmpFile witsStep*nHeightAcual)=m = 20\r\n"
                   "DEBUG: ErrorDiffusionFloydStein7351:after CreatDataBin\r\n"
                   "DEBUG: ErrorDiffusionFloydStein7351:CreatDataBin sucess DataBinSize==20\r\n"
                   "DEBUG: ErrorDiffusionFloydStein7351:after GrayData\r\n");

    reference::Bytes bits(20, 0x5A);
    int size = 19;
    CaptureStderr();
    EXPECT_FALSE(ErrorDiffusionFloydSteinberg7351(5, 3, 2, image.raster.data(), 12, bits.data(), &size));
    err = GetCapturedStderr();
    EXPECT_NE(err.find("DEBUG: CreatDataBin witsStep*nHeightAcual!= * DataBinSize witsStep=4,nHeightAcual=5 "
                       "*DataBinSize=19\r\n"
                       "DEBUG: ErrorDiffusionFloydStein7351:after CreatDataBin\r\n"
                       "DEBUG: ErrorDiffusionFloydStein7351:CreatDataBin failed \r\n"
                       "DEBUG: ErrorDiffusionFloydStein7351:after GrayData\r\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(size, 19);

    CaptureStderr();
    EXPECT_FALSE(ErrorDiffusionFloydSteinberg7351(5, 3, 2, nullptr, 12, bits.data(), &size));
    EXPECT_EQ(GetCapturedStderr(), "DEBUG: actualHeight = 5,height = 3,height0 = 2.\n"
                                   "DEBUG: TrueCollorBitData==NULL.\n");
    EXPECT_EQ(size, 0);
    EXPECT_EQ(bits, reference::Bytes(20, 0x5A));
}

TEST(Diffusion, OtherMembersReportToTheTraceLog)
{
    reference::TraceCapture trace;
    const reference::Image image = reference::uniformImage(6, 4, 90, 90, 90);
    for (Binarizer binarizer : {ErrorDiffusionSierra, ErrorDiffusionStucki, ErrorDiffusionBurkes}) {
        reference::Bytes bits(16, 0x5A);
        int size = 16;
        CaptureStderr();
        EXPECT_TRUE(binarizer(6, 4, 0, image.raster.data(), 12, bits.data(), &size));
        size = 15;
        EXPECT_FALSE(binarizer(6, 4, 0, image.raster.data(), 12, bits.data(), &size));
        EXPECT_EQ(size, 15);
        EXPECT_FALSE(binarizer(6, 4, 0, nullptr, 12, bits.data(), &size));
        EXPECT_EQ(size, 0);
        GetCapturedStderr();
    }
    const std::string once = "ErrorDiffusionFloydSteinberg:after CreatDataBin\r\n"
                             "ErrorDiffusionFloydSteinberg:after GrayData\r\n"
                             "ErrorDiffusionFloydSteinberg:after CreatDataBin\r\n"
                             "ErrorDiffusionFloydSteinberg:CreatDataBin failed \r\n"
                             "ErrorDiffusionFloydSteinberg:after GrayData\r\n";
    EXPECT_EQ(trace.text(), once + once + once);
}

TEST(Diffusion, BadSizesAreRefused)
{
    const reference::Image image = reference::uniformImage(4, 4, 9, 9, 9);
    for (const Member& member : members()) {
        const struct {
            int width, height, extra;
        } cases[] = {{0, 4, 0}, {4, 0, 0}, {-4, 4, 0}, {4, -4, 0}, {4, 4, -1}, {100000, 100000, 0}};
        for (const auto& c : cases) {
            reference::Bytes bits(16, 0x5A);
            int size = 16;
            CaptureStderr();
            EXPECT_FALSE(member.binarizer(c.width, c.height, c.extra, image.raster.data(), 12, bits.data(), &size));
            GetCapturedStderr();
            EXPECT_EQ(size, 0);
            EXPECT_EQ(bits, reference::Bytes(16, 0x5A));
            if (c.extra == 0) {
                size = 16;
                EXPECT_FALSE(ErrorDiffusionFloydSteinberg(c.width, c.height, image.raster.data(), 12, bits.data(),
                                                          &size));
                EXPECT_EQ(size, 0);
            }
        }
    }
}

TEST(Diffusion, BytePlaneVariantClampsItsNeighbours)
{
    // Rows of 200 and 250: the threshold is 200. The black pixels of row 0
    // push (1, 1) to 250 + 12 + 62 = 324, which must stay white (255), not
    // wrap around to black.
    reference::Image image = reference::uniformImage(2, 2, 200, 200, 200);
    for (int x = 0; x < 2; ++x) {
        std::fill_n(image.raster.begin() + reference::rasterStride(2) + 3 * x, 3, 250);
    }
    EXPECT_EQ(MonochromeConvertOtsu(2, 2, image.raster.data(), 12), 200);
    reference::Bytes bits = byteFloydSteinberg(image);
    EXPECT_EQ(bits[0], 0x3F);
    EXPECT_EQ(bits[4], 0xFF);

    // Rows of 60 and 5: the threshold is 5. The white pixels of row 0 pull
    // (1, 1) below 0, where it must stay black.
    image = reference::uniformImage(2, 2, 60, 60, 60);
    for (int x = 0; x < 2; ++x) {
        std::fill_n(image.raster.begin() + reference::rasterStride(2) + 3 * x, 3, 5);
    }
    EXPECT_EQ(MonochromeConvertOtsu(2, 2, image.raster.data(), 12), 5);
    bits = byteFloydSteinberg(image);
    EXPECT_EQ(bits[0], 0xFF);
    EXPECT_EQ(bits[4], 0x3F);
}

TEST(Diffusion, BytePlaneVariantTraceLines)
{
    reference::TraceCapture trace;
    const reference::Image image = reference::uniformImage(3, 2, 90, 90, 90);
    reference::Bytes bits(8, 0x5A);
    int size = 8;
    CaptureStderr();
    EXPECT_TRUE(ErrorDiffusionFloydSteinberg(3, 2, image.raster.data(), 12, bits.data(), &size));
    size = 4;
    EXPECT_FALSE(ErrorDiffusionFloydSteinberg(3, 2, image.raster.data(), 12, bits.data(), &size));
    EXPECT_FALSE(ErrorDiffusionFloydSteinberg(3, 2, nullptr, 12, bits.data(), &size));
    EXPECT_EQ(size, 0);
    GetCapturedStderr();
    EXPECT_EQ(trace.text(), "ErrorDiffusionFloydSteinberg:after CreatDataBin\r\n"
                            "ErrorDiffusionFloydSteinberg:after GrayData\r\n"
                            "ErrorDiffusionFloydSteinberg:after CreatDataBin\r\n"
                            "ErrorDiffusionFloydSteinberg:CreatDataBin failed \r\n"
                            "ErrorDiffusionFloydSteinberg:after GrayData\r\n");
}

TEST(Diffusion, MatchesTheLiteralDefinitionOnRandomImages)
{
    std::mt19937 random(4242);
    const int sizes[][2] = {{1, 1}, {1, 12}, {12, 1}, {2, 2}, {3, 3}, {5, 4}, {33, 11}, {61, 9}, {250, 6}};
    const unsigned int selectors[] = {12, 0, 4, 3, 6};
    int index = 0;
    for (const auto& s : sizes) {
        for (auto content : {reference::Content::Noise, reference::Content::Smooth, reference::Content::FewLevels}) {
            const reference::Image image = reference::randomImage(s[0], s[1], random, content);
            const unsigned int selector = selectors[index++ % 5];
            const int extra = static_cast<int>(random() % 4);
            SCOPED_TRACE(testing::Message() << s[0] << "x" << s[1] << " extra " << extra << " selector " << selector);
            for (const Member& member : members()) {
                SCOPED_TRACE(member.name);
                const reference::Plane plane = reference::errorDiffusionPlane(
                    image, extra, selector, thresholdOf(member, image, selector), member.kernel, 100);
                ASSERT_EQ(diffuse(member.binarizer, image, extra, selector), reference::pack(plane, image.width));
            }
            ASSERT_EQ(byteFloydSteinberg(image, selector),
                      reference::pack(reference::byteFloydSteinbergPlane(image, selector, 100), image.width));
        }
    }
}
