// The status monitor through the built filter and the simulated printer: what
// the printer's replies make the filter say, and when it lets a page go.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/PrinterJob.h"

using namespace testsupport;

namespace {

// Replies come well within a wait period of 40 ms even on a busy machine.
PrinterRun runSmallPage(const std::string& status)
{
    return runJob({.pages = {rasterPage(64, 8, 1, 3, [](unsigned x, unsigned) { return x % 2 == 0; })},
                   .status = status,
                   .waitMs = 40});
}

}  // namespace

TEST(StatusMonitor, ErrorRepliesHoldThePageUntilThreeReadyOnes)
{
    // The first five replies carry the condition, then the printer is ready.
    struct Case {
        std::string status;
        int code;          // 0: no error (skew alone is none)
        std::string line;  // once per reply with the condition
    };
    const std::vector<Case> cases = {
        {"ready", 0, "INFO: Status Process OK -- Normal.\n"},
        {"skew", 0, "INFO: Status Process Error -- The paper is skewed.\n"},
        {"paperout", 2, "INFO: Status Process Error -- Out of paper.\n"},
        {"cover", 1, "INFO: Status Process Error -- Open the printer cover.\n"},
        {"hot", 4, "INFO: Status Process Error -- Printer is overheating.\n"},
        {"hot|skew", 4,
         "INFO: Status Process Error -- Printer is overheating.\n"
         "INFO: Status Process Error -- Printer is overheating, the paper is skewed.\n"},
        {"cover|paperout", 3, "INFO: Status Process Error -- Open the printer cover, out of paper.\n"},
        {"cover|hot", 5, "INFO: Status Process Error -- Open the printer cover, Printer is overheating.\n"},
        {"hot|paperout", 6, "INFO: Status Process Error -- Printer is overheating, out of paper.\n"},
        {"cover|paperout|hot", 7, "DEBUG: Error and Warn -- PrinterStatus3 -- 7.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        auto r = runSmallPage("1-5:" + c.status + ",ready");
        ASSERT_EQ(r.proc.exitStatus, 0) << r.log();
        // Nothing while the printer reports a condition; after three ready replies the page.
        EXPECT_EQ(r.number("printed_while_error"), 0);
        EXPECT_EQ(r.number("rasters_printed"), 1);
        const std::string all = r.commands(true);  // the status queries before the raster
        const auto queries = std::count(all.begin(), all.begin() + std::min(all.find("1D 76 30"), all.size()), 'Q');
        EXPECT_GE(queries, c.code != 0 ? 8 : 3);
        EXPECT_LE(queries, c.code != 0 ? 11 : 6);
        EXPECT_TRUE(
            r.has("delayTimeCount -- 1.\ndelayTimeCount -- 2.\ndelayTimeCount -- 0.\nINFO:  开始发送数据Gray.\n"));
        EXPECT_TRUE(c.code == 0 ? r.count(c.line) >= 1 : r.count(c.line) == 5) << c.line << r.log();
        if (c.code != 0) {
            EXPECT_EQ(r.count("printerStatus " + std::to_string(c.code) + " ."), 5u);
            EXPECT_EQ(r.count("INFO: Status Process Error"), c.code == 7 ? 0u : c.status == "hot|skew" ? 10u : 5u);
        }
    }
}

// The printer check: Quick asks again at once until the printer has been
// ready three times in a row, Standard once a period (as a PPD without the
// option does), Off never, and waits for no acknowledgement.
TEST(StatusMonitor, PrinterCheckChoosesWhenAndWhetherToAsk)
{
    TempDir dir;  // the shipped PPD without the option
    std::string ppd = readFile(builtPpd());
    ppd.erase(ppd.find("*OpenUI *PrinterCheck"), ppd.find("*CloseUI: *PrinterCheck") - ppd.find("*OpenUI *PrinterCheck"));
    ppd.erase(ppd.find("*CloseUI: *PrinterCheck"), std::string("*CloseUI: *PrinterCheck\n").size());
    writeFile(dir.file("old.ppd"), ppd);
    struct Case {
        std::string options, status, ppd;
        int queriesBefore;  // status queries before the first raster; -1: none at all
        bool quick;         // the first raster within two periods
    };
    const std::vector<Case> cases = {
        {"PrinterCheck=1", "ready", "", 3, true},
        {"PrinterCheck=1", "1:ready,2:paperout,ready", "", 5, true},
        {"PrinterCheck=0", "ready", "", 3, false},
        {"", "ready", dir.file("old.ppd"), 3, false},
        {"PrinterCheck=2", "none", "", -1, true},
    };
    const RasterPage page = rasterPage(64, 8, 8, 1, [](unsigned x, unsigned) { return x % 2 == 0 ? 0u : 0xFFFFFFu; }, 2);
    std::string standardCommands;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options + " " + c.status + " " + c.ppd);
        // Whole-second periods: a standard check's third poll comes two seconds in.
        auto r = runJob({.pages = {page}, .ppdPath = c.ppd, .options = c.options, .status = c.status, .waitMs = 1000});
        ASSERT_EQ(r.proc.exitStatus, 0) << r.log();
        EXPECT_EQ(r.number("rasters_printed"), 2);
        EXPECT_EQ(r.has("DEBUG: PPD PrinterCheck="), c.ppd.empty()) << r.log();  // an old PPD has none to tell
        const std::string all = r.commands(true);
        const auto raster = all.find("1D 76 30");
        ASSERT_NE(raster, std::string::npos);
        if (c.queriesBefore < 0) {
            EXPECT_EQ(r.number("queries"), 0);
            EXPECT_TRUE(r.has("INFO: The printer is not asked for its condition (Printer check: Off)")) << r.log();
            EXPECT_EQ(r.count("time1") + r.count("Printer Status:"), 0u) << r.log();  // no poll lines
        } else {
            EXPECT_EQ(std::count(all.begin(), all.begin() + raster, 'Q'), c.queriesBefore) << all;
        }
        const std::size_t line = r.listing.find("raster #1");
        const double rasterAt = std::stod(r.listing.substr(r.listing.rfind('\n', line) + 1, 9));
        EXPECT_EQ(rasterAt < 2.0, c.quick) << r.listing;
        if (c.options == "PrinterCheck=0") {
            standardCommands = r.commands();
        } else if (!c.ppd.empty()) {
            EXPECT_EQ(r.commands(), standardCommands);  // no option: today's bytes
        }
    }
}
