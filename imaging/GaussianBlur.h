#pragma once

void windowAverage(int row, int column, int width, int height, const unsigned char* source,
                   unsigned char* destination);
bool GaussianBlur(int width, int height, unsigned char* image);
bool GaussianBlurFast(int width, int height, unsigned char* image);
