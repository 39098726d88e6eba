// Plain, literal transcriptions of the gray formulas and of every page
// binarizer, kept deliberately simple (2-D vectors, one step per line of the
// definition) so that faster production code can be checked against them bit
// for bit. Also random test images and a trace-log capture.
#pragma once

#include "diagnostics/middleDataSave.h"
#include "support/Process.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace reference {

using Bytes = std::vector<unsigned char>;
using Plane = std::vector<std::vector<unsigned char>>;  // [row][column], 0 or 255

// ---- Images ----

inline int rasterStride(int width) { return (width * 24 + 31) / 32 * 4; }
inline int witsStep(int width) { return (width + 31) / 32 * 4; }

struct Image {
    int width = 0;
    int height = 0;
    Bytes raster;
    unsigned char* pixel(int x, int y) { return raster.data() + std::size_t(y) * rasterStride(width) + 3 * x; }
    const unsigned char* pixel(int x, int y) const { return raster.data() + y * rasterStride(width) + 3 * x; }
};

enum class Content { Noise, Smooth, FewLevels, Uniform };

// Random pixels; padding bytes hold junk so that a result that depends on
// them shows up as a mismatch.
inline Image randomImage(int width, int height, std::mt19937& random, Content content = Content::Noise)
{
    Image image{width, height, Bytes(std::size_t(rasterStride(width)) * height)};
    for (auto& byte : image.raster) {
        byte = static_cast<unsigned char>(random());
    }
    const int level = random() & 0xFF;
    const int levels[4] = {0, 50, 200, 255};
    for (int y = 0; y < height && content != Content::Noise; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                int v = level;
                if (content == Content::Smooth) {  // ramps with a little noise, like a photograph
                    v = std::clamp(x * 255 / std::max(1, width - 1) / 2 + y * 255 / std::max(1, height - 1) / 2 +
                                       int(random() % 21) - 10,
                                   0, 255);
                } else if (content == Content::FewLevels) {
                    v = levels[(x / 3 + y / 2) % 4];
                }
                image.pixel(x, y)[c] = static_cast<unsigned char>(v);
            }
        }
    }
    return image;
}

inline Image uniformImage(int width, int height, unsigned char b, unsigned char g, unsigned char r)
{
    Image image{width, height, Bytes(std::size_t(rasterStride(width)) * height, 0xCD)};
    for (int i = 0; i < width * height; ++i) {
        std::copy_n(std::array{b, g, r}.data(), 3, image.pixel(i % width, i / width));
    }
    return image;
}

// ---- Gray formulas, as written ----

inline unsigned char gray(int b, int g, int r, unsigned int selector)
{
    switch (selector) {
    case 1: return static_cast<unsigned char>((static_cast<std::uint32_t>(b + g + r) * 21846u) >> 16);
    case 2: return static_cast<unsigned char>(static_cast<int>(((0.11 * b + 0.59 * g) + 0.3 * r) / 3.0));
    case 3: {
        const double sum = (0.6274 * std::pow(double(g), 2.2) + 0.2973 * std::pow(double(r), 2.2)) +
                           0.0753 * std::pow(double(b), 2.2);
        return static_cast<unsigned char>(static_cast<int>(std::pow(sum, 0.45454545454545453)));
    }
    case 4: {
        const float g15 = 1.5f * float(g);
        const float b06 = 0.6f * float(b);
        const double gamma = 2.200000047683716;
        const double sum = (std::pow(double(g15), gamma) + std::pow(double(r), gamma)) + std::pow(double(b06), gamma);
        return static_cast<unsigned char>(static_cast<int>(0.5473731160163879 * std::pow(sum, 0.45454543828964233)));
    }
    case 5: return static_cast<unsigned char>(static_cast<int>((std::min({b, g, r}) + std::max({b, g, r})) * 0.5));
    case 6: return static_cast<unsigned char>((218 * r + 732 * g + 74 * b) >> 10);
    case 7: return static_cast<unsigned char>(b);
    case 8: return static_cast<unsigned char>(r);
    case 9: return static_cast<unsigned char>(g);
    case 10: return static_cast<unsigned char>(std::max({b, g, r}));
    case 11: return static_cast<unsigned char>(std::min({b, g, r}));
    case 12: {
        const float v = ((0.2126f * float(r) + 0.7152f * float(g)) + 0.0722f * float(b)) + 0.5f;
        return static_cast<unsigned char>(static_cast<int>(v));
    }
    case 13: return (b + g + r) != 0 ? 255 : 0;
    default: return static_cast<unsigned char>(static_cast<int>((0.299 * r + 0.587 * g) + 0.114 * b));
    }
}

