// The colour road of one page as the filter runs it, without the printer:
// adjustments, swap, the chosen binarizer, inversion and the output buffer.
#pragma once

// Print settings for a benchmark run: the binarization setting (0, 2, 3, 7,
// 8, 9, 10, 11, 12), manual threshold 128, paper mode 0 (120 white rows), no
// inversion override, brightness, contrast and offsets 0.
void setRoadSettings(int algorithm);

// Runs the road on `image` (a true-colour raster, modified in place) and
// leaves the bit raster in the output buffer. Returns the number of bytes of
// the bit raster, 0 on failure.
int runColourRoad(unsigned char* image, int width, int height);
