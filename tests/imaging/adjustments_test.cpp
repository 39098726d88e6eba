// Image adjustments: brightness/contrast, offset, zoom, rotation, sharpening
// and blur, with hand-derived examples, the same bits in every build, and
// what each does when it cannot get its working memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "diagnostics/middleDataSave.h"
#include "imaging/AdaptiveThreshold.h"
#include "imaging/FunctionAsistant.h"
#include "imaging/GaussianBlur.h"
#include "imaging/ImageBuffer.h"
#include "imaging/minicut.h"
#include "support/CappedChild.h"
#include "support/Process.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Pixel (x, y) holds (x, y, 200) and the row padding 0xEE, so every output
// pixel tells where it came from.
Bytes coordinates(int w, int h)
{
    Bytes r(static_cast<std::size_t>(trueColourStride(w) * h), 0xEE);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            unsigned char* p = r.data() + y * trueColourStride(w) + x * 3;
            p[0] = static_cast<unsigned char>(x);
            p[1] = static_cast<unsigned char>(y);
            p[2] = 200;
        }
    }
    return r;
}

const unsigned char* pixel(const Bytes& r, int rowBytes, int x, int y) { return r.data() + y * rowBytes + x * 3; }

struct Result {
    std::unique_ptr<unsigned char[]> data;
    unsigned int width = 777, height = 777, rowBytes = 777;
    const unsigned char* at(int x, int y, int stride) const { return data.get() + y * stride + x * 3; }
};

Result zoom(const Bytes& src, int w, int h, int mode, float fx, float fy)
{
    Result z;
    z.data = f_Zoom(src.data(), w, h, static_cast<unsigned>(w * 3), &z.width, &z.height, &z.rowBytes, mode, fx, fy);
    return z;
}

Result rotate(const Bytes& src, int w, int h, int angle, int mode)
{
    Result r;
    r.data = f_Rotate(src.data(), w, h, trueColourStride(w), angle, &r.width, &r.height, &r.rowBytes, mode);
    return r;
}

// The rotation's fill pixel (0, 0, 255) differs from every coordinate pixel in its last byte.
bool isFill(const unsigned char* p) { return p[0] == 0 && p[1] == 0 && p[2] == 255; }

}  // namespace

TEST(BrightContrast, LookupTableAndPadding)
{
    // One row whose colour bytes run 0..255 reveals the whole table; 2 padding bytes.
    const auto table = [](int brightness, int contrast) {
        Bytes row(trueColourStride(86), 0xAB);
        for (int i = 0; i < 86 * 3; ++i) {
            row[i] = static_cast<unsigned char>(i);
        }
        EXPECT_EQ(f_BrightContrastPS(row.data(), 86, 1, 86 * 3, brightness, contrast), 0);
        EXPECT_EQ(row[258], 0xAB);
        EXPECT_EQ(row[259], 0xAB);
        return Bytes(row.begin(), row.begin() + 256);
    };
    const std::array<int, 8> levels = {0, 64, 97, 98, 127, 128, 200, 255};
    const struct {
        int brightness, contrast;
        std::array<int, 8> expected;
    } rows[] = {
        {50, 0, {50, 114, 147, 148, 177, 178, 250, 255}},   {-100, 0, {0, 0, 0, 0, 27, 28, 100, 155}},
        {0, 50, {0, 0, 66, 68, 126, 128, 255, 255}},        {0, -50, {63, 95, 112, 112, 127, 127, 163, 191}},
        {20, 30, {0, 65, 112, 113, 155, 156, 255, 255}},    {-20, -30, {18, 63, 86, 86, 107, 107, 158, 196}},
        {0, 99, {0, 0, 0, 0, 77, 177, 255, 255}},           {0, 100, {0, 0, 0, 0, 0, 255, 255, 255}},
        {30, 100, {0, 0, 0, 255, 255, 255, 255, 255}},      {0, -100, {127, 127, 127, 127, 127, 127, 127, 127}},
        {40, -100, {167, 167, 167, 167, 167, 167, 167, 167}}};
    for (const auto& r : rows) {
        const Bytes t = table(r.brightness, r.contrast);
        for (std::size_t k = 0; k < levels.size(); ++k) {
            EXPECT_EQ(t[levels[k]], r.expected[k]) << r.brightness << " " << r.contrast << " level " << levels[k];
        }
    }
    // Brightness alone shifts and clamps, extremes included.
    for (int b : {-2147483647 - 1, -255, -1, 0, 1, 37, 255, 2147483647}) {
        const Bytes t = table(b, 0);
        for (int i = 0; i < 256; ++i) {
            ASSERT_EQ(t[i], std::clamp(static_cast<std::int64_t>(i) + b, std::int64_t{0}, std::int64_t{255})) << b;
        }
    }
    // Every colour byte of odd sizes changes, no padding byte does; bad arguments change nothing.
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 7}, std::pair{7, 1}, std::pair{5, 3}}) {
        const int stride = trueColourStride(w);
        Bytes image(stride * h, 100);
        EXPECT_EQ(f_BrightContrastPS(image.data(), w, h, w * 3, 10, 0), 0);
        for (int i = 0; i < stride * h; ++i) {
            ASSERT_EQ(image[i], i % stride < w * 3 ? 110 : 100) << w << "x" << h;
        }
        EXPECT_EQ(f_BrightContrastPS(image.data(), 0, h, 0, 50, 0), 0);
        EXPECT_EQ(f_BrightContrastPS(image.data(), -w, h, w * 3, 50, 0), 0);
        EXPECT_EQ(f_BrightContrastPS(image.data(), w, 0, w * 3, 50, 0), 0);
        EXPECT_EQ(f_BrightContrastPS(nullptr, w, h, w * 3, 50, 0), 0);
        EXPECT_EQ(image[0], 110);
    }
}

