// Brightness/contrast lookup and the image offset.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "imaging/FunctionAsistant.h"
#include "imaging/ImageBuffer.h"

namespace {

// A one-row raster whose colour bytes run 0, 1, ..., 255 (then two more), so
// applying the adjustment reveals the whole lookup table.
std::vector<unsigned char> rampRow(int& width)
{
    width = 86;  // 258 colour bytes, 2 padding bytes
    std::vector<unsigned char> row(static_cast<std::size_t>(trueColourStride(width)), 0xAB);
    for (int i = 0; i < width * 3; ++i) {
        row[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i & 0xFF);
    }
    return row;
}

std::array<unsigned char, 256> lookupTable(int brightness, int contrast)
{
    int width = 0;
    auto row = rampRow(width);
    EXPECT_EQ(f_BrightContrastPS(row.data(), width, 1, static_cast<unsigned>(width * 3), brightness, contrast), 0);
    std::array<unsigned char, 256> table{};
    for (int i = 0; i < 256; ++i) {
        table[static_cast<std::size_t>(i)] = row[static_cast<std::size_t>(i)];
    }
    // Padding bytes are not passed through the table.
    EXPECT_EQ(row[258], 0xAB);
    EXPECT_EQ(row[259], 0xAB);
    return table;
}

struct ReferenceRow {
    int brightness;
    int contrast;
    std::array<int, 8> expected;  // levels 0, 64, 97, 98, 127, 128, 200, 255
};

}  // namespace

TEST(BrightContrast, ReferenceTable)
{
    const std::array<int, 8> levels = {0, 64, 97, 98, 127, 128, 200, 255};
    const ReferenceRow rows[] = {
        {50, 0, {50, 114, 147, 148, 177, 178, 250, 255}},
        {-100, 0, {0, 0, 0, 0, 27, 28, 100, 155}},
        {0, 50, {0, 0, 66, 68, 126, 128, 255, 255}},
        {0, -50, {63, 95, 112, 112, 127, 127, 163, 191}},
        {20, 30, {0, 65, 112, 113, 155, 156, 255, 255}},
        {-20, -30, {18, 63, 86, 86, 107, 107, 158, 196}},
        {0, 99, {0, 0, 0, 0, 77, 177, 255, 255}},
        {0, 100, {0, 0, 0, 0, 0, 255, 255, 255}},
        {30, 100, {0, 0, 0, 255, 255, 255, 255, 255}},
        {0, -100, {127, 127, 127, 127, 127, 127, 127, 127}},
    };
    for (const auto& r : rows) {
        const auto table = lookupTable(r.brightness, r.contrast);
        for (std::size_t k = 0; k < levels.size(); ++k) {
            EXPECT_EQ(table[static_cast<std::size_t>(levels[k])], r.expected[k])
                << "brightness " << r.brightness << " contrast " << r.contrast << " level " << levels[k];
        }
    }
}

TEST(BrightContrast, ShiftOnlyAndFlattening)
{
    for (int b : {-255, -1, 1, 37, 255}) {
        const auto table = lookupTable(b, 0);
        for (int i = 0; i < 256; ++i) {
            const int want = std::clamp(i + b, 0, 255);
            ASSERT_EQ(table[static_cast<std::size_t>(i)], want) << b << " " << i;
        }
    }
    // Contrast -100 flattens to 127, then the brightness is added.
    const auto flat = lookupTable(40, -100);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(flat[static_cast<std::size_t>(i)], 167);
    }
    // Contrast 100 leaves only two levels.
    for (unsigned char v : lookupTable(-10, 100)) {
        ASSERT_TRUE(v == 0 || v == 255);
    }
    // Extreme arguments from a direct caller do not overflow.
    const auto high = lookupTable(2147483647, 0);
    const auto low = lookupTable(-2147483647 - 1, 50);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(high[static_cast<std::size_t>(i)], 255);
        ASSERT_EQ(low[static_cast<std::size_t>(i)], 0);
    }
}

TEST(BrightContrast, NoChangeCasesAndOddSizes)
{
    std::vector<unsigned char> img(static_cast<std::size_t>(trueColourStride(5)) * 3);
    for (std::size_t i = 0; i < img.size(); ++i) {
        img[i] = static_cast<unsigned char>(i * 7);
    }
    const auto before = img;
    EXPECT_EQ(f_BrightContrastPS(img.data(), 5, 3, 15, 0, 0), 0);
    EXPECT_EQ(img, before);
    EXPECT_EQ(f_BrightContrastPS(img.data(), 0, 3, 0, 50, 0), 0);
    EXPECT_EQ(f_BrightContrastPS(img.data(), 5, 0, 15, 50, 0), 0);
    EXPECT_EQ(f_BrightContrastPS(img.data(), -5, 3, 15, 50, 0), 0);
    EXPECT_EQ(f_BrightContrastPS(nullptr, 5, 3, 15, 50, 0), 0);
    EXPECT_EQ(img, before);

    // 1 x 1, 1 x n, n x 1 and a width whose rows carry padding: each colour byte
    // changes, no padding byte does.
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 7}, std::pair{7, 1}, std::pair{5, 3}}) {
        const int stride = trueColourStride(w);
        std::vector<unsigned char> im(static_cast<std::size_t>(stride * h), 100);
        EXPECT_EQ(f_BrightContrastPS(im.data(), w, h, static_cast<unsigned>(w * 3), 10, 0), 0);
        for (int y = 0; y < h; ++y) {
            for (int i = 0; i < stride; ++i) {
                ASSERT_EQ(im[static_cast<std::size_t>(y * stride + i)], i < w * 3 ? 110 : 100);
            }
        }
    }
}

namespace {

struct Raster {
    int width;
    int height;
    int stride;
    std::vector<unsigned char> bytes;

