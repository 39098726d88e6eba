// The job loop through the built filter: arguments, settings lines, header
// lines, the end of the job and the error exits.
#include <gtest/gtest.h>

#include "support/PrinterJob.h"

using namespace testsupport;

namespace {

RasterPage smallPage(int copies = 1)
{
    return oneBitPage(64, 16, [](unsigned x, unsigned y) { return (x + y) % 3 == 0; }, copies);
}

// The settings lines for these values, in the order they are logged.
std::string settingsLines(const std::vector<int>& values)
{
    const char* names[] = {"MediaType", "Density", "Openingfeed", "Brightness", "Contrast", "Imagealgorithm",
                           "Threshold", "HorizontalOffset", "VerticalOffset", "BlackAndWhiteInversion",
                           "PaperCutMode", "AfterPrintFeed", "BlackMarkOffset", "setBlackMarkOffset",
                           "MediaTypeSet", "PaperSaveMode", "PageHeaderBlank", "EndBlank"};
    std::string lines;
    for (std::size_t i = 0; i < values.size(); ++i) {
        lines += "DEBUG: PPD " + std::string(names[i]) + "=" + std::to_string(values[i]) + "\n";
    }
    return lines;
}

}  // namespace

TEST(JobLoop, SettingsLinesComeInOrderAndJobOptionsWin)
{
    PrinterJob job;
    job.pages = {smallPage()};
    job.options = "Density=6 Imagealgorithm=10 Brightness=-100 job-uuid=urn:uuid:x";
    auto r = runJob(job);
    EXPECT_EQ(r.proc.exitStatus, 0) << r.log();
    // The shipped PPD: continuous paper, middle density, Otsu, the bottom trimmed to a 2 mm margin.
    EXPECT_TRUE(r.has(settingsLines({1, 6, 0, -100, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2}))) << r.log();

    // Values the PPD does not offer are named, and its defaults used.
    job.options = "Density=abc Imagealgorithm=99 Brightness=1000 job-sheets=none";
    r = runJob(job);
    EXPECT_EQ(r.proc.exitStatus, 0) << r.log();
    EXPECT_TRUE(r.has("ERROR: Option Density=abc is not one of the printer's choices; using Density=4.\n")) << r.log();
    EXPECT_TRUE(r.has("ERROR: Option Imagealgorithm=99 is not one of the printer's choices"));
    EXPECT_TRUE(r.has("ERROR: Option Brightness=1000 is not one of the printer's choices"));
    EXPECT_FALSE(r.has("job-sheets")) << "options the filter does not read are not its business";
    EXPECT_TRUE(r.has(settingsLines({1, 4, 0, 0, 0, 0})));

}

TEST(JobLoop, WithoutABackChannelTheFilesItOpensAreNotReadAsReplies)
{
    // Run by hand there is no descriptor 3: the raster file and the PPD the
    // filter opens must not take its place and be eaten by the monitor.
    TempDir dir;
    writeFile(dir.file("page.ras"), rasterStream({smallPage()}));
    ProcessOptions options;
    options.noBackChannel = true;
    options.env = {{"PPD", sourcePath("ppd/zorvan.ppd")}, {"ZORVAN_TEST_WAIT_MS", "20"}};
    options.timeoutSeconds = 1.5;  // with no printer the job waits until stopped
    auto r = runProcess({builtProgram("rastertozorvan"), "1", "u", "t", "1", "", dir.file("page.ras")}, options);
    EXPECT_NE(r.err.find("DEBUG: PPD Density=4\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("DEBUG: header cupsWidth -- 64.\nDEBUG: header cupsHeight -- 16.\n"), std::string::npos);
    EXPECT_NE(r.err.find("INFO: The printer does not answer; waiting for it.\n"), std::string::npos);
    EXPECT_EQ(r.err.find("stray reply bytes"), std::string::npos);
}

TEST(JobLoop, HeaderAndRowSizeLinesOfAPage)
{
    // Page numbers count accepted pages; a page of height 0 ends the job.
    PrinterJob job;
    auto colour = rgbPage(575, 3, [](unsigned, unsigned) { return 0xFFFFFFu; }, 2);
    job.pages = {colour, oneBitPage(576, 4, [](unsigned, unsigned) { return false; }, 3), smallPage(2),
                 RasterPage{pageHeader(64, 0, 1, 3), {}}, smallPage()};
    auto r = runJob(job);
    EXPECT_EQ(r.proc.exitStatus, 0) << r.log();
    EXPECT_TRUE(r.has("DEBUG: header cupsWidth -- 575.\nDEBUG: header cupsHeight -- 3.\n"
                      "DEBUG: header pageSize[0] -- " + std::to_string(colour.header.PageSize[0]) + ".\n"
                      "DEBUG: header pageSize[1] -- " + std::to_string(colour.header.PageSize[1]) + ".\n"
                      "DEBUG: header cupsBitsPerPixel -- 24.\nDEBUG: header NumCopies -- 2.\n"
                      "DEBUG: header cupsBitsPerColor -- 8.\nDEBUG: header cupsColorOrder -- 0.\n"
                      "DEBUG: header cupsColorSpace -- 1.\nDEBUG: header cupsRowCount -- 3.\n"
                      "DEBUG: header cupsCompression -- 0.\n"
                      "DEBUG: cupsWidth -- 575.\nDEBUG: header cupsBytesPerLine -- 1725.\n"
                      "DEBUG: page tmpWidth -- 1728.\nDEBUG: page actualWidth -- 1728.\n"
                      "DEBUG: actualWidth -- 1728.\nPAGE: 1 2\n"
                      "DEBUG: page tmpWidth -- 72.\nDEBUG: page actualWidth -- 72.\nDEBUG: actualWidth -- 72.\n"
                      "PAGE: 2 3\nPAGE: 3 2\nINFO: Ready to print.\n"))
        << r.log();
    EXPECT_FALSE(r.has("PAGE: 4"));
    EXPECT_EQ(r.number("rasters"), 4);
}
