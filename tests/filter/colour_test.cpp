// Colour pages through the built filter and the fake printer: for every
// binarization setting and the settings around it, each copy carries the
// bit raster exactly as the imaging library makes it from the same image.
#include <gtest/gtest.h>

#include <cstring>

#include "FakePrinter.h"
#include "filter/settingsThermalSensitivityPara.h"
#include "imaging/24BitTo1Bit.h"
#include "imaging/Dither.h"
#include "imaging/FunctionAsistant.h"
#include "imaging/freeimageHalftone.h"

using namespace testsupport;

namespace {

struct ColourSettings {
    int algorithm = 0;
    int threshold = 0;
    int paperMode = 0;
    int inversion = 0;
    int brightness = 0;
    int contrast = 0;
    int horizontal = 0;
    int vertical = 0;
    int afterFeed = 0;

    std::string ppd() const
    {
        auto v = [](int value) { return std::to_string(value); };
        return ppdWithDefaults({{"Imagealgorithm", v(algorithm)}, {"Threshold", v(threshold)},
                                {"MediaType", v(paperMode)}, {"Blackandwhiteinversion", v(inversion)},
                                {"Brightness", v(brightness)}, {"Contrast", v(contrast)},
                                {"HorizontalOffset", v(horizontal)}, {"VerticalOffset", v(vertical)},
                                {"AfterFeed", v(afterFeed)}, {"Density", "4"}});
    }
};

int whiteRows(int paperMode) { return paperMode == 2 ? 560 : (paperMode == 3 || paperMode == 4) ? 0 : 120; }

// The bit raster the imaging library makes of the page under these settings,
// called directly, step by step as a colour page goes.
std::string expectedBits(const RasterPage& page, const ColourSettings& s)
{
    const int width = static_cast<int>(page.header.cupsWidth);
    const int height = static_cast<int>(page.header.cupsHeight);
    const int stride = (width * 24 + 31) / 32 * 4;
    std::vector<unsigned char> image(static_cast<std::size_t>(stride) * height, 0);
    for (int y = 0; y < height; ++y) {
        std::memcpy(image.data() + static_cast<std::size_t>(y) * stride, page.rows.data() + static_cast<std::size_t>(y) * width * 3,
                    static_cast<std::size_t>(width) * 3);
    }
    if (s.brightness != 0 || s.contrast != 0) {
        f_BrightContrastPS(image.data(), width, height, width * 3, s.brightness, s.contrast);
    }
    if (s.horizontal != 0 || s.vertical != 0) {
        f_XYOfffset(image.data(), width, height, width * 3, s.horizontal * 24, s.vertical * 24);
    }
    TrueCollorRGBToBGR(width, height, image.data());
    // The binarizers read the manual threshold through the settings getters.
    settingsThermalSensitivity = {};
    settingsThermalSensitivity.Threshold = s.threshold;
    const int extra = whiteRows(s.paperMode);
    int size = ((width + 31) / 32 * 4) * (height + extra);
    std::vector<unsigned char> bits(static_cast<std::size_t>(size));
    bool ok = false;
    const unsigned char* raster = image.data();
    switch (s.algorithm) {
    case 0: ok = TrueCollorBitToOnebit(width, height, extra, raster, 12, bits.data(), &size); break;
    case 2: ok = makeDitherBayer8(width, height, extra, raster, 12, bits.data(), &size); break;
    case 3: ok = makeDitherBayer16(width, height, extra, raster, 12, bits.data(), &size); break;
    case 7: ok = ErrorDiffusionFloydSteinberg7351(width, height, extra, raster, 12, bits.data(), &size); break;
    case 8: ok = ErrorDiffusionBurkes(width, height, extra, raster, 12, bits.data(), &size); break;
    case 9: ok = ErrorDiffusionSierra(width, height, extra, raster, 12, bits.data(), &size); break;
    case 10: ok = Threshold(width, height, extra, raster, s.threshold, bits.data(), &size); break;
    case 11: ok = ErrorDiffusionStucki(width, height, extra, raster, 12, bits.data(), &size); break;
    default: break;
    }
    EXPECT_TRUE(ok);
    if (s.inversion == 0) {
        DoTurnOver(bits.data(), size);
    }
    return std::string(bits.begin(), bits.end());
}

// A small picture: a gradient, a dark block, a light ring and coloured bars.
RasterPage picture(unsigned width, unsigned height, int copies = 1)
{
    return rgbPage(width, height, [=](unsigned x, unsigned y) -> std::uint32_t {
        if (x >= width / 4 && x < width / 2 && y >= height / 4 && y < height / 2) {
            return 0x101010;
        }
        if (y % 7 == 3) {
            return 0xC02040;
        }
        unsigned level = 255 * x / (width > 1 ? width - 1 : 1);
        return (level << 16) | (((level + y * 3) & 0xFF) << 8) | (255 - level);
    }, copies);
}

// Runs the pages under the settings and checks every copy of every page.
FilterRun expectPrintedAsLibraryMakesThem(const std::vector<RasterPage>& pages, const ColourSettings& s)
{
    FilterJob job;
    job.pages = pages;
    job.ppd = s.ppd();
    auto r = runFilterJob(job);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    auto rasters = r.ofKind(PrinterCommand::Raster);
    std::size_t next = 0;
    for (const RasterPage& page : pages) {
        const int width = static_cast<int>(page.header.cupsWidth);
        const int witsStep = (width + 31) / 32 * 4;
        const int rows = static_cast<int>(page.header.cupsHeight) + whiteRows(s.paperMode);
        const std::string bits = expectedBits(page, s);
        for (int copy = 0; copy < static_cast<int>(page.header.NumCopies); ++copy, ++next) {
            if (next >= rasters.size()) {
                ADD_FAILURE() << "copy missing";
                return r;
            }
            const PrinterCommand& raster = *rasters[next];
            SCOPED_TRACE("page " + std::to_string(width) + "x" + std::to_string(page.header.cupsHeight));
            EXPECT_EQ(raster.rowBytes, witsStep);
            EXPECT_EQ(raster.rows, rows + 8 * s.afterFeed);
            EXPECT_TRUE(raster.data == bits + std::string(static_cast<std::size_t>(8 * s.afterFeed * witsStep), '\0'))
                << "bit raster differs";
        }
    }
    EXPECT_EQ(next, rasters.size());
    EXPECT_FALSE(r.endedInsideCommand);
    return r;
}

}  // namespace

