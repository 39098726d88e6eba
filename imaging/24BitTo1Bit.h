// Bit raster packing, colour-order helpers and the Otsu page binarizer.
#pragma once

#include <cstdint>

void TrueCollorRGBToBGR(int width, int height, unsigned char* raster);
bool CreatDataBin(const unsigned char* gray, int width, int rows, unsigned char* bits, int* DataBinSize);
void DoTurnOver(unsigned char* buffer, int length);

// How a page binarizer reads its raster, and the manual threshold it follows.
struct PageReading {
    // Pixels in blue-green-red order, as TrueCollorRGBToBGR leaves them. When
    // false, in the red-green-blue order CUPS delivers them: the binarizer then
    // takes the first and third byte of each pixel the other way round, which
    // gives exactly the gray values of the swapped raster without a pass over
    // the page to swap it.
    bool swapped = true;
    unsigned int manualThreshold = 0;  // the manual threshold setting; 0: none
};

// The reading of a binarizer called without one: swapped pixels and the
// manual threshold of settingsThermalSensitivity.
PageReading settingsPageReading();

// Otsu-threshold binarization of a true-colour page with `extra` white rows below it.
bool TrueCollorBitToOnebit(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                           unsigned char* bits, int* DataBinSize);
bool TrueCollorBitToOnebit(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                           unsigned char* bits, int* DataBinSize, const PageReading& reading);

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

// The byte a binarizer that takes `nominal` as blue takes under `reading`.
inline ChannelOrder readingOrder(ChannelOrder nominal, const PageReading& reading)
{
    if (reading.swapped) {
        return nominal;
    }
    return nominal == ChannelOrder::FirstByteBlue ? ChannelOrder::ThirdByteBlue : ChannelOrder::FirstByteBlue;
}

// Row-wise packing, for binarizers that make their pixels a row at a time
// and need no plane of the whole page. Together the three steps give the
// bits, the size and the messages CreatDataBin gives for the same plane:
// beginPackedRows checks what CreatDataBin checks (a null bit raster, a size
// other than witsStep x rows) and reports and fails as it does;
// packWhiteFlags writes one row (a nonzero flag is a white pixel, an exact 0
// a black one, padding bits set); endPackedRows sets *DataBinSize and writes
// the success line.
bool beginPackedRows(int width, int rows, const unsigned char* bits, int* DataBinSize);
void packWhiteFlags(const unsigned char* flags, int width, unsigned char* bitRow);
void endPackedRows(int width, int rows, int* DataBinSize);

// Bytes of row scratch thresholdRows needs for `width` pixels.
inline std::int64_t thresholdRowsScratch(int width) { return static_cast<std::int64_t>(width) * 2; }

// Binarizes against a global threshold straight into the bit raster: a pixel
// is white when its gray value is above `threshold`; the extra rows below
// the image are white. `scratch` holds thresholdRowsScratch(width) bytes.
// Returns what CreatDataBin would return for the equivalent plane.
bool thresholdRows(const BinarizeGeometry& geometry, const unsigned char* raster, unsigned int selector,
                   unsigned char threshold, ChannelOrder order, unsigned char* scratch, unsigned char* bits,
                   int* DataBinSize);

// The same from a gray plane already made (width bytes per image row);
// `flags` is one row of scratch.
bool thresholdGrayPlane(const BinarizeGeometry& geometry, const unsigned char* grayPlane, unsigned char threshold,
                        unsigned char* flags, unsigned char* bits, int* DataBinSize);
