// Printer faults, cancelled jobs and bad input through the built filter and
// the simulated printer. Each job must end within its bound, say what
// happened, and leave the printer outside any command.
#include <gtest/gtest.h>

#include <cstring>

#include "support/PrinterJob.h"

using namespace testsupport;

namespace {

// A black box on white, `copies` copies, under the shipped PPD's settings.
RasterPage boxPage(int copies)
{
    auto box = [](unsigned x, unsigned y) { return x >= 16 && x < 48 && y >= 6 && y < 18 ? 0u : 0xFFFFFFu; };
    return rasterPage(64, 24, 8, 1, box, copies);
}

// A job whose printer cancels it (SIGTERM) after `seconds`.
PrinterRun cancelledRun(PrinterJob job, const std::string& seconds)
{
    job.printerArgs.insert(job.printerArgs.end(), {"--timeout", seconds});
    auto r = runJob(job);
    EXPECT_LT(r.proc.seconds, std::stod(seconds) + 2.0) << "the filter ended before the printer's SIGKILL";
    return r;
}

}  // namespace

TEST(PrinterFaults, EveryCopyPrintsOnceOrIsNamedIncomplete)
{
    struct Case {
        std::string status;
        int copies;
        std::string line;
        bool clean;  // a ready printer whose replies come in an awkward shape
    };
    const std::vector<Case> cases = {
        {"1-4:ready,5-9:cover,ready", 3, "INFO: Copy 2 of page 1 may be incomplete: the printer cover is open.", false},
        {"1-8:none,ready", 1, "INFO: The printer does not answer; waiting for it.\n", true},
        {"1-2:wrongleader,3:raw=FFFFFFFFFF,4:raw=41,5:wrongleader,ready", 2,
         "DEBUG: Status Process -- Printer Status: 10 4 5 20 0 .\n", true},
        {" ready+ split=5 ", 2, "", true},  // spaces around parts are allowed
        // Stray bytes filling most of the reply buffer come before every reply.
        {"ready+stray=" + [] { std::string hex; while (hex.size() < 96) hex += "AA55"; return hex; }(), 2,
         "DEBUG: Discarded 48 stray reply bytes.\n", true},
        // One wait period (20 ms) is the monitor's limit: a late reply must
        // never pass for a copy's acknowledgement.
        {"1-6:ready+delay=30,ready", 3, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        auto r = runJob({.pages = {boxPage(c.copies)}, .status = c.status});
        ASSERT_EQ(r.proc.exitStatus, 0) << r.log();
        EXPECT_LT(r.proc.seconds, 10.0);
        EXPECT_TRUE(r.has(c.line)) << r.log();
        EXPECT_EQ(r.number("rasters"), c.copies);
        EXPECT_EQ(r.number("copies_acknowledged"), c.copies);
        EXPECT_GE(r.number("rasters_printed") + static_cast<long>(r.count("may be incomplete")), c.copies);
        EXPECT_LE(r.number("rasters_printed"), c.copies);
        EXPECT_EQ(r.summary.at("unfinished_raster"), "no");
        EXPECT_EQ(r.has("may be incomplete") || r.has("INFO: Status Process Error"), !c.clean) << r.log();
    }
}

TEST(PrinterFaults, WithoutABackChannelTheFileItOpensIsNotReadAsReplies)
{
    // Run by hand with descriptor 3 closed, the raster file the filter opens must not take its
    // place: every row of the page, and the same again after it, is a ready reply (10 04 04 20
    // 00), and read as replies they would print the page at once.
    TempDir dir;
    const auto page = rasterPage(40, 1000, 1, 3, [](unsigned x, unsigned) { return 0x1004042000ull >> (39 - x) & 1; });
    writeFile(dir.file("page.ras"), rasterStream({page}) + std::string(page.rows.begin(), page.rows.end()));
    const auto r = runProcess({builtProgram("rastertozorvan"), "1", "u", "t", "1", "", dir.file("page.ras")},
                              {.env = {{"PPD", builtPpd()}, {"ZORVAN_TEST_WAIT_MS", "20"}},
                               .timeoutSeconds = 1.5,  // with no printer the job waits until stopped
                               .backChannel = false});
    EXPECT_NE(r.err.find("INFO: The printer does not answer; waiting for it.\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Printer Status:"), std::string::npos) << "a reply was read from the file";
    EXPECT_EQ(r.out.find("\x1D\x76\x30"), std::string::npos) << "the page printed as if the printer were ready";
}

TEST(JobCancel, EndsTheJobCleanlyWhereverItComes)
{
    struct Case {
        PrinterJob job;
        std::string after;
        long rastersBelow;
    };
    // Periods of 100 ms: after a cancel the job has five (half a second) to end,
    // time enough on a loaded machine.
    const std::vector<Case> cases = {
        // While waiting for a ready printer.
        {{.pages = {boxPage(2)}, .status = "paperout", .waitMs = 100}, "0.5", 1},
        // While waiting for a copy's acknowledgement, which comes 1.5 s late:
        // no copy starts after the cancel.
        {{.pages = {boxPage(3)}, .status = "1-3:ready,4:ready+delay=1500,ready", .waitMs = 100}, "0.8", 2},
        // Somewhere among many pages.
        {{.pages = std::vector(40, rasterPage(64, 16, 1, 3, [](unsigned x, unsigned y) { return (x + y) % 3 == 0; })),
          .waitMs = 100},
         "0.8",
         40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.after);
        const auto r = cancelledRun(c.job, c.after);
        EXPECT_EQ(r.proc.exitStatus, 0) << r.log();
        EXPECT_TRUE(r.has("INFO: Job cancelled.\n")) << r.log();
        EXPECT_FALSE(r.has("INFO: Ready to print."));
        EXPECT_EQ(r.summary.at("unfinished_raster"), "no") << r.listing;
        // The cancel sequence (600 bytes of 00, initialise twice) is the last thing the printer received.
        EXPECT_TRUE(r.commands().ends_with("?600, 1B 40, 1B 40")) << r.commands();
        EXPECT_LT(r.number("rasters"), c.rastersBelow);
    }
}

TEST(JobCancel, PrinterThatStopsReadingGivesUpWithAnError)
{
    // Standard output blocks inside a large page: the cancel cannot complete,
    // and the filter gives up five wait periods after it.
    const auto r =
        cancelledRun({.pages = {rasterPage(576, 4000, 1, 3, [](unsigned x, unsigned y) { return (x * y) % 7 == 0; })},
                      .printerArgs = {"--stall-after", "20000"}},
                     "0.5");
    EXPECT_EQ(r.proc.exitStatus, 1) << r.log();
    EXPECT_TRUE(r.has("ERROR: The job did not end within 5 seconds after it was cancelled")) << r.log();
}

TEST(BadInput, EndsWithAnErrorLineAndADefinedStatus)
{
    TempDir dir;
    const std::string notPpd = dir.file("not.ppd"), algorithmPpd = dir.file("algorithm.ppd");
    writeFile(notPpd, "%!PS-Adobe-3.0\nthis is no PPD\n");
    // A PPD offering a binarization setting that has no binarizer.
    writeFile(algorithmPpd,
              "*PPD-Adobe: \"4.3\"\n*OpenUI *Imagealgorithm: PickOne\n*DefaultImagealgorithm: 1\n"
              "*Imagealgorithm 1/One: \"\"\n*CloseUI: *Imagealgorithm\n");
    // A job of one 64 x 8 RGB page whose header `change` changes.
    auto header = [](auto change) {
        RasterPage page{pageHeader(64, 8, 8, 1), std::vector<unsigned char>(4096, 0xFF)};
        change(page.header);
        return PrinterJob{.rawStream = rasterStream({page})};
    };
    auto size = [&](unsigned width, unsigned height) {
        return header([=](auto& h) {
            h.cupsWidth = width;
            h.cupsHeight = height;
            h.cupsBytesPerLine = static_cast<unsigned>((std::uint64_t{width} * 24 + 7) / 8);
        });
    };
    const unsigned outOfRange = 128;  // no value of the enum; a stream may carry it all the same
    const std::string page = header([](auto&) {}).rawStream.substr(0, 4 + sizeof(cups_page_header2_t) + 1536);
    const std::string colour = rasterStream({boxPage(1)});
    const std::string usage = "ERROR: rastertozorvan job-id user title copies options [file]\n";
    const std::string noRaster = "ERROR: The input is empty or not a CUPS raster stream.\nERROR: No pages found!\n";
    struct Case {
        int status;
        std::string lines;
        PrinterJob job;
    };
    const std::vector<Case> cases = {
        {1, usage, {.rawStream = colour, .onStdin = true, .filterArgs = {"1", "u", "t", "1"}}},
        {1, usage, {.rawStream = colour, .onStdin = true, .filterArgs = {"1", "u", "t", "1", "", "f", "extra"}}},
        {1, "ERROR: Unable to open raster file - : No such file", {.filterArgs = {"1", "u", "t", "1", "", "/no"}}},
        {1, "ERROR: Unable to open raster file - : Is a directory\n", {.filterArgs = {"1", "u", "t", "1", "", "/"}}},
        {1, noRaster, {.onStdin = true}},
        {1, noRaster, {.rawStream = "%PDF-1.4\n" + std::string(4000, 'x'), .onStdin = true}},
        {1, "ERROR: No pages found!\n", {.rawStream = page.substr(0, 700)}},
        {1, "ERROR: No pages found!\n", header([](auto& h) { h.cupsHeight = 0; })},
        {1, "ERROR: Unsupported colour order 1", header([](auto& h) { h.cupsColorOrder = CUPS_ORDER_BANDED; })},
        {1, "ERROR: Unsupported colour order 128",
         header([&](auto& h) { std::memcpy(&h.cupsColorOrder, &outOfRange, 4); })},
        {1, "ERROR: Unsupported colour space 2", header([](auto& h) { h.cupsColorSpace = CUPS_CSPACE_RGBA; })},
        {1, "ERROR: Page 1 has 16 bits per colour", header([](auto& h) { h.cupsBitsPerColor = 16; })},
        {1, "ERROR: Page rows of 75000 bytes do not fit", header([](auto& h) { h = pageHeader(600000, 2, 1, 3); })},
        {1, "ERROR: Page of 576 x 2000000 pixels", header([](auto& h) { h = pageHeader(576, 2000000, 8, 1); })},
        // libcups refuses some of these itself (no page at all); the filter the rest.
        {1, "ERROR: ", size(0x7FFFFFF0u, 4)},
        {1, "ERROR: ", size(0xFFFFFFFFu, 0xFFFFFFFFu)},
        {1,
         "ERROR: Unsupported binarization setting 1 (Imagealgorithm)",
         {.rawStream = colour, .ppdPath = algorithmPpd}},
        {1,
         "ERROR: Unable to read the PPD file \"" + notPpd + "\": \nDEBUG: PPD MediaType=-1\nsetting -1",
         {.rawStream = colour, .ppdPath = notPpd}},
        // Values the PPD does not offer are named and its defaults used; the page prints.
        {0,
         "ERROR: Option Brightness=1000 is not one of the printer's choices; using Brightness=0.\n"
         "ERROR: Option Density=abc is not one of the printer's choices; using Density=4.\n"
         "ERROR: Option Imagealgorithm=99 is not one of the printer's choices; using Imagealgorithm=12.\n",
         {.rawStream = colour, .options = "Density=abc Imagealgorithm=99 Brightness=1000"}},
        // A page cut inside its rows is named and not printed; the page before it is.
        // Rows are read in bands, so the message names the band the stream ended in.
        {0,
         "ERROR: The raster stream ended inside page 2 (within lines 1 to 8 of 8); the page was not printed.\n",
         {.rawStream = page + page.substr(4, page.size() - 104)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines);
        const auto r = runJob(c.job);
        EXPECT_EQ(r.proc.exitStatus, c.status) << r.log();
        EXPECT_TRUE(r.has(c.lines)) << r.log();
        EXPECT_EQ(r.has("INFO: Ready to print."), c.status == 0);
        EXPECT_EQ(r.number("rasters"), c.status == 0 ? 1 : 0);
        EXPECT_EQ(r.summary.at("unfinished_raster"), "no");
        EXPECT_TRUE(c.lines != usage || !r.has("DEBUG: header")) << "with the wrong arguments nothing may be read";
        EXPECT_LT(r.proc.seconds, 10.0);
    }
}
