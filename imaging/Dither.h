#pragma once

extern const int BAYER_PATTERN_8X8[8][8];
extern const int BAYER_PATTERN_16X16[16][16];

bool makeDitherBayer8(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                      unsigned char* bits, int* DataBinSize);
bool makeDitherBayer16(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                       unsigned char* bits, int* DataBinSize);

// The same, reading the raster as `reading` says (24BitTo1Bit.h).
struct PageReading;
bool makeDitherBayer8(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                      unsigned char* bits, int* DataBinSize, const PageReading& reading);
bool makeDitherBayer16(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                       unsigned char* bits, int* DataBinSize, const PageReading& reading);
