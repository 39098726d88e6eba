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
