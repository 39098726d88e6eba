// Job cancel: the simulated printer sends the filter SIGTERM (its --timeout)
// at a chosen point of the job. The filter must end by itself, normally and
// promptly, with the printer left outside any command and the cancel sequence
// (600 bytes of 00, then initialise twice) as the last thing it received; or,
// when the printer has stopped reading, give up with an ERROR line.
#include <gtest/gtest.h>

#include <sstream>

#include "PrinterJob.h"

using namespace reliability;
using namespace testsupport;

namespace {

// The filter ended by itself after the cancel: a normal exit, not the
// simulator's SIGKILL two seconds after its SIGTERM.
void expectCancelledCleanly(const PrinterRun& run)
{
    EXPECT_EQ(run.proc.exitStatus, 0) << run.log();
    EXPECT_TRUE(run.logHas("INFO: Job cancelled.\n")) << run.log();
    EXPECT_FALSE(run.logHas("INFO: Ready to print.")) << run.log();
    EXPECT_EQ(run.summary.at("unfinished_raster"), "no") << run.listing;
    // The cancel sequence is the last thing the printer received.
    // (Right after a raster the simulator lists the 600 zero bytes as
    // suspect; they are the sequence's, not the raster's.)
    const std::size_t zeros = run.listing.rfind("00 00 00 00 00 00 00 00 ...");
    ASSERT_NE(zeros, std::string::npos) << run.listing;
    const std::string line = run.listing.substr(zeros, run.listing.find('\n', zeros) - zeros);
    const std::string after = run.listing.substr(zeros + line.size());
    std::size_t initialises = 0;
    for (std::size_t at = after.find("initialise"); at != std::string::npos; at = after.find("initialise", at + 1)) {
        ++initialises;
    }
    EXPECT_NE(line.find("600"), std::string::npos) << line;
    EXPECT_EQ(initialises, 2u) << after;
    EXPECT_EQ(after.find("raster"), std::string::npos) << after;
}

PrinterJob cancelledJob(double afterSeconds)
{
    PrinterJob job;
    std::ostringstream timeout;
    timeout << afterSeconds;
    job.printerArgs = {"--timeout", timeout.str()};
    return job;
}

}  // namespace

TEST(JobCancel, WhileWaitingForAReadyPrinter)
{
    PrinterJob job = cancelledJob(0.5);
    job.pages = {boxPage(2)};
    job.status = "paperout";
    const PrinterRun run = runWithPrinter(job);
    expectCancelledCleanly(run);
    EXPECT_EQ(run.number("rasters"), 0);
    EXPECT_LT(run.seconds, 0.5 + 2.0);
}

TEST(JobCancel, WhileWaitingForACopysAcknowledgement)
{
    // Wait periods of 100 ms: ready after about 0.3 s, then the first copy's
    // acknowledgement comes 1.5 s late, and the cancel arrives in between.
    PrinterJob job = cancelledJob(0.8);
    job.waitMs = 100;
    job.pages = {boxPage(3)};
    job.status = "1-3:ready,4:ready+delay=1500,ready";
    const PrinterRun run = runWithPrinter(job);
    expectCancelledCleanly(run);
    EXPECT_EQ(run.number("rasters"), 1) << "no copy starts after the cancel";
    EXPECT_LT(run.seconds, 0.8 + 2.0);
}

TEST(JobCancel, BetweenPages)
{
    // Many small 1-bit pages; the cancel lands somewhere among them.
    PrinterJob job = cancelledJob(0.4);
    for (int i = 0; i < 40; ++i) {
        job.pages.push_back(oneBitPage(64, 16, [](unsigned x, unsigned y) { return (x + y) % 3 == 0; }));
    }
    const PrinterRun run = runWithPrinter(job);
    expectCancelledCleanly(run);
    EXPECT_LT(run.number("rasters"), 40);
    EXPECT_LT(run.seconds, 0.4 + 2.0);
}

TEST(JobCancel, PrinterThatStopsReadingGivesUpWithAnError)
{
    // The printer takes the first bytes of a large page and then nothing:
    // standard output blocks, and the cancel cannot be completed.
    PrinterJob job = cancelledJob(0.5);
    job.pages = {oneBitPage(576, 4000, [](unsigned x, unsigned y) { return (x * y) % 7 == 0; })};
    job.printerArgs.insert(job.printerArgs.end(), {"--stall-after", "20000"});
    const PrinterRun run = runWithPrinter(job);
    EXPECT_EQ(run.proc.exitStatus, 1) << run.log();
    EXPECT_TRUE(run.logHas("ERROR: The job did not end within 5 seconds after it was cancelled")) << run.log();
    // Five wait periods of 20 ms after the cancel, well before the SIGKILL.
    EXPECT_LT(run.seconds, 0.5 + 2.0);
}
