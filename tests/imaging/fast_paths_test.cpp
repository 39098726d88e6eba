// The page binarizers work row by row with a vectorised gray pass, packing
// eight pixels at a time and error diffusion over a window of rows. These
// checks hold them to the literal definitions bit for bit: every gray
// selector, rows that end inside a vector block or a packed byte, widths
// around the block sizes, and pages long enough to wrap the diffusion window.
#include "filter/settingsThermalSensitivityPara.h"
#include "imaging/24BitTo1Bit.h"
#include "imaging/Dither.h"
#include "imaging/GrayAlgorithm.h"
#include "imaging/MonochromeConvert.h"
#include "imaging/freeimageHalftone.h"
#include "imaging/otsu.h"
#include "reference_binarizers.h"

#include <gtest/gtest.h>

#include <vector>

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

using Binarizer = bool (*)(int, int, int, const unsigned char*, unsigned int, unsigned char*, int*);

reference::Bytes binarize(Binarizer binarizer, const reference::Image& image, int extra, unsigned int selector)
{
    const int size = reference::witsStep(image.width) * (image.height + extra);
    reference::Bytes bits(static_cast<std::size_t>(size), 0x5A);
    int dataBinSize = size;
    CaptureStderr();
    const bool ok = binarizer(image.width, image.height, extra, image.raster.data(), selector, bits.data(),
                              &dataBinSize);
    GetCapturedStderr();
    EXPECT_TRUE(ok);
    EXPECT_EQ(dataBinSize, size);
    return bits;
}

}  // namespace

