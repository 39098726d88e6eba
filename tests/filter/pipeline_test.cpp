// The page pipeline through the built filter: the 1-bit road's exact bytes,
// paper saving, gray pages, bands for long pages, and the one printer channel.
#include <gtest/gtest.h>

#include <cstring>

#include "FakePrinter.h"

using namespace testsupport;

namespace {

// Commands without the status queries and the pages' opening initialise.
std::vector<PrinterCommand> pageCommands(const FilterRun& run)
{
    std::vector<PrinterCommand> result;
    for (const auto& c : run.commands) {
        if (c.kind != PrinterCommand::StatusQuery) {
            result.push_back(c);
        }
    }
    return result;
}

std::string rowsOf(const RasterPage& page) { return std::string(page.rows.begin(), page.rows.end()); }

}  // namespace

TEST(OneBitRoad, SendsSetUpAndTheRowsOnceWhateverTheCopies)
{
    FilterJob job;
    // Blank rows above and below: paper saving is on but this road ignores it.
    auto page = oneBitPage(576, 60, [](unsigned x, unsigned y) { return y >= 20 && y < 40 && (x * y) % 7 == 0; }, 3);
    job.pages = {page};
    job.ppd = ppdText({{"MediaType", {"3", "0", "3", "4"}},
                       {"Openingfeed", {"40", "0", "40"}},
                       {"Density", {"7", "7"}},
                       {"PaperSaveMode", {"3", "0", "3"}},
                       {"PageHeaderBlank", {"1", "1"}},
                       {"EndBlank", {"1", "1"}}});
    auto r = runFilterJob(job);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    auto commands = pageCommands(r);
    ASSERT_EQ(describe(commands), "init, paper-mode 2, feed 255, feed 64, density 7, justify 1, raster 72x60");
    EXPECT_EQ(commands[6].data, rowsOf(page)) << "untrimmed, exactly as read";
    // The set-up and raster are one run of bytes: no status query between them.
    EXPECT_EQ(commands[6].offset, commands[1].offset + 3 * 5);
    EXPECT_FALSE(r.endedInsideCommand);
    EXPECT_TRUE(r.logHas("INFO:  开始发送数据Gray.\n"));
    EXPECT_TRUE(r.logHas("DEBUG: 2 pageHeaderBlank -- 8.endBlank -- 8.\n")) << "paper saving ran" << r.err;
}

TEST(OneBitRoad, RowPaddingIsZeroEvenAfterAWiderPage)
{
    FilterJob job;
    auto wide = oneBitPage(64, 8, [](unsigned, unsigned) { return true; });
    auto narrow = oneBitPage(40, 8, [](unsigned, unsigned) { return true; });  // 5 bytes of 8 per row
    job.pages = {wide, narrow};
    auto r = runFilterJob(job);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    auto rasters = r.ofKind(PrinterCommand::Raster);
    ASSERT_EQ(rasters.size(), 2u);
    ASSERT_EQ(rasters[1]->rowBytes, 8);
    for (int y = 0; y < 8; ++y) {
        EXPECT_EQ(rasters[1]->data.substr(y * 8, 8), std::string(5, '\xFF') + std::string(3, '\0'));
    }
}

TEST(OneBitRoad, PagesBeyondTheRowLimitGoOutWholeInBands)
{
    // (A page beyond the 3 MiB buffer: pipeline_simulator_test.)
    FilterJob job;
    auto page = oneBitPage(32, 70000, [](unsigned x, unsigned y) { return (x ^ y) % 5 == 0; }, 2);
    job.pages = {page};
    job.ppd = ppdWithDefaults({{"Density", "4"}});
    auto r = runFilterJob(job);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    auto rasters = r.ofKind(PrinterCommand::Raster);
    ASSERT_EQ(rasters.size(), 2u);
    EXPECT_EQ(rasters[0]->rows, 65535);
    EXPECT_EQ(rasters[1]->rows, 70000 - 65535);
    EXPECT_EQ(rasters[1]->rowBytes, 4);
    EXPECT_TRUE(rasters[0]->data + rasters[1]->data == rowsOf(page)) << "the page arrives whole and in order";
    EXPECT_EQ(r.ofKind(PrinterCommand::Density).size(), 1u) << "one set-up for the page";
    EXPECT_FALSE(r.endedInsideCommand);
}