    Raster(int w, int h) : width(w), height(h), stride(trueColourStride(w)), bytes(static_cast<std::size_t>(stride * h), 0xCD)
    {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                unsigned char* p = at(x, y);
                p[0] = static_cast<unsigned char>(x);
                p[1] = static_cast<unsigned char>(y);
                p[2] = static_cast<unsigned char>(x + y);
            }
        }
    }
    unsigned char* at(int x, int y) { return bytes.data() + y * stride + x * 3; }
    bool isWhite(int x, int y) { return at(x, y)[0] == 255 && at(x, y)[1] == 255 && at(x, y)[2] == 255; }
    bool holds(int x, int y, int sx, int sy)
    {
        return at(x, y)[0] == static_cast<unsigned char>(sx) && at(x, y)[1] == static_cast<unsigned char>(sy) &&
               at(x, y)[2] == static_cast<unsigned char>(sx + sy);
    }
    bool paddingIntact()
    {
        for (int y = 0; y < height; ++y) {
            for (int i = width * 3; i < stride; ++i) {
                if (bytes[static_cast<std::size_t>(y * stride + i)] != 0xCD) {
                    return false;
                }
            }
        }
        return true;
    }
};

}  // namespace

TEST(XYOffset, HorizontalShifts)
{
    Raster right(100, 3);
    EXPECT_EQ(f_XYOfffset(right.bytes.data(), 100, 3, 300, 24, 0), 0);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 24; ++x) {
            ASSERT_TRUE(right.isWhite(x, y));
        }
        EXPECT_TRUE(right.holds(24, y, 0, y));
        EXPECT_TRUE(right.holds(99, y, 75, y));
    }

    Raster left(100, 2);
    EXPECT_EQ(f_XYOfffset(left.bytes.data(), 100, 2, 300, -24, 0), 0);
    for (int y = 0; y < 2; ++y) {
        EXPECT_TRUE(left.holds(0, y, 24, y));
        EXPECT_TRUE(left.holds(75, y, 99, y));
        for (int x = 76; x < 100; ++x) {
            ASSERT_TRUE(left.isWhite(x, y));
        }
    }
    EXPECT_TRUE(left.paddingIntact());
}

TEST(XYOffset, VerticalShiftsMoveUpForPositive)
{
    Raster up(5, 30);  // width 5: one padding byte per row
    EXPECT_EQ(f_XYOfffset(up.bytes.data(), 5, 30, 15, 0, 24), 0);
    for (int x = 0; x < 5; ++x) {
        EXPECT_TRUE(up.holds(x, 0, x, 24));
        EXPECT_TRUE(up.holds(x, 5, x, 29));
        for (int y = 6; y < 30; ++y) {
            ASSERT_TRUE(up.isWhite(x, y));
        }
    }
    EXPECT_TRUE(up.paddingIntact());

    Raster down(3, 30);
    EXPECT_EQ(f_XYOfffset(down.bytes.data(), 3, 30, 9, 1, -24), 0);
    EXPECT_TRUE(down.isWhite(0, 29));
    EXPECT_TRUE(down.holds(1, 24, 0, 0));
    EXPECT_TRUE(down.holds(2, 29, 1, 5));
    EXPECT_TRUE(down.isWhite(1, 23));
}

TEST(XYOffset, LargeShiftsWhitenEverythingAndZeroIsNoOp)
{
    for (auto [dx, dy] : {std::pair{100, 0}, std::pair{0, 7}, std::pair{-2400, 0}, std::pair{0, -2400},
                          std::pair{2147483647, -2147483647 - 1}}) {
        Raster r(100, 7);
        EXPECT_EQ(f_XYOfffset(r.bytes.data(), 100, 7, 300, dx, dy), 0);
        for (int y = 0; y < 7; ++y) {
            for (int x = 0; x < 100; ++x) {
                ASSERT_TRUE(r.isWhite(x, y)) << dx << " " << dy;
            }
        }
        EXPECT_TRUE(r.paddingIntact());
    }
    Raster same(9, 4);
    const auto before = same.bytes;
    EXPECT_EQ(f_XYOfffset(same.bytes.data(), 9, 4, 27, 0, 0), 0);
    EXPECT_EQ(same.bytes, before);
}

TEST(XYOffset, OddSizesAndBadArguments)
{
    Raster one(1, 1);
    EXPECT_EQ(f_XYOfffset(one.bytes.data(), 1, 1, 3, 1, 0), 0);
    EXPECT_TRUE(one.isWhite(0, 0));
    EXPECT_TRUE(one.paddingIntact());

    Raster column(1, 6);
    EXPECT_EQ(f_XYOfffset(column.bytes.data(), 1, 6, 3, 0, 2), 0);
    EXPECT_TRUE(column.holds(0, 0, 0, 2));
    EXPECT_TRUE(column.isWhite(0, 5));

    Raster line(6, 1);
    EXPECT_EQ(f_XYOfffset(line.bytes.data(), 6, 1, 18, 2, 0), 0);
    EXPECT_TRUE(line.holds(5, 0, 3, 0));
    EXPECT_TRUE(line.paddingIntact());

    Raster untouched(4, 4);
    const auto before = untouched.bytes;
    EXPECT_EQ(f_XYOfffset(untouched.bytes.data(), 4, 0, 12, 5, 5), 0);
    EXPECT_EQ(f_XYOfffset(untouched.bytes.data(), 0, 4, 0, 5, 5), 0);
    EXPECT_EQ(f_XYOfffset(untouched.bytes.data(), -4, 4, 0, 5, 5), 0);
    EXPECT_EQ(f_XYOfffset(nullptr, 4, 4, 12, 5, 5), 0);
    EXPECT_EQ(untouched.bytes, before);
}
