#include "imaging/GrayAlgorithm.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

// Gamma of the weighted-gamma formula and its inverse, both single precision
// and widened to double where they are used.
constexpr float gammaF = 2.2f;
constexpr float inverseGammaF = 1.0f / 2.2f;

// The "Photoshop" formula works with the double-precision gamma instead.
constexpr double photoShopGamma = 2.2;
constexpr double photoShopInverseGamma = 1.0 / 2.2;

// Conversion of a formula result to the stored byte: truncation toward zero,
// then the low 8 bits.
inline unsigned char truncatedByte(double value) { return static_cast<unsigned char>(static_cast<int>(value)); }
inline unsigned char truncatedByte(float value) { return static_cast<unsigned char>(static_cast<int>(value)); }

inline double typical(int b, int g, int r) { return (0.299 * r + 0.587 * g) + 0.114 * b; }

inline unsigned int average(int b, int g, int r)
{
    return (static_cast<unsigned int>(b + g + r) * 21846u) >> 16;
}

inline double weightedAverage(int b, int g, int r) { return ((0.11 * b + 0.59 * g) + 0.3 * r) / 3.0; }

inline double inPhotoShop(int b, int g, int r)
{
    const double sum = (0.6274 * std::pow(static_cast<double>(g), photoShopGamma) +
                        0.2973 * std::pow(static_cast<double>(r), photoShopGamma)) +
                       0.0753 * std::pow(static_cast<double>(b), photoShopGamma);
    return std::pow(sum, photoShopInverseGamma);
}

inline double gammaCorrection(int b, int g, int r)
{
    // The weights scale the channel before the power; the products are single precision.
    const double weightedGreen = static_cast<double>(1.5f * static_cast<float>(g));
    const double weightedBlue = static_cast<double>(0.6f * static_cast<float>(b));
    const double gamma = static_cast<double>(gammaF);
    const double sum = (std::pow(weightedGreen, gamma) + std::pow(static_cast<double>(r), gamma)) +
                       std::pow(weightedBlue, gamma);
    return static_cast<double>(k) * std::pow(sum, static_cast<double>(inverseGammaF));
}

inline double luminance(int b, int g, int r)
{
    return (std::min({b, g, r}) + std::max({b, g, r})) * 0.5;
}

inline int hqLuminance(int b, int g, int r) { return (218 * r + 732 * g + 74 * b) >> 10; }

inline float rec709(int b, int g, int r)
{
    return ((0.2126f * static_cast<float>(r) + 0.7152f * static_cast<float>(g)) + 0.0722f * static_cast<float>(b)) +
           0.5f;
}

// Pixels per block of the row conversion: small enough for the stack and the
// first-level cache, large enough to amortise the loop set-up.
constexpr int grayBlock = 64;

// The two formulas the page binarizations use, for the block conversion.
struct Rec709Formula {  // selector 12, what every page binarizer is given
    static unsigned char gray(int b, int g, int r) { return truncatedByte(rec709(b, g, r)); }
};
struct TypicalFormula {  // selector 0, also what the manual threshold's setting usually selects
    static unsigned char gray(int b, int g, int r) { return truncatedByte(typical(b, g, r)); }
};

// One block of at most grayBlock pixels. The channels are first widened into
// separate arrays so that both loops run on whole vectors; each lane performs
// exactly the operations of the scalar formula in the same order and
// precision, so the bits are those of RGB2Gray, whatever the vector width.
template <class Formula, int Blue>
__attribute__((always_inline)) inline void grayOfBlock(const unsigned char* __restrict pixels, int count,
                                                       unsigned char* __restrict out)
{
    int b[grayBlock], g[grayBlock], r[grayBlock];
    constexpr int blue = Blue;
    constexpr int red = 2 - Blue;
    for (int i = 0; i < count; ++i) {
        b[i] = pixels[3 * i + blue];
        g[i] = pixels[3 * i + 1];
        r[i] = pixels[3 * i + red];
    }
    for (int i = 0; i < count; ++i) {
        out[i] = Formula::gray(b[i], g[i], r[i]);
    }
}

template <class Formula, int Blue>
__attribute__((always_inline)) inline void grayOfRowIn(const unsigned char* pixels, int width, unsigned char* out)
{
    for (int x = 0; x < width; x += grayBlock) {
        grayOfBlock<Formula, Blue>(pixels + static_cast<std::ptrdiff_t>(3) * x, std::min(grayBlock, width - x),
                                   out + x);
    }
}

#if defined(__GNUC__) && !defined(__clang__)
#define ZORVAN_VECTORIZE __attribute__((optimize("tree-vectorize")))
#else
#define ZORVAN_VECTORIZE
#endif

// The portable row conversion, and on x86-64 Linux the same code compiled
// for AVX2, chosen at run time.
template <class Formula, int Blue>
ZORVAN_VECTORIZE void grayOfRowBaseline(const unsigned char* pixels, int width, unsigned char* out)
{
    grayOfRowIn<Formula, Blue>(pixels, width, out);
}

#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__)
#define ZORVAN_GRAY_AVX2 1
template <class Formula, int Blue>
__attribute__((target("avx2"))) ZORVAN_VECTORIZE void grayOfRowAvx2(const unsigned char* pixels, int width,
                                                                   unsigned char* out)
{
    grayOfRowIn<Formula, Blue>(pixels, width, out);
}

GrayVectorUnits bestGrayVectorUnits()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? GrayVectorUnits::Avx2 : GrayVectorUnits::Baseline;
}
#else
GrayVectorUnits bestGrayVectorUnits() { return GrayVectorUnits::Baseline; }
#endif