TEST(ColourRoad, EveryBinarizationSettingPrintsTheLibrarysBits)
{
    const std::vector<std::pair<int, std::string>> settings = {
        {0, "DEBUG: 611 bReturn -- 1.\n"}, {2, "DEBUG: 622 bReturn=1\n"},   {3, "DEBUG: 633 bReturn=1\n"},
        {7, "DEBUG: 7351 bReturn -- 1.\n"}, {8, "DEBUG: 660 bReturn=1\n"},  {9, "DEBUG: 670 bReturn=1\n"},
        {10, "DEBUG: 680 bReturn=1\n"},     {11, "DEBUG: 670 bReturn=1\n"},
    };
    for (const auto& [algorithm, line] : settings) {
        SCOPED_TRACE(algorithm);
        ColourSettings s;
        s.algorithm = algorithm;
        s.threshold = 140;
        s.afterFeed = 1;
        auto r = expectPrintedAsLibraryMakesThem({picture(75, 30, 2)}, s);
        EXPECT_TRUE(r.logHas(line)) << r.err;
        if (algorithm == 0) {
            EXPECT_TRUE(r.logHas("DEBUG: 512 -- do RGBToBGR.\nDEBUG: 547 -- OK.\n"
                                 "DEBUG: 585 witsStep -- 12,DataBinSize -- 1800.\nDEBUG: 558 -- OK.\n"
                                 "DEBUG: 630 height0 -- 120.\nDEBUG: header.cupsHeight=30,pageHeight=0,height0=120.\n"
                                 "DEBUG: 564 -- OK.\n"
                                 "DEBUG: Raw>Data Before outputarray -- curPagePos -- 0.\n -- 721"))
                << r.err;
            EXPECT_TRUE(r.logHas("DEBUG: RawData After outputarray -- curPagePos -- 1800.\n -- 725"));
        }
    }
}

TEST(ColourRoad, OddAndTinySizesAndUniformPages)
{
    std::vector<RasterPage> pages = {picture(1, 1), picture(2, 2), picture(1, 7), picture(7, 1), picture(33, 5),
                                     picture(575, 3)};
    for (std::uint32_t level : {0x000000u, 0xFFFFFFu, 0x808080u}) {
        pages.push_back(rgbPage(41, 9, [=](unsigned, unsigned) { return level; }));
    }
    for (int algorithm : {0, 3, 7}) {
        SCOPED_TRACE(algorithm);
        ColourSettings s;
        s.algorithm = algorithm;
        s.threshold = 100;
        expectPrintedAsLibraryMakesThem(pages, s);
    }
}

TEST(ColourRoad, PaperModesInversionAndAdjustments)
{
    const auto page = picture(90, 40);
    for (int mode = 0; mode <= 4; ++mode) {
        ColourSettings s;
        s.paperMode = mode;
        expectPrintedAsLibraryMakesThem({page}, s);
    }
    ColourSettings inverted;
    inverted.inversion = 1;
    expectPrintedAsLibraryMakesThem({page}, inverted);

    for (auto [brightness, contrast] : {std::pair{20, 30}, {-20, -100}}) {
        ColourSettings s;
        s.algorithm = 7;
        s.brightness = brightness;
        s.contrast = contrast;
        expectPrintedAsLibraryMakesThem({page}, s);
    }
    for (auto [h, v] : {std::pair{1, -1}, {-5, 0}}) {
        ColourSettings s;
        s.algorithm = 2;
        s.horizontal = h;
        s.vertical = v;
        expectPrintedAsLibraryMakesThem({page}, s);
    }
}

TEST(ColourRoad, UnsupportedSettingsAreErrors)
{
    for (int algorithm : {1, 6, 12}) {
        ColourSettings s;
        s.algorithm = algorithm;
        FilterJob job;
        job.pages = {picture(16, 4)};
        job.ppd = s.ppd();
        auto r = runFilterJob(job);
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_TRUE(r.logHas("ERROR: Unsupported binarization setting " + std::to_string(algorithm) +
                             " (Imagealgorithm)"))
            << r.err;
        EXPECT_TRUE(r.ofKind(PrinterCommand::Raster).empty());
        EXPECT_FALSE(r.logHas("INFO: Ready to print."));
    }
}