// Byte 0 in the blue position (Otsu, Bayer, error diffusion), or byte 2
// when `reversed` (manual threshold, integer halftone, adaptive threshold).
inline unsigned char grayAt(const Image& image, int x, int y, unsigned int selector, bool reversed = false)
{
    const unsigned char* p = image.pixel(x, y);
    return reversed ? gray(p[2], p[1], p[0], selector) : gray(p[0], p[1], p[2], selector);
}

// ---- Packing ----

inline Bytes pack(const Plane& plane, int width)
{
    const int step = witsStep(width);
    Bytes bits(std::size_t(step) * plane.size(), 0xFF);
    for (std::size_t y = 0; y < plane.size(); ++y) {
        for (int x = 0; x < width; ++x) {
            if (plane[y][x] == 0) {
                bits[y * step + x / 8] &= static_cast<unsigned char>(~(1u << (7 - x % 8)));
            }
        }
    }
    return bits;
}

inline Plane whitePlane(int width, int rows) { return Plane(rows, std::vector<unsigned char>(width, 255)); }

// ---- Otsu selections ----

inline std::vector<int> histogram(const Image& image, unsigned int selector)
{
    std::vector<int> counts(256, 0);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            counts[grayAt(image, x, y, selector)] += 1;
        }
    }
    return counts;
}

inline int myotsu(const Image& image, unsigned int selector, unsigned int manual)
{
    if (manual != 0) {
        return manual & 0xFF;
    }
    const std::vector<int> counts = histogram(image, selector);
    bool occupied = false;
    for (int i = 1; i <= 254; ++i) {
        occupied = occupied || counts[i] != 0;
    }
    if (!occupied) {
        return 128;
    }
    const float n = float(image.height * image.width);
    std::vector<float> probability(256);
    for (int i = 0; i < 256; ++i) {
        probability[i] = float(counts[i]) / n;
    }
    int best = 0;
    float maxVariance = 0;
    for (int t = 0; t <= 255; ++t) {
        float w0 = 0, s0 = 0, w1 = 0, s1 = 0;
        for (int i = 0; i <= 255; ++i) {
            if (i <= t) {
                w0 = w0 + probability[i];
                s0 = s0 + float(i) * probability[i];
            } else {
                w1 = w1 + probability[i];
                s1 = s1 + float(i) * probability[i];
            }
        }
        float mu0 = s0 / w0;
        float mu = s0 + s1;
        float mu1 = s1 / w1;
        float d0 = mu0 - mu;
        float d1 = mu1 - mu;
        float sigma = (w0 * d0) * d0 + (w1 * d1) * d1;
        if (sigma > maxVariance) {
            best = t;
            maxVariance = sigma;
        }
    }
    return best;
}

inline int monochromeOtsu(const Image& image, unsigned int selector)
{
    const std::vector<int> counts = histogram(image, selector);
    double total = 0;
    for (int i = 0; i < 256; ++i) {
        total += double(counts[i]) * i;
    }
    const int n = image.height * image.width;
    int best = 0;
    double maxVariance = 0.0;
    int c = 0;
    double s0 = 0.0;
    for (int i = 0; i < 256; ++i) {
        c += counts[i];
        if (c != 0 && c != n) {
            s0 += double(counts[i]) * i;
            double mu0 = s0 / double(c);
            double mu1 = (total - s0) / double(n - c);
            double sigma = (((double(n - c)) * double(c)) * (mu0 - mu1)) * (mu0 - mu1);
            if (sigma > maxVariance) {
                best = i;
                maxVariance = sigma;
            }
        }
    }
    return best;
}