GrayVectorUnits grayUnits = bestGrayVectorUnits();

template <class Formula>
void grayOfRow(const unsigned char* pixels, int width, bool firstByteBlue, unsigned char* out)
{
#ifdef ZORVAN_GRAY_AVX2
    if (grayUnits == GrayVectorUnits::Avx2) {
        if (firstByteBlue) {
            grayOfRowAvx2<Formula, 0>(pixels, width, out);
        } else {
            grayOfRowAvx2<Formula, 2>(pixels, width, out);
        }
        return;
    }
#endif
    if (firstByteBlue) {
        grayOfRowBaseline<Formula, 0>(pixels, width, out);
    } else {
        grayOfRowBaseline<Formula, 2>(pixels, width, out);
    }
}

}  // namespace

GrayVectorUnits grayVectorUnits() { return grayUnits; }

void limitGrayVectorUnits(GrayVectorUnits units)
{
    const GrayVectorUnits best = bestGrayVectorUnits();
    grayUnits = units < best ? units : best;
}

void RGB2GrayRow(const unsigned char* pixels, int width, unsigned int selector, bool firstByteBlue,
                 unsigned char* out)
{
    if (pixels == nullptr || out == nullptr || width < 1) {
        return;
    }
    if (selector == 12) {
        grayOfRow<Rec709Formula>(pixels, width, firstByteBlue, out);
        return;
    }
    if (selector == 0 || selector > 13) {
        grayOfRow<TypicalFormula>(pixels, width, firstByteBlue, out);
        return;
    }
    const int blue = firstByteBlue ? 0 : 2;
    const int red = 2 - blue;
    for (int x = 0; x < width; ++x, pixels += 3) {
        RGB2Gray(out + x, pixels[blue], pixels[1], pixels[red], selector);
    }
}

void RGB2GrayPlane(const unsigned char* raster, int width, int height, int rasterStride, unsigned int selector,
                   unsigned char* plane)
{
    if (raster == nullptr || plane == nullptr || width < 1) {
        return;
    }
    for (int y = 0; y < height; ++y) {
        RGB2GrayRow(raster + static_cast<std::ptrdiff_t>(rasterStride) * y, width, selector, true,
                    plane + static_cast<std::ptrdiff_t>(width) * y);
    }
}

void RGB2Gray(unsigned char* out, unsigned char b, unsigned char g, unsigned char r, unsigned int selector)
{
    switch (selector) {
    case 1:
        *out = static_cast<unsigned char>(average(b, g, r));
        break;
    case 2:
        *out = truncatedByte(weightedAverage(b, g, r));
        break;
    case 3:
        *out = truncatedByte(inPhotoShop(b, g, r));
        break;
    case 4:
        *out = truncatedByte(gammaCorrection(b, g, r));
        break;
    case 5:
        *out = truncatedByte(luminance(b, g, r));
        break;
    case 6:
        *out = static_cast<unsigned char>(hqLuminance(b, g, r));
        break;
    case 7:
        *out = b;
        break;
    case 8:
        *out = r;
        break;
    case 9:
        *out = g;
        break;
    case 10:
        *out = std::max({b, g, r});
        break;
    case 11:
        *out = std::min({b, g, r});
        break;
    case 12:
        *out = truncatedByte(rec709(b, g, r));
        break;
    case 13:
        *out = (b + g + r) != 0 ? 255 : 0;
        break;
    default:  // 0 and every unknown selector
        *out = truncatedByte(typical(b, g, r));
        break;
    }
}

void RGB2GrayTypical(unsigned char* out, int b, int g, int r) { *out = truncatedByte(typical(b, g, r)); }

void RGB2GrayAverage(unsigned char* out, int b, int g, int r)
{
    *out = static_cast<unsigned char>(average(b, g, r));
}

void RGB2GrayWeightedAverage(unsigned char* out, int b, int g, int r)
{
    *out = truncatedByte(weightedAverage(b, g, r));
}

void RGB2GrayInPhotoShop(unsigned char* out, int b, int g, int r) { *out = truncatedByte(inPhotoShop(b, g, r)); }

void rgb2GrayGammaCorrection(unsigned char* out, int b, int g, int r)
{
    *out = truncatedByte(gammaCorrection(b, g, r));
}

void rgb2GrayLuminance(unsigned char* out, int b, int g, int r) { *out = truncatedByte(luminance(b, g, r)); }

void rgb2GrayHQLuminance(unsigned char* out, int b, int g, int r)
{
    *out = static_cast<unsigned char>(hqLuminance(b, g, r));
}

void rgb2GrayChanelBlue(unsigned char* out, int b, int, int) { *out = static_cast<unsigned char>(b); }
void rgb2GrayChanelRed(unsigned char* out, int, int, int r) { *out = static_cast<unsigned char>(r); }
void rgb2GrayChanelGreen(unsigned char* out, int, int g, int) { *out = static_cast<unsigned char>(g); }

float lightness(int b, int g, int r)
{
    // The channel weights of the gamma formula are folded into the divisors
    // (425 = 255 / 0.6, 170 = 255 / 1.5).
    const double blue = static_cast<double>(static_cast<float>(b) / 425.0f);
    const double green = static_cast<double>(static_cast<float>(g) / 170.0f);
    const double red = static_cast<double>(static_cast<float>(r) / 255.0f);
    const double gamma = static_cast<double>(gammaF);
    const double sum = std::pow(green, gamma) + std::pow(red, gamma) + std::pow(blue, gamma);
    return static_cast<float>(static_cast<double>(k) * std::pow(sum, static_cast<double>(inverseGammaF)));
}

double MyPow(double base, double exponent) { return std::pow(base, exponent); }