TEST(XYOffset, ShiftsRightAndUpForPositiveAndWhitensWhatIsUncovered)
{
    // Pixel (x, y) takes source pixel (x - dx, y + dy), white where that is outside.
    const struct {
        int w, h, dx, dy;
    } cases[] = {{100, 3, 24, 0},   {100, 2, -24, 0}, {5, 30, 0, 24},     {3, 30, 1, -24},   {9, 4, 0, 0},
                 {1, 1, 1, 0},      {1, 6, 0, 2},     {6, 1, 2, 0},       {100, 7, 100, 0},  {100, 7, 0, 7},
                 {100, 7, -2400, 0}, {100, 7, 0, -2400}, {100, 7, 2147483647, -2147483647 - 1}};
    for (const auto& c : cases) {
        const Bytes source = coordinates(c.w, c.h);
        Bytes image = source;
        EXPECT_EQ(f_XYOfffset(image.data(), c.w, c.h, c.w * 3, c.dx, c.dy), 0);
        const int stride = trueColourStride(c.w);
        for (int y = 0; y < c.h; ++y) {
            for (int i = 0; i < stride; ++i) {
                const std::int64_t sx = i / 3 - static_cast<std::int64_t>(c.dx), sy = y + static_cast<std::int64_t>(c.dy);
                const bool inside = sx >= 0 && sx < c.w && sy >= 0 && sy < c.h;
                const unsigned char want = i >= c.w * 3 ? 0xEE : inside ? source[sy * stride + sx * 3 + i % 3] : 255;
                ASSERT_EQ(image[y * stride + i], want) << c.w << "x" << c.h << " by " << c.dx << "," << c.dy;
            }
        }
    }
    Bytes image = coordinates(4, 4);
    const Bytes before = image;
    for (auto [w, h] : {std::pair{4, 0}, std::pair{0, 4}, std::pair{-4, 4}}) {
        EXPECT_EQ(f_XYOfffset(image.data(), w, h, 12, 5, 5), 0);
    }
    EXPECT_EQ(f_XYOfffset(nullptr, 4, 4, 12, 5, 5), 0);
    EXPECT_EQ(image, before);
}

TEST(Zoom, FactorsAreTruncatedToHundredths)
{
    EXPECT_EQ(XzoomFactor(3, 2), 0.66f);
    EXPECT_EQ(YzoomFactor(3, 2), 0.66f);
    EXPECT_EQ(XzoomFactor(10000, 4567), 0.45f);
    EXPECT_EQ(YzoomFactor(1000, 1999), 1.99f);
    EXPECT_EQ(XzoomFactor(7, 7), 1.0f);
    float x = 0, y = 0;
    EXPECT_EQ(zoomFactor(3322, 1000, &x, &y), 0);
    EXPECT_EQ(std::pair(x, y), std::pair(0.5f, 0.5f));
    EXPECT_EQ(zoomFactor(1661, 1000, &x, &y), 0);  // the width already fits: the height's factor wins
    EXPECT_EQ(std::pair(x, y), std::pair(0.82f, 0.82f));
}

