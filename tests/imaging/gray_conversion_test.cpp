// Gray conversion: the fourteen formulas of the dispatcher, the standalone
// formula operations and the reference values they must hit to the bit.
#include "imaging/GrayAlgorithm.h"
#include "reference_binarizers.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>
#include <vector>

namespace {

unsigned char gray(int b, int g, int r, unsigned int selector)
{
    unsigned char out = 0xA5;
    RGB2Gray(&out, static_cast<unsigned char>(b), static_cast<unsigned char>(g), static_cast<unsigned char>(r),
             selector);
    return out;
}

// Rounds an exactly held long double to double; the caller checks that the
// long double really was exact, so this is one correctly rounded IEEE step.
double roundedExact(long double exact) { return static_cast<double>(exact); }

// Selector 0 of an equal-channel pixel, emulated one IEEE double operation at
// a time: each product and sum is formed exactly in long double (an 8-bit
// integer times a 53-bit mantissa needs at most 61 bits) and rounded once.
int typicalLevelExactly(int v, bool* exact)
{
    const long double pr = static_cast<long double>(0.299) * v;
    const long double pg = static_cast<long double>(0.587) * v;
    const long double pb = static_cast<long double>(0.114) * v;
    const double r = roundedExact(pr), g = roundedExact(pg), b = roundedExact(pb);
    const long double s1 = static_cast<long double>(r) + g;
    const double s1d = roundedExact(s1);
    const long double s2 = static_cast<long double>(s1d) + b;
    // Exactness: undoing each exact operation gives its operands back.
    *exact = (s1 - r == g) && (s2 - s1d == b);
    return static_cast<int>(std::trunc(roundedExact(s2)));
}

}  // namespace

TEST(GrayConversion, ConstantsHaveTheirExactValues)
{
    EXPECT_EQ(static_cast<double>(k), 0.5473731160163879);
    EXPECT_EQ(static_cast<double>(2.2f), 2.200000047683716);
    EXPECT_EQ(static_cast<double>(1.0f / 2.2f), 0.45454543828964233);
    EXPECT_EQ(1.0 / 2.2, 0.45454545454545453);
    EXPECT_EQ(static_cast<double>(0.6f), 0.6000000238418579);
    EXPECT_EQ(static_cast<double>(0.2126f), 0.2125999927520752);
    EXPECT_EQ(static_cast<double>(0.7152f), 0.7152000069618225);
    EXPECT_EQ(static_cast<double>(0.0722f), 0.0722000002861023);
}

TEST(GrayConversion, BlackIsZeroAndWhiteDependsOnTheFormula)
{
    for (unsigned int s = 0; s <= 13; ++s) {
        EXPECT_EQ(gray(0, 0, 0, s), 0) << "selector " << s;
    }
    const int white[14] = {255, 255, 85, 255, 254, 255, 255, 255, 255, 255, 255, 255, 255, 255};
    for (unsigned int s = 0; s <= 13; ++s) {
        EXPECT_EQ(gray(255, 255, 255, s), white[s]) << "selector " << s;
    }
}

TEST(GrayConversion, PurePrimariesUnderEachFormula)
{
    // Selectors 0..6 and 12, in that order.
    const unsigned int selectors[8] = {0, 1, 2, 3, 4, 5, 6, 12};
    const int red[8] = {76, 85, 25, 146, 139, 127, 54, 54};
    const int green[8] = {149, 85, 50, 206, 209, 127, 182, 182};
    const int blue[8] = {29, 85, 9, 78, 83, 127, 18, 18};
    for (int i = 0; i < 8; ++i) {
        const unsigned int s = selectors[i];
        EXPECT_EQ(gray(0, 0, 255, s), red[i]) << "red, selector " << s;
        EXPECT_EQ(gray(0, 255, 0, s), green[i]) << "green, selector " << s;
        EXPECT_EQ(gray(255, 0, 0, s), blue[i]) << "blue, selector " << s;
    }
    // Channel copies, largest and smallest.
    EXPECT_EQ(gray(10, 20, 30, 7), 10);
    EXPECT_EQ(gray(10, 20, 30, 8), 30);
    EXPECT_EQ(gray(10, 20, 30, 9), 20);
    EXPECT_EQ(gray(10, 30, 20, 10), 30);
    EXPECT_EQ(gray(20, 10, 30, 11), 10);
}

TEST(GrayConversion, SixtyFiveLevelsOfTheTypicalFormulaComeOutOneLower)
{
    if (LDBL_MANT_DIG < 64) {
        GTEST_SKIP() << "needs a long double of at least 64 mantissa bits";
    }
    std::vector<int> lower;
    for (int v = 0; v < 256; ++v) {
        bool exact = true;
        const int expected = typicalLevelExactly(v, &exact);
        ASSERT_TRUE(exact) << v;
        ASSERT_TRUE(expected == v || expected == v - 1) << v;
        EXPECT_EQ(gray(v, v, v, 0), expected) << "level " << v;
        if (expected == v - 1) {
            lower.push_back(v);
        }
    }
    EXPECT_EQ(lower.size(), 65u);
    EXPECT_EQ(gray(1, 1, 1, 0), 0);
    EXPECT_EQ(gray(2, 2, 2, 0), 1);
    EXPECT_EQ(gray(3, 3, 3, 0), 3);
    EXPECT_EQ(gray(127, 127, 127, 0), 126);
    EXPECT_EQ(gray(128, 128, 128, 0), 127);
    EXPECT_EQ(gray(254, 254, 254, 0), 253);
    EXPECT_EQ(gray(255, 255, 255, 0), 255);
}

