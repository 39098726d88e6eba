// Colour pages through the built filter and the simulated printer: every copy
// carries, byte for byte, the bit raster the imaging library makes of the same
// image when called directly, and is acknowledged before the next one goes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "filter/settingsThermalSensitivityPara.h"
#include "imaging/24BitTo1Bit.h"
#include "imaging/Dither.h"
#include "imaging/FunctionAsistant.h"
#include "imaging/TextAndPictures.h"
#include "imaging/freeimageHalftone.h"
#include "support/PrinterJob.h"

using namespace testsupport;

namespace {

struct Settings {
    int algorithm = 0, threshold = 0, paperMode = 1, inversion = 0, brightness = 0, contrast = 0, horizontal = 0,
        vertical = 0, afterFeed = 0;

    // Job options over the shipped PPD, paper saving off.
    std::string options() const
    {
        std::ostringstream o;
        o << "Imagealgorithm=" << algorithm << " Threshold=" << threshold << " MediaType=" << paperMode
          << " Blackandwhiteinversion=" << inversion << " Brightness=" << brightness << " Contrast=" << contrast
          << " HorizontalOffset=" << horizontal << " VerticalOffset=" << vertical << " AfterFeed=" << afterFeed
          << " PaperSaveMode=0";
        return o.str();
    }
};

// What one copy puts on the paper: the library's bit raster of the page under
// these settings, called step by step as a colour page goes, then the
// AfterFeed rows blank.
std::string expectedCopy(const RasterPage& page, const Settings& s)
{
    const int width = static_cast<int>(page.header.cupsWidth), height = static_cast<int>(page.header.cupsHeight);
    const int stride = (width * 24 + 31) / 32 * 4, witsStep = (width + 31) / 32 * 4;
    std::vector<unsigned char> image(static_cast<std::size_t>(stride) * height, 0);
    for (int y = 0; y < height; ++y) {
        std::memcpy(&image[static_cast<std::size_t>(y) * stride], &page.rows[static_cast<std::size_t>(y) * width * 3],
                    static_cast<std::size_t>(width) * 3);
    }
    if (s.brightness != 0 || s.contrast != 0) {
        f_BrightContrastPS(image.data(), width, height, width * 3, s.brightness, s.contrast);
    }
    if (s.horizontal != 0 || s.vertical != 0) {
        f_XYOfffset(image.data(), width, height, width * 3, s.horizontal * 24, s.vertical * 24);
    }
    TrueCollorRGBToBGR(width, height, image.data());
    settingsThermalSensitivity = {};  // the binarizers read the manual threshold through the getters
    settingsThermalSensitivity.Threshold = s.threshold;
    const int extra = s.paperMode == 2 ? 560 : s.paperMode >= 3 ? 0 : 120;
    int size = witsStep * (height + extra);
    std::vector<unsigned char> bits(static_cast<std::size_t>(size));
    using Binarizer = bool (*)(int, int, int, const unsigned char*, unsigned, unsigned char*, int*);
    const Binarizer binarizers[] = {TrueCollorBitToOnebit,
                                    nullptr,
                                    makeDitherBayer8,
                                    makeDitherBayer16,
                                    nullptr,
                                    nullptr,
                                    nullptr,
                                    ErrorDiffusionFloydSteinberg7351,
                                    ErrorDiffusionBurkes,
                                    ErrorDiffusionSierra,
                                    Threshold,
                                    ErrorDiffusionStucki,
                                    TextAndPicturesToOnebit};
    const unsigned selector = s.algorithm == 10 ? static_cast<unsigned>(s.threshold) : 12u;
    EXPECT_TRUE(binarizers[s.algorithm](width, height, extra, image.data(), selector, bits.data(), &size));
    if (s.inversion == 0) {
        DoTurnOver(bits.data(), size);
    } else {
        std::fill(bits.begin() + static_cast<std::ptrdiff_t>(witsStep) * height, bits.end(), 0);  // blank tear-off
        for (int x = width; x < witsStep * 8; ++x) {  // and blank padding
            for (int y = 0; y < height; ++y) bits[y * witsStep + x / 8] &= static_cast<unsigned char>(~(0x80 >> (x % 8)));
        }
    }
    return std::string(bits.begin(), bits.end()) +
           std::string(static_cast<std::size_t>(8 * s.afterFeed * witsStep), '\0');
}

// A gradient, a dark block and coloured lines.
RasterPage picture(unsigned width, unsigned height, int copies = 1)
{
    auto colour = [=](unsigned x, unsigned y) {
        const unsigned level = 255 * x / std::max(width - 1, 1u);
        const bool block = x >= width / 4 && x < width / 2 && y >= height / 4 && y < height / 2;
        return block        ? 0x101010u
               : y % 7 == 3 ? 0xC02040u
                            : (level << 16) | (((level + y * 3) & 0xFF) << 8) | (255 - level);
    };
    return rasterPage(width, height, 8, 1, colour, copies);
}

// Prints the pages (all of one row size) and checks every copy on the paper.
PrinterRun expectLibraryBits(const std::vector<RasterPage>& pages, const Settings& s)
{
    auto r = runJob({.pages = pages,
                     .options = s.options(),
                     .headDots = static_cast<int>((pages[0].header.cupsWidth + 31) / 32 * 32)});
    EXPECT_EQ(r.proc.exitStatus, 0) << r.log();
    std::string expected;
    long copies = 0;
    for (const RasterPage& page : pages) {
        for (int copy = 0; copy < static_cast<int>(page.header.NumCopies); ++copy, ++copies) {
            expected += expectedCopy(page, s);
        }
    }
    EXPECT_EQ(r.number("copies_acknowledged"), copies);
    EXPECT_EQ(r.number("errors"), 0) << r.listing;
    EXPECT_TRUE(r.paperBytes() == expected) << "the paper differs from the library's bit raster";
    return r;
}

}  // namespace

