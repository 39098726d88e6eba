// Manual threshold, the error-diffusion family and the integer
// Floyd-Steinberg halftone.
#pragma once

bool Threshold(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
               unsigned char* bits, int* DataBinSize);

bool ErrorDiffusionFloydSteinberg7351(int width, int height, int extra, const unsigned char* raster,
                                      unsigned int selector, unsigned char* bits, int* DataBinSize);
bool ErrorDiffusionBurkes(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                          unsigned char* bits, int* DataBinSize);
bool ErrorDiffusionSierra(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                          unsigned char* bits, int* DataBinSize);
bool ErrorDiffusionStucki(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                          unsigned char* bits, int* DataBinSize);

// The same, reading the raster as `reading` says (24BitTo1Bit.h).
struct PageReading;
bool Threshold(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
               unsigned char* bits, int* DataBinSize, const PageReading& reading);
bool ErrorDiffusionFloydSteinberg7351(int width, int height, int extra, const unsigned char* raster,
                                      unsigned int selector, unsigned char* bits, int* DataBinSize,
                                      const PageReading& reading);
bool ErrorDiffusionBurkes(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                          unsigned char* bits, int* DataBinSize, const PageReading& reading);
bool ErrorDiffusionSierra(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                          unsigned char* bits, int* DataBinSize, const PageReading& reading);
bool ErrorDiffusionStucki(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                          unsigned char* bits, int* DataBinSize, const PageReading& reading);
bool ErrorDiffusionFloydSteinberg(int width, int height, const unsigned char* raster, unsigned int selector,
                                  unsigned char* bits, int* DataBinSize);

bool FloydSteinberg(int width, int height, const unsigned char* raster, unsigned int selector, unsigned char* bits,
                    int* DataBinSize);

// Building blocks of FloydSteinberg, exposed so that they can be checked on
// their own. The next border threshold (-65..191) of the generator whose
// state starts at 0 on every call, and the error a border pixel of gray
// `gray` set to `halftone` (0 or 255) passes on.
int FloydSteinbergBorderThreshold(unsigned int* state);
int FloydSteinbergInitialError(int gray, int halftone);
