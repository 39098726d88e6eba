// Block-wise binarization with a threshold voted by three histogram criteria.
#include "imaging/minicut.h"

#include <climits>
#include <cmath>
#include <cstdint>

#include "diagnostics/middleDataSave.h"
#include "imaging/24BitTo1Bit.h"
#include "imaging/GrayAlgorithm.h"
#include "imaging/ImageBuffer.h"

namespace {

struct ClippedRect {
    std::int64_t left, right, top, bottom;  // right and bottom exclusive
    bool empty() const { return left >= right || top >= bottom; }
};

ClippedRect clip(int width, int height, std::int64_t rw, std::int64_t rh, int x, int y)
{
    ClippedRect r;
    r.left = x > 0 ? x : 0;
    r.top = y > 0 ? y : 0;
    // Sizes beyond +-2^40 clip the same as 2^40 does (images are narrower
    // than 2^31); limiting them keeps the sums from overflowing.
    constexpr std::int64_t limit = std::int64_t{1} << 40;
    rw = rw > limit ? limit : rw < -limit ? -limit : rw;
    rh = rh > limit ? limit : rh < -limit ? -limit : rh;
    const std::int64_t xe = static_cast<std::int64_t>(x) + rw;
    const std::int64_t ye = static_cast<std::int64_t>(y) + rh;
    r.right = xe < width ? xe : width;
    r.bottom = ye < height ? ye : height;
    return r;
}

unsigned char grayAt(const unsigned char* image, int stride, std::int64_t x, std::int64_t y, unsigned int selector)
{
    const unsigned char* p = image + y * stride + x * 3;
    unsigned char g = 0;
    RGB2Gray(&g, p[0], p[1], p[2], selector);
    return g;
}

bool usableSize(int width, int height) { return width >= 0 && height >= 0 && width <= (INT_MAX - 31) / 24; }

}  // namespace

int OptimalThreshold(const unsigned char* image, unsigned int graySelector, int width, int height, std::int64_t rw,
                     std::int64_t rh, int x, int y)
{
    if (image == nullptr || !usableSize(width, height)) {
        return -1;
    }
    const ClippedRect rect = clip(width, height, rw, rh, x, y);
    if (rect.empty()) {
        return -1;
    }
    const int stride = trueColourStride(width);

    double h[256] = {};
    for (std::int64_t row = rect.top; row < rect.bottom; ++row) {
        for (std::int64_t col = rect.left; col < rect.right; ++col) {
            h[grayAt(image, stride, col, row, graySelector)] += 1.0;
        }
    }

    int lo = 255;
    for (int i = 0; i <= 254; ++i) {
        if (h[i] != 0.0) {
            lo = i;
            break;
        }
    }
    int hi = 0;
    for (int i = 255; i >= 1; --i) {
        if (h[i] != 0.0) {
            hi = i;
            break;
        }
    }
    if (lo > hi) {
        return -1;
    }
    if (lo == hi) {
        return lo == 0 ? 0 : lo - 1;
    }

    double N = 0.0, S2 = 0.0, S1 = 0.0;
    for (int i = lo; i <= hi; ++i) {
        N += h[i];
        S2 += h[i] * static_cast<double>(i * i);
        S1 += h[i] * static_cast<double>(i);
    }

    bool recorded[3] = {false, false, false};
    int best[3] = {0, 0, 0};
    double bestScore[3] = {0.0, 0.0, 0.0};
    double w0 = 0.0, A2 = 0.0, A1 = 0.0;
    for (int t = lo; t <= hi - 1; ++t) {
        w0 += h[t];
        A2 += h[t] * static_cast<double>(t * t);
        A1 += h[t] * static_cast<double>(t);
        const double w1 = N - w0;
        const double B2 = S2 - A2;
        const double B1 = S1 - A1;

        double score[3];
        // Least within-class variance.
        const double var0 = A2 / w0 - ((A1 * A1) / w0) / w0;
        const double var1 = B2 / w1 - ((B1 * B1) / w1) / w1;
        score[0] = -(var0 * w0 + var1 * w1);

        // Maximum entropy.
        double entropy = 0.0;
        for (int i = lo; i <= t; ++i) {
            if (h[i] > 0.0) {
                entropy -= (std::log(h[i] / w0) * h[i]) / w0;
            }
        }
        for (int i = t + 1; i <= hi; ++i) {
            if (h[i] > 0.0) {
                entropy -= (std::log(h[i] / w1) * h[i]) / w1;
            }
        }
        score[1] = entropy;

        // Balance of the second moments about t.
        double L = 0.0;
        for (int i = lo; i <= t; ++i) {
            L += (h[i] * static_cast<double>(t - i)) * static_cast<double>(t - i);
        }
        double D = L, E = L;
        for (int i = t + 1; i <= hi; ++i) {
            const double term = (h[i] * static_cast<double>(i - t)) * static_cast<double>(i - t);
            D -= term;
            E += term;
        }
        score[2] = E > 0.0 ? -std::fabs(D / E) : 0.0;

        for (int k = 0; k < 3; ++k) {
            // Strictly greater: a tie keeps the lower candidate.
            if (!recorded[k] || score[k] > bestScore[k]) {
                recorded[k] = true;
                best[k] = t;
                bestScore[k] = score[k];
            }
        }
    }

    int T = (best[0] + best[1] + best[2]) / 3;
    if (T <= lo || T >= hi) {
        T = (lo + hi) / 2;
    }
    return T;
}

