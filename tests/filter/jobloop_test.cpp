// The job loop through the built filter: arguments, settings lines, header
// lines, the end of the job and the error exits.
#include <gtest/gtest.h>

#include <cstring>

#include "FakePrinter.h"
#include "support/Process.h"
#include "support/Raster.h"

using namespace testsupport;

namespace {

ProcessResult runFilter(const std::vector<std::string>& args, const ProcessOptions& base = {})
{
    ProcessOptions options = base;
    options.env["ZORVAN_TEST_WAIT_MS"] = "20";
    options.timeoutSeconds = 20;
    std::vector<std::string> argv = {builtProgram("rastertozorvan")};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, options);
}

// Whether the log holds the lines of `text` in this order; the monitor
// thread's lines may come between them.
bool logHas(const std::string& log, const std::string& text)
{
    FilterRun run;
    run.err = log;
    return run.logHas(text);
}

const char* usageLine = "ERROR: rastertozorvan job-id user title copies options [file]\n";

RasterPage smallOneBitPage(int copies = 1)
{
    return oneBitPage(64, 16, [](unsigned x, unsigned y) { return (x + y) % 3 == 0; }, copies);
}

}  // namespace

TEST(JobLoop, WrongArgumentCountsGiveTheUsageLine)
{
    for (auto args : {std::vector<std::string>{"1", "u", "t", "1"},
                      std::vector<std::string>{"1", "u", "t", "1", "", "f", "extra"}}) {
        ProcessOptions options;
        options.stdinData = rasterStream({smallOneBitPage()});
        auto r = runFilter(args, options);
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_NE(r.err.find(usageLine), std::string::npos);
        EXPECT_EQ(r.err.find("DEBUG: header"), std::string::npos) << "nothing may be read";
        // The monitor starts first and may have asked for the status already.
        for (const auto& command : decodePrinterStream(r.out)) {
            EXPECT_EQ(command.kind, PrinterCommand::StatusQuery);
        }
    }
}

TEST(JobLoop, EmptyOrForeignStreamHasNoPages)
{
    for (std::string stream : {std::string(), std::string("%!PS-Adobe-3.0\nshowpage\n")}) {
        ProcessOptions options;
        options.stdinData = stream;
        auto r = runFilter({"1", "u", "t", "1", ""}, options);
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_NE(r.err.find("ERROR: No pages found!\n"), std::string::npos);
        EXPECT_EQ(r.err.find("INFO: Ready to print."), std::string::npos);
    }
}