// ---- Global thresholds ----

inline Plane thresholdPlane(const Image& image, int extra, unsigned int selector, int threshold, bool reversed)
{
    Plane plane = whitePlane(image.width, image.height + extra);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            plane[y][x] = grayAt(image, x, y, selector, reversed) > threshold ? 255 : 0;
        }
    }
    return plane;
}

// ---- Bayer matrices by the recursive construction ----

inline std::vector<std::vector<int>> bayerIndex(int size)
{
    std::vector<std::vector<int>> m = {{0, 2}, {3, 1}};
    for (int n = 2; n < size; n *= 2) {
        std::vector<std::vector<int>> next(2 * n, std::vector<int>(2 * n));
        for (int r = 0; r < 2 * n; ++r) {
            for (int c = 0; c < 2 * n; ++c) {
                const int base[2][2] = {{0, 2}, {3, 1}};
                next[r][c] = 4 * m[r % n][c % n] + base[r / n][c / n];
            }
        }
        m = next;
    }
    return m;
}

inline std::vector<std::vector<int>> bayer8()
{
    auto m = bayerIndex(8);
    for (auto& row : m) {
        for (auto& v : row) {
            v *= 4;
        }
    }
    return m;
}

inline std::vector<std::vector<int>> bayer16()
{
    const auto m = bayerIndex(16);
    std::vector<std::vector<int>> table(16, std::vector<int>(16));
    for (int r = 0; r < 16; ++r) {
        for (int c = 0; c < 16; ++c) {
            table[r][c] = 255 * (2 * m[c][r] + 1) / 512;
        }
    }
    return table;
}

inline Plane bayerPlane(const Image& image, int extra, unsigned int selector, const std::vector<std::vector<int>>& table)
{
    const int n = static_cast<int>(table.size());
    Plane plane = whitePlane(image.width, image.height + extra);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            plane[y][x] = table[x % n][y % n] <= grayAt(image, x, y, selector) ? 255 : 0;
        }
    }
    return plane;
}

// ---- Otsu in tiles of text, Bayer 8x8 in tiles of continuous tone ----

inline Plane textAndPicturesPlane(const Image& image, int extra, unsigned int selector)
{
    const int w = image.width, h = image.height;
    const Plane dithered = bayerPlane(image, extra, selector, bayer8());
    Plane plane = thresholdPlane(image, extra, selector, myotsu(image, selector, 0), false);
    for (int ty = 0; ty < h; ty += 8) {
        for (int tx = 0; tx < w; tx += 8) {
            int tone = 0, pixels = 0;
            for (int y = ty; y < std::min(ty + 8, h); ++y) {
                for (int x = tx; x < std::min(tx + 8, w); ++x, ++pixels) {
                    int low = 255, high = 0;
                    for (int ny = std::max(y - 1, 0); ny <= std::min(y + 1, h - 1); ++ny) {
                        for (int nx = std::max(x - 1, 0); nx <= std::min(x + 1, w - 1); ++nx) {
                            low = std::min<int>(low, grayAt(image, nx, ny, selector));
                            high = std::max<int>(high, grayAt(image, nx, ny, selector));
                        }
                    }
                    const int g = grayAt(image, x, y, selector);
                    tone += g >= 24 && g <= 231 && !(high - low >= 96 && high > 231) ? 1 : 0;
                }
            }
            for (int y = ty; y < std::min(ty + 8, h) && 4 * tone > pixels; ++y) {
                for (int x = tx; x < std::min(tx + 8, w); ++x) {
                    plane[y][x] = dithered[y][x];
                }
            }
        }
    }
    return plane;
}

// ---- Error diffusion with a floating-point working buffer ----

struct KernelCell {
    int dx, dy, weight;
};

struct Diffusion {
    std::vector<KernelCell> cells;
    double divisor;  // 16, 32 or 42
    int margin;      // pixels at each side that do not diffuse
    int bottomRows;  // rows at the bottom that do not diffuse
};

