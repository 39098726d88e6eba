// Bad input through the built filter: each gets a clear "ERROR: " line and a
// defined exit status, nothing hangs, nothing crashes, and nothing but
// status queries and whole commands reaches the printer.
#include <gtest/gtest.h>

#include <cstring>

#include "PrinterJob.h"

using namespace reliability;
using namespace testsupport;

namespace {

// An uncompressed raster stream written byte by byte, so that headers may
// carry values libcups's writer would not produce.
std::string rawPage(const cups_page_header2_t& header, const std::string& data)
{
    std::string bytes(sizeof header, '\0');
    std::memcpy(bytes.data(), &header, sizeof header);
    return bytes + data;
}

std::string rawStream(const std::string& pages)
{
    // The sync word of an uncompressed stream, in this machine's byte order.
    const std::uint32_t sync = CUPS_RASTER_SYNC;  // "RaS3", version 3
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &sync, 4);
    return bytes + pages;
}

std::string blankRows(const cups_page_header2_t& header, unsigned rows)
{
    return std::string(static_cast<std::size_t>(header.cupsBytesPerLine) * rows, '\xFF');
}

// The filter ended as a filter must, with the given status, said why in an
// ERROR line, and left the printer outside any command.
void expectCleanFailure(const PrinterRun& run, int status, const std::string& error)
{
    EXPECT_EQ(run.proc.exitStatus, status) << run.log();
    EXPECT_FALSE(run.proc.timedOut);
    EXPECT_TRUE(run.logHas(error)) << "expected \"" << error << "\" in\n" << run.log();
    EXPECT_EQ(run.summary.count("unfinished_raster") ? run.summary.at("unfinished_raster") : "no", "no");
    EXPECT_LT(run.seconds, 10.0);
}

}  // namespace

TEST(BadInput, StreamEndsInsideTheFirstHeader)
{
    PrinterJob job;
    job.rawStream = rawStream(rawPage(pageHeader(64, 8, 8, 1), "")).substr(0, 700);
    const PrinterRun run = runWithPrinter(job);
    expectCleanFailure(run, 1, "ERROR: No pages found!\n");
    EXPECT_EQ(run.number("rasters"), 0);
}

TEST(BadInput, AbsurdAndNegativeLookingSizes)
{
    struct Case {
        unsigned width, height;
        const char* what;
    };
    for (const Case& c : {Case{0x7FFFFFF0u, 4, "width"}, Case{64, 0xFFFFFFF0u, "height"},
                          Case{0xFFFFFFFFu, 0xFFFFFFFFu, "both"}, Case{200000, 200000, "area"}}) {
        SCOPED_TRACE(c.what);
        cups_page_header2_t header = pageHeader(64, 8, 8, 1);
        header.cupsWidth = c.width;
        header.cupsHeight = c.height;
        header.cupsBytesPerLine = static_cast<unsigned>((std::uint64_t{c.width} * 24 + 7) / 8);
        PrinterJob job;
        job.rawStream = rawStream(rawPage(header, std::string(4096, '\xFF')));
        const PrinterRun run = runWithPrinter(job);
        // libcups refuses some of these headers itself (no page at all);
        // the filter refuses the rest before it allocates anything.
        EXPECT_EQ(run.proc.exitStatus, 1) << run.log();
        EXPECT_TRUE(run.logHas("ERROR: ")) << run.log();
        EXPECT_EQ(run.number("rasters"), 0);
        EXPECT_LT(run.seconds, 10.0);
    }
}

TEST(BadInput, ZeroSizedFirstPage)
{
    cups_page_header2_t header = pageHeader(64, 8, 8, 1);
    header.cupsHeight = 0;
    PrinterJob job;
    job.rawStream = rawStream(rawPage(header, ""));
    expectCleanFailure(runWithPrinter(job), 1, "ERROR: No pages found!\n");
}

TEST(BadInput, UnsupportedBitDepths)
{
    for (unsigned bits : {2u, 4u, 16u}) {
        SCOPED_TRACE(bits);
        cups_page_header2_t header = pageHeader(16, 4, bits, 1);
        PrinterJob job;
        job.rawStream = rawStream(rawPage(header, blankRows(header, 4)));
        const PrinterRun run = runWithPrinter(job);
        expectCleanFailure(run, 1, "ERROR: Page 1 has " + std::to_string(bits) + " bits per colour");
        EXPECT_EQ(run.number("rasters"), 0);
    }
}

