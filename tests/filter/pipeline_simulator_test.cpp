// The filter end to end with the simulated printer (zorvan-printer), which
// takes exactly the announced bytes of every raster as image and draws the
// paper: a long 1-bit page must come out whole.
#include <gtest/gtest.h>

#include "support/Pictures.h"
#include "support/Process.h"
#include "support/Raster.h"

using namespace testsupport;

TEST(Simulator, LongOneBitPagePrintsWholeInBands)
{
    // 3.2 MB of rows: beyond the output buffer.
    const unsigned width = 576, height = 45000;
    auto dot = [](unsigned x, unsigned y) { return (x / 16 + y / 16) % 2 == 0 || x == y % width; };
    TempDir dir;
    writeRasterFile(dir.file("job.ras"), {oneBitPage(width, height, dot)});
    ProcessOptions options;
    options.env["ZORVAN_TEST_WAIT_MS"] = "20";
    options.unsetEnv = {"PPD"};
    options.timeoutSeconds = 90;
    auto r = runProcess({builtProgram("zorvan-printer"), "--out", dir.file("out"), "--timeout", "60", "--speed", "0",
                         "--", builtProgram("rastertozorvan"), "1", "tester", "job", "1", "", dir.file("job.ras")},
                        options);
    ASSERT_EQ(r.exitStatus, 0) << r.err.substr(r.err.size() > 2000 ? r.err.size() - 2000 : 0);
    auto summary = readKeyValues(dir.file("out/summary.txt"));
    EXPECT_EQ(summary["unfinished_raster"], "no");
    EXPECT_EQ(summary["unknown_bytes"], "0");
    EXPECT_EQ(summary["errors"], "0");
    EXPECT_EQ(summary["rasters"], "2");  // 43,690 rows fit the buffer, then the rest

    Gray paper;
    std::string error;
    ASSERT_TRUE(readPng(dir.file("out/paper.png"), paper, error)) << error;
    ASSERT_EQ(paper.width, static_cast<int>(width));
    ASSERT_EQ(paper.height, static_cast<int>(height));
    long differ = 0;
    for (unsigned y = 0; y < height; ++y) {
        for (unsigned x = 0; x < width; ++x) {
            differ += dot(x, y) != (paper.at(static_cast<int>(x), static_cast<int>(y)) < 128);
        }
    }
    EXPECT_EQ(differ, 0) << "the paper shows the page, dot for dot";
}
