// Every page binarizer on the awkward sizes (widths 1, 2, 3, 33; heights 1
// and 2; with and without extra rows), against the literal definitions.
// Run under the sanitizers this also shows that none reads or writes past
// the raster, the bit raster or its own planes.
#include "filter/settingsThermalSensitivityPara.h"
#include "imaging/24BitTo1Bit.h"
#include "imaging/Dither.h"
#include "imaging/MonochromeConvert.h"
#include "imaging/freeimageHalftone.h"
#include "reference_binarizers.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

// Runs a binarizer on exactly sized heap copies of the raster and the bit
// raster, so that any overrun hits a redzone.
reference::Bytes runExact(const reference::Image& image, int rows,
                          const std::function<bool(const unsigned char*, unsigned char*, int*)>& binarizer)
{
    auto raster = std::make_unique<unsigned char[]>(image.raster.size());
    std::copy(image.raster.begin(), image.raster.end(), raster.get());
    const int expectedSize = reference::witsStep(image.width) * rows;
    auto bits = std::make_unique<unsigned char[]>(expectedSize);
    int size = expectedSize;
    CaptureStderr();
    const bool ok = binarizer(raster.get(), bits.get(), &size);
    GetCapturedStderr();
    EXPECT_TRUE(ok);
    EXPECT_EQ(size, expectedSize);
    EXPECT_TRUE(std::equal(image.raster.begin(), image.raster.end(), raster.get()));  // the raster is not modified
    return reference::Bytes(bits.get(), bits.get() + expectedSize);
}

}  // namespace

TEST(EveryBinarizer, OddSizesMatchTheLiteralDefinitions)
{
    settingsThermalSensitivity.Threshold = 0;
    std::mt19937 random(31);
    const auto table8 = reference::bayer8();
    const auto table16 = reference::bayer16();
    for (int width : {1, 2, 3, 33}) {
        for (int height : {1, 2}) {
            for (int extra : {0, 1, 5}) {
                const reference::Image image = reference::randomImage(width, height, random);
                const int w = width, h = height, rows = height + extra;
                const unsigned int sel = 12;
                SCOPED_TRACE(testing::Message() << width << "x" << height << " extra " << extra);
                const int otsu = reference::myotsu(image, sel, 0);
                const int mono = reference::monochromeOtsu(image, sel);

                EXPECT_EQ(runExact(image, rows,
                                   [&](const unsigned char* r, unsigned char* b, int* s) {
                                       return TrueCollorBitToOnebit(w, h, extra, r, sel, b, s);
                                   }),
                          reference::pack(reference::thresholdPlane(image, extra, sel, otsu, false), w));
                settingsThermalSensitivity.Threshold = 120;
                EXPECT_EQ(runExact(image, rows,
                                   [&](const unsigned char* r, unsigned char* b, int* s) {
                                       return Threshold(w, h, extra, r, 120, b, s);
                                   }),
                          reference::pack(reference::thresholdPlane(image, extra, 120, 120, true), w));
                settingsThermalSensitivity.Threshold = 0;
                EXPECT_EQ(runExact(image, rows,
                                   [&](const unsigned char* r, unsigned char* b, int* s) {
                                       return makeDitherBayer8(w, h, extra, r, sel, b, s);
                                   }),
                          reference::pack(reference::bayerPlane(image, extra, sel, table8), w));
                EXPECT_EQ(runExact(image, rows,
                                   [&](const unsigned char* r, unsigned char* b, int* s) {
                                       return makeDitherBayer16(w, h, extra, r, sel, b, s);
                                   }),
                          reference::pack(reference::bayerPlane(image, extra, sel, table16), w));
                const std::pair<decltype(&ErrorDiffusionBurkes), reference::Diffusion> members[] = {
                    {ErrorDiffusionFloydSteinberg7351, reference::floydSteinberg7351()},
                    {ErrorDiffusionBurkes, reference::burkes()},
                    {ErrorDiffusionSierra, reference::sierra()},
                    {ErrorDiffusionStucki, reference::stucki()}};
                for (const auto& [binarizer, kernel] : members) {
                    const int threshold = binarizer == ErrorDiffusionBurkes ? 137 : mono;
                    EXPECT_EQ(runExact(image, rows,
                                       [&](const unsigned char* r, unsigned char* b, int* s) {
                                           return binarizer(w, h, extra, r, sel, b, s);
                                       }),
                              reference::pack(reference::errorDiffusionPlane(image, extra, sel, threshold, kernel, 100),
                                              w));
                }
                if (extra == 0) {
                    EXPECT_EQ(runExact(image, rows,
                                       [&](const unsigned char* r, unsigned char* b, int* s) {
                                           return MonochromeConvert(w, h, r, sel, b, s);
                                       }),
                              reference::pack(reference::thresholdPlane(image, 0, sel, mono, false), w));
                    EXPECT_EQ(runExact(image, rows,
                                       [&](const unsigned char* r, unsigned char* b, int* s) {
                                           return ErrorDiffusionFloydSteinberg(w, h, r, sel, b, s);
                                       }),
                              reference::pack(reference::byteFloydSteinbergPlane(image, sel, 100), w));
                    EXPECT_EQ(runExact(image, rows,
                                       [&](const unsigned char* r, unsigned char* b, int* s) {
                                           return FloydSteinberg(w, h, r, sel, b, s);
                                       }),
                              reference::pack(reference::floydSteinbergHalftonePlane(image, sel), w));
                }
            }
        }
    }
}