TEST(JobLoop, MissingFileIsReportedWithTheSystemReason)
{
    auto r = runFilter({"1", "u", "t", "1", "", "/nonexistent/zorvan/job.ras"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("ERROR: Unable to open raster file - : No such file or directory\n"), std::string::npos)
        << r.err;
}

TEST(JobLoop, SettingsLinesComeInOrderAndJobOptionsWin)
{
    std::string allMissing;
    for (const char* name : {"MediaType", "Density", "Openingfeed", "Brightness", "Contrast", "Imagealgorithm",
                             "Threshold", "HorizontalOffset", "VerticalOffset", "BlackAndWhiteInversion",
                             "PaperCutMode", "AfterPrintFeed", "BlackMarkOffset", "setBlackMarkOffset",
                             "MediaTypeSet", "PaperSaveMode", "PageHeaderBlank", "EndBlank"}) {
        allMissing += "DEBUG: PPD " + std::string(name) + "=-1\n";
    }
    ProcessOptions noPpd;
    noPpd.unsetEnv = {"PPD"};
    EXPECT_TRUE(logHas(runFilter({"1", "u", "t", "1", "Density=5"}, noPpd).err, allMissing));

    TempDir dir;
    writeFile(dir.file("z.ppd"), ppdText({{"Density", {"3", "3", "5", "7"}}, {"Imagealgorithm", {"10Manual", "0", "10Manual"}}}));
    ProcessOptions options;
    options.env["PPD"] = dir.file("z.ppd");
    auto defaults = runFilter({"1", "u", "t", "1", ""}, options);
    EXPECT_TRUE(logHas(defaults.err, "DEBUG: PPD MediaType=-1\nDEBUG: PPD Density=3\nDEBUG: PPD Imagealgorithm=10\n"))
        << defaults.err;
    auto chosen = runFilter({"1", "u", "t", "1", "Density=5"}, options);
    EXPECT_NE(chosen.err.find("DEBUG: PPD Density=5\n"), std::string::npos) << chosen.err;
}

TEST(JobLoop, WithoutABackChannelTheFilesItOpensAreNotReadAsReplies)
{
    // Run by hand there is no descriptor 3: the raster file and the PPD the
    // filter opens must not take its place and be eaten by the monitor.
    TempDir dir;
    writeRasterFile(dir.file("page.ras"), {smallOneBitPage()});
    ProcessOptions options;
    options.noBackChannel = true;
    options.env["PPD"] = sourcePath("ppd/zorvan.ppd");
    options.env["ZORVAN_TEST_WAIT_MS"] = "20";
    options.timeoutSeconds = 1.5;  // with no printer the job waits until stopped
    auto r = runProcess({builtProgram("rastertozorvan"), "1", "u", "t", "1", "", dir.file("page.ras")}, options);
    EXPECT_TRUE(logHas(r.err, "DEBUG: PPD Density=4\n")) << r.err;
    EXPECT_TRUE(logHas(r.err, "DEBUG: header cupsWidth -- 64.\nDEBUG: header cupsHeight -- 16.\n")) << r.err;
    EXPECT_TRUE(logHas(r.err, "INFO: The printer does not answer; waiting for it.\n")) << r.err;
    EXPECT_EQ(r.err.find("stray reply bytes"), std::string::npos) << r.err;
}

TEST(JobLoop, HeaderAndRowSizeLinesOfAPage)
{
    FilterJob job;
    auto page = rgbPage(575, 3, [](unsigned, unsigned) { return 0xFFFFFFu; }, 2);
    job.pages = {page};
    job.ppd = ppdText({{"Imagealgorithm", {"0", "0"}}});
    auto r = runFilterJob(job);
    const std::string expected =
        "DEBUG: header cupsWidth -- 575.\nDEBUG: header cupsHeight -- 3.\n"
        "DEBUG: header pageSize[0] -- " + std::to_string(page.header.PageSize[0]) + ".\n"
        "DEBUG: header pageSize[1] -- " + std::to_string(page.header.PageSize[1]) + ".\n"
        "DEBUG: header cupsBitsPerPixel -- 24.\nDEBUG: header NumCopies -- 2.\n"
        "DEBUG: header cupsBitsPerColor -- 8.\nDEBUG: header cupsColorOrder -- 0.\n"
        "DEBUG: header cupsColorSpace -- 1.\nDEBUG: header cupsRowCount -- 3.\n"
        "DEBUG: header cupsCompression -- 0.\n";
    EXPECT_TRUE(r.logHas(expected)) << r.err;
    EXPECT_TRUE(r.logHas("DEBUG: cupsWidth -- 575.\nDEBUG: header cupsBytesPerLine -- 1725.\n"
                         "DEBUG: page tmpWidth -- 1728.\nDEBUG: page actualWidth -- 1728.\n"));
    EXPECT_TRUE(r.logHas("DEBUG: actualWidth -- 1728.\nPAGE: 1 2\n"));
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(r.logHas("INFO: Ready to print.\n"));
}

TEST(JobLoop, OneBitRowSizesPageNumbersAndTheZeroHeightEnd)
{
    FilterJob job;
    RasterPage end;
    end.header = pageHeader(64, 0, 1, 3);
    job.pages = {oneBitPage(576, 4, [](unsigned, unsigned) { return false; }, 3), smallOneBitPage(2), end,
                 smallOneBitPage()};
    auto r = runFilterJob(job);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(r.logHas("DEBUG: page tmpWidth -- 72.\nDEBUG: page actualWidth -- 72.\n"));
    EXPECT_TRUE(r.logHas("PAGE: 1 3\n"));
    EXPECT_TRUE(r.logHas("PAGE: 2 2\n"));
    EXPECT_FALSE(r.logHas("PAGE: 3")) << "a page of height 0 ends the job";
    EXPECT_EQ(r.ofKind(PrinterCommand::Raster).size(), 2u);
    EXPECT_TRUE(r.logHas("INFO: Ready to print.\n"));
}

TEST(JobLoop, UnsupportedLayoutsAreNamedBeforeAnythingIsSent)
{
    struct Case {
        cups_page_header2_t header;
        const char* message;
    };
    auto order = pageHeader(64, 8, 8, 1);
    order.cupsColorOrder = CUPS_ORDER_BANDED;
    auto space = pageHeader(64, 8, 8, 1);
    space.cupsColorSpace = CUPS_CSPACE_RGBA;
    space.cupsBitsPerPixel = 32;
    space.cupsBytesPerLine = 64 * 4;
    auto strangeOrder = pageHeader(64, 8, 8, 1);
    const unsigned outOfRange = 128;  // no value of the enum; a stream may carry it all the same
    std::memcpy(&strangeOrder.cupsColorOrder, &outOfRange, sizeof outOfRange);
    auto tooWide = pageHeader(600000, 2, 1, 3);
    auto tooLarge = pageHeader(576, 2000000, 8, 1);
    for (const Case& c : {Case{order, "ERROR: Unsupported colour order 1"},
                          Case{space, "ERROR: Unsupported colour space 2"},
                          Case{strangeOrder, "ERROR: Unsupported colour order 128"},
                          Case{tooWide, "ERROR: Page rows of 75000 bytes do not fit the printer's raster command"},
                          Case{tooLarge, "ERROR: Page of 576 x 2000000 pixels (1728 bytes per line) is too large"}}) {
        FilterJob job;
        RasterPage page;
        page.header = c.header;  // the rows are never read
        job.pages = {page};
        auto r = runFilterJob(job);
        EXPECT_EQ(r.exitStatus, 1) << c.message;
        EXPECT_TRUE(r.logHas(c.message)) << r.err;
        EXPECT_FALSE(r.logHas("PAGE:"));
        EXPECT_TRUE(r.ofKind(PrinterCommand::Initialise).empty());
        EXPECT_FALSE(r.logHas("INFO: Ready to print."));
    }
}

TEST(JobLoop, FailedPageIsAnErrorNotSuccess)
{
    // No PPD: no binarization is chosen for a colour page.
    FilterJob job;
    job.pages = {rgbPage(32, 4, [](unsigned, unsigned) { return 0u; })};
    auto r = runFilterJob(job);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(r.logHas("ERROR: Unsupported binarization setting -1 (Imagealgorithm)")) << r.err;
    EXPECT_FALSE(r.logHas("INFO: Ready to print."));
    EXPECT_TRUE(r.ofKind(PrinterCommand::Raster).empty());

    // (Bit depths other than 1 and 8, and streams ending inside a page: reliability tests.)
}
