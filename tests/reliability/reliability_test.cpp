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
    return rgbPage(64, 24, [](unsigned x, unsigned y) { return x >= 16 && x < 48 && y >= 6 && y < 18 ? 0u : 0xFFFFFFu; },
                   copies);
}

PrinterRun cancelledRun(PrinterJob job, const std::string& afterSeconds)
{
    job.printerArgs.insert(job.printerArgs.end(), {"--timeout", afterSeconds});
    auto r = runJob(job);
    EXPECT_LT(r.seconds, std::stod(afterSeconds) + 2.0) << "before the printer's SIGKILL";
    return r;
}

// The filter ended by itself after the cancel, and the cancel sequence (600
// bytes of 00, initialise twice) is the last thing the printer received.
void expectCancelledCleanly(const PrinterRun& run)
{
    EXPECT_EQ(run.proc.exitStatus, 0) << run.log();
    EXPECT_TRUE(run.has("INFO: Job cancelled.\n")) << run.log();
    EXPECT_FALSE(run.has("INFO: Ready to print."));
    EXPECT_EQ(run.summary.at("unfinished_raster"), "no") << run.listing;
    const std::string commands = run.commands();
    EXPECT_TRUE(commands.ends_with("?600, 1B 40, 1B 40")) << commands;
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
        {"1-4:ready,5-9:cover,ready", 3, "INFO: Copy 2 of page 1 may be incomplete: the printer cover is open.\n", false},
        {"1-8:none,ready", 1, "INFO: The printer does not answer; waiting for it.\n", true},
        {"1-2:wrongleader,3:raw=FFFFFFFFFF,4:raw=41,5:wrongleader,ready", 2,
         "DEBUG: Status Process -- Printer Status: 10 4 5 20 0 .\n", true},
        {"ready+split=5", 2, "", true},
        {"ready+stray=AA55", 2, "DEBUG: Discarded 2 stray reply bytes.\n", true},
        // One wait period (20 ms) is the monitor's limit: a late reply must
        // never pass for a copy's acknowledgement.
        {"1-6:ready+delay=30,ready", 3, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        PrinterJob job;
        job.pages = {boxPage(c.copies)};
        job.status = c.status;
        auto r = runJob(job);
        ASSERT_EQ(r.proc.exitStatus, 0) << r.log();
        EXPECT_LT(r.seconds, 10.0);
        EXPECT_TRUE(r.has(c.line)) << r.log();
        EXPECT_EQ(r.number("rasters"), c.copies);
        EXPECT_EQ(r.number("copies_acknowledged"), c.copies);
        EXPECT_GE(r.number("rasters_printed") + static_cast<long>(r.count("may be incomplete")), c.copies);
        EXPECT_LE(r.number("rasters_printed"), c.copies);
        EXPECT_EQ(r.summary.at("unfinished_raster"), "no");
        EXPECT_EQ(r.has("may be incomplete") || r.has("INFO: Status Process Error"), !c.clean) << r.log();
    }
}

TEST(JobCancel, EndsTheJobCleanlyWhereverItComes)
{
    struct Case {
        PrinterJob job;
        std::string after;
        long rastersBelow;
    };
    const std::vector<Case> cases = {
        // While waiting for a ready printer.
        {{.pages = {boxPage(2)}, .status = "paperout"}, "0.5", 1},
        // While waiting for a copy's acknowledgement, which comes 1.5 s late:
        // no copy starts after the cancel.
        {{.pages = {boxPage(3)}, .status = "1-3:ready,4:ready+delay=1500,ready", .waitMs = 100}, "0.8", 2},
        // Somewhere among many pages.
        {{.pages = std::vector(40, oneBitPage(64, 16, [](unsigned x, unsigned y) { return (x + y) % 3 == 0; }))}, "0.4",
         40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.after);
        const auto r = cancelledRun(c.job, c.after);
        expectCancelledCleanly(r);
        EXPECT_LT(r.number("rasters"), c.rastersBelow);
    }
}

TEST(JobCancel, PrinterThatStopsReadingGivesUpWithAnError)
{
    // Standard output blocks inside a large page: the cancel cannot complete,
    // and the filter gives up five wait periods after it.
    PrinterJob job;
    job.pages = {oneBitPage(576, 4000, [](unsigned x, unsigned y) { return (x * y) % 7 == 0; })};
    job.printerArgs = {"--stall-after", "20000"};
    const auto r = cancelledRun(job, "0.5");
    EXPECT_EQ(r.proc.exitStatus, 1) << r.log();
    EXPECT_TRUE(r.has("ERROR: The job did not end within 5 seconds after it was cancelled")) << r.log();
}

