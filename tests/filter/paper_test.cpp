// The paper choices through the built filter and the simulated printer: each
// choice adds exactly its command bytes to each copy (or to the job's end),
// and at their defaults the printer gets the bytes it always got.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/PrinterJob.h"

using namespace testsupport;

namespace {

// Two copies of a colour page 9 dots wide (4 bytes a row) and 12 rows high.
struct PaperRow {
    const char* options;
    const char* paperMode;  // right after a copy's initialise
    const char* feed;       // right before its raster command
    int tearRows;           // white rows below the image
    const char* cut;        // after each copy's rows
    const char* jobEnd;     // after the last copy
};

std::string expectedCommands(const PaperRow& row)
{
    char raster[40];
    std::snprintf(raster, sizeof raster, "1D 76 30 00 04 00 %02X 00", 12 + row.tearRows);
    const std::string copy = std::string("1B 40, ") + row.paperMode + "1D 83 04, 1B 61 01, " + row.feed + raster +
                             row.cut;
    return "1B 40, " + copy + ", " + copy + row.jobEnd;
}

}  // namespace

TEST(PaperChoices, EachChoiceAddsItsBytesToEveryCopy)
{
    const PaperRow table[] = {
        // Every new or mended choice at its default: today's bytes.
        {"", "", "", 120, "", ""},
        {"PaperCutMode=1", "", "", 120, ", 1D 56 42 00", ""},
        {"PaperCutMode=2", "", "", 120, ", 1D 56 41 00", ""},
        {"PaperCutMode=3", "", "", 120, "", ", 1D 56 42 00"},
        {"PaperCutMode=4 AfterFeed=1", "", "", 128, "", ", 1D 56 41 00"},
        {"Openingfeed=5", "", "1B 4A 28, ", 120, "", ""},
        {"Openingfeed=40", "", "1B 4A FF, 1B 4A 40, ", 120, "", ""},
        {"MediaTypeSet=1", "1B 01 00, ", "", 120, "", ""},
        {"MediaTypeSet=1 MediaType=3", "1B 01 02, ", "", 0, "", ""},
        {"MediaTypeSet=1 MediaType=4 Openingfeed=3 PaperCutMode=2", "1B 01 01, ", "1B 4A 18, ", 0,
         ", 1D 56 41 00", ""},
        {"MediaType=4", "", "", 0, "", ""},
    };
    const RasterPage page = rasterPage(9, 12, 8, 1, [](unsigned x, unsigned y) { return (x + y) % 3 ? 0xFFFFFFu : 0u; }, 2);
    std::string todaysPaper;
    for (const PaperRow& row : table) {
        SCOPED_TRACE(row.options);
        const PrinterRun r = runJob({.pages = {page}, .options = std::string(row.options) + " PaperSaveMode=0", .headDots = 32});
        ASSERT_EQ(r.proc.exitStatus, 0) << r.log();
        EXPECT_EQ(r.commands(), expectedCommands(row));
        EXPECT_EQ(r.number("copies_acknowledged"), 2);
        EXPECT_EQ(r.number("errors"), 0) << r.listing;
        // The image itself is the same whatever the paper choices (below the fed paper).
        std::string paper = r.paperBytes();
        paper.erase(0, paper.find_first_not_of('\0') / 4 * 4);
        if (todaysPaper.empty()) {
            todaysPaper = paper;
        }
        EXPECT_EQ(paper.substr(0, 12 * 4), todaysPaper.substr(0, 12 * 4));
        // A copy's cut comes before its status query, so its acknowledgement covers the cut.
        if (*row.cut != '\0') {
            const std::size_t cutEnd = r.listing.find('\n', r.listing.find("cut (GS V"));
            const std::string next = r.listing.substr(cutEnd + 1, r.listing.find('\n', cutEnd + 1) - cutEnd - 1);
            EXPECT_NE(next.find("acknowledges raster #1"), std::string::npos) << r.listing;
        }
    }
}

TEST(PaperChoices, OneBitPagesAreCutEachOrOnceAtTheEnd)
{
    const RasterPage label = rasterPage(64, 16, 1, 3, [](unsigned x, unsigned) { return x % 2; });
    for (const auto& [options, cuts] :
         std::vector<std::pair<std::string, std::string>>{{"PaperCutMode=1", "1D 56 42 00, 1D 56 42 00"},
                                                          {"PaperCutMode=4", "1D 56 41 00"}}) {
        SCOPED_TRACE(options);
        const PrinterRun r = runJob({.pages = {label, label}, .options = options, .headDots = 64});
        ASSERT_EQ(r.proc.exitStatus, 0) << r.log();
        const std::string page = "1B 40, 1B 01 00, 1B 4A 00, 1D 83 04, 1B 61 01, 1D 76 30 00 08 00 10 00";
        const std::string commands = r.commands();
        EXPECT_EQ(commands, options == "PaperCutMode=1" ? page + ", 1D 56 42 00, " + page + ", 1D 56 42 00"
                                                        : page + ", " + page + ", 1D 56 41 00");
    }
}

TEST(PaperChoices, AnInvertedReceiptEndsInWhitePaper)
{
    // White on black: the image is inverted, the paper beside and below it is
    // not: 60 or 56 dots of image in rows of 64 leave 4 or 8 padding dots blank.
    for (const unsigned width : {60u, 56u}) {
        const RasterPage receipt = rasterPage(width, 40, 8, 1, [](unsigned x, unsigned y) {
            return y > 8 && y < 30 && x > 8 && x < 52 && (y / 4) % 2 ? 0u : 0xFFFFFFu;
        });
        const PrinterRun r = runJob({.pages = {receipt}, .options = "Blackandwhiteinversion=1 PaperSaveMode=0", .headDots = 64});
        ASSERT_EQ(r.proc.exitStatus, 0) << r.log();
        ASSERT_EQ(r.paper.height, 40 + 120);
        const std::string paper = r.paperBytes();
        const char padding = static_cast<char>(0xFF >> (width - 56));
        EXPECT_EQ(paper.substr(0, 8), std::string(7, '\xFF') + static_cast<char>(~padding));  // the white page prints black
        for (int y = 0; y < 40; ++y) EXPECT_EQ(paper[y * 8 + 7] & padding, 0) << "padding dots on row " << y;
        EXPECT_EQ(paper.substr(40 * 8), std::string(120 * 8, '\0'));  // the tear-off stays paper
        EXPECT_EQ(r.number("cuts"), 0);
    }
}
