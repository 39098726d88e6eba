// The page pipeline through the built filter and the simulated printer: the
// 1-bit road's exact bytes, bands for long pages, paper saving, gray pages,
// and the one printer channel the two threads share.
#include <gtest/gtest.h>

#include "support/PrinterJob.h"

using namespace testsupport;

TEST(OneBitRoad, SendsSetUpAndTheRowsOnceWhateverTheCopies)
{
    // Blank rows above and below: paper saving is on but this road ignores it.
    auto page = rasterPage(
        576, 60, 1, 3, [](unsigned x, unsigned y) { return y >= 20 && y < 40 && (x * y) % 7 == 0; }, 3);
    auto r = runJob({.pages = {page},
                     .options = "MediaType=3 Openingfeed=40 Density=7 PaperSaveMode=3 PageHeaderBlank=1 EndBlank=1"});
    ASSERT_EQ(r.proc.exitStatus, 0) << r.log();
    // Paper mode 3 is 02; the 320-dot opening feed goes as 255 + 64; 72 bytes x 60 rows.
    const std::string setUp = "1B 01 02, 1B 4A FF, 1B 4A 40, 1D 83 07, 1B 61 01, 1D 76 30 00 48 00 3C 00";
    EXPECT_EQ(r.commands(), "1B 40, " + setUp);
    EXPECT_NE(r.commands(true).find(setUp), std::string::npos) << "no status query inside the page's bytes";
    EXPECT_TRUE(r.paperBytes() == std::string(319 * 72, '\0') + std::string(page.rows.begin(), page.rows.end()))
        << "untrimmed, exactly as read";
    EXPECT_TRUE(r.has("DEBUG: 2 pageHeaderBlank -- 8.endBlank -- 8.\nINFO:  开始发送数据Gray.\n")) << r.log();
}

TEST(OneBitRoad, PagesBeyondTheRowLimitOrTheBufferGoOutWholeInBands)
{
    // 70,000 rows: beyond the raster command's 65,535. 45,000 rows of 72
    // bytes: beyond the 3 MiB output buffer (43,690 rows fit).
    auto checks = [](unsigned x, unsigned y) { return (x ^ y) % 5 == 0; };
    auto squares = [](unsigned x, unsigned y) { return (x / 16 + y / 16) % 2 == 0 || x == y % 576; };
    const std::vector<std::pair<RasterPage, std::string>> cases = {
        {rasterPage(32, 70000, 1, 3, checks, 2), "1D 76 30 00 04 00 FF FF, 1D 76 30 00 04 00 71 11"},
        {rasterPage(576, 45000, 1, 3, squares), "1D 76 30 00 48 00 AA AA, 1D 76 30 00 48 00 1E 05"}};
    for (const auto& [page, bands] : cases) {
        auto r = runJob({.pages = {page}, .headDots = static_cast<int>(page.header.cupsWidth), .timeoutSeconds = 90});
        ASSERT_EQ(r.proc.exitStatus, 0) << r.log();
        EXPECT_EQ(r.commands(), "1B 40, 1B 01 00, 1B 4A 00, 1D 83 04, 1B 61 01, " + bands);
        EXPECT_TRUE(r.paperBytes() == std::string(page.rows.begin(), page.rows.end()))
            << "the page arrives whole and in order";
        EXPECT_EQ(r.number("errors"), 0) << r.listing;
    }
}

