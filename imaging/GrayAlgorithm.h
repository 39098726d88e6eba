// Colour-to-gray conversion: one dispatcher over fourteen formulas and the
// standalone formula operations. Channels are taken in blue, green, red order.
#pragma once

// Single-precision factor that brings selector 4's weighted gamma sum back to 0..255.
inline constexpr float k = 0.5473731f;

void RGB2Gray(unsigned char* out, unsigned char b, unsigned char g, unsigned char r, unsigned int selector);

void RGB2GrayTypical(unsigned char* out, int b, int g, int r);
void RGB2GrayAverage(unsigned char* out, int b, int g, int r);
void RGB2GrayWeightedAverage(unsigned char* out, int b, int g, int r);
void RGB2GrayInPhotoShop(unsigned char* out, int b, int g, int r);
void rgb2GrayGammaCorrection(unsigned char* out, int b, int g, int r);
void rgb2GrayLuminance(unsigned char* out, int b, int g, int r);
void rgb2GrayHQLuminance(unsigned char* out, int b, int g, int r);
void rgb2GrayChanelBlue(unsigned char* out, int b, int g, int r);
void rgb2GrayChanelRed(unsigned char* out, int b, int g, int r);
void rgb2GrayChanelGreen(unsigned char* out, int b, int g, int r);

float lightness(int b, int g, int r);
double MyPow(double base, double exponent);

// Gray value of every pixel of one row of a true-colour raster: out[x] is
// exactly RGB2Gray of pixel x, with byte 0 of each pixel in the blue
// position when `firstByteBlue` is true and byte 2 otherwise. Selector 12,
// the one every page binarization uses, runs in a vectorisable form.
void RGB2GrayRow(const unsigned char* pixels, int width, unsigned int selector, bool firstByteBlue,
                 unsigned char* out);

// The vector units RGB2GrayRow's formulas run on: the widest the processor
// has (on x86-64 Linux AVX2 where present, else the portable build's), or
// fewer when limited; every choice gives the same bits, which the
// cross-checks verify for each.
enum class GrayVectorUnits { Baseline, Avx2 };
GrayVectorUnits grayVectorUnits();
void limitGrayVectorUnits(GrayVectorUnits units);

// RGB2GrayRow over `height` rows of a raster with `rasterStride` bytes per
// row, into a plane of `width` bytes per row (byte 0 in the blue position).
void RGB2GrayPlane(const unsigned char* raster, int width, int height, int rasterStride, unsigned int selector,
                   unsigned char* plane);

