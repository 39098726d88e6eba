// Bit raster packing, colour-order helpers and the Otsu page binarizer.
#pragma once

void TrueCollorRGBToBGR(int width, int height, unsigned char* raster);
bool CreatDataBin(const unsigned char* gray, int width, int rows, unsigned char* bits, int* DataBinSize);
void DoTurnOver(unsigned char* buffer, int length);

// Otsu-threshold binarization of a true-colour page with `extra` white rows below it.
bool TrueCollorBitToOnebit(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                           unsigned char* bits, int* DataBinSize);