TEST(Zoom, NearestAndBilinearExamples)
{
    // Nearest at 1: a copy into rows padded with zeros.
    const Bytes small = coordinates(5, 3);
    const Result same = zoom(small, 5, 3, 0, 1.0f, 1.0f);
    ASSERT_TRUE(same.data);
    EXPECT_EQ(std::tuple(same.width, same.height, same.rowBytes), std::tuple(5u, 3u, 15u));
    for (int i = 0; i < 48; ++i) {
        ASSERT_EQ(same.data[i], i % 16 < 15 ? small[i] : 0) << i;
    }
    // Nearest halves and doubles.
    const Bytes src = coordinates(10, 4);
    const Result half = zoom(src, 10, 4, 0, 0.5f, 1.0f);
    const Result twice = zoom(src, 10, 4, 0, 2.0f, 2.0f);
    ASSERT_TRUE(half.data && twice.data);
    EXPECT_EQ(std::tuple(half.width, twice.width, twice.height), std::tuple(5u, 20u, 8u));
    for (int k = 0; k < 10; ++k) {
        EXPECT_EQ(half.at(k / 2, 2, 16)[0], k / 2 * 2);
        EXPECT_EQ(twice.at(2 * k, 5, 60)[0], k);
        EXPECT_EQ(twice.at(2 * k + 1, 5, 60)[0], k);
        EXPECT_EQ(twice.at(2 * k, 5, 60)[1], 2);
    }
    // Bilinear at 1 samples the inner pixels only: the border clamps to them.
    const Bytes six = coordinates(6, 5);
    const Result inner = zoom(six, 6, 5, 1, 1.0f, 1.0f);
    ASSERT_TRUE(inner.data);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 6; ++x) {
            EXPECT_EQ(inner.at(x, y, 20)[0], std::clamp(x, 1, 4));
            EXPECT_EQ(inner.at(x, y, 20)[1], std::clamp(y, 1, 3));
        }
    }
    // Channel 0 of (c, r) is 20c + 40r; channel 1 is 3 only at (2, 2).
    Bytes ramp(16 * 4, 0);
    for (int i = 0; i < 16; ++i) {
        ramp[i / 4 * 12 + i % 4 * 3] = static_cast<unsigned char>(20 * (i % 4) + 40 * (i / 4));
    }
    ramp[2 * 12 + 2 * 3 + 1] = 3;
    const Result z = zoom(ramp, 4, 4, 1, 2.0f, 2.0f);
    ASSERT_TRUE(z.data);
    EXPECT_EQ(z.at(3, 3, 24)[0], 90);   // (1.5, 1.5): the mean of 60, 100, 80, 120
    EXPECT_EQ(z.at(3, 3, 24)[1], 0);    // 3 x 0.25 truncates to 0
    EXPECT_EQ(z.at(3, 1, 24)[0], 70);   // (1.5, 1.0 after the clamp)
    EXPECT_EQ(z.at(1, 2, 24)[0], 60);   // (1.0, 1.0)
    EXPECT_EQ(z.at(5, 5, 24)[0], 120);  // clamped to (2, 2)
    EXPECT_EQ(z.at(5, 5, 24)[1], 3);
    EXPECT_EQ(z.at(7, 7, 24)[0], 120);
    // One pixel wide, bilinear falls back to nearest.
    const Result column = zoom(coordinates(1, 4), 1, 4, 1, 2.0f, 1.0f);
    ASSERT_TRUE(column.data);
    EXPECT_EQ(column.at(1, 3, 8)[1], 3);
}

