// Bit raster packing, colour-order helpers and the Otsu page binarizer.
#pragma once

#include <cstdint>

void TrueCollorRGBToBGR(int width, int height, unsigned char* raster);
bool CreatDataBin(const unsigned char* gray, int width, int rows, unsigned char* bits, int* DataBinSize);
void DoTurnOver(unsigned char* buffer, int length);

// Otsu-threshold binarization of a true-colour page with `extra` white rows below it.
bool TrueCollorBitToOnebit(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                           unsigned char* bits, int* DataBinSize);

// Sizes a page binarizer works with, computed once. Every byte count here fits
// a signed 32-bit int, so the 32-bit arithmetic callers and messages use
// cannot overflow.
struct BinarizeGeometry {
    int width = 0;
    int height = 0;        // image rows
    int rows = 0;          // image rows plus the extra white rows
    int rasterStride = 0;  // bytes per true-colour row
    int witsStep = 0;      // bytes per bit-raster row
    std::int64_t imagePixels = 0;  // width * height
    std::int64_t planePixels = 0;  // width * rows
};

// Fills `geometry` and returns true when width and height are positive, extra
// is not negative and the raster, plane and bit-raster sizes all fit 32 bits.
bool binarizeGeometry(int width, int height, int extra, BinarizeGeometry* geometry);

// Which raster byte of a pixel goes into the blue position of RGB2Gray.
// Most binarizers take byte 0 as blue; the manual threshold and the integer
// halftone take byte 2 as blue.
enum class ChannelOrder { FirstByteBlue, ThirdByteBlue };

// Fills a two-level plane of geometry.rows rows: image pixels whose gray
// value is above `threshold` are white (255), the others black (0); the
// extra rows below the image are white.
void thresholdPlane(const BinarizeGeometry& geometry, const unsigned char* raster, unsigned int selector,
                    unsigned char threshold, ChannelOrder order, unsigned char* plane);
