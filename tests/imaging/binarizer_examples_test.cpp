// Hand-derived numbers of the gray formulas and the binarizers: the cases the
// random cross-checks against the reference transcriptions cannot vouch for
// on their own (both could share a misreading), and the parts without a
// reference (Bayer tables, Otsu selections, min-cut, packing refusals).
#include "filter/settingsThermalSensitivityPara.h"
#include "imaging/24BitTo1Bit.h"
#include "imaging/AdaptiveThreshold.h"
#include "imaging/Dither.h"
#include "imaging/GrayAlgorithm.h"
#include "imaging/MonochromeConvert.h"
#include "imaging/TextAndPictures.h"
#include "imaging/freeimageHalftone.h"
#include "imaging/minicut.h"
#include "imaging/otsu.h"
#include "reference_binarizers.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using reference::Bytes;
using reference::Image;

namespace {

unsigned char gray(int b, int g, int r, unsigned int selector)
{
    unsigned char out = 0xA5;
    RGB2Gray(&out, b, g, r, selector);
    return out;
}

// Equal-channel levels (so every selector but 2 and 4 maps them to
// themselves), `second` on the even checkerboard squares, `first` elsewhere.
Image twoLevels(int width, int height, unsigned char first, unsigned char second)
{
    Image image = reference::uniformImage(width, height, first, first, first);
    for (int y = 0; y < height; ++y) {
        for (int x = y % 2; x < width; x += 2) {
            std::fill_n(image.pixel(x, y), 3, second);
        }
    }
    return image;
}

bool whiteAt(const Bytes& bits, int width, int x, int y)
{
    return (bits[y * reference::witsStep(width) + x / 8] >> (7 - x % 8)) & 1;
}

// Runs a binarizer whose size parameter is expected to be right; false on failure.
template <class F>
Bytes bitsOf(int width, int rows, F&& run)
{
    Bytes bits(reference::witsStep(width) * rows, 0x5A);
    int size = static_cast<int>(bits.size());
    CaptureStderr();
    const bool ok = run(bits.data(), &size);
    GetCapturedStderr();
    EXPECT_TRUE(ok);
    EXPECT_EQ(size, static_cast<int>(bits.size()));
    return bits;
}

}  // namespace

TEST(GrayExamples, WhiteAndPrimaries)
{
    const int white[14] = {255, 255, 85, 255, 254, 255, 255, 255, 255, 255, 255, 255, 255, 255};
    for (unsigned int s = 0; s <= 13; ++s) {
        EXPECT_EQ(gray(0, 0, 0, s), 0) << s;
        EXPECT_EQ(gray(255, 255, 255, s), white[s]) << s;
    }
    // Pure red, green and blue under selectors 0..6 and 12.
    for (auto [s, red, green, blue] : {std::array{0, 76, 149, 29}, {1, 85, 85, 85}, {2, 25, 50, 9}, {3, 146, 206, 78},
                                       {4, 139, 209, 83}, {5, 127, 127, 127}, {6, 54, 182, 18}, {12, 54, 182, 18}}) {
        EXPECT_EQ((std::array<int, 3>{gray(0, 0, 255, s), gray(0, 255, 0, s), gray(255, 0, 0, s)}),
                  (std::array{red, green, blue})) << s;
    }
}

TEST(GrayExamples, TheSixtyFiveLevelsTheTypicalFormulaBringsOneLower)
{
    // The levels that selector 0 brings one lower, derived once by forming
    // each double product and sum exactly in long double and rounding it once.
    const std::vector<int> lower = {
        1,   2,   4,   8,   11,  13,  16,  22,  26,  27,  32,  39,  44,  51,  52,  54,  57,  59,  61,  64,  78,  81,
        88,  91,  95,  101, 102, 104, 108, 114, 115, 118, 122, 127, 128, 143, 149, 156, 157, 162, 169, 175, 176, 182,
        183, 190, 195, 202, 203, 204, 208, 209, 216, 223, 225, 228, 230, 235, 236, 239, 241, 244, 249, 251, 254};
    for (int v = 0; v < 256; ++v) {
        const bool isLower = std::find(lower.begin(), lower.end(), v) != lower.end();
        EXPECT_EQ(gray(v, v, v, 0), isLower ? v - 1 : v) << v;
    }
}

