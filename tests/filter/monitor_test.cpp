// The status monitor through the built filter and the simulated printer: what
// the printer's replies make the filter say, and when it lets a page go.
#include <gtest/gtest.h>

#include "support/PrinterJob.h"

using namespace testsupport;

namespace {

PrinterRun runSmallPage(const std::string& status, std::vector<std::string> printerArgs = {})
{
    PrinterJob job;
    job.pages = {oneBitPage(64, 8, [](unsigned x, unsigned) { return x % 2 == 0; })};
    job.status = status;
    job.printerArgs = std::move(printerArgs);
    job.waitMs = 40;  // replies come well within a period even on a busy machine
    return runJob(job);
}

}  // namespace

TEST(StatusMonitor, ErrorRepliesHoldThePageUntilThreeReadyOnes)
{
    // The first five replies carry the condition, then the printer is ready.
    struct Case {
        std::string status;
        int code;                        // 0: no error (skew alone is none)
        std::vector<std::string> lines;  // each once per reply with the condition
    };
    const std::vector<Case> cases = {
        {"ready", 0, {"DEBUG: Status Process -- Printer Status: 10 4 4 20 0 .\n"
                      "DEBUG: Status Process -- Printer Status: tempStatus 20.\n"
                      "DEBUG: Error and Warn -- temp: temp 0.\nDEBUG: Error and Warn -- temp&0x4 == 1 : -- 0.\n"
                      "DEBUG: Status Process -- Printer Status: printerStatus 0 .\nINFO: Status Process OK -- Normal.\n"
                      "DEBUG: Status Process Error -- delayTimeCount -- 1.\n"}},
        {"skew", 0, {"INFO: Status Process Error -- The paper is skewed.\n"}},
        {"paperout", 2, {"DEBUG: Error and Warn -- printerStatus2 -- 2.\n", "INFO: Status Process Error -- Out of paper.\n"}},
        {"cover", 1, {"DEBUG: Error and Warn -- printerStatus1 -- 1.\n",
                      "INFO: Status Process Error -- Open the printer cover.\n"}},
        {"hot", 4, {"DEBUG: Error and Warn -- PrinterStatus3 -- 4.\n",
                    "INFO: Status Process Error -- Printer is overheating.\n"}},
        {"hot|skew", 4, {"DEBUG: Status Process -- Printer Status: 10 4 4 FFFFFFB0 0 .\n",  // printed as signed
                         "DEBUG: Status Process -- Printer Status: tempStatus B0.\n",
                         "DEBUG: Error and Warn -- paperStatus -- 0.\n",
                         "INFO: Status Process Error -- Printer is overheating.\n"
                         "INFO: Status Process Error -- Printer is overheating, the paper is skewed.\n"}},
        {"cover|paperout", 3, {"INFO: Status Process Error -- Open the printer cover, out of paper.\n"}},
        {"cover|hot", 5, {"INFO: Status Process Error -- Open the printer cover, Printer is overheating.\n"}},
        {"hot|paperout", 6, {"INFO: Status Process Error -- Printer is overheating, out of paper.\n"}},
        {"cover|paperout|hot", 7, {"DEBUG: Error and Warn -- PrinterStatus3 -- 7.\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        auto r = runSmallPage("1-5:" + c.status + ",ready");
        ASSERT_EQ(r.proc.exitStatus, 0) << r.log();
        // Nothing while the printer reports a condition; after three ready replies the page.
        EXPECT_EQ(r.number("printed_while_error"), 0);
        EXPECT_EQ(r.number("rasters_printed"), 1);
        EXPECT_GE(r.queriesBeforeRaster(), c.code != 0 ? 8 : 3);
        EXPECT_LE(r.queriesBeforeRaster(), c.code != 0 ? 11 : 6);
        EXPECT_TRUE(r.has("delayTimeCount -- 1.\ndelayTimeCount -- 2.\ndelayTimeCount -- 0.\nINFO:  开始发送数据Gray.\n"));
        for (const auto& line : c.lines) {
            EXPECT_TRUE(c.code == 0 ? r.count(line) >= 1 : r.count(line) == 5) << line << r.log();
        }
        if (c.code != 0) {
            EXPECT_EQ(r.count("printerStatus " + std::to_string(c.code) + " ."), 5u);
            EXPECT_EQ(r.count("INFO: Status Process Error"), c.code == 7 ? 0u : c.status == "hot|skew" ? 10u : 5u);
        }
    }
}

TEST(StatusMonitor, SilentPrinterHoldsThePageAndIsReportedOncePerSilence)
{
    // The wait for a ready printer has no deadline: the printer's timeout
    // cancels the job.
    auto r = runSmallPage("1-2:ready,none", {"--timeout", "0.6"});
    EXPECT_EQ(r.number("rasters"), 0);
    EXPECT_GE(r.number("queries"), 5) << "the monitor keeps asking";
    EXPECT_EQ(r.count("INFO: The printer does not answer; waiting for it.\n"), 1u) << r.log();
    EXPECT_TRUE(r.has("INFO: Job cancelled.\n"));

    auto flaky = runSmallPage("2:none,6:none,cover", {"--timeout", "0.8"});
    EXPECT_EQ(flaky.count("INFO: The printer does not answer; waiting for it.\n"), 2u) << flaky.log();
}
