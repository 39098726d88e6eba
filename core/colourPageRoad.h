// The road of an 8-bit page: adjustments, binarization, white rows below the
// image, inversion for the printer, and the copies.
#pragma once

#include "core/copySubmission.h"

// `image` is a true-colour raster of `cupsWidth` pixels and `actualHeight`
// rows (rows of ((cupsWidth × 24 + 31) / 32) × 4 bytes), modified in place.
PageResult colourPageRoad(unsigned char* image, int cupsWidth, int actualHeight, int numCopies, int pageNumber);
