// zorvan-raster: PNG pictures to CUPS raster, read back with libcups's reader; and the
// bundled samples.
#include "SimHelpers.h"

#include <cups/raster.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

using testsupport::TempDir;

namespace {

struct Page {
    cups_page_header2_t header{};
    std::vector<unsigned char> data;
};

std::vector<Page> readRaster(const std::string& path) {
    std::vector<Page> pages;
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return pages;
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
    Page p;
    while (ras && cupsRasterReadHeader2(ras, &p.header)) {
        p.data.resize(static_cast<std::size_t>(p.header.cupsBytesPerLine) * p.header.cupsHeight);
        for (unsigned y = 0; y < p.header.cupsHeight; ++y)
            cupsRasterReadPixels(ras, p.data.data() + static_cast<std::size_t>(y) * p.header.cupsBytesPerLine,
                                 p.header.cupsBytesPerLine);
        pages.push_back(p);
    }
    if (ras) cupsRasterClose(ras);
    ::close(fd);
    return pages;
}

testsupport::ProcessResult tool(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {testsupport::builtProgram("zorvan-raster")};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::runProcess(argv);
}

// Left half black, right half white, a red pixel at (1, 1).
testsupport::Rgb halves(int x, int y) {
    if (x == 1 && y == 1) return {255, 0, 0};
    return x < 8 ? testsupport::Rgb{0, 0, 0} : testsupport::Rgb{255, 255, 255};
}

void writePng(const std::string& path, int w, int h, const std::function<testsupport::Rgb(int, int)>& pixel) {
    ASSERT_TRUE(testsupport::writeRgbPng(path, w, h, pixel)) << path;
}

}  // namespace

TEST(RasterTool, WritesRgbGrayAndOneBitPages) {
    TempDir dir;
    writePng(dir.file("a.png"), 20, 3, halves);

    ASSERT_EQ(tool({"--copies", "3", dir.file("a.png"), dir.file("rgb.ras")}).exitStatus, 0);
    auto rgb = readRaster(dir.file("rgb.ras"));
    ASSERT_EQ(rgb.size(), 1u);
    const auto& h = rgb[0].header;
    EXPECT_EQ(h.cupsWidth, 20u);
    EXPECT_EQ(h.cupsHeight, 3u);
    EXPECT_EQ(h.cupsBitsPerColor, 8u);
    EXPECT_EQ(h.cupsBytesPerLine, 60u);
    EXPECT_EQ(h.cupsColorSpace, CUPS_CSPACE_RGB);
    EXPECT_EQ(h.cupsColorOrder, CUPS_ORDER_CHUNKED);
    EXPECT_EQ(h.NumCopies, 3u);
    EXPECT_EQ(rgb[0].data[60 + 3], 255);  // red pixel
    EXPECT_EQ(rgb[0].data[60 + 4], 0);
    EXPECT_EQ(rgb[0].data[19 * 3], 255);  // white on the right

    ASSERT_EQ(tool({"--gray", dir.file("a.png"), dir.file("gray.ras")}).exitStatus, 0);
    auto gray = readRaster(dir.file("gray.ras"));
    ASSERT_EQ(gray.size(), 1u);
    EXPECT_EQ(gray[0].header.cupsColorSpace, CUPS_CSPACE_K);
    EXPECT_EQ(gray[0].header.cupsBytesPerLine, 20u);
    EXPECT_EQ(gray[0].data[0], 255);   // black ink
    EXPECT_EQ(gray[0].data[19], 0);    // blank paper
    EXPECT_EQ(gray[0].data[21], 255 - (299 * 255 + 500) / 1000);  // red as ink

    ASSERT_EQ(tool({"--bits", "1", "--compressed", dir.file("a.png"), dir.file("bits.ras")}).exitStatus, 0);
    auto bits = readRaster(dir.file("bits.ras"));
    ASSERT_EQ(bits.size(), 1u);
    EXPECT_EQ(bits[0].header.cupsBitsPerColor, 1u);
    EXPECT_EQ(bits[0].header.cupsBytesPerLine, 3u);
    EXPECT_EQ(bits[0].data[0], 0xFF);  // set bits are black
    EXPECT_EQ(bits[0].data[1], 0x00);
    EXPECT_EQ(bits[0].data[2], 0x00);
    EXPECT_EQ(bits[0].data[3], 0xFF);  // red is darker than 128: black
}

