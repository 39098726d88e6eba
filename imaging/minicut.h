#pragma once

#include <cstdint>

int OptimalThreshold(const unsigned char* image, unsigned int graySelector, int width, int height, std::int64_t rw,
                     std::int64_t rh, int x, int y);
void CreateWhiteAndBlackData(const unsigned char* image, unsigned char* plane, unsigned int graySelector, int width,
                             int height, std::int64_t rw, std::int64_t rh, int x, int y, int threshold);
bool minicut(const unsigned char* image, unsigned int graySelector, unsigned int width, unsigned int height,
             std::int64_t blockWidth, std::int64_t blockHeight, std::int64_t bias, unsigned char* bits,
             int* DataBinSize, float balance);
