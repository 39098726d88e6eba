// A true-colour test raster whose pixel (x, y) holds (x, y, 200) and whose
// row padding holds 0xEE, so every output pixel tells where it came from.
#pragma once

#include <vector>

#include "imaging/ImageBuffer.h"

inline std::vector<unsigned char> coordinateRaster(int w, int h)
{
    const int stride = trueColourStride(w);
    std::vector<unsigned char> r(static_cast<std::size_t>(stride * h), 0xEE);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            unsigned char* p = r.data() + y * stride + x * 3;
            p[0] = static_cast<unsigned char>(x);
            p[1] = static_cast<unsigned char>(y);
            p[2] = 200;
        }
    }
    return r;
}
