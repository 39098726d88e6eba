// Copies of a colour page through the built filter and the fake printer:
// every copy self-contained and acknowledged, the acknowledgement bounded and
// never confused with a stale reply, AfterFeed rows sent as blank rows, and
// copies beyond the raster command's limits sent in bands.
#include <gtest/gtest.h>

#include <chrono>

#include "FakePrinter.h"

using namespace testsupport;

namespace {

RasterPage stripes(unsigned width, unsigned height, int copies)
{
    return rgbPage(width, height, [](unsigned x, unsigned y) { return ((x / 4 + y / 3) % 2) ? 0u : 0xFFFFFFu; },
                   copies);
}

std::string ppdWith(int afterFeed, int density = 5)
{
    return ppdWithDefaults({{"Imagealgorithm", "10"}, {"Threshold", "128"}, {"Density", std::to_string(density)},
                            {"AfterFeed", std::to_string(afterFeed)}});
}

// The monitor's queries are answered "ready"; a copy's query gets `copyReply`.
Responder copyPrinter(std::string copyReply, int copyDelayMs = 0)
{
    return [=](const PrinterCommand& c, const std::vector<PrinterCommand>& before) {
        Reply reply;
        if (isCopyQuery(c, before)) {
            reply.bytes = copyReply;
            reply.delayMs = copyDelayMs;
        } else if (c.kind == PrinterCommand::StatusQuery) {
            reply.bytes = statusReply(0x20);
        }
        return reply;
    };
}

// The commands of the copies: everything after the page's opening initialise
// except the monitor's queries.
std::vector<PrinterCommand> copyCommands(const FilterRun& run)
{
    std::vector<PrinterCommand> result;
    bool opened = false;
    for (std::size_t i = 0; i < run.commands.size(); ++i) {
        const auto& c = run.commands[i];
        if (!opened) {
            opened = c.kind == PrinterCommand::Initialise;
            continue;
        }
        bool copyQuery = c.kind == PrinterCommand::StatusQuery && i > 0 &&
                         run.commands[i - 1].kind == PrinterCommand::Raster;
        if (c.kind != PrinterCommand::StatusQuery || copyQuery) {
            result.push_back(c);
        }
    }
    return result;
}

}  // namespace

TEST(Copies, EachCopyIsSelfContainedAndAcknowledged)
{
    FilterJob job;
    job.pages = {stripes(100, 50, 2)};
    job.ppd = ppdWith(0);
    job.printer = copyPrinter(statusReply(0x20), 40);  // the printer needs a while to print
    // Periods long enough that every monitor reply comes within its limit even
    // on a busy machine: a late one could be taken for a copy's acknowledgement.
    job.waitMs = 100;
    auto r = runFilterJob(job);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    auto commands = copyCommands(r);
    // 50 image rows and 120 white ones.
    const std::string copy = "init, density 5, justify 1, raster 16x170, query";
    ASSERT_EQ(describe(commands), copy + ", " + copy);
    EXPECT_TRUE(commands[3].data == commands[8].data);
    EXPECT_TRUE(r.logHas("DEBUG: 710 i = 0.\nDEBUG:  654 -- OK.\nDEBUG: 710 GetAfterPrintFeed -- 0\n"
                         "DEBUG: page lastHeight -- 170\n"))
        << r.err;
    EXPECT_TRUE(r.logHas("DEBUG: 710 i = 1.\n"));
    EXPECT_EQ(r.logCount("DEBUG: Status Process  -- Received reply.\n"), 2u);
    EXPECT_EQ(r.logCount("INFO: Printer Status OK.\n"), 2u);
    EXPECT_TRUE(r.logHas("INFO: Ready to print.\n"));
}

TEST(Copies, AfterFeedRowsArriveAsBlankRows)
{
    FilterJob plain;
    plain.pages = {stripes(100, 50, 1)};
    plain.ppd = ppdWith(0);
    FilterJob fed = plain;
    fed.ppd = ppdWith(3);
    auto p = runFilterJob(plain);
    auto f = runFilterJob(fed);
    ASSERT_EQ(p.exitStatus, 0) << p.err;
    ASSERT_EQ(f.exitStatus, 0) << f.err;
    auto pr = p.ofKind(PrinterCommand::Raster);
    auto fr = f.ofKind(PrinterCommand::Raster);
    ASSERT_EQ(pr.size(), 1u);
    ASSERT_EQ(fr.size(), 1u);
    EXPECT_EQ(fr[0]->rows, 170 + 24);
    EXPECT_TRUE(fr[0]->data == pr[0]->data + std::string(24 * 16, '\0'));
    EXPECT_FALSE(f.endedInsideCommand);
    EXPECT_TRUE(f.logHas("DEBUG: 710 GetAfterPrintFeed -- 3\nDEBUG: page lastHeight -- 194\n"));
}

