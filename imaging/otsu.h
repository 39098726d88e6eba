#pragma once

unsigned char myotsu(int width, int height, const unsigned char* raster, unsigned int selector);
unsigned char GrayOtsu(int width, int height);

// Gray histogram of the image rows of a true-colour raster, each pixel's
// bytes 0, 1, 2 taken as blue, green, red. A null raster or a size the
// binarizers refuse gives an empty histogram.
void grayHistogram(int width, int height, const unsigned char* raster, unsigned int selector, int histogram[256],
                   bool firstByteBlue = true);

// The gray plane of the image rows (width bytes per row, byte 0 of a pixel in
// the blue position) and its histogram in one pass, for binarizers that use
// each pixel's gray value twice and keep it instead of computing it again.
void grayPlaneHistogram(int width, int height, const unsigned char* raster, unsigned int selector,
                        unsigned char* plane, int histogram[256], bool firstByteBlue = true);

// myotsu's selection on a histogram of `pixelCount` pixels (no manual threshold).
unsigned char myotsuOfHistogram(const int histogram[256], int pixelCount);