TEST(Zoom, SizesAreTruncatedAndEmptyOrHugeResultsRefused)
{
    const Bytes src = coordinates(100, 2);
    EXPECT_EQ(zoom(src, 100, 2, 0, 0.999f, 1.0f).width, 99u);
    for (auto [fx, fy] : {std::pair{0.001f, 1.0f}, std::pair{1.0f, 0.0f}, std::pair{-1.0f, 1.0f}}) {
        for (int mode : {0, 1}) {
            const Result e = zoom(src, 100, 2, mode, fx, fy);
            EXPECT_FALSE(e.data);
            EXPECT_EQ(std::tuple(e.width, e.height, e.rowBytes), std::tuple(0u, 0u, 0u));
        }
    }
    EXPECT_EQ(zoom(src, 0, -2, 1, -1.0f, -1.0f).width, 0u);
    // No source, or a result too large to address: null, the outputs untouched.
    Result refused;
    refused.data = f_Zoom(nullptr, 4, 4, 12, &refused.width, &refused.height, &refused.rowBytes, 0, 1.0f, 1.0f);
    EXPECT_FALSE(refused.data);
    EXPECT_EQ(refused.width, 777u);
    EXPECT_EQ(zoom(src, 100, 2, 0, 1e30f, 1.0f).width, 777u);
    // Odd sizes in both modes: the size is factor x size truncated, every pixel from the source.
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 9}, std::pair{9, 1}, std::pair{2, 2}, std::pair{7, 3}}) {
        for (int mode : {0, 1}) {
            for (float f : {0.5f, 1.5f, 3.0f}) {
                const Result z = zoom(coordinates(w, h), w, h, mode, f, f);
                const int nw = static_cast<int>(f * w), nh = static_cast<int>(f * h);
                ASSERT_EQ(static_cast<bool>(z.data), nw > 0 && nh > 0);
                for (int i = 0; z.data && i < nw * nh; ++i) {
                    const unsigned char* p = z.at(i % nw, i / nw, trueColourStride(nw));
                    ASSERT_TRUE(p[0] < w && p[1] < h && p[2] == 200) << w << "x" << h << " " << f;
                }
            }
        }
    }
}

TEST(Rotate, SizesCornersAndCentre)
{
    const Bytes src = coordinates(100, 50);
    for (auto [angle, w, h] : {std::tuple{0, 100u, 50u}, {30, 111u, 93u}, {45, 106u, 106u}, {90, 50u, 100u}}) {
        for (int mode : {0, 1}) {
            const Result r = rotate(src, 100, 50, angle, mode);
            ASSERT_TRUE(r.data);
            EXPECT_EQ(std::tuple(r.width, r.height, r.rowBytes), std::tuple(w, h, w * 3)) << angle;
        }
    }
    const Result r = rotate(src, 100, 50, 45, 0);
    for (auto [x, y] : {std::pair{0, 0}, std::pair{105, 0}, std::pair{0, 105}, std::pair{105, 105}}) {
        EXPECT_TRUE(isFill(r.at(x, y, 318))) << x << "," << y;
    }
    EXPECT_EQ(std::vector<int>(r.at(53, 53, 318), r.at(53, 53, 318) + 3), (std::vector<int>{50, 25, 200}));
    // Angle 0 copies into packed rows (the source's carry padding).
    for (int mode : {0, 1}) {
        const Result copy = rotate(coordinates(5, 4), 5, 4, 0, mode);
        for (int i = 0; i < 20; ++i) {
            ASSERT_EQ(std::vector<int>(copy.at(i % 5, i / 5, 15), copy.at(i % 5, i / 5, 15) + 3),
                      (std::vector<int>{i % 5, i / 5, 200}));
        }
    }
    // Bilinear sampling counts -1 < X < 0 as outside: it fills wherever nearest does, and more.
    const Result nearest = rotate(src, 100, 50, 30, 0), bilinear = rotate(src, 100, 50, 30, 1);
    int onlyBilinear = 0, onlyNearest = 0;
    for (int i = 0; i < 111 * 93; ++i) {
        const unsigned char* b = bilinear.at(i % 111, i / 111, 333);
        onlyBilinear += isFill(b) && !isFill(nearest.at(i % 111, i / 111, 333));
        onlyNearest += !isFill(b) && isFill(nearest.at(i % 111, i / 111, 333));
        ASSERT_TRUE(isFill(b) || (b[0] <= 99 && b[1] <= 49 && b[2] >= 199)) << i;
    }
    EXPECT_GT(onlyBilinear, 0);
    EXPECT_EQ(onlyNearest, 0);
}

