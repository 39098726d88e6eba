// A deterministic receipt-like colour page for the benchmarks and the
// comparison script: text strokes, rules, a barcode and a photograph-like
// block, repeating every 1000 rows so that every length has the same mix.
#pragma once

#include <cstddef>
#include <vector>

// Bytes per row of a true-colour raster of `width` pixels.
std::size_t receiptStride(int width);

// The page as CUPS delivers it: R,G,B bytes, rows padded to 4 bytes.
std::vector<unsigned char> makeReceiptPage(int width, int height);
