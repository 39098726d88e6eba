#pragma once

unsigned char myotsu(int width, int height, const unsigned char* raster, unsigned int selector);
unsigned char GrayOtsu(int width, int height);

// Gray histogram of the image rows of a true-colour raster, each pixel's
// bytes 0, 1, 2 taken as blue, green, red. A null raster or a size the
// binarizers refuse gives an empty histogram.
void grayHistogram(int width, int height, const unsigned char* raster, unsigned int selector, int histogram[256]);