TEST(Rotate, OddSizesEveryAngleAndRefusals)
{
    // A uniform 7x3 source stays at its level (or one below) wherever bilinear samples it.
    const Bytes gray(trueColourStride(7) * 3, 90);
    for (int angle : {0, 10, 45, 80, 90}) {
        const Result r = rotate(gray, 7, 3, angle, 1);
        for (unsigned i = 0; i < r.width * r.height; ++i) {
            const unsigned char* p = r.data.get() + i * 3;
            ASSERT_TRUE(isFill(p) || p[0] == 89 || p[0] == 90) << angle;
        }
    }
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 6}, std::pair{6, 1}, std::pair{3, 2}}) {
        for (int angle = 0; angle <= 90; angle += 5) {
            for (int mode : {0, 1}) {
                const Result r = rotate(coordinates(w, h), w, h, angle, mode);
                ASSERT_TRUE(r.data && r.width >= 1 && r.height >= 1) << w << "x" << h << " " << angle;
                for (unsigned i = 0; i < r.width * r.height; ++i) {
                    const unsigned char* p = r.data.get() + i * 3;
                    ASSERT_TRUE(isFill(p) || (p[0] < w && p[1] < h)) << w << "x" << h << " " << angle;
                }
            }
        }
    }
    const Bytes src = coordinates(100, 50);
    for (int angle : {-1, -90, 91, 180, 360}) {
        EXPECT_FALSE(rotate(src, 100, 50, angle, 0).data) << angle;
    }
    Result r;
    for (auto [w, h, stride] : {std::tuple{100, 50, 100}, {0, 50, 0}, {100, -1, 300}}) {
        r.data = f_Rotate(src.data(), w, h, stride, 10, &r.width, &r.height, &r.rowBytes, 1);
        EXPECT_FALSE(r.data);
    }
    r.data = f_Rotate(nullptr, 4, 4, 12, 10, &r.width, &r.height, &r.rowBytes, 0);
    EXPECT_FALSE(r.data);
    EXPECT_EQ(std::tuple(r.width, r.height, r.rowBytes), std::tuple(777u, 777u, 777u));
}

TEST(Sharpen, LaplaceGaussAndUnsharpMaskExamples)
{
    const auto flat = [](int w, int h, unsigned char level) { return Bytes(w * h * 3, level); };
    // Laplace on a flat 6x5 area: the interior loses `amount` percent, the border stays.
    for (auto [amount, want] : {std::pair{10, 90}, std::pair{100, 0}, std::pair{0, 100}, std::pair{-50, 150}}) {
        Bytes image = flat(6, 5, 100);
        EXPECT_EQ(f_ImageSharpen_Laplace(image.data(), 6, 5, 18, amount), 0);
        for (int i = 0; i < 90; ++i) {
            const int x = i / 3 % 6, y = i / 18;
            ASSERT_EQ(image[i], x == 0 || y == 0 || x == 5 || y == 4 ? 100 : want) << amount << " " << i;
        }
    }
    Bytes bright = flat(5, 5, 100);
    bright[(2 * 5 + 2) * 3 + 1] = 200;
    EXPECT_EQ(f_ImageSharpen_Laplace(bright.data(), 5, 5, 15, 100), 0);
    // Channel 1 along row 2 (border, neighbour, bright, neighbour, border) and the diagonal (1, 1).
    EXPECT_EQ((std::vector<int>{bright[31], bright[34], bright[37], bright[40], bright[43], bright[19]}),
              (std::vector<int>{100, 0, 255, 0, 100, 0}));
    // Rows of 16 bytes for width 5: the padding byte is never touched.
    Bytes padded(16 * 4, 100);
    for (int y = 0; y < 4; ++y) {
        padded[y * 16 + 15] = 0xEE;
    }
    EXPECT_EQ(f_ImageSharpen_Laplace(padded.data(), 5, 4, 16, 10), 0);
    EXPECT_EQ(padded[1 * 16 + 3], 90);
    EXPECT_EQ(std::count(padded.begin(), padded.end(), 0xEE), 4);

    // Gauss radius 1 on an impulse of 255: the centre keeps weight
    // 1 / (1 + 4 e^(-1/18) + 4 e^(-2/18)) = 0.1196 (30.49), an edge pixel a side weight (28.84),
    // a corner the corner weight (27.28), the border repeating.
    Bytes impulse = flat(3, 3, 0);
    impulse[4 * 3] = 255;
    EXPECT_EQ(f_SpatialGaussFiter(impulse.data(), 3, 3, 9, 1), 0);
    EXPECT_EQ((std::vector<int>{impulse[12], impulse[3], impulse[0], impulse[13]}), (std::vector<int>{30, 28, 27, 0}));
    for (int radius : {1, 2, 5}) {
        for (unsigned char level : {0, 1, 128, 255}) {
            Bytes image = flat(7, 4, level);
            f_SpatialGaussFiter(image.data(), 7, 4, 21, radius);
            for (unsigned char v : image) {
                ASSERT_TRUE(v == level || v + 1 == level) << radius << " " << int(level);
            }
        }
    }

    // Unsharp mask on a 60 | 180 step: darker and brighter beside the edge, unchanged far away.
    Bytes edge = flat(8, 4, 60);
    for (int i = 0; i < 96; ++i) {
        edge[i] = i / 3 % 8 >= 4 ? 180 : 60;
    }
    for (auto [radius, amount, threshold] : {std::tuple{1, 100, 255}, {2, 0, 0}, {0, 200, 0}, {-4, 200, 0}}) {
        Bytes image = edge;
        EXPECT_EQ(f_ImageSharpen_USM(image.data(), 8, 4, 24, radius, amount, threshold), 0);
        EXPECT_EQ(image, edge) << radius << " " << amount << " " << threshold;
    }
    Bytes image = edge;
    EXPECT_EQ(f_ImageSharpen_USM(image.data(), 8, 4, 24, 1, 100, 0), 0);
    EXPECT_LT(image[24 + 9], 60);
    EXPECT_GT(image[24 + 12], 180);
    EXPECT_EQ(image[24], 60);
    EXPECT_EQ(image[24 + 21], 180);
    EXPECT_EQ(image[24 + 9], image[24 + 11]);

    // Nothing to do, no image, or rows too short: unchanged, and no trouble on odd sizes.
    Bytes same = flat(4, 4, 100);
    same[20] = 250;
    const Bytes before = same;
    EXPECT_EQ(f_ImageSharpen_Laplace(same.data(), 4, 4, 8, 100), 0);
    EXPECT_EQ(f_ImageSharpen_Laplace(nullptr, 4, 4, 12, 100), 0);
    EXPECT_EQ(f_SpatialGaussFiter(same.data(), 4, 4, 12, 0), 0);
    EXPECT_EQ(f_SpatialGaussFiter(same.data(), 4, 4, 12, -3), 0);
    EXPECT_EQ(f_SpatialGaussFiter(same.data(), 4, 4, 6, 1), 0);
    EXPECT_EQ(same, before);
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 9}, std::pair{9, 1}, std::pair{2, 9}, std::pair{9, 2}}) {
        Bytes odd = flat(w, h, 77);
        EXPECT_EQ(f_ImageSharpen_Laplace(odd.data(), w, h, w * 3, 100), 0);
        EXPECT_EQ(odd, flat(w, h, 77)) << w << "x" << h;
        EXPECT_EQ(f_SpatialGaussFiter(odd.data(), w, h, w * 3, 3), 0);
        odd[0] = 90;
        EXPECT_EQ(f_ImageSharpen_USM(odd.data(), w, h, w * 3, 2, 150, 1), 0);
    }
    EXPECT_EQ(f_ImageSharpen_USM(edge.data(), 8, 4, 24, 100000, 100000, -9), 0);  // clamped, not trusted
}