TEST(ColourRoad, EveryBinarizationSettingPrintsTheLibrarysBits)
{
    for (int algorithm : {0, 2, 3, 7, 8, 9, 10, 11, 12}) {
        SCOPED_TRACE(algorithm);
        auto r =
            expectLibraryBits({picture(75, 30, 2)}, Settings{.algorithm = algorithm, .threshold = 144, .afterFeed = 1});
        // The page's initialise, then each copy self-contained: 12 bytes x (30 + 120 + 8) rows.
        const std::string copy = "1B 40, 1D 83 04, 1B 61 01, 1D 76 30 00 0C 00 9E 00";
        EXPECT_EQ(r.commands(), "1B 40, " + copy + ", " + copy);
    }
}

TEST(ColourRoad, SizesPaperModesInversionAndAdjustments)
{
    std::vector<RasterPage> tiny = {picture(1, 1), picture(2, 2), picture(1, 7), picture(7, 1), picture(31, 5)};
    for (std::uint32_t level : {0x000000u, 0xFFFFFFu, 0x808080u}) {
        tiny.push_back(rasterPage(17, 9, 8, 1, [=](unsigned, unsigned) { return level; }));
    }
    for (int algorithm : {0, 3, 7}) {
        SCOPED_TRACE(algorithm);
        expectLibraryBits(tiny, Settings{.algorithm = algorithm});
        expectLibraryBits({picture(575, 3), picture(545, 4)}, Settings{.algorithm = algorithm});
    }
    const std::vector<Settings> table = {{.paperMode = 2},
                                         {.paperMode = 3},
                                         {.paperMode = 4},
                                         {.inversion = 1},
                                         {.algorithm = 7, .brightness = 20},
                                         {.algorithm = 7, .contrast = 40},
                                         {.algorithm = 7, .brightness = -20, .contrast = -100},
                                         {.algorithm = 2, .horizontal = 1, .vertical = -1},
                                         {.algorithm = 10, .threshold = 96, .horizontal = -5}};
    for (const Settings& s : table) {
        SCOPED_TRACE(s.options());
        expectLibraryBits({picture(90, 40)}, s);
    }
}