TEST(BadInput, EndsWithAnErrorLineAndADefinedStatus)
{
    TempDir dir;
    writeFile(dir.file("not.ppd"), "%!PS-Adobe-3.0\nthis is no PPD\n");
    // A PPD offering a binarization setting that has no binarizer.
    auto algorithmPpd = [&](const std::string& v) {
        writeFile(dir.file(v + ".ppd"), "*PPD-Adobe: \"4.3\"\n*OpenUI *Imagealgorithm: PickOne\n*DefaultImagealgorithm: " + v +
                                           "\n*Imagealgorithm " + v + "/" + v + ": \"\"\n*CloseUI: *Imagealgorithm\n");
        return dir.file(v + ".ppd");
    };
    auto header = [](auto change) {
        RasterPage page{pageHeader(64, 8, 8, 1), std::vector<unsigned char>(4096, 0xFF)};
        change(page.header);
        return rasterStream({page});
    };
    auto size = [&](unsigned width, unsigned height) {
        return header([=](auto& h) {
            h.cupsWidth = width;
            h.cupsHeight = height;
            h.cupsBytesPerLine = static_cast<unsigned>((std::uint64_t{width} * 24 + 7) / 8);
        });
    };
    const unsigned outOfRange = 128;  // no value of the enum; a stream may carry it all the same
    const std::string page = header([](auto&) {}).substr(0, 4 + sizeof(cups_page_header2_t) + 1536);
    const std::string colour = rasterStream({boxPage(1)});
    struct Case {
        PrinterJob job;
        int status;
        std::string lines;
    };
    const std::string usage = "ERROR: rastertozorvan job-id user title copies options [file]\n";
    const std::vector<Case> cases = {
        {{.rawStream = colour, .onStdin = true, .filterArgs = {"1", "u", "t", "1"}}, 1, usage},
        {{.rawStream = colour, .onStdin = true, .filterArgs = {"1", "u", "t", "1", "", "f", "extra"}}, 1, usage},
        {{.filterArgs = {"1", "u", "t", "1", "", "/nonexistent/job.ras"}}, 1,
         "ERROR: Unable to open raster file - : No such file or directory\n"},
        {{.filterArgs = {"1", "u", "t", "1", "", dir.path()}}, 1, "ERROR: Unable to open raster file - : Is a directory\n"},
        {{.onStdin = true}, 1, "ERROR: The input is empty or not a CUPS raster stream.\nERROR: No pages found!\n"},
        {{.rawStream = "%PDF-1.4\n" + std::string(4000, 'x'), .onStdin = true}, 1,
         "ERROR: The input is empty or not a CUPS raster stream.\nERROR: No pages found!\n"},
        {{.rawStream = "\x89PNG\r\n\x1a\n" + std::string(2000, '\0')}, 1,
         "ERROR: The input is empty or not a CUPS raster stream.\nERROR: No pages found!\n"},
        {{.rawStream = page.substr(0, 700)}, 1, "ERROR: No pages found!\n"},
        {{.rawStream = header([](auto& h) { h.cupsHeight = 0; })}, 1, "ERROR: No pages found!\n"},
        {{.rawStream = header([](auto& h) { h.cupsColorOrder = CUPS_ORDER_BANDED; })}, 1, "ERROR: Unsupported colour order 1"},
        {{.rawStream = header([](auto& h) { h.cupsColorOrder = CUPS_ORDER_PLANAR; })}, 1, "ERROR: Unsupported colour order 2"},
        {{.rawStream = header([&](auto& h) { std::memcpy(&h.cupsColorOrder, &outOfRange, 4); })}, 1,
         "ERROR: Unsupported colour order 128"},
        {{.rawStream = header([](auto& h) { h.cupsColorSpace = CUPS_CSPACE_RGBA; })}, 1, "ERROR: Unsupported colour space 2"},
        {{.rawStream = header([](auto& h) { h.cupsColorSpace = CUPS_CSPACE_CMYK; })}, 1, "ERROR: Unsupported colour space 6"},
        {{.rawStream = header([](auto& h) { h.cupsBitsPerColor = 2; })}, 1, "ERROR: Page 1 has 2 bits per colour"},
        {{.rawStream = header([](auto& h) { h.cupsBitsPerColor = 16; })}, 1, "ERROR: Page 1 has 16 bits per colour"},
        {{.rawStream = rasterStream({RasterPage{pageHeader(600000, 2, 1, 3), {}}})}, 1,
         "ERROR: Page rows of 75000 bytes do not fit the printer's raster command"},
        {{.rawStream = rasterStream({RasterPage{pageHeader(576, 2000000, 8, 1), {}}})}, 1,
         "ERROR: Page of 576 x 2000000 pixels (1728 bytes per line) is too large"},
        // libcups refuses some of these itself (no page at all); the filter the rest.
        {{.rawStream = size(0x7FFFFFF0u, 4)}, 1, "ERROR: "},
        {{.rawStream = size(64, 0xFFFFFFF0u)}, 1, "ERROR: "},
        {{.rawStream = size(0xFFFFFFFFu, 0xFFFFFFFFu)}, 1, "ERROR: "},
        {{.rawStream = size(200000, 200000)}, 1, "ERROR: "},
        {{.rawStream = colour, .ppdPath = algorithmPpd("1")}, 1, "ERROR: Unsupported binarization setting 1 (Imagealgorithm)"},
        {{.rawStream = colour, .ppdPath = algorithmPpd("12")}, 1, "ERROR: Unsupported binarization setting 12 (Imagealgorithm)"},
        {{.rawStream = colour, .ppdPath = dir.file("not.ppd")}, 1,
         "ERROR: Unable to read the PPD file \"" + dir.file("not.ppd") + "\": \nDEBUG: PPD MediaType=-1\n"
         "ERROR: Unsupported binarization setting -1 (Imagealgorithm)"},
        // A page cut inside its rows is named and not printed; the page before it is.
        {{.rawStream = page + page.substr(4, page.size() - 104)}, 0,
         "ERROR: The raster stream ended inside page 2 (7 of 8 lines read); the page was not printed.\n"},
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
        EXPECT_LT(r.seconds, 10.0);
    }
}
