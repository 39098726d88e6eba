#pragma once

bool InterlImageAdaptiveThreshold(int width, int height, const unsigned char* image, unsigned int graySelector,
                                  unsigned char* bits, int* DataBinSize);