TEST(Copies, OnlyTheCopysOwnMatchingReplyAcknowledgesIt)
{
    // Three ready replies let the first copy go; its query is the fourth.
    struct Case {
        std::string status;
        RasterPage page;
        int exitStatus;
        std::string lines;
        int waitMs = 100;  // the monitor's replies well within its limit on a busy machine
    };
    const std::vector<Case> cases = {
        {"1-3:ready,4:raw=10040520001004042000,ready", picture(64, 20, 2), 0,
         "DEBUG: Status Process  -- Received reply data 10 4 5 20 0 .\nDEBUG: Status Process  -- Received reply.\n"
         "DEBUG: 710 i = 1.\nDEBUG: Status Process  -- Received reply.\n"},
        // No reply: 10 periods and 2 ms per announced row; the second copy is not sent.
        {"1-3:ready,none", picture(64, 20, 2), 1,
         "ERROR: The printer did not acknowledge copy 1 of page 1 within 1.0 seconds; the copy may be incomplete.\n"},
        // The third reply comes after the monitor's limit, so the monitor
        // takes it for the fourth query's, and the fourth query's own reply
        // reaches the back channel while the copy is on its way (more than a
        // pipe holds, so the printer has read the query first). The copy must
        // throw it away and wait for its own, which never comes. Periods of
        // 400 ms: the late reply comes half a period after the limit, and the
        // copy starts well before the monitor's next query, however busy the machine.
        {"1-2:ready,3:ready+delay=600,4:ready,none", picture(576, 3000), 1,
         "DEBUG: Discarded 5 stale reply bytes before copy 1.\n"
         "ERROR: The printer did not acknowledge copy 1 of page 1 within 6.5 seconds", 400},
        // A garbled acknowledgement is asked again, and the answer to that lets the job go on.
        {"ack1:wrongleader", picture(64, 20, 2), 0,
         "DEBUG: Status Process  -- Received reply data 10 4 5 20 0 .\nDEBUG: Status Process  -- Received reply.\n"
         "DEBUG: 710 i = 1.\nDEBUG: Status Process  -- Received reply.\n"},
        // Copy 1's acknowledgement says overheating: copy 2 waits for three clean replies.
        {"1-3:ready,4:hot,5-6:hot,ready", picture(64, 20, 2), 0,
         "INFO: Copy 1 of page 1 may be incomplete: the printer is overheating.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        auto r = runJob({.pages = {c.page}, .status = c.status, .waitMs = c.waitMs});
        EXPECT_EQ(r.proc.exitStatus, c.exitStatus) << r.log();
        EXPECT_TRUE(r.has(c.lines)) << r.log();
        EXPECT_EQ(r.number("rasters"), c.exitStatus == 0 ? 2 : 1);
        EXPECT_EQ(r.number("printed_while_error"), 0);
        EXPECT_EQ(r.has("INFO: Ready to print."), c.exitStatus == 0);
    }
}

TEST(Copies, NoCopiesSendNothingAndLongCopiesGoInBands)
{
    for (int copies : {0, -1}) {
        auto r = runJob({.pages = {picture(64, 20, copies)}});
        ASSERT_EQ(r.proc.exitStatus, 0) << r.log();
        EXPECT_EQ(r.commands(), "1B 40");
    }
    // Beyond the raster command's 65,535 rows: per copy one set-up, two bands
    // (the second with the 120 white and 8 AfterFeed rows), one query.
    auto r = expectLibraryBits({picture(8, 70000, 2)}, Settings{.afterFeed = 1});
    const std::string copy = "1B 40, 1D 83 04, 1B 61 01, 1D 76 30 00 04 00 FF FF, 1D 76 30 00 04 00 F1 11";
    EXPECT_EQ(r.commands(), "1B 40, " + copy + ", " + copy);
}
