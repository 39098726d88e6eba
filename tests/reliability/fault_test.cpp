// Printer faults through the built filter and the simulated printer. Each job
// must end (no wait beyond its bound), say what happened, and account for
// every copy: printed once, or named as possibly incomplete.
#include <gtest/gtest.h>

#include "PrinterJob.h"

using namespace reliability;

namespace {

// Generous: a job of a few small copies takes well under a second at the
// 20 ms test wait period; anything near this means a wait without a bound.
constexpr double jobBoundSeconds = 10.0;

}  // namespace

TEST(PrinterFaults, CoverOpenedBetweenCopiesAndClosedAgain)
{
    PrinterJob job;
    job.pages = {boxPage(3)};
    // The monitor's first polls find the printer ready, then the cover opens
    // for a while; every later query finds it closed.
    job.status = "1-4:ready,5-9:cover,ready";
    const PrinterRun run = runWithPrinter(job);
    ASSERT_EQ(run.proc.exitStatus, 0) << run.log();
    EXPECT_LT(run.seconds, jobBoundSeconds);
    EXPECT_TRUE(run.logHas("INFO: Status Process Error -- Open the printer cover.\n") ||
                run.logHas("may be incomplete: the printer cover is open"))
        << run.log();
    EXPECT_TRUE(copiesAccountedFor(run, 3));
    EXPECT_EQ(run.summary.at("unfinished_raster"), "no");
}

TEST(PrinterFaults, PaperOutAtTheStartThenLoaded)
{
    PrinterJob job;
    job.pages = {boxPage(2)};
    job.status = "1-5:paperout,ready";
    const PrinterRun run = runWithPrinter(job);
    ASSERT_EQ(run.proc.exitStatus, 0) << run.log();
    EXPECT_LT(run.seconds, jobBoundSeconds);
    EXPECT_EQ(run.logCount("INFO: Status Process Error -- Out of paper.\n"), 5u) << run.log();
    // Nothing went out while the paper was missing, and both copies printed.
    EXPECT_EQ(run.number("printed_while_error"), 0);
    EXPECT_EQ(run.number("rasters_printed"), 2);
    EXPECT_TRUE(copiesAccountedFor(run, 2));
}

TEST(PrinterFaults, OverheatingInTheMiddleOfAJob)
{
    PrinterJob job;
    job.pages = {boxPage(2), boxPage(2)};
    job.status = "1-5:ready,6-9:hot,ready";
    const PrinterRun run = runWithPrinter(job);
    ASSERT_EQ(run.proc.exitStatus, 0) << run.log();
    EXPECT_LT(run.seconds, jobBoundSeconds);
    EXPECT_TRUE(run.logHas("INFO: Status Process Error -- Printer is overheating.\n") ||
                run.logHas("may be incomplete: the printer is overheating"))
        << run.log();
    EXPECT_TRUE(copiesAccountedFor(run, 4));
}

TEST(PrinterFaults, NoReplyAtTheStartWaitsUntilThePrinterAnswers)
{
    PrinterJob job;
    job.pages = {boxPage(1)};
    job.status = "1-8:none,ready";
    const PrinterRun run = runWithPrinter(job);
    ASSERT_EQ(run.proc.exitStatus, 0) << run.log();
    EXPECT_TRUE(run.logHas("INFO: The printer does not answer; waiting for it.\n")) << run.log();
    // Nothing is sent before the printer has answered ready three times.
    EXPECT_GE(run.number("queries"), 11);
    EXPECT_EQ(run.number("rasters_printed"), 1);
}

TEST(PrinterFaults, NoReplyAfterACopyEndsWithinItsBound)
{
    PrinterJob job;
    job.pages = {boxPage(2)};
    job.status = "1-3:ready,none";
    const PrinterRun run = runWithPrinter(job);
    EXPECT_EQ(run.proc.exitStatus, 1) << run.log();
    EXPECT_LT(run.seconds, jobBoundSeconds);
    EXPECT_TRUE(run.logHas("ERROR: The printer did not acknowledge copy 1 of page 1")) << run.log();
    // The second copy is never sent on top of an unacknowledged one.
    EXPECT_EQ(run.number("rasters"), 1);
    EXPECT_EQ(run.summary.at("unfinished_raster"), "no");
}

TEST(PrinterFaults, GarbageAndWrongLeaderRepliesAreIgnored)
{
    PrinterJob job;
    job.pages = {boxPage(2)};
    job.status = "1-2:wrongleader,3:raw=FFFFFFFFFF,4:raw=41,5:wrongleader,ready";
    const PrinterRun run = runWithPrinter(job);
    ASSERT_EQ(run.proc.exitStatus, 0) << run.log();
    EXPECT_LT(run.seconds, jobBoundSeconds);
    EXPECT_TRUE(run.logHas("DEBUG: Status Process -- Printer Status: 10 4 5 20 0 .\n")) << run.log();
    EXPECT_TRUE(copiesAccountedFor(run, 2));
    EXPECT_FALSE(run.logHas("may be incomplete")) << run.log();
}

// A ready printer whose replies come in an awkward shape (`status`) is never
// reported as anything else, and both copies print.
namespace {

void expectReadyPrinterPrintsTwoCopies(const std::string& status)
{
    PrinterJob job;
    job.pages = {boxPage(2)};
    job.status = status;
    const PrinterRun run = runWithPrinter(job);
    ASSERT_EQ(run.proc.exitStatus, 0) << run.log();
    EXPECT_LT(run.seconds, jobBoundSeconds);
    EXPECT_FALSE(run.logHas("INFO: Status Process Error")) << run.log();
    EXPECT_FALSE(run.logHas("may be incomplete")) << run.log();
    EXPECT_TRUE(copiesAccountedFor(run, 2));
}

}  // namespace

TEST(PrinterFaults, RepliesSplitAcrossReads)
{
    expectReadyPrinterPrintsTwoCopies("ready+split=5");
}

TEST(PrinterFaults, RepliesPrecededByStrayBytes)
{
    expectReadyPrinterPrintsTwoCopies("ready+stray=AA55");
}

TEST(PrinterFaults, RepliesJustAfterTheOneSecondLimit)
{
    PrinterJob job;
    job.pages = {boxPage(3)};
    // One wait period (20 ms) is the monitor's one-second limit.
    job.status = "1-6:ready+delay=30,ready";
    const PrinterRun run = runWithPrinter(job);
    ASSERT_EQ(run.proc.exitStatus, 0) << run.log();
    EXPECT_LT(run.seconds, jobBoundSeconds);
    // A late monitor reply is never taken for a copy's acknowledgement: each
    // copy is acknowledged by its own reply.
    EXPECT_EQ(run.number("copies_acknowledged"), 3);
    EXPECT_TRUE(copiesAccountedFor(run, 3));
}