void CreateWhiteAndBlackData(const unsigned char* image, unsigned char* plane, unsigned int graySelector, int width,
                             int height, std::int64_t rw, std::int64_t rh, int x, int y, int threshold)
{
    if (image == nullptr || plane == nullptr || !usableSize(width, height)) {
        return;
    }
    const ClippedRect rect = clip(width, height, rw, rh, x, y);
    if (rect.empty()) {
        return;
    }
    const int stride = trueColourStride(width);
    for (std::int64_t row = rect.top; row < rect.bottom; ++row) {
        for (std::int64_t col = rect.left; col < rect.right; ++col) {
            plane[row * width + col] = grayAt(image, stride, col, row, graySelector) > threshold ? 255 : 0;
        }
    }
}

bool minicut(const unsigned char* image, unsigned int graySelector, unsigned int width, unsigned int height,
             std::int64_t blockWidth, std::int64_t blockHeight, std::int64_t bias, unsigned char* bits,
             int* DataBinSize, float balance)
{
    if (DataBinSize == nullptr) {
        return false;
    }
    if (image == nullptr || width > static_cast<unsigned int>(INT_MAX) || height > static_cast<unsigned int>(INT_MAX) ||
        !usableSize(static_cast<int>(width), static_cast<int>(height))) {
        *DataBinSize = 0;
        return false;
    }
    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);
    const std::int64_t pixels = static_cast<std::int64_t>(w) * h;
    // An empty image still goes to the packer, which accepts zero rows.
    auto plane = allocateScratch<unsigned char>(pixels > 0 ? pixels : 1);
    if (!plane) {
        *DataBinSize = 0;
        return false;
    }

    const std::int64_t bw = blockWidth < 9 ? 8 : blockWidth;
    const std::int64_t bh = blockHeight < 9 ? 8 : blockHeight;
    const std::int64_t columns = w / bw + (w % bw != 0 ? 1 : 0);
    const std::int64_t rows = h / bh + (h % bh != 0 ? 1 : 0);

    const int global = OptimalThreshold(image, graySelector, w, h, w, h, 0, 0);

    // The weight of the whole-image threshold; NaN counts as 0.
    float b = balance;
    if (!(b >= 0.0f)) {
        b = 0.0f;
    }
    if (b > 1.0f) {
        b = 1.0f;
    }
    const float G = static_cast<float>(global) * b;
    const float localWeight = 1.0f - b;
    const float fbias = static_cast<float>(bias);

    for (std::int64_t r = 0; r < rows; ++r) {
        for (std::int64_t c = 0; c < columns; ++c) {
            const int left = static_cast<int>(c * bw);
            const int top = static_cast<int>(r * bh);
            const std::int64_t blockW = (c == columns - 1 && w % bw != 0) ? w % bw : bw;
            const std::int64_t blockH = (r == rows - 1 && h % bh != 0) ? h % bh : bh;

            int local = OptimalThreshold(image, graySelector, w, h, blockW, blockH, left, top);
            if (local < 0) {
                local = 128;
            }
            float T = (static_cast<float>(local) * localWeight + G) + fbias;
            if (T > 255.0f) {
                T = 255.0f;
            }
            if (T < 0.0f) {
                T = 0.0f;
            }
            CreateWhiteAndBlackData(image, plane.get(), graySelector, w, h, blockW, blockH, left, top,
                                    static_cast<int>(T));
        }
    }

    const bool packed = CreatDataBin(plane.get(), w, h, bits, DataBinSize);
    if (packed) {
        TraceLog("minicut:CreatDataBin sucess DataBinSize==%d\r\n", *DataBinSize);
    } else {
        TraceLog("minicut:CreatDataBin failed \r\n");
    }
    return packed;
}