TEST(Copies, MismatchedReplyThenMatchingOne)
{
    FilterJob job;
    job.pages = {stripes(64, 20, 1)};
    job.ppd = ppdWith(0);
    job.printer = copyPrinter(std::string{'\x10', '\x04', '\x05', '\x20', '\x00'} + statusReply(0x20));
    auto r = runFilterJob(job);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    std::size_t mismatch = r.err.find("DEBUG: Status Process  -- Received reply data 10 4 5 20 0 .\n");
    ASSERT_NE(mismatch, std::string::npos) << r.err;
    EXPECT_LT(mismatch, r.err.find("DEBUG: Status Process  -- Received reply.\n"));
}

TEST(Copies, NoAcknowledgementEndsTheJobWithinItsBound)
{
    FilterJob job;
    job.pages = {stripes(64, 20, 2)};
    job.ppd = ppdWith(0);
    job.printer = copyPrinter("");
    job.waitMs = 100;  // monitor replies well within their limit (see above)
    const auto start = std::chrono::steady_clock::now();
    auto r = runFilterJob(job);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitStatus, 1);
    // 10 periods and 2 ms per announced row, at 100 ms a period.
    EXPECT_TRUE(r.logHas("ERROR: The printer did not acknowledge copy 1 of page 1 within 1.0 seconds; the copy may "
                         "be incomplete.\n"))
        << r.err;
    EXPECT_FALSE(r.logHas("INFO: Ready to print."));
    EXPECT_EQ(r.ofKind(PrinterCommand::Raster).size(), 1u) << "the second copy is not sent";
    EXPECT_LT(seconds, 5.0);
}

TEST(Copies, StaleMonitorReplyIsNotTakenForTheAcknowledgement)
{
    // A reply that reaches the back channel while the copy is on its way (as
    // a monitor reply that came after its time limit would) is thrown away;
    // the copy's own query gets no answer, so the copy fails.
    FilterJob job;
    // More than two pipes hold: the copy cannot be written out before the
    // printer has read past its set-up and answered it.
    job.pages = {stripes(576, 3000, 1)};
    job.ppd = ppdWith(0);
    job.waitMs = 100;  // monitor replies well within their limit (see above)
    job.printer = [](const PrinterCommand& c, const std::vector<PrinterCommand>&) {
        Reply reply;
        if (c.kind == PrinterCommand::Justification) {
            reply.bytes = statusReply(0x20);
        } else if (c.kind == PrinterCommand::StatusQuery && c.query < 3) {
            reply.bytes = statusReply(0x20);
        }
        return reply;
    };
    auto r = runFilterJob(job);
    EXPECT_EQ(r.exitStatus, 1) << r.err;
    EXPECT_TRUE(r.logHas("DEBUG: Discarded 5 stale reply bytes before copy 1.\n")) << r.err;
    EXPECT_TRUE(r.logHas("ERROR: The printer did not acknowledge copy 1 of page 1"));
    EXPECT_FALSE(r.logHas("DEBUG: Status Process  -- Received reply.\n"));
}

TEST(Copies, AcknowledgementWithAnErrorSaysTheCopyMayBeIncomplete)
{
    FilterJob job;
    job.pages = {stripes(64, 20, 2)};
    job.ppd = ppdWith(0);
    job.printer = copyPrinter(statusReply(0x24));  // cover opened while printing
    auto r = runFilterJob(job);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(r.logHas("INFO: Copy 1 of page 1 may be incomplete: the printer cover is open.\n")) << r.err;
    EXPECT_TRUE(r.logHas("INFO: Copy 2 of page 1 may be incomplete: the printer cover is open.\n"));
    EXPECT_EQ(r.logCount("INFO: Printer Status OK.\n"), 2u);
}

TEST(Copies, NoCopiesSendNothingOfThePage)
{
    for (int copies : {0, -1}) {
        FilterJob job;
        job.pages = {stripes(64, 20, copies)};
        job.ppd = ppdWith(0);
        auto r = runFilterJob(job);
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_TRUE(r.ofKind(PrinterCommand::Raster).empty());
        EXPECT_TRUE(r.logHas("DEBUG: RawData After outputarray -- curPagePos -- 1120.\n -- 725")) << r.err;
    }
}

TEST(Copies, CopiesBeyondTheRowLimitGoOutInBands)
{
    FilterJob job;
    job.pages = {stripes(8, 70000, 2)};
    job.ppd = ppdWith(1);
    auto r = runFilterJob(job);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    auto commands = copyCommands(r);
    // Per copy: set-up, two bands (the second with the 120 white and 8 AfterFeed rows), one query.
    const std::string copy = "init, density 5, justify 1, raster 4x65535, raster 4x" +
                             std::to_string(70000 + 120 + 8 - 65535) + ", query";
    ASSERT_EQ(describe(commands), copy + ", " + copy);
    for (const auto& band : {commands[4], commands[10]}) {
        EXPECT_EQ(band.data.substr(band.data.size() - 8 * 4), std::string(8 * 4, '\0'));
    }
    EXPECT_TRUE(commands[3].data + commands[4].data == commands[9].data + commands[10].data);
    EXPECT_FALSE(r.endedInsideCommand);
    EXPECT_EQ(r.logCount("DEBUG: Status Process  -- Received reply.\n"), 2u);
}
