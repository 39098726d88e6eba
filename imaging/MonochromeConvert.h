#pragma once

unsigned char MonochromeConvertOtsu(int width, int height, const unsigned char* raster, unsigned int selector);
unsigned char GrayMonochromeConvertOtsu(int width, int height);
bool MonochromeConvert(int width, int height, const unsigned char* raster, unsigned int selector, unsigned char* bits,
                       int* DataBinSize);