inline Diffusion floydSteinberg7351() { return {{{1, 0, 7}, {-1, 1, 3}, {0, 1, 5}, {1, 1, 1}}, 16, 1, 1}; }
inline Diffusion burkes()
{
    return {{{1, 0, 8}, {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 8}, {1, 1, 4}, {2, 1, 2}}, 32, 2, 1};
}
inline Diffusion sierra()
{
    return {{{1, 0, 5}, {2, 0, 3}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 5}, {1, 1, 4}, {2, 1, 2}, {-1, 2, 2}, {0, 2, 3},
             {1, 2, 2}},
            32, 2, 2};
}
inline Diffusion stucki()
{
    return {{{1, 0, 8}, {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 8}, {1, 1, 4}, {2, 1, 2}, {-2, 2, 1}, {-1, 2, 2},
             {0, 2, 4}, {1, 2, 2}, {2, 2, 1}},
            42, 2, 2};
}

inline Plane errorDiffusionPlane(const Image& image, int extra, unsigned int selector, int threshold,
                                 const Diffusion& kernel, int ditherAction)
{
    const int w = image.width, h = image.height;
    const double f = std::min(1.0, std::max(0.0, ditherAction * 0.01));
    std::vector<std::vector<float>> buffer(h, std::vector<float>(w));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            buffer[y][x] = float(grayAt(image, x, y, selector));
        }
    }
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const float oldValue = buffer[y][x];
            const float newValue = float(threshold) < oldValue ? 255.0f : 0.0f;
            buffer[y][x] = newValue;
            const bool diffuses = x >= kernel.margin && x <= w - 1 - kernel.margin && y <= h - 1 - kernel.bottomRows;
            if (!diffuses) {
                continue;
            }
            const double e = double(oldValue - newValue);
            for (const KernelCell& cell : kernel.cells) {
                double share;
                if (kernel.divisor == 42) {
                    share = (e * cell.weight) / 42.0;
                } else {
                    share = (e * cell.weight) * (1.0 / kernel.divisor);
                }
                float& neighbour = buffer[y + cell.dy][x + cell.dx];
                neighbour = float((double(neighbour) + share) * f);
            }
        }
    }
    Plane plane = whitePlane(w, h + extra);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            plane[y][x] = static_cast<unsigned char>(static_cast<int>(buffer[y][x]));
        }
    }
    return plane;
}

// ---- Error diffusion on a byte plane, neighbours clamped to 0..255 ----

inline Plane byteFloydSteinbergPlane(const Image& image, unsigned int selector, int ditherAction)
{
    const int w = image.width, h = image.height;
    const double f = std::min(1.0, std::max(0.0, ditherAction * 0.01));
    const int threshold = monochromeOtsu(image, selector);
    Plane plane(h, std::vector<unsigned char>(w));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            plane[y][x] = grayAt(image, x, y, selector);
        }
    }
    const KernelCell cells[4] = {{1, 0, 7}, {-1, 1, 3}, {0, 1, 5}, {1, 1, 1}};
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int oldValue = plane[y][x];
            const int newValue = oldValue > threshold ? 255 : 0;
            plane[y][x] = static_cast<unsigned char>(newValue);
            const int err = oldValue - newValue;
            for (const KernelCell& cell : cells) {
                const int nx = x + cell.dx, ny = y + cell.dy;
                if (nx >= 1 && nx <= w - 1 && ny >= 1 && ny <= h - 1) {
                    const int share = static_cast<int>(((cell.weight * err) * 0.0625) * f);
                    plane[ny][nx] = static_cast<unsigned char>(std::clamp(plane[ny][nx] + share, 0, 255));
                }
            }
        }
    }
    for (auto& row : plane) {
        for (auto& v : row) {
            v = v > threshold ? 255 : 0;
        }
    }
    return plane;
}

// ---- Integer halftone with randomised borders ----

struct BorderRandom {
    std::uint32_t state = 0;
    int next()
    {
        state = state * 1103515245u + 12345u;
        const std::int32_t r = static_cast<std::int32_t>(state) >> 12;
        return r % 129 + 63;
    }
};