TEST(BadInput, UnsupportedColourOrderAndSpace)
{
    cups_page_header2_t planar = pageHeader(16, 4, 8, 1);
    planar.cupsColorOrder = CUPS_ORDER_PLANAR;
    PrinterJob job;
    job.rawStream = rawStream(rawPage(planar, blankRows(planar, 12)));
    expectCleanFailure(runWithPrinter(job), 1, "ERROR: Unsupported colour order 2");

    cups_page_header2_t cmyk = pageHeader(16, 4, 8, 1);
    cmyk.cupsColorSpace = CUPS_CSPACE_CMYK;
    job.rawStream = rawStream(rawPage(cmyk, blankRows(cmyk, 4)));
    expectCleanFailure(runWithPrinter(job), 1, "ERROR: Unsupported colour space 6");
}

TEST(BadInput, APpdThatIsNotAPpd)
{
    TempDir dir;
    const std::string ppd = dir.file("not.ppd");
    writeFile(ppd, "%!PS-Adobe-3.0\nthis is no PPD\n");
    PrinterJob job;
    job.pages = {boxPage(1)};
    job.ppdPath = ppd;
    const PrinterRun run = runWithPrinter(job);
    expectCleanFailure(run, 1, "ERROR: Unable to read the PPD file \"" + ppd + "\"");
    // Without settings there is no binarization, and the page is refused whole.
    EXPECT_TRUE(run.logHas("ERROR: Unsupported binarization setting -1")) << run.log();
    EXPECT_EQ(run.number("rasters"), 0);
}

TEST(BadInput, OptionValuesThePpdDoesNotOffer)
{
    PrinterJob job;
    job.pages = {boxPage(1)};
    job.options = "Density=abc Imagealgorithm=99 Brightness=1000 job-sheets=none";
    const PrinterRun run = runWithPrinter(job);
    // Each is named and replaced by the PPD's default; the page prints.
    EXPECT_TRUE(run.logHas("ERROR: Option Density=abc is not one of the printer's choices; using Density=")) << run.log();
    EXPECT_TRUE(run.logHas("ERROR: Option Imagealgorithm=99 is not one of the printer's choices")) << run.log();
    EXPECT_TRUE(run.logHas("ERROR: Option Brightness=1000 is not one of the printer's choices")) << run.log();
    EXPECT_FALSE(run.logHas("job-sheets")) << "options the filter does not read are not its business";
    EXPECT_EQ(run.proc.exitStatus, 0) << run.log();
    EXPECT_EQ(run.number("rasters_printed"), 1);
}

TEST(BadInput, StreamEndsInsideAPage)
{
    // A first page whole, the second cut inside its rows: the second is named
    // as not printed; the first is printed.
    const cups_page_header2_t header = pageHeader(64, 8, 8, 1);
    const std::string page = rawPage(header, blankRows(header, 8));
    PrinterJob job;
    job.rawStream = rawStream(page + page.substr(0, page.size() - 100));
    const PrinterRun run = runWithPrinter(job);
    EXPECT_TRUE(run.logHas("ERROR: The raster stream ended inside page 2 (7 of 8 lines read); the page was not "
                           "printed.\n"))
        << run.log();
    EXPECT_EQ(run.number("rasters"), 1);
    EXPECT_EQ(run.summary.at("unfinished_raster"), "no");
    EXPECT_LT(run.seconds, 10.0);
}

TEST(BadInput, SeventhArgumentIsADirectory)
{
    TempDir dir;
    PrinterJob job;
    job.filterArgs = {"42", "user", "title", "1", "", dir.path()};
    expectCleanFailure(runWithPrinter(job), 1, "ERROR: Unable to open raster file - : Is a directory\n");
}

TEST(BadInput, ARasterStreamOfAnotherFormat)
{
    for (const std::string& stream : {std::string("%PDF-1.4\n") + std::string(4000, 'x'),
                                      std::string("\x89PNG\r\n\x1a\n") + std::string(2000, '\0')}) {
        PrinterJob job;
        job.rawStream = stream;
        job.rasterOnStdin = true;
        const PrinterRun run = runWithPrinter(job);
        expectCleanFailure(run, 1, "ERROR: The input is empty or not a CUPS raster stream.\n");
        EXPECT_TRUE(run.logHas("ERROR: No pages found!\n"));
    }
}