TEST(GrayConversion, EqualChannelsUnderTheOtherFormulas)
{
    for (int v = 0; v < 256; ++v) {
        for (unsigned int s : {1u, 3u, 5u, 6u, 12u}) {
            EXPECT_EQ(gray(v, v, v, s), v) << "selector " << s << " level " << v;
        }
        EXPECT_EQ(gray(v, v, v, 4), v == 0 ? 0 : v - 1) << "level " << v;
    }
}

TEST(GrayConversion, UnknownSelectorsActAsTheTypicalFormula)
{
    std::mt19937 random(7);
    for (int i = 0; i < 200; ++i) {
        const int b = random() & 0xFF, g = random() & 0xFF, r = random() & 0xFF;
        const unsigned char expected = gray(b, g, r, 0);
        for (unsigned int s : {14u, 255u, 4294967295u, static_cast<unsigned int>(-1)}) {
            EXPECT_EQ(gray(b, g, r, s), expected);
        }
    }
}

TEST(GrayConversion, PresenceFormulaMakesEveryNonBlackPixelWhite)
{
    EXPECT_EQ(gray(0, 0, 1, 13), 255);
    EXPECT_EQ(gray(1, 0, 0, 13), 255);
    EXPECT_EQ(gray(0, 0, 0, 13), 0);
}

TEST(GrayConversion, Rec709FormulaWeightsTheFirstChannelAsBlue)
{
    // Exchanging the first and third byte exchanges their weights.
    EXPECT_EQ(gray(255, 0, 0, 12), 18);
    EXPECT_EQ(gray(0, 0, 255, 12), 54);
}

TEST(GrayConversion, StandaloneFormulasMatchTheDispatcher)
{
    using Formula = void (*)(unsigned char*, int, int, int);
    const struct {
        Formula formula;
        unsigned int selector;
    } pairs[] = {{RGB2GrayTypical, 0},     {RGB2GrayAverage, 1},      {RGB2GrayWeightedAverage, 2},
                 {RGB2GrayInPhotoShop, 3}, {rgb2GrayGammaCorrection, 4}, {rgb2GrayLuminance, 5},
                 {rgb2GrayHQLuminance, 6}, {rgb2GrayChanelBlue, 7},   {rgb2GrayChanelRed, 8},
                 {rgb2GrayChanelGreen, 9}};
    std::mt19937 random(11);
    for (int i = 0; i < 3000; ++i) {
        const int b = random() & 0xFF, g = random() & 0xFF, r = random() & 0xFF;
        for (const auto& pair : pairs) {
            unsigned char out = 0;
            pair.formula(&out, b, g, r);
            ASSERT_EQ(out, gray(b, g, r, pair.selector)) << "selector " << pair.selector;
        }
    }
}

TEST(GrayConversion, LightnessIsTheGammaFormulaOnTheUnitScale)
{
    EXPECT_EQ(lightness(0, 0, 0), 0.0f);
    const float white = lightness(255, 255, 255);
    EXPECT_LT(white, 1.0f);
    EXPECT_GT(white, 0.99f);
    // The same value follows from the literal definition. The inputs are
    // volatile so that the compiler cannot fold the powers at build time with
    // a differently rounding implementation.
    volatile float b = 200.0f, g = 100.0f, r = 50.0f;
    volatile double gamma = 2.200000047683716, root = 0.45454543828964233;
    const double expected = 0.5473731160163879 * std::pow(std::pow(static_cast<double>(g / 170.0f), gamma) +
                                                              std::pow(static_cast<double>(r / 255.0f), gamma) +
                                                              std::pow(static_cast<double>(b / 425.0f), gamma),
                                                          root);
    EXPECT_EQ(lightness(200, 100, 50), static_cast<float>(expected));
}

TEST(GrayConversion, MyPowIsThePowerFunction)
{
    volatile double base = 200.0, exponent = 2.2;
    EXPECT_EQ(MyPow(2.0, 10.0), 1024.0);
    EXPECT_EQ(MyPow(base, exponent), std::pow(base, exponent));
}

TEST(GrayConversion, DispatcherMatchesTheLiteralFormulasOnRandomPixels)
{
    std::mt19937 random(12345);
    for (int i = 0; i < 20000; ++i) {
        const int b = random() & 0xFF, g = random() & 0xFF, r = random() & 0xFF;
        for (unsigned int s = 0; s <= 14; ++s) {
            ASSERT_EQ(gray(b, g, r, s), reference::gray(b, g, r, s)) << "selector " << s << " " << b << "," << g
                                                                      << "," << r;
        }
    }
}
