// The status monitor through the built filter and the fake printer: what the
// printer's replies make the filter say, and when it lets a page go.
#include <gtest/gtest.h>

#include "FakePrinter.h"

using namespace testsupport;

namespace {

RasterPage smallPage()
{
    return oneBitPage(64, 8, [](unsigned x, unsigned) { return x % 2 == 0; });
}

// Status queries the printer saw before the page was sent; only queries and
// the page's opening initialise may come before it.
int queriesBeforeRaster(const FilterRun& run)
{
    int queries = 0;
    for (const auto& c : run.commands) {
        if (c.kind == PrinterCommand::StatusQuery) {
            ++queries;
        } else if (c.kind != PrinterCommand::Initialise) {
            EXPECT_EQ(c.kind, PrinterCommand::PaperMode) << "the page's set-up comes first";
            return queries;
        }
    }
    return -1;
}

// `badQueries` replies with `statusByte`, then the printer is ready.
FilterRun runWithStatus(unsigned char statusByte, int badQueries)
{
    FilterJob job;
    job.pages = {smallPage()};
    job.printer = answerQueries(
        [=](int q) { return q < badQueries ? statusReply(statusByte) : statusReply(0x20); });
    return runFilterJob(job);
}

}  // namespace

TEST(StatusMonitor, ThreeReadyRepliesLetThePageGo)
{
    FilterJob job;
    job.pages = {smallPage()};
    job.waitMs = 50;  // replies come well within a period even on a busy machine
    auto r = runFilterJob(job);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    int before = queriesBeforeRaster(r);
    EXPECT_GE(before, 3);
    EXPECT_LE(before, 6);
    // The lines of one cycle in order (the main thread's lines may come between them).
    const std::string cycle = "DEBUG: Status Process -- Printer Status: 10 4 4 20 0 .\n"
                              "DEBUG: Status Process -- Printer Status: tempStatus 20.\n"
                              "DEBUG: Error and Warn -- temp: temp 0.\n"
                              "DEBUG: Error and Warn -- temp&0x4 == 1 : -- 0.\n"
                              "DEBUG: Status Process -- Printer Status: printerStatus 0 .\n"
                              "INFO: Status Process OK -- Normal.\n"
                              "DEBUG: Status Process Error -- delayTimeCount -- ";
    EXPECT_TRUE(r.logHas(cycle + "1.\n" + cycle + "2.\n" + cycle + "0.\nINFO:  开始发送数据Gray.\n")) << r.err;
    EXPECT_TRUE(r.logHas("DEBUG: Status Process Time -- time1 -- "));
}

TEST(StatusMonitor, ErrorRepliesHoldThePageAndAreReported)
{
    struct Case {
        unsigned char status;
        int code;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {0x00, 2, {"DEBUG: Error and Warn -- printerStatus2 -- 2.\n", "INFO: Status Process Error -- Out of paper.\n"}},
        {0x24, 1, {"DEBUG: Error and Warn -- printerStatus1 -- 1.\n",
                   "INFO: Status Process Error -- Open the printer cover.\n"}},
        {0xB0, 4, {"DEBUG: Status Process -- Printer Status: 10 4 4 FFFFFFB0 0 .\n",  // printed as signed
                   "DEBUG: Status Process -- Printer Status: tempStatus B0.\n",
                   "DEBUG: Error and Warn -- PrinterStatus3 -- 4.\n", "DEBUG: Error and Warn -- paperStatus -- 0.\n",
                   "INFO: Status Process Error -- Printer is overheating.\n",
                   "INFO: Status Process Error -- Printer is overheating, the paper is skewed.\n"}},
        {0x14, 7, {"DEBUG: Error and Warn -- PrinterStatus3 -- 7.\n"}},
        {0x04, 3, {"INFO: Status Process Error -- Open the printer cover, out of paper.\n"}},
        {0x30, 4, {"INFO: Status Process Error -- Printer is overheating.\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        auto r = runWithStatus(c.status, 2);
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_GE(queriesBeforeRaster(r), 5) << "two error replies, then three ready ones";
        EXPECT_TRUE(r.logHas("DEBUG: Status Process -- Printer Status: printerStatus " + std::to_string(c.code) +
                             " .\n"));
        for (const auto& line : c.lines) {
            EXPECT_EQ(r.logCount(line), 2u) << line << r.err;
        }
        if (c.status == 0xB0) {
            EXPECT_TRUE(r.logHas("INFO: Status Process Error -- Printer is overheating.\n"
                                 "INFO: Status Process Error -- Printer is overheating, the paper is skewed.\n"));
        }
        if (c.code == 7) {
            EXPECT_FALSE(r.logHas("INFO: Status Process Error"));
        }
        EXPECT_GE(r.logCount("DEBUG: Status Process Error -- delayTimeCount -- 0.\n"), 3u);
    }
}

TEST(StatusMonitor, SkewAloneIsReportedButCountsAsReady)
{
    auto r = runWithStatus(0xA0, 100);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_GE(queriesBeforeRaster(r), 3);
    EXPECT_LE(queriesBeforeRaster(r), 6);
    EXPECT_GE(r.logCount("INFO: Status Process Error -- The paper is skewed.\n"), 3u);
    EXPECT_FALSE(r.logHas("INFO: Status Process OK -- Normal."));
}

TEST(StatusMonitor, WrongLeaderIsOnlyLogged)
{
    FilterJob job;
    job.pages = {smallPage()};
    job.printer = answerQueries([](int q) {
        return q == 0 ? std::string{'\x10', '\x04', '\x05', '\x00', '\x00'} : statusReply(0x20);
    });
    job.waitMs = 50;  // replies come well within a period even on a busy machine
    auto r = runFilterJob(job);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(r.logHas("DEBUG: Status Process -- Printer Status: 10 4 5 0 0 .\nDEBUG: Status Process Time"));
    EXPECT_FALSE(r.logHas("printerStatus 2"));
    EXPECT_GE(queriesBeforeRaster(r), 4);
}

TEST(StatusMonitor, SilentPrinterHoldsThePageAndIsReportedOnce)
{
    FilterJob job;
    job.pages = {smallPage()};
    job.printer = answerQueries([](int q) { return q < 2 ? statusReply(0x20) : std::string(); });
    job.waitMs = 40;  // replies come well within a period even on a busy machine
    job.timeoutSeconds = 0.6;  // the wait for a ready printer has no deadline of its own
    auto r = runFilterJob(job);
    EXPECT_TRUE(r.timedOut);
    EXPECT_TRUE(r.ofKind(PrinterCommand::Raster).empty());
    EXPECT_GE(r.queries, 5) << "the monitor keeps asking";
    EXPECT_EQ(r.logCount("INFO: The printer does not answer; waiting for it.\n"), 1u);

    // A printer that answers again after a silence is reported silent again
    // at its next silence only.
    FilterJob flaky;
    flaky.pages = {smallPage()};
    flaky.printer = answerQueries([](int q) { return (q == 1 || q == 5) ? std::string() : statusReply(0x24); });
    flaky.waitMs = 40;
    flaky.timeoutSeconds = 0.8;
    auto f = runFilterJob(flaky);
    EXPECT_EQ(f.logCount("INFO: The printer does not answer; waiting for it.\n"), 2u) << f.err;
}
