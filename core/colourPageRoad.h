// The road of an 8-bit page: adjustments, binarization, white rows below the
// image, inversion for the printer, and the copies.
#pragma once

#include <optional>

#include "core/copySubmission.h"

class JobContext;

// Turns `image`, a true-colour raster of `cupsWidth` pixels and `actualHeight`
// rows (rows of ((cupsWidth × 24 + 31) / 32) × 4 bytes, red-green-blue as CUPS
// delivers them, modified in place), into the page's bit raster, white rows
// below included and inverted for the printer. The raster is made in the
// job's output buffer when it fits there, else in storage of its own. Nothing
// when the page failed (the error is logged).
std::optional<BitRaster> colourBitRaster(JobContext& job, unsigned char* image, int cupsWidth, int actualHeight,
                                         int pageNumber);

// The whole road: the bit raster, then its copies.
PageResult colourPageRoad(JobContext& job, unsigned char* image, int cupsWidth, int actualHeight, int numCopies,
                          int pageNumber);
