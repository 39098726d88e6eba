#pragma once

unsigned char myotsu(int width, int height, const unsigned char* raster, unsigned int selector);
unsigned char GrayOtsu(int width, int height);