TEST(OtsuExamples, SelectionsOnTwoLevelsUniformPagesAndManualSettings)
{
    settingsThermalSensitivity.Threshold = 0;
    const struct {
        Image image;
        int single, dbl;  // myotsu, MonochromeConvertOtsu
    } cases[] = {{twoLevels(10, 6, 50, 200), 50, 50}, {twoLevels(13, 5, 0, 255), 128, 0}, {twoLevels(7, 3, 1, 1), 0, 0},
                 {twoLevels(7, 3, 254, 254), 0, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(myotsu(c.image.width, c.image.height, c.image.raster.data(), 12), c.single);
        EXPECT_EQ(MonochromeConvertOtsu(c.image.width, c.image.height, c.image.raster.data(), 12), c.dbl);
    }
    EXPECT_EQ((std::array<int, 2>{GrayOtsu(10, 10), GrayMonochromeConvertOtsu(10, 10)}), (std::array{128, 0}));
    // A manual setting wins (its low byte); the double-precision selection has none.
    for (auto [setting, threshold] : {std::pair{200, 200}, std::pair{300, 44}}) {
        settingsThermalSensitivity.Threshold = setting;
        EXPECT_EQ(myotsu(10, 6, nullptr, 12), threshold);
        EXPECT_EQ(GrayOtsu(5, 5), threshold);
        EXPECT_EQ(MonochromeConvertOtsu(10, 6, cases[0].image.raster.data(), 12), 50);
    }
    settingsThermalSensitivity.Threshold = 0;
}

TEST(DitherExamples, TableRowsByHand)
{
    // Rows 0, 1, 8 of the 16x16 table and row 7 of the 8x8 one (every cell is also
    // checked through the cross-checks, whose reference builds the tables recursively).
    const std::vector<std::pair<const int*, std::vector<int>>> rows = {
        {BAYER_PATTERN_16X16[0], {0, 191, 48, 239, 12, 203, 60, 251, 3, 194, 51, 242, 15, 206, 63, 254}},
        {BAYER_PATTERN_16X16[1], {127, 64, 175, 112, 139, 76, 187, 124, 130, 67, 178, 115, 142, 79, 190, 127}},
        {BAYER_PATTERN_16X16[8], {2, 193, 50, 241, 14, 205, 62, 253, 1, 192, 49, 240, 13, 204, 61, 252}},
        {BAYER_PATTERN_8X8[7], {252, 124, 220, 92, 244, 116, 212, 84}}};
    for (const auto& [row, expected] : rows) {
        EXPECT_EQ(std::vector<int>(row, row + expected.size()), expected);
    }
}

TEST(TextAndPicturesExamples, MidToneBoundsPaperEdgesAndTheQuarter)
{
    // One tile, `upper` rows of one level over rows of another: printed as Bayer 8x8
    // prints it when continuous tone, else as Otsu does. 130 over black: every 130 is
    // tone (no paper near), so 16 pixels are a quarter, not more; over 232 (paper) the
    // third row of 130 lies on an edge.
    struct Case {
        int upper;
        unsigned char level, below;
        bool dithered;
    };
    for (const Case c : {Case{2, 130, 0, false}, Case{3, 130, 0, true}, Case{3, 130, 232, false}, Case{8, 23, 0, false},
                         Case{8, 24, 0, true}, Case{8, 231, 0, true}, Case{8, 232, 0, false}}) {
        Image image = reference::uniformImage(8, 8, c.below, c.below, c.below);
        std::fill_n(image.pixel(0, 0), 24 * c.upper, c.level);
        const auto run = [&](bool (*binarizer)(int, int, int, const unsigned char*, unsigned, unsigned char*, int*)) {
            return bitsOf(8, 8, [&](unsigned char* bits, int* size) { return binarizer(8, 8, 0, image.raster.data(), 12, bits, size); });
        };
        const Bytes dithered = run(makeDitherBayer8), otsu = run(TrueCollorBitToOnebit);
        ASSERT_NE(dithered, otsu);
        EXPECT_EQ(run(TextAndPicturesToOnebit), c.dithered ? dithered : otsu) << c.upper << " rows of " << int(c.level);
    }
}

TEST(DiffusionExamples, BurkesAt137AndTheClampedBytePlane)
{
    const Image flat = reference::uniformImage(12, 3, 137, 137, 137);
    const Bytes burkes = bitsOf(
        12, 3, [&](unsigned char* b, int* s) { return ErrorDiffusionBurkes(12, 3, 0, flat.raster.data(), 12, b, s); });
    EXPECT_EQ(burkes[0] >> 4, 0x1);  // black, black, black, white
    // Rows of 200 over 250 (threshold 200): row 0's black pixels push (1, 1)
    // to 250 + 12 + 62 = 324, which must stay white, not wrap around. Rows of
    // 60 over 5 (threshold 5): (1, 1) is pulled below 0 and must stay black.
    for (auto [top, bottom, row0, row1] : {std::tuple{200, 250, 0x3F, 0xFF}, std::tuple{60, 5, 0xFF, 0x3F}}) {
        Image image = reference::uniformImage(2, 2, top, top, top);
        std::fill_n(image.pixel(0, 1), 6, bottom);
        const Bytes bits = bitsOf(
            2, 2, [&](unsigned char* b, int* s) { return ErrorDiffusionFloydSteinberg(2, 2, image.raster.data(), 12, b, s); });
        EXPECT_EQ(bits[0], row0) << top;
        EXPECT_EQ(bits[4], row1) << top;
    }
}

TEST(HalftoneExamples, BorderThresholdsAndInitialErrors)
{
    unsigned int state = 0;
    for (int t : {66, -7, 10, 57, 183, -36}) {
        EXPECT_EQ(FloydSteinbergBorderThreshold(&state), t);
    }
    // (127 - 200) / 2 truncates toward zero: -36.
    for (auto [g, h, e] : {std::tuple{0, 0, 63}, {100, 0, 113}, {128, 255, -127}, {255, 255, -64}, {200, 0, 164}}) {
        EXPECT_EQ(FloydSteinbergInitialError(g, h), e) << g << " " << h;
    }
}

TEST(AdaptiveExamples, ColumnZeroEdgesAndTheNinetyPercentLimit)
{
    const auto run = [](const Image& image) {
        return bitsOf(image.width, image.height, [&](unsigned char* b, int* s) {
            return InterlImageAdaptiveThreshold(image.width, image.height, image.raster.data(), 12, b, s);
        });
    };
    // One black pixel on white turns black wherever it is, the first and last
    // column included, and nothing else does.
    for (auto [bx, by] : {std::pair{0, 4}, std::pair{0, 0}, std::pair{4, 4}, std::pair{8, 8}, std::pair{0, 8}}) {
        Image image = reference::uniformImage(9, 9, 255, 255, 255);
        std::fill_n(image.pixel(bx, by), 3, 0);
        const Bytes bits = run(image);
        for (int y = 0; y < 9; ++y) {
            for (int x = 0; x < 9; ++x) {
                ASSERT_EQ(whiteAt(bits, 9, x, y), !(x == bx && y == by)) << bx << "," << by << ": " << x << "," << y;
            }
        }
    }
    // In a 2 x 2 page each window counts pixel (1, 1) alone (100): a limit of 90.
    for (auto [level, white] : {std::pair{90, true}, std::pair{89, false}}) {
        Image image = twoLevels(2, 2, 200, 100);
        std::fill_n(image.pixel(0, 0), 3, level);
        EXPECT_EQ(run(image)[0], white ? 0xFF : 0x7F) << level;
    }
}

TEST(MinicutExamples, OptimalThresholdVotesAndClipping)
{
    // 16 pixels wide, `na` pixels of level a then `nb` of level b.
    const auto vote = [](int a, int na, int b, int nb) {
        Image image = reference::uniformImage(16, (na + nb) / 16, a, a, a);
        for (int i = na; i < na + nb; ++i) {
            std::fill_n(image.pixel(i % 16, i / 16), 3, b);
        }
        return OptimalThreshold(image.raster.data(), 12, 16, image.height, 16, image.height, 0, 0);
    };
    for (auto [a, na, b, nb, t] : {std::array{40, 16, 200, 16, 66}, {40, 144, 200, 16, 53}, {0, 16, 255, 16, 42},
                                   {100, 16, 101, 16, 100}, {0, 16, 0, 16, 0}, {1, 16, 1, 16, 0}, {255, 16, 255, 16, 254}}) {
        EXPECT_EQ(vote(a, na, b, nb), t) << a << " " << b;
    }
    Image ramp = reference::uniformImage(16, 16, 0, 0, 0);
    for (int i = 0; i < 256; ++i) {
        std::fill_n(ramp.pixel(i % 16, i / 16), 3, i);
    }
    EXPECT_EQ(OptimalThreshold(ramp.raster.data(), 12, 16, 16, 16, 16, 0, 0), 127);

    // Empty rectangles give -1; rectangles reaching outside are clipped.
    Image image = reference::uniformImage(6, 4, 10, 10, 10);
    std::fill_n(image.pixel(5, 3), 3, 200);
    const unsigned char* p = image.raster.data();
    for (auto [rw, rh, x, y, t] : {std::array<std::int64_t, 5>{0, 4, 0, 0, -1}, {3, 3, 6, 0, -1}, {-5, 3, 2, 0, -1},
                                   {3, 3, 1, 4, -1}, {INT64_MIN, 2, 3, 0, -1}, {100, 100, 5, 3, 199}, {7, 5, -2, -2, 9}}) {
        EXPECT_EQ(OptimalThreshold(p, 12, 6, 4, rw, rh, int(x), int(y)), t) << rw << "x" << rh << "@" << x << "," << y;
    }
    EXPECT_EQ(OptimalThreshold(p, 12, 6, 4, INT64_MAX, INT64_MAX, -3, -3), OptimalThreshold(p, 12, 6, 4, 6, 4, 0, 0));
}

TEST(MinicutExamples, BlocksBalanceBiasAndClamp)
{
    // Checkerboards: columns 0..7 of 40/200 (own threshold 66), 8..15 of
    // 100/101 (own 100), 16..19 of 150/160; white on the odd squares.
    const auto board = [](int width) {
        Image image = reference::uniformImage(width, 8, 0, 0, 0);
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < width; ++x) {
                const bool odd = (x + y) % 2 != 0;
                std::fill_n(image.pixel(x, y), 3, x < 8 ? (odd ? 200 : 40) : x < 16 ? (odd ? 101 : 100) : (odd ? 160 : 150));
            }
        }
        return image;
    };
    const auto cut = [](const Image& image, std::int64_t block, std::int64_t bias, float balance) {
        return bitsOf(image.width, image.height, [&](unsigned char* b, int* s) {
            return minicut(image.raster.data(), 12, image.width, image.height, block, block, bias, b, s, balance);
        });
    };
    // Block size 5 is raised to 8 with the remainder last; balance 0: each block's own threshold.
    const Bytes own = cut(board(20), 5, 0, 0.0f);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 20; ++x) {
            ASSERT_EQ(whiteAt(own, 20, x, y), (x + y) % 2 != 0) << x << "," << y;
        }
    }
    // Balance 1 or more: the whole page's threshold (between 101 and 200) turns 100 and 101 black.
    for (float balance : {1.0f, 2.0f, 0.0f, -3.0f}) {
        const Bytes bits = cut(board(16), 8, 0, balance);
        EXPECT_EQ(whiteAt(bits, 16, 9, 0), balance < 1.0f) << balance;
        EXPECT_FALSE(whiteAt(bits, 16, 8, 0));
        EXPECT_TRUE(whiteAt(bits, 16, 1, 0));
    }
    // A bias of 140 moves every block's threshold, turning the 200s black too.
    EXPECT_FALSE(whiteAt(cut(board(16), 8, 140, 0.0f), 16, 1, 0));
    // A threshold clamped at 255 (250 + 20) makes every pixel black; the padding stays white.
    EXPECT_EQ(cut(reference::uniformImage(12, 10, 251, 251, 251), 8, 20, 0.5f),
              reference::pack(reference::Plane(10, std::vector<unsigned char>(12, 0)), 12));
}