TEST(FastPaths, Selector12RowEqualsTheFormulaForEveryColour)
{
    // All 2^24 colours, a row of 4096 at a time, in both channel orders.
    std::vector<unsigned char> row(3 * 4096);
    std::vector<unsigned char> gray(4096), reversed(4096);
    int mismatches = 0;
    for (int block = 0; block < 4096; ++block) {
        for (int i = 0; i < 4096; ++i) {
            const int colour = block * 4096 + i;
            row[3 * i] = static_cast<unsigned char>(colour & 0xFF);
            row[3 * i + 1] = static_cast<unsigned char>((colour >> 8) & 0xFF);
            row[3 * i + 2] = static_cast<unsigned char>(colour >> 16);
        }
        RGB2GrayRow(row.data(), 4096, 12, true, gray.data());
        RGB2GrayRow(row.data(), 4096, 12, false, reversed.data());
        for (int i = 0; i < 4096; ++i) {
            const unsigned char b = row[3 * i], g = row[3 * i + 1], r = row[3 * i + 2];
            mismatches += gray[i] != reference::gray(b, g, r, 12);
            mismatches += reversed[i] != reference::gray(r, g, b, 12);
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(FastPaths, GrayRowEqualsTheDispatcherForEverySelectorAndWidth)
{
    std::mt19937 random(5);
    for (unsigned int selector : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 4294967295u}) {
        for (int width : {1, 2, 7, 8, 63, 64, 65, 129, 577}) {
            std::vector<unsigned char> pixels(static_cast<std::size_t>(3 * width));
            for (auto& byte : pixels) {
                byte = static_cast<unsigned char>(random());
            }
            std::vector<unsigned char> out(static_cast<std::size_t>(width) + 1, 0xA5);
            RGB2GrayRow(pixels.data(), width, selector, true, out.data());
            for (int x = 0; x < width; ++x) {
                unsigned char expected;
                RGB2Gray(&expected, pixels[3 * x], pixels[3 * x + 1], pixels[3 * x + 2], selector);
                ASSERT_EQ(out[x], expected) << "selector " << selector << " width " << width << " x " << x;
            }
            EXPECT_EQ(out[width], 0xA5) << "wrote past the row";
        }
    }
}

TEST(FastPaths, PackingEqualsTheLiteralPackerOnAnyLevels)
{
    std::mt19937 random(6);
    for (int width = 1; width <= 72; ++width) {
        for (int rows : {1, 3}) {
            reference::Plane plane(rows, std::vector<unsigned char>(width));
            std::vector<unsigned char> flat;
            for (auto& line : plane) {
                for (auto& v : line) {
                    // Mostly 0 and 255, sometimes another level (which packs as white).
                    const unsigned choice = random() % 8;
                    v = choice < 3 ? 0 : choice < 6 ? 255 : static_cast<unsigned char>(random());
                    flat.push_back(v);
                }
            }
            const int size = reference::witsStep(width) * rows;
            reference::Bytes bits(static_cast<std::size_t>(size), 0x5A);
            int dataBinSize = size;
            CaptureStderr();
            EXPECT_TRUE(CreatDataBin(flat.data(), width, rows, bits.data(), &dataBinSize));
            GetCapturedStderr();
            EXPECT_EQ(bits, reference::pack(plane, width)) << "width " << width;
        }
    }
}

TEST(FastPaths, SwapExchangesTheOuterBytesOfEveryPixelAndLeavesThePadding)
{
    std::mt19937 random(4);
    for (int width : {1, 2, 7, 8, 9, 15, 16, 17, 33, 577}) {
        const int stride = reference::rasterStride(width);
        const int height = 3;
        reference::Bytes raster(static_cast<std::size_t>(stride) * height);
        for (auto& byte : raster) {
            byte = static_cast<unsigned char>(random());
        }
        reference::Bytes swapped = raster;
        TrueCollorRGBToBGR(width, height, swapped.data());
        for (int y = 0; y < height; ++y) {
            for (int i = 0; i < stride; ++i) {
                const std::size_t at = static_cast<std::size_t>(y) * stride + i;
                const int x = i / 3, channel = i % 3;
                unsigned char expected = raster[at];
                if (x < width && channel != 1) {
                    expected = raster[at + (channel == 0 ? 2 : -2)];
                }
                ASSERT_EQ(swapped[at], expected) << "width " << width << " row " << y << " byte " << i;
            }
        }
    }
}

TEST(FastPaths, InversionComplementsEveryByteAndNoMore)
{
    for (int length : {1, 7, 8, 9, 23, 64}) {
        std::vector<unsigned char> buffer(static_cast<std::size_t>(length) + 1);
        for (int i = 0; i <= length; ++i) {
            buffer[i] = static_cast<unsigned char>(i * 37 + 5);
        }
        DoTurnOver(buffer.data(), length);
        for (int i = 0; i < length; ++i) {
            EXPECT_EQ(buffer[i], static_cast<unsigned char>(~(i * 37 + 5)));
        }
        EXPECT_EQ(buffer[length], static_cast<unsigned char>(length * 37 + 5));
    }
}

TEST(FastPaths, GlobalThresholdAndBayerBinarizersOnWideAndLongPages)
{
    std::mt19937 random(7);
    const auto table8 = reference::bayer8();
    const auto table16 = reference::bayer16();
    for (int width : {9, 64, 65, 577}) {
        for (const auto content : {reference::Content::Smooth, reference::Content::Noise}) {
            const reference::Image image = reference::randomImage(width, 37, random, content);
            for (unsigned int selector : {12u, 0u, 4u, 13u}) {
                SCOPED_TRACE(testing::Message() << "width " << width << " selector " << selector);
                settingsThermalSensitivity.Threshold = 0;
                const int otsu = reference::myotsu(image, selector, 0);
                EXPECT_EQ(binarize(TrueCollorBitToOnebit, image, 3, selector),
                          reference::pack(reference::thresholdPlane(image, 3, selector, otsu, false), width));
                EXPECT_EQ(binarize(makeDitherBayer8, image, 3, selector),
                          reference::pack(reference::bayerPlane(image, 3, selector, table8), width));
                EXPECT_EQ(binarize(makeDitherBayer16, image, 3, selector),
                          reference::pack(reference::bayerPlane(image, 3, selector, table16), width));
                settingsThermalSensitivity.Threshold = 140;
                EXPECT_EQ(binarize(Threshold, image, 3, selector),
                          reference::pack(reference::thresholdPlane(image, 3, selector, 140, true), width));
                settingsThermalSensitivity.Threshold = 0;
            }
        }
    }
}

TEST(FastPaths, ErrorDiffusionOnWideAndLongPages)
{
    settingsThermalSensitivity.Threshold = 0;
    std::mt19937 random(8);
    const std::pair<Binarizer, reference::Diffusion> members[] = {
        {ErrorDiffusionFloydSteinberg7351, reference::floydSteinberg7351()},
        {ErrorDiffusionBurkes, reference::burkes()},
        {ErrorDiffusionSierra, reference::sierra()},
        {ErrorDiffusionStucki, reference::stucki()}};
    for (int width : {5, 6, 65, 577}) {
        for (int height : {3, 4, 41}) {
            const reference::Image image = reference::randomImage(width, height, random, reference::Content::Smooth);
            for (unsigned int selector : {12u, 6u}) {
                const int otsu = reference::monochromeOtsu(image, selector);
                for (const auto& [binarizer, kernel] : members) {
                    SCOPED_TRACE(testing::Message() << width << "x" << height << " selector " << selector);
                    const int threshold = binarizer == ErrorDiffusionBurkes ? 137 : otsu;
                    EXPECT_EQ(binarize(binarizer, image, 2, selector),
                              reference::pack(
                                  reference::errorDiffusionPlane(image, 2, selector, threshold, kernel, 100), width));
                }
            }
        }
    }
}
