// Sharp text and recognisable pictures on one page: the page is looked at in
// tiles of 8 x 8 pixels. Tiles of text, rules and codes are thresholded at the
// page's Otsu threshold, exactly as TrueCollorBitToOnebit does; tiles of
// continuous tone (photographs, gradients, gray fills) are dithered against
// the 8 x 8 Bayer table at the pixel's position on the page, exactly as
// makeDitherBayer8 does, so that picture tiles join without seams.
//
// A pixel is continuous tone when its gray value g is a mid-tone
// (textToneLow <= g <= textToneHigh) and it is not on an edge to paper: on
// such an edge the gray values of its 3 x 3 neighbourhood (cut at the page's
// edges) span textEdgeRange or more and reach above textToneHigh. So the
// mid-tones on the edges of anti-aliased text and codes do not count, while
// a gray fill counts up to the strokes of text printed on it. A tile is
// dithered when more than a quarter of its pixels are continuous tone (tiles
// at the right and bottom edges are smaller; the quarter is of their own
// pixels). All arithmetic is on integers.
#pragma once

inline constexpr int textTile = 8;
inline constexpr int textToneLow = 24;
inline constexpr int textToneHigh = 231;
inline constexpr int textEdgeRange = 96;

// The binarizer of the colour road, with `extra` white rows below the image;
// the gray selector as for the Otsu and Bayer choices.
bool TextAndPicturesToOnebit(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                             unsigned char* bits, int* DataBinSize);
// The same, reading the raster as `reading` says (24BitTo1Bit.h).
struct PageReading;
bool TextAndPicturesToOnebit(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                             unsigned char* bits, int* DataBinSize, const PageReading& reading);
