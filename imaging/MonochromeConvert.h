#pragma once

unsigned char MonochromeConvertOtsu(int width, int height, const unsigned char* raster, unsigned int selector);
unsigned char GrayMonochromeConvertOtsu(int width, int height);
// MonochromeConvertOtsu's selection on a histogram of `pixelCount` pixels.
unsigned char monochromeOtsuOfHistogram(const int histogram[256], int pixelCount);
bool MonochromeConvert(int width, int height, const unsigned char* raster, unsigned int selector, unsigned char* bits,
                       int* DataBinSize);
