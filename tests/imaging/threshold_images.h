// Test images for the adaptive and min-cut binarizers: true-colour rasters
// whose pixels have equal channels, so every gray selector that keeps equal
// channels gives back the level itself.
#pragma once

#include <vector>

#include "imaging/ImageBuffer.h"

struct GrayRaster {
    int width;
    int height;
    int stride;
    std::vector<unsigned char> bytes;

    GrayRaster(int w, int h, unsigned char level = 255)
        : width(w), height(h), stride(trueColourStride(w)), bytes(static_cast<std::size_t>(stride * h), 0x5A)
    {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                set(x, y, level);
            }
        }
    }
    void set(int x, int y, unsigned char level)
    {
        unsigned char* p = bytes.data() + y * stride + x * 3;
        p[0] = p[1] = p[2] = level;
    }
    const unsigned char* data() const { return bytes.data(); }
};

// A bit raster buffer sized for the packer, with the expected size.
struct Bits {
    int witsStep;
    int size;
    std::vector<unsigned char> bytes;

    Bits(int w, int rows)
        : witsStep(bitRasterStride(w)), size(witsStep * rows), bytes(static_cast<std::size_t>(size > 0 ? size : 1), 0x33)
    {
    }
    // A set bit is white.
    bool white(int x, int y) const
    {
        return (bytes[static_cast<std::size_t>(witsStep * y + x / 8)] >> (7 - x % 8)) & 1;
    }
};
