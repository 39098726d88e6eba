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
bool ErrorDiffusionFloydSteinberg(int width, int height, const unsigned char* raster, unsigned int selector,
                                  unsigned char* bits, int* DataBinSize);

bool FloydSteinberg(int width, int height, const unsigned char* raster, unsigned int selector, unsigned char* bits,
                    int* DataBinSize);