TEST(PackingExamples, Refusals)
{
    // A size other than witsStep x rows, or a negative or overflowing geometry.
    const struct {
        int width, rows, size;
    } cases[] = {{10, 3, 13}, {-100, 2, -16}, {-1, 1, 0}, {8, -3, -12}, {INT_MAX, 2, 0}, {65536, 524288, 0},
                 {65536, 262144, static_cast<int>(8192u * 262144u)}};
    Bytes bits(16, 0x5A), plane(40, 0);
    CaptureStderr();
    for (const auto& c : cases) {
        int size = c.size;
        EXPECT_FALSE(CreatDataBin(plane.data(), c.width, c.rows, bits.data(), &size)) << c.width << "x" << c.rows;
        EXPECT_EQ(size, c.size);
    }
    int size = 4, other = 4;
    EXPECT_FALSE(CreatDataBin(nullptr, 4, 1, bits.data(), &size) || CreatDataBin(plane.data(), 4, 1, nullptr, &other));
    EXPECT_EQ(size + other, 0);
    EXPECT_FALSE(CreatDataBin(plane.data(), 4, 1, bits.data(), nullptr));
    EXPECT_TRUE(CreatDataBin(plane.data(), 20, 0, bits.data(), &size));  // zero rows, size 0
    GetCapturedStderr();
    DoTurnOver(bits.data(), 0);
    DoTurnOver(bits.data(), -5);
    DoTurnOver(nullptr, 8);
    EXPECT_EQ(bits, Bytes(16, 0x5A));
}
