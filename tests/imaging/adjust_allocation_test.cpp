// Every operation that cannot get its working memory leaves the caller's
// image as it was and reports failure.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "diagnostics/middleDataSave.h"
#include "imaging/AdaptiveThreshold.h"
#include "imaging/FunctionAsistant.h"
#include "imaging/GaussianBlur.h"
#include "imaging/ImageBuffer.h"
#include "imaging/minicut.h"
#include "support/CappedChild.h"
#include "support/Process.h"

namespace {

using testsupport::kCanCapMemory;
using testsupport::runCapped;

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;  // 36 MB of raster

std::vector<unsigned char> pattern()
{
    std::vector<unsigned char> image(static_cast<std::size_t>(trueColourStride(kWidth)) * kHeight);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<unsigned char>(i * 131 + (i >> 9));
    }
    return image;
}

constexpr long kSmall = 8L << 20;

}  // namespace

TEST(AllocationFailure, AdjustmentsLeaveTheImageUnchanged)
{
    if (!kCanCapMemory) {
        GTEST_SKIP() << "address-space cap not usable in this build";
    }
    auto image = pattern();
    const auto original = image;
    unsigned char* data = image.data();
    auto unchanged = [&] { return std::memcmp(data, original.data(), original.size()) == 0; };

    EXPECT_EQ(runCapped(kSmall, [&] {
                  return f_XYOfffset(data, kWidth, kHeight, kWidth * 3, 24, 24) == 0 && unchanged() ? 0 : 1;
              }),
              0);
    EXPECT_EQ(runCapped(kSmall, [&] {
                  unsigned w = 7, h = 7, rb = 7;
                  auto z = f_Zoom(data, kWidth, kHeight, kWidth * 3, &w, &h, &rb, 1, 1.0f, 1.0f);
                  return !z && w == 7 && h == 7 && rb == 7 ? 0 : 1;
              }),
              0);
    EXPECT_EQ(runCapped(kSmall, [&] {
                  unsigned w = 7, h = 7, rb = 7;
                  auto r = f_Rotate(data, kWidth, kHeight, trueColourStride(kWidth), 0, &w, &h, &rb, 0);
                  return !r && w == 7 && h == 7 && rb == 7 ? 0 : 1;
              }),
              0);
    const int stride = trueColourStride(kWidth);
    EXPECT_EQ(runCapped(kSmall, [&] {
                  return f_ImageSharpen_Laplace(data, kWidth, kHeight, stride, 100) == 0 && unchanged() ? 0 : 1;
              }),
              0);
    EXPECT_EQ(runCapped(kSmall, [&] {
                  return f_SpatialGaussFiter(data, kWidth, kHeight, kWidth * 3, 1) == 0 && unchanged() ? 0 : 1;
              }),
              0);
    // The unsharp mask's smoothed copy fits, its mask does not.
    EXPECT_EQ(runCapped(50L << 20, [&] {
                  return f_ImageSharpen_USM(data, kWidth, kHeight, kWidth * 3, 1, 100, 0) == 0 && unchanged() ? 0 : 1;
              }),
              0);
    EXPECT_EQ(runCapped(kSmall, [&] { return !GaussianBlurFast(kWidth, kHeight, data) && unchanged() ? 0 : 1; }), 0);
}

TEST(AllocationFailure, GaussianBlurLogsAndFails)
{
    if (!kCanCapMemory) {
        GTEST_SKIP() << "address-space cap not usable in this build";
    }
    testsupport::TempDir dir;
    auto image = pattern();
    const auto original = image;
    unsigned char* data = image.data();
    EXPECT_EQ(runCapped(kSmall, [&] {
                  std::snprintf(path, sizeof path, "%s", dir.path().c_str());
                  SetSaveLogDataFalg(1);
                  const bool ok = GaussianBlur(kWidth, kHeight, data);
                  return !ok && std::memcmp(data, original.data(), original.size()) == 0 ? 0 : 1;
              }),
              0);
    EXPECT_EQ(testsupport::readFile(dir.file("Print.log")), "GaussianBlur TrueCollorBitDataNew==NULL\r\n");
}

TEST(AllocationFailure, BinarizersReportSizeZero)
{
    if (!kCanCapMemory) {
        GTEST_SKIP() << "address-space cap not usable in this build";
    }
    const auto image = pattern();
    std::vector<unsigned char> bits(static_cast<std::size_t>(bitRasterStride(kWidth)) * kHeight, 0x77);
    const int expected = static_cast<int>(bits.size());
    unsigned char* out = bits.data();
    auto bitsUntouched = [&] {
        for (std::size_t i = 0; i < bits.size(); ++i) {
            if (out[i] != 0x77) {
                return false;
            }
        }
        return true;
    };
    // Gray plane and result plane fit, the integral image does not.
    EXPECT_EQ(runCapped(40L << 20, [&] {
                  int size = expected;
                  const bool ok = InterlImageAdaptiveThreshold(kWidth, kHeight, image.data(), 12, out, &size);
                  return !ok && size == 0 && bitsUntouched() ? 0 : 1;
              }),
              0);
    EXPECT_EQ(runCapped(kSmall, [&] {
                  int size = expected;
                  const bool ok = InterlImageAdaptiveThreshold(kWidth, kHeight, image.data(), 12, out, &size);
                  return !ok && size == 0 && bitsUntouched() ? 0 : 1;
              }),
              0);
    EXPECT_EQ(runCapped(kSmall, [&] {
                  int size = expected;
                  const bool ok = minicut(image.data(), 12, kWidth, kHeight, 8, 8, 20, out, &size, 0.5f);
                  return !ok && size == 0 && bitsUntouched() ? 0 : 1;
              }),
              0);
}