TEST(GaussianBlur, WindowMeansAndTheWrappingFastBlur)
{
    // 3x3, rows of 9 bytes + 3 padding: 90 in the centre, 200 in channel 2 of (2, 2).
    Bytes image(36, 0);
    std::fill_n(image.begin() + 12 + 3, 3, 90);
    image[24 + 8] = 200;
    std::fill_n(image.begin() + 9, 3, 0xEE);
    ASSERT_TRUE(GaussianBlur(3, 3, image.data()));
    // Centre 90 / 9, edge 90 / 6, corner 90 / 4, (2, 2): (90 + 200) / 4 and 90 / 4.
    EXPECT_EQ((std::vector<int>{image[15], image[3], image[0], image[32], image[31], image[9]}),
              (std::vector<int>{10, 15, 22, 72, 22, 0xEE}));
    // windowAverage on its own: pixel (3, 1) of a 4x2 image with 12-byte rows, itself 0.
    Bytes source(24, 30), destination(24, 1);
    std::fill_n(source.begin() + 12 + 9, 3, 0);
    windowAverage(1, 3, 4, 2, source.data(), destination.data());
    windowAverage(5, 0, 4, 2, source.data(), destination.data());  // outside: ignored
    EXPECT_EQ(destination[12 + 9], 22);  // (30 + 30 + 30 + 0) / 4
    EXPECT_EQ(std::count(destination.begin(), destination.end(), 1), 21);

    // The fast blur wraps around: a bright first column of 6 spreads 4/6 : 1/6 : 1/6.
    Bytes column(trueColourStride(6) * 4, 0);
    for (int y = 0; y < 4; ++y) {
        std::fill_n(column.begin() + y * 20, 3, 255);
        std::fill_n(column.begin() + y * 20 + 18, 2, 0xEE);
    }
    ASSERT_TRUE(GaussianBlurFast(6, 4, column.data()));
    for (int y = 0; y < 4; ++y) {
        EXPECT_EQ((std::vector<int>(column.begin() + y * 20, column.begin() + y * 20 + 20)),
                  (std::vector<int>{170, 170, 170, 42, 42, 42, 0, 0, 0, 0, 0, 0, 0, 0, 0, 42, 42, 42, 0xEE, 0xEE}));
    }
    // One column of three: the five taps wrap more than once.
    Bytes thin = {0, 0, 0, 0xEE, 60, 60, 60, 0xEE, 0, 0, 0, 0xEE};
    ASSERT_TRUE(GaussianBlurFast(1, 3, thin.data()));
    EXPECT_EQ(thin, (Bytes{10, 10, 10, 0xEE, 40, 40, 40, 0xEE, 10, 10, 10, 0xEE}));

    // Uniform images stay as they are under both; null or negative sizes fail, empty ones do nothing.
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 5}, std::pair{5, 1}, std::pair{2, 2}, std::pair{7, 3}}) {
        for (int level = 0; level < 256; level += 51) {
            Bytes a(trueColourStride(w) * h, level), b = a;
            ASSERT_TRUE(GaussianBlur(w, h, a.data()) && GaussianBlurFast(w, h, b.data()));
            ASSERT_EQ(a, Bytes(a.size(), level)) << w << "x" << h;
            ASSERT_EQ(b, Bytes(b.size(), level)) << w << "x" << h;
        }
    }
    const Bytes before = thin;
    EXPECT_FALSE(GaussianBlur(3, 3, nullptr) || GaussianBlurFast(3, 3, nullptr));
    EXPECT_FALSE(GaussianBlur(-3, 3, thin.data()) || GaussianBlurFast(3, -3, thin.data()));
    EXPECT_TRUE(GaussianBlur(0, 3, thin.data()) && GaussianBlur(3, 0, thin.data()));
    EXPECT_TRUE(GaussianBlurFast(0, 3, thin.data()) && GaussianBlurFast(3, 0, thin.data()));
    EXPECT_EQ(thin, before);
}

