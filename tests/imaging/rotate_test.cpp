// Rotation about the centre into a packed result.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/FunctionAsistant.h"
#include "imaging/ImageBuffer.h"
#include "coordinate_raster.h"

namespace {

// The fill pixel (0, 0, 255) is told apart from coordinateRaster pixels by its last byte.
struct Rotated {
    std::unique_ptr<unsigned char[]> data;
    unsigned int width = 777;
    unsigned int height = 777;
    unsigned int rowBytes = 777;

    const unsigned char* at(int x, int y) const { return data.get() + (y * static_cast<int>(width) + x) * 3; }
    bool isFill(int x, int y) const { return at(x, y)[0] == 0 && at(x, y)[1] == 0 && at(x, y)[2] == 255; }
};

Rotated rotate(const std::vector<unsigned char>& src, int w, int h, int angle, int mode)
{
    Rotated r;
    r.data = f_Rotate(src.data(), w, h, trueColourStride(w), angle, &r.width, &r.height, &r.rowBytes, mode);
    return r;
}

}  // namespace

TEST(Rotate, ResultSizes)
{
    const auto src = coordinateRaster(100, 50);
    const struct {
        int angle;
        unsigned w, h;
    } cases[] = {{0, 100, 50}, {30, 111, 93}, {45, 106, 106}, {90, 50, 100}};
    for (const auto& c : cases) {
        for (int mode : {0, 1}) {
            const auto r = rotate(src, 100, 50, c.angle, mode);
            ASSERT_TRUE(r.data);
            EXPECT_EQ(r.width, c.w) << c.angle;
            EXPECT_EQ(r.height, c.h) << c.angle;
            EXPECT_EQ(r.rowBytes, c.w * 3) << c.angle;
        }
    }
}

TEST(Rotate, AngleZeroCopiesIntoPackedRows)
{
    const int w = 5, h = 4;  // source rows carry a padding byte, the result's do not
    const auto src = coordinateRaster(w, h);
    for (int mode : {0, 1}) {
        const auto r = rotate(src, w, h, 0, mode);
        ASSERT_TRUE(r.data);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                ASSERT_EQ(r.at(x, y)[0], x) << mode;
                ASSERT_EQ(r.at(x, y)[1], y) << mode;
                ASSERT_EQ(r.at(x, y)[2], 200) << mode;
            }
        }
    }
}

TEST(Rotate, FortyFiveDegreesCornersAndCentre)
{
    const auto src = coordinateRaster(100, 50);
    const auto r = rotate(src, 100, 50, 45, 0);
    ASSERT_TRUE(r.data);
    EXPECT_TRUE(r.isFill(0, 0));
    EXPECT_TRUE(r.isFill(105, 0));
    EXPECT_TRUE(r.isFill(0, 105));
    EXPECT_TRUE(r.isFill(105, 105));
    EXPECT_EQ(r.at(53, 53)[0], 50);
    EXPECT_EQ(r.at(53, 53)[1], 25);
    EXPECT_EQ(r.at(53, 53)[2], 200);
}

TEST(Rotate, BilinearTreatsNegativeCoordinatesAsOutside)
{
    const auto src = coordinateRaster(100, 50);
    const auto nearest = rotate(src, 100, 50, 30, 0);
    const auto bilinear = rotate(src, 100, 50, 30, 1);
    ASSERT_TRUE(nearest.data);
    ASSERT_TRUE(bilinear.data);
    int onlyBilinearFills = 0;
    int onlyNearestFills = 0;
    for (int y = 0; y < 93; ++y) {
        for (int x = 0; x < 111; ++x) {
            onlyBilinearFills += bilinear.isFill(x, y) && !nearest.isFill(x, y);
            onlyNearestFills += nearest.isFill(x, y) && !bilinear.isFill(x, y);
            if (!bilinear.isFill(x, y)) {
                // Interpolated coordinates stay within the source.
                ASSERT_LE(bilinear.at(x, y)[0], 99);
                ASSERT_LE(bilinear.at(x, y)[1], 49);
                ASSERT_GE(bilinear.at(x, y)[2], 199);
            }
        }
    }
    EXPECT_GT(onlyBilinearFills, 0);  // points with -1 < X < 0 or -1 < Y < 0
    EXPECT_EQ(onlyNearestFills, 0);
}

TEST(Rotate, BilinearEdgeNeighbourIsTheEdgePixel)
{
    // A uniform source: every interpolated pixel, the last column and row
    // included, stays at the level (or one below from the float weights).
    const int w = 7, h = 3;
    std::vector<unsigned char> src(static_cast<std::size_t>(trueColourStride(w) * h), 90);
    for (int angle : {0, 10, 45, 80, 90}) {
        const auto r = rotate(src, w, h, angle, 1);
        ASSERT_TRUE(r.data);
        for (int y = 0; y < static_cast<int>(r.height); ++y) {
            for (int x = 0; x < static_cast<int>(r.width); ++x) {
                if (!r.isFill(x, y)) {
                    ASSERT_GE(r.at(x, y)[0], 89);
                    ASSERT_LE(r.at(x, y)[0], 90);
                }
            }
        }
    }
}

TEST(Rotate, AnglesOutsideTheRangeAndBadSourcesAreRefused)
{
    const auto src = coordinateRaster(100, 50);
    for (int angle : {-1, -90, 91, 180, 270, 360}) {
        const auto r = rotate(src, 100, 50, angle, 0);
        EXPECT_FALSE(r.data) << angle;
        EXPECT_EQ(r.width, 777u);
        EXPECT_EQ(r.height, 777u);
        EXPECT_EQ(r.rowBytes, 777u);
    }
    Rotated r;
    r.data = f_Rotate(nullptr, 4, 4, 12, 10, &r.width, &r.height, &r.rowBytes, 0);
    EXPECT_FALSE(r.data);
    r.data = f_Rotate(src.data(), 100, 50, 100, 10, &r.width, &r.height, &r.rowBytes, 0);  // rows too short
    EXPECT_FALSE(r.data);
    r.data = f_Rotate(src.data(), 0, 50, 0, 10, &r.width, &r.height, &r.rowBytes, 0);
    EXPECT_FALSE(r.data);
    r.data = f_Rotate(src.data(), 100, -1, 300, 10, &r.width, &r.height, &r.rowBytes, 1);
    EXPECT_FALSE(r.data);
    EXPECT_EQ(r.width, 777u);
}

TEST(Rotate, OddSizesEveryAngleBothModes)
{
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 6}, std::pair{6, 1}, std::pair{3, 2}}) {
        const auto src = coordinateRaster(w, h);
        for (int angle = 0; angle <= 90; angle += 5) {
            for (int mode : {0, 1}) {
                const auto r = rotate(src, w, h, angle, mode);
                ASSERT_TRUE(r.data) << w << "x" << h << " " << angle;
                ASSERT_GE(r.width, 1u);
                ASSERT_GE(r.height, 1u);
                for (int y = 0; y < static_cast<int>(r.height); ++y) {
                    for (int x = 0; x < static_cast<int>(r.width); ++x) {
                        if (!r.isFill(x, y)) {
                            ASSERT_LT(r.at(x, y)[0], w);
                            ASSERT_LT(r.at(x, y)[1], h);
                        }
                    }
                }
            }
        }
    }
}