TEST(RasterTool, ScalesPadsAndMakesOnePagePerPicture) {
    TempDir dir;
    writePng(dir.file("a.png"), 16, 4, halves);
    writePng(dir.file("b.png"), 5, 2, [](int, int) { return testsupport::Rgb{0x80, 0x80, 0x80}; });
    ASSERT_EQ(tool({"--width", "32", dir.file("a.png"), dir.file("b.png"), dir.file("two.ras")}).exitStatus, 0);
    auto pages = readRaster(dir.file("two.ras"));
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].header.cupsWidth, 32u);
    EXPECT_EQ(pages[0].header.cupsHeight, 8u);
    EXPECT_EQ(pages[0].data[15 * 3], 0);     // still black left of the middle
    EXPECT_EQ(pages[0].data[16 * 3], 255);   // white right of it
    EXPECT_EQ(pages[1].header.cupsWidth, 32u);
    EXPECT_EQ(pages[1].header.cupsHeight, 13u);

    ASSERT_EQ(tool({"--pad", "24", dir.file("b.png"), dir.file("pad.ras")}).exitStatus, 0);
    auto pad = readRaster(dir.file("pad.ras"));
    ASSERT_EQ(pad.size(), 1u);
    EXPECT_EQ(pad[0].header.cupsWidth, 24u);
    EXPECT_EQ(pad[0].data[4 * 3], 0x80);
    EXPECT_EQ(pad[0].data[5 * 3], 0xFF);
}

TEST(RasterTool, RejectsBadInput) {
    TempDir dir;
    testsupport::writeFile(dir.file("not.png"), "hello");
    auto r = tool({dir.file("not.png"), dir.file("out.ras")});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("not a PNG file"), std::string::npos);
    EXPECT_EQ(tool({"--bits", "4", dir.file("not.png"), dir.file("out.ras")}).exitStatus, 2);
    EXPECT_EQ(tool({dir.file("missing.png"), dir.file("out.ras")}).exitStatus, 1);
    EXPECT_EQ(tool({}).exitStatus, 2);
}

TEST(Samples, AreSmallAndPaperWide) {
    for (const char* name : {"samples/receipt.png", "samples/label.png"}) {
        testsupport::Gray g;
        std::string path = testsupport::sourcePath(name), error;
        ASSERT_TRUE(testsupport::readPng(path, g, error)) << error;
        EXPECT_EQ(g.width, 576) << name;
        EXPECT_LT(testsupport::readFile(path).size(), 200u * 1024) << name;
    }
}

TEST(Samples, OneBitLabelPrintsAsDrawn) {
    // The label through zorvan-raster --bits 1 and the printer's decoder, as a raster of its own:
    // every black pixel of the picture must come out as a dot, and nothing else.
    TempDir dir;
    ASSERT_EQ(tool({"--bits", "1", testsupport::sourcePath("samples/label.png"), dir.file("l.ras")}).exitStatus, 0);
    auto pages = readRaster(dir.file("l.ras"));
    ASSERT_EQ(pages.size(), 1u);
    const auto& h = pages[0].header;
    auto r = simtest::decodeBytes(dir, simtest::rasterCommand(static_cast<int>(h.cupsBytesPerLine),
                                                              static_cast<int>(h.cupsHeight),
                                                              std::string(pages[0].data.begin(), pages[0].data.end())));
    testsupport::Gray label;
    std::string error;
    ASSERT_TRUE(testsupport::readPng(testsupport::sourcePath("samples/label.png"), label, error)) << error;
    const testsupport::Gray paper = r.paper();
    ASSERT_EQ(paper.width, label.width);
    ASSERT_EQ(paper.height, label.height);
    long differ = 0, black = 0;
    for (int y = 0; y < label.height; ++y)
        for (int x = 0; x < label.width; ++x) {
            bool dot = label.at(x, y) < 128;
            black += dot;
            differ += dot != (paper.at(x, y) == 0);
        }
    EXPECT_EQ(differ, 0);
    EXPECT_GT(black, 10000);
}