namespace {

// A smooth picture with noise on it, from a fixed generator.
Bytes picture(int w, int h)
{
    Bytes image(trueColourStride(w) * h, 0);
    std::uint32_t state = 12345;
    for (int y = 0; y < h; ++y) {
        for (int i = 0; i < w * 3; ++i) {
            state = state * 1664525u + 1013904223u;
            image[y * trueColourStride(w) + i] = static_cast<unsigned char>((i / 3 * 5 + y * 7 + i % 3 * 40) % 200 + (state >> 27));
        }
    }
    return image;
}

std::uint64_t fingerprint(const unsigned char* data, std::size_t size)
{
    std::uint64_t h = 1469598103934665603ull;
    for (std::size_t i = 0; i < size; ++i) {
        h = (h ^ data[i]) * 1099511628211ull;
    }
    return h;
}

}  // namespace

// The fingerprints were taken from the optimised build; the unoptimised,
// sanitized one must give the same bits.
TEST(SameBits, FloatingPointOperations)
{
    const int w = 37, h = 23, stride = trueColourStride(w);
    const Bytes src = picture(w, h);
    Bytes bc = src;
    f_BrightContrastPS(bc.data(), w, h, w * 3, 17, 33);
    EXPECT_EQ(fingerprint(bc.data(), bc.size()), 12920242222292659556u) << "brightness/contrast";
    const Result zoomed = zoom(src, w, h, 1, 1.37f, 0.71f);
    ASSERT_TRUE(zoomed.data);
    EXPECT_EQ(fingerprint(zoomed.data.get(), trueColourStride(zoomed.width) * zoomed.height), 17768925262515462357u);
    const Result rotated = rotate(src, w, h, 33, 1);
    ASSERT_TRUE(rotated.data);
    EXPECT_EQ(fingerprint(rotated.data.get(), rotated.rowBytes * rotated.height), 15580751486057819838u);
    // The sharpening filters want packed rows.
    Bytes packed(w * 3 * h);
    for (int y = 0; y < h; ++y) {
        std::copy_n(src.begin() + y * stride, w * 3, packed.begin() + y * w * 3);
    }
    Bytes gauss = packed, usm = packed, fast = src;
    f_SpatialGaussFiter(gauss.data(), w, h, w * 3, 3);
    EXPECT_EQ(fingerprint(gauss.data(), gauss.size()), 17900367375803679861u) << "gauss";
    f_ImageSharpen_USM(usm.data(), w, h, w * 3, 2, 180, 4);
    EXPECT_EQ(fingerprint(usm.data(), usm.size()), 431772026996285898u) << "usm";
    ASSERT_TRUE(GaussianBlurFast(w, h, fast.data()));
    EXPECT_EQ(fingerprint(fast.data(), fast.size()), 10338849476731921834u) << "blur fast";
    Bytes bits(bitRasterStride(w) * h);
    int size = static_cast<int>(bits.size());
    ASSERT_TRUE(minicut(src.data(), 12, w, h, 9, 8, 5, bits.data(), &size, 0.37f));
    EXPECT_EQ(fingerprint(bits.data(), bits.size()), 9973120593634386153u) << "minicut";
    ASSERT_TRUE(InterlImageAdaptiveThreshold(w, h, src.data(), 12, bits.data(), &size));
    EXPECT_EQ(fingerprint(bits.data(), bits.size()), 2192247427430977090u) << "adaptive";
}