inline int initialError(int x, int y) { return x - (y == 255 ? 255 : 0) + (127 - x) / 2; }

inline Plane floydSteinbergHalftonePlane(const Image& image, unsigned int selector)
{
    const int w = image.width, h = image.height;
    Plane g(h, std::vector<unsigned char>(w));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            g[y][x] = grayAt(image, x, y, selector, true);
        }
    }
    Plane out(h, std::vector<unsigned char>(w, 0));
    std::vector<int> previous(w, 0), current(w, 0);
    BorderRandom random;
    int e = 0;
    for (int y = 0; y < h; ++y) {
        const int t = random.next();
        const int p = g[y][0] + e;
        out[y][0] = p > t ? 255 : 0;
        e = p - out[y][0];
    }
    e = 0;
    for (int y = 0; y < h; ++y) {
        const int t = random.next();
        const int p = g[y][w - 1] + e;
        out[y][w - 1] = p > t ? 255 : 0;
        e = p - out[y][w - 1];
    }
    for (int x = 0; x < w; ++x) {
        const int t = random.next();
        const int p = g[0][x] + e;
        out[0][x] = p > t ? 255 : 0;
        previous[x] = initialError(g[0][x], out[0][x]);
        e = p - out[0][x];
    }
    for (int y = 1; y < h; ++y) {
        current[0] = initialError(g[y][0], out[y][0]);
        for (int x = 1; x <= w - 2; ++x) {
            const int s = previous[x - 1] + 5 * previous[x] + 3 * previous[x + 1] + 7 * current[x - 1];
            const int p = g[y][x] + s / 16;
            if (p > 127) {
                out[y][x] = 255;
                current[x] = p - 255;
            } else {
                out[y][x] = 0;
                current[x] = p;
            }
        }
        current[0] = initialError(g[y][0], out[y][0]);
        current[w - 1] = initialError(g[y][w - 1], out[y][w - 1]);
        std::swap(previous, current);
    }
    return out;
}

// ---- Adaptive threshold against 90 % of a window's sum ----

inline Plane adaptivePlane(const Image& image, unsigned int selector)
{
    const int w = image.width, h = image.height, half = w / 2;
    std::vector<std::vector<std::int64_t>> I(h, std::vector<std::int64_t>(w));  // sums over x' <= x, y' <= y
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            I[y][x] = grayAt(image, x, y, selector, true) + (x > 0 ? I[y][x - 1] : 0) + (y > 0 ? I[y - 1][x] : 0) -
                      (x > 0 && y > 0 ? I[y - 1][x - 1] : 0);
        }
    }
    Plane plane = whitePlane(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int x1 = std::max(x - half, 0), x2 = std::min(x + half, w - 1);
            const int y1 = std::max(y - half, 0), y2 = std::min(y + half, h - 1);
            const std::int64_t count = (x2 - x1) * (y2 - y1);
            const std::int64_t sum = I[y2][x2] - I[y1][x2] - I[y2][x1] + I[y1][x1];
            plane[y][x] = count * grayAt(image, x, y, selector, true) >= sum * 90 / 100 ? 255 : 0;
        }
    }
    return plane;
}

// ---- Trace log capture ----

// Points the trace log at a private directory and switches it on for the
// lifetime of the object.
class TraceCapture {
public:
    TraceCapture()
    {
        std::memcpy(savedPath_, path, sizeof savedPath_);
        std::snprintf(path, sizeof path, "%s", dir_.path().c_str());
        SetSaveLogDataFalg(1);
    }
    ~TraceCapture()
    {
        SetSaveLogDataFalg(0);
        std::memcpy(path, savedPath_, sizeof savedPath_);
    }
    std::string text() const { return std::filesystem::exists(dir_.file("Print.log")) ? testsupport::readFile(dir_.file("Print.log")) : ""; }

private:
    testsupport::TempDir dir_;
    char savedPath_[256] = {};
};

}  // namespace reference