TEST(PaperSaving, TrimsColourPagesWithMargins)
{
    // Content in rows 40..199 of 300: 40 blank rows on top, 100 below.
    auto page = rgbPage(64, 300, [](unsigned x, unsigned y) { return (y >= 40 && y < 200 && x < 32) ? 0u : 0xFFFFFFu; });
    struct Case {
        int mode;
        int headerBlank;
        int endBlank;
        std::vector<std::string> lines;
        int rows;
    };
    const std::vector<Case> cases = {
        {3, 2, 2, {"DEBUG: 3 startLine -- 40.endLine -- 100.\n",
                   "DEBUG: 1 actualHeight -- 193,actualStartLine -- 24, actualEndLine -- 84.\n",
                   "DEBUG: 5 actualHeight -- 193.\n"}, 193},
        {1, 2, 0, {"DEBUG: 3 actualHeight -- 277.\n", "DEBUG: 5 actualHeight -- 276.\n"}, 276},
        {1, 10, 0, {"DEBUG: 3 actualHeight -- 261.\n", "DEBUG: 5 actualHeight -- 260.\n"}, 260},
        {2, 0, 2, {"DEBUG: 2 actualHeight -- 217.\n", "DEBUG: 5 actualHeight -- 217.\n"}, 217},
        {4, 2, 2, {"DEBUG: 4 actualHeight -- 300.\n", "DEBUG: 5 actualHeight -- 300.\n"}, 300},
        {0, 2, 2, {"DEBUG: 1 startLine -- 0.endLine -- 0.\n"}, 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        FilterJob job;
        job.pages = {page};
        job.ppd = ppdText({{"Imagealgorithm", {"10", "10"}},
                           {"Threshold", {"128", "128"}},
                           {"MediaType", {"3", "3"}},
                           {"PaperSaveMode", {std::to_string(c.mode), std::to_string(c.mode)}},
                           {"PageHeaderBlank", {std::to_string(c.headerBlank), std::to_string(c.headerBlank)}},
                           {"EndBlank", {std::to_string(c.endBlank), std::to_string(c.endBlank)}}});
        auto r = runFilterJob(job);
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        for (const auto& line : c.lines) {
            EXPECT_TRUE(r.logHas(line)) << line << r.err;
        }
        EXPECT_EQ(r.logHas("DEBUG: Ptr 1 actualRasterDataPtr -- notNullData; notNullData -- NULL .\n"), c.mode > 0);
        auto rasters = r.ofKind(PrinterCommand::Raster);
        ASSERT_EQ(rasters.size(), 1u);
        EXPECT_EQ(rasters[0]->rows, c.rows);  // paper mode 3: no white rows below
    }
}

TEST(GrayPages, BlackInkIsWidenedToWhiteOnRgb)
{
    // Ink 0 is blank paper: the white rows are trimmed like RGB white ones.
    auto gray = grayPage(64, 100, [](unsigned x, unsigned y) -> unsigned char {
        return (y >= 30 && y < 70 && x >= 16 && x < 48) ? 255 : 0;
    });
    auto rgb = rgbPage(64, 100, [](unsigned x, unsigned y) {
        return (y >= 30 && y < 70 && x >= 16 && x < 48) ? 0u : 0xFFFFFFu;
    });
    const std::string ppd = ppdText({{"Imagealgorithm", {"10", "10"}},
                                     {"Threshold", {"128", "128"}},
                                     {"PaperSaveMode", {"3", "3"}},
                                     {"PageHeaderBlank", {"1", "1"}},
                                     {"EndBlank", {"1", "1"}}});
    FilterJob grayJob;
    grayJob.pages = {gray};
    grayJob.ppd = ppd;
    FilterJob rgbJob = grayJob;
    rgbJob.pages = {rgb};
    auto g = runFilterJob(grayJob);
    auto c = runFilterJob(rgbJob);
    ASSERT_EQ(g.exitStatus, 0) << g.err;
    ASSERT_EQ(c.exitStatus, 0) << c.err;
    EXPECT_TRUE(g.logHas("DEBUG: 3 startLine -- 30.endLine -- 30.\n")) << g.err;
    auto gr = g.ofKind(PrinterCommand::Raster);
    auto cr = c.ofKind(PrinterCommand::Raster);
    ASSERT_EQ(gr.size(), 1u);
    ASSERT_EQ(cr.size(), 1u);
    EXPECT_EQ(gr[0]->rows, cr[0]->rows);
    EXPECT_TRUE(gr[0]->data == cr[0]->data) << "a gray page prints as its RGB twin";
}

TEST(PrinterChannel, NoStatusQueryLandsInsidePageBytes)
{
    // An instant printer that takes its input slowly and a monitor polling
    // every 2 ms, against pages of both roads and several copies, each larger
    // than a pipe holds: every command decodes cleanly and every raster
    // carries exactly its page.
    auto oneBit = oneBitPage(576, 2000, [](unsigned x, unsigned y) { return (x + 3 * y) % 11 == 0; });
    auto colour = rgbPage(576, 1500, [](unsigned x, unsigned y) { return ((x / 8 + y / 8) % 2) ? 0u : 0xFFFFFFu; }, 3);
    for (int run = 0; run < 8; ++run) {
        FilterJob job;
        job.pages = {oneBit, colour, oneBit};
        job.waitMs = 2;
        job.readPauseMs = 1;
        job.ppd = ppdText({{"Imagealgorithm", {"10", "10"}}, {"Threshold", {"128", "128"}}});
        auto r = runFilterJob(job);
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_FALSE(r.endedInsideCommand);
        EXPECT_TRUE(r.ofKind(PrinterCommand::Unknown).empty());
        auto rasters = r.ofKind(PrinterCommand::Raster);
        ASSERT_EQ(rasters.size(), 5u);
        EXPECT_TRUE(rasters[0]->data == rowsOf(oneBit));
        EXPECT_TRUE(rasters[4]->data == rowsOf(oneBit));
        EXPECT_TRUE(rasters[1]->data == rasters[2]->data && rasters[2]->data == rasters[3]->data);
    }
}

TEST(OneBitRoad, CancelInsideTheRasterEndsItWithBlankRows)
{
    // A slow printer, and a cancel once part of a long all-black page is out:
    // the raster command still carries exactly its announced bytes, but what
    // was not yet sent goes as blank (00) rows, followed by the cancel sequence.
    FilterJob job;
    job.pages = {oneBitPage(576, 12000, [](unsigned, unsigned) { return true; })};
    job.readPauseMs = 10;
    job.waitMs = 100;  // the job must end within 5 periods of the cancel
    job.terminateAfterBytes = 100000;
    auto r = runFilterJob(job);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(r.logHas("INFO: Job cancelled.\n")) << r.err;
    EXPECT_TRUE(r.logHas("DEBUG: Job cancelled inside a raster command")) << r.err;
    EXPECT_FALSE(r.endedInsideCommand);
    auto rasters = r.ofKind(PrinterCommand::Raster);
    ASSERT_EQ(rasters.size(), 1u);
    const std::string& data = rasters[0]->data;
    ASSERT_EQ(data.size(), 72u * 12000u);
    EXPECT_EQ(static_cast<unsigned char>(data.front()), 0xFF) << "the first rows print";
    EXPECT_EQ(data.back(), '\0') << "the rest is blank";
    const std::size_t firstBlank = data.find('\0');
    EXPECT_EQ(data.find_first_not_of('\0', firstBlank), std::string::npos) << "blank to the end";
}
