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