// In a child whose address space may grow only a little, each operation that
// cannot get its working memory fails and leaves the caller's image or bit
// raster as it was.
TEST(AllocationFailure, OperationsLeaveTheirInputUnchanged)
{
    if (!testsupport::kCanCapMemory) {
        GTEST_SKIP() << "address-space cap not usable in this build";
    }
    constexpr int w = 4000, h = 3000;  // 36 MB of raster
    constexpr long small = 8L << 20;
    Bytes image(trueColourStride(w) * h);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<unsigned char>(i * 131 + (i >> 9));
    }
    const Bytes original = image;
    unsigned char* data = image.data();
    const auto unchanged = [&] { return std::memcmp(data, original.data(), original.size()) == 0; };
    Bytes bits(bitRasterStride(w) * h, 0x77);
    const auto bitsUnchanged = [&] { return std::all_of(bits.begin(), bits.end(), [](unsigned char b) { return b == 0x77; }); };
    testsupport::TempDir dir;
    const struct {
        const char* name;
        long headroom;
        std::function<bool()> failsCleanly;
    } cases[] = {
        {"offset", small, [&] { return f_XYOfffset(data, w, h, w * 3, 24, 24) == 0 && unchanged(); }},
        {"zoom", small, [&] {
             unsigned zw = 7, zh = 7, rb = 7;
             return !f_Zoom(data, w, h, w * 3, &zw, &zh, &rb, 1, 1.0f, 1.0f) && zw == 7 && zh == 7 && rb == 7;
         }},
        {"rotate", small, [&] {
             unsigned rw = 7, rh = 7, rb = 7;
             return !f_Rotate(data, w, h, trueColourStride(w), 0, &rw, &rh, &rb, 0) && rw == 7 && rh == 7 && rb == 7;
         }},
        {"laplace", small, [&] { return f_ImageSharpen_Laplace(data, w, h, trueColourStride(w), 100) == 0 && unchanged(); }},
        {"gauss", small, [&] { return f_SpatialGaussFiter(data, w, h, w * 3, 1) == 0 && unchanged(); }},
        // The smoothed copy fits, the mask does not.
        {"usm", 50L << 20, [&] { return f_ImageSharpen_USM(data, w, h, w * 3, 1, 100, 0) == 0 && unchanged(); }},
        {"blur fast", small, [&] { return !GaussianBlurFast(w, h, data) && unchanged(); }},
        {"blur", small, [&] {
             std::snprintf(path, sizeof path, "%s", dir.path().c_str());
             SetSaveLogDataFalg(1);
             return !GaussianBlur(w, h, data) && unchanged();
         }},
        // The gray and result planes fit, the integral image does not; then nothing fits.
        {"adaptive late", 40L << 20, [&] {
             int size = static_cast<int>(bits.size());
             return !InterlImageAdaptiveThreshold(w, h, data, 12, bits.data(), &size) && size == 0 && bitsUnchanged();
         }},
        {"adaptive", small, [&] {
             int size = static_cast<int>(bits.size());
             return !InterlImageAdaptiveThreshold(w, h, data, 12, bits.data(), &size) && size == 0 && bitsUnchanged();
         }},
        {"minicut", small, [&] {
             int size = static_cast<int>(bits.size());
             return !minicut(data, 12, w, h, 8, 8, 20, bits.data(), &size, 0.5f) && size == 0 && bitsUnchanged();
         }},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(testsupport::runCapped(c.headroom, [&] { return c.failsCleanly() ? 0 : 1; }), 0) << c.name;
    }
    EXPECT_EQ(testsupport::readFile(dir.file("Print.log")), "GaussianBlur TrueCollorBitDataNew==NULL\r\n");
}