TEST(PaperSaving, TrimsColourPagesWithMargins)
{
    // Content in rows 40..199 of 300: 40 blank rows on top, 100 below (or
    // `top` and `bottom`). It lies at the right, so the blank-line test must
    // read past the first words.
    // Mode, the margins kept (in units of 8 rows), the rows printed and where
    // the content starts on the paper: (40 - 16) rows dropped on top and
    // (100 - 16) below with 2 and 2; all kept when the margin equals the run,
    // none when it exceeds it; a single blank row is a run too.
    struct Case {
        int mode, headerBlank, endBlank, rows, firstDarkRow;
        unsigned top = 40, bottom = 100;
    };
    const std::vector<Case> cases = {{3, 2, 2, 193, 16}, {1, 2, 0, 276, 16}, {1, 10, 0, 260, 0}, {1, 5, 0, 300, 40},
                                     {2, 0, 2, 217, 40}, {0, 2, 2, 300, 40}, {3, 0, 0, 299, 0, 1, 1},
                                     {3, 2, 2, 300, 0, 0, 0}};  // nothing blank: nothing trimmed
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        auto inside = [&](unsigned x, unsigned y) { return y >= c.top && y < 300 - c.bottom && x >= 37; };
        auto page = rasterPage(64, 300, 8, 1, [&](unsigned x, unsigned y) { return inside(x, y) ? 0u : 0xFFFFFFu; });
        PrinterJob job{
            .pages = {page},
            .options = "Imagealgorithm=10 Threshold=128 MediaType=3 PaperSaveMode=" + std::to_string(c.mode) +
                       " PageHeaderBlank=" + std::to_string(c.headerBlank) + " EndBlank=" + std::to_string(c.endBlank),
            .headDots = 64};
        auto r = runJob(job);
        ASSERT_EQ(r.proc.exitStatus, 0) << r.log();
        EXPECT_EQ(r.has("DEBUG: Ptr 1 actualRasterDataPtr -- notNullData; notNullData -- NULL .\n"), c.mode > 0);
        EXPECT_EQ(r.number("raster_rows"), c.rows);  // paper mode 3: no white rows below
        EXPECT_EQ(r.paper.darkRows(), std::make_pair(c.firstDarkRow, c.firstDarkRow + 300 - int(c.top + c.bottom)));
        if (c.mode == 3) {
            // A black-ink page (ink 0 is blank paper) prints as its RGB twin.
            job.pages = {rasterPage(64, 300, 8, 3, [&](unsigned x, unsigned y) { return inside(x, y) ? 255u : 0u; })};
            EXPECT_TRUE(runJob(job).paperBytes() == r.paperBytes());
        }
    }
}

// The job's own lines, in order (the monitor's fall between them): a colour
// page of two copies, its bottom trimmed, through the shipped PPD.
TEST(Pipeline, AColourPageSaysWhatItDoesLineByLine)
{
    const RasterPage page = rasterPage(
        40, 6, 8, 1, [](unsigned x, unsigned y) { return x >= 10 && x < 20 && y >= 1 && y < 4 ? 0u : 0xFFFFFFu; }, 2);
    const PrinterRun r = runJob({.pages = {page}, .options = "Imagealgorithm=0 PaperSaveMode=2 AfterFeed=1"});
    ASSERT_EQ(r.proc.exitStatus, 0) << r.log();
    EXPECT_TRUE(r.has(
        "DEBUG: header cupsWidth -- 40.\nDEBUG: header cupsHeight -- 6.\nDEBUG: header NumCopies -- 2.\n"
        "DEBUG: header cupsBitsPerColor -- 8.\nDEBUG: header cupsColorSpace -- 1.\nDEBUG: cupsWidth -- 40.\n"
        "DEBUG: header cupsBytesPerLine -- 120.\nDEBUG: page tmpWidth -- 120.\nDEBUG: page actualWidth -- 120.\n"
        "DEBUG: actualWidth -- 120.\nPAGE: 1 2\nDEBUG: y -- 0.\nDEBUG: 1 startLine -- 0.endLine -- 0.\n"
        "DEBUG: 2 pageHeaderBlank -- 0.endBlank -- 16.\nDEBUG: 3 startLine -- 0.endLine -- 2.\n"
        "DEBUG: 2 actualHeight -- 5.\nDEBUG: 5 actualHeight -- 5.\n"
        "DEBUG: Ptr 1 actualRasterDataPtr -- notNullData; notNullData -- NULL .\nDEBUG: 512 -- do RGBToBGR.\n"
        "DEBUG: 547 -- OK.\nDEBUG: 585 witsStep -- 8,DataBinSize -- 1000.\nDEBUG: 558 -- OK.\n"
        "DEBUG: 630 height0 -- 120.\nDEBUG: header.cupsHeight=5,pageHeight=0,height0=120.\nDEBUG: 564 -- OK.\n"
        "DEBUG: ghold==128\nDEBUG: 611 bReturn -- 1.\nDEBUG: Raw>Data Before outputarray -- curPagePos -- 0.\n"
        "DEBUG: RawData After outputarray -- curPagePos -- 1000.\nDEBUG: 710 i = 0.\nDEBUG:  654 -- OK.\n"
        "DEBUG: 710 GetAfterPrintFeed -- 1\nDEBUG: page lastHeight -- 133\nDEBUG: Status Process  -- Received reply.\n"
        "INFO: Printer Status OK.\nDEBUG: 710 i = 1.\nDEBUG: page lastHeight -- 133\nINFO: Printer Status OK.\n"
        "INFO: Ready to print.\n")) << r.log();
}
