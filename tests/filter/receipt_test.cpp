// The bundled receipt through the built filter and the simulated printer under
// the shipped default (sharp text, dithered pictures) beside Otsu: text and
// codes print dot for dot alike, the photograph and the ramps keep their tone
// under the default only, and the codes still scan from the paper.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>

#include "imaging/GrayAlgorithm.h"
#include "support/PrinterJob.h"

using namespace testsupport;

namespace {

// The page under the shipped default and under Otsu, paper saving off so that
// paper rows are the picture's rows.
std::pair<PrinterRun, PrinterRun> printBoth(const RgbPicture& picture)
{
    const auto page = rasterPage(picture.width, picture.height, 8, 1, [&](unsigned x, unsigned y) { return picture.at(x, y); });
    auto byDefault = runJob({.pages = {page}, .options = "PaperSaveMode=0"});
    auto otsu = runJob({.pages = {page}, .options = "Imagealgorithm=0 PaperSaveMode=0"});
    EXPECT_EQ(byDefault.proc.exitStatus, 0) << byDefault.log();
    EXPECT_EQ(otsu.proc.exitStatus, 0) << otsu.log();
    EXPECT_TRUE(byDefault.has("DEBUG: 690 bReturn=1")) << "the default is not the text-and-pictures choice";
    return {std::move(byDefault), std::move(otsu)};
}

// What zbarimg reads from the paper, one "TYPE:data" a line.
std::string scan(const Gray& paper)
{
    TempDir dir;
    writeGrayPng(dir.file("paper.png"), paper, 203);
    return runProcess({"/usr/bin/zbarimg", "-q", "--nodbus", dir.file("paper.png")}).out;
}

}  // namespace

TEST(TextAndPictures, ReceiptTextAndCodesAsOtsuPicturesInToneCodesScan)
{
    const RgbPicture receipt = readRgbPng(sourcePath("samples/receipt.png"));
    ASSERT_EQ(receipt.width, 576);
    const auto [byDefault, otsu] = printBoth(receipt);
    ASSERT_GE(byDefault.paper.height, receipt.height);
    ASSERT_GE(otsu.paper.height, receipt.height);

    // Rows of text, rules and the two codes (samples/receipt.ps): below the logo
    // down to the photograph, and the footer.
    for (auto [top, bottom] : {std::pair{150, 850}, std::pair{1424, 1600}}) {
        const auto rows = [&](const PrinterRun& r) { return r.paperBytes().substr(top * 72, (bottom - top) * 72); };
        EXPECT_TRUE(rows(byDefault) == rows(otsu)) << "rows " << top << " to " << bottom;
    }

    // The photograph and the three ramps, in 8 x 8 blocks: the printed share of
    // black against the darkness of the gray the filter sees (1 - gray / 255).
    const int pictures[][4] = {{32, 856, 544, 1112}, {32, 1160, 544, 1220}, {32, 1240, 544, 1300}, {32, 1320, 544, 1380}};
    double miss[2] = {0, 0};
    int blocks = 0;
    for (const auto& [x0, y0, x1, y1] : pictures) {
        for (int by = y0; by + 8 <= y1; by += 8) {
            for (int bx = x0; bx + 8 <= x1; bx += 8, ++blocks) {
                double darkness = 0, printed[2] = {0, 0};
                for (int y = by; y < by + 8; ++y) {
                    for (int x = bx; x < bx + 8; ++x) {
                        const std::uint32_t c = receipt.at(x, y);
                        unsigned char gray = 0;
                        RGB2Gray(&gray, c & 0xFF, (c >> 8) & 0xFF, c >> 16, 12);
                        darkness += (1.0 - gray / 255.0) / 64;
                        printed[0] += (byDefault.paper.at(x, y) < 128) / 64.0;
                        printed[1] += (otsu.paper.at(x, y) < 128) / 64.0;
                    }
                }
                for (int i : {0, 1}) miss[i] += std::fabs(printed[i] - darkness);
            }
        }
    }
    miss[0] /= blocks;
    miss[1] /= blocks;
    std::printf("tone missed per 8x8 block, on average over %d: default %.3f, Otsu %.3f\n", blocks, miss[0], miss[1]);
    EXPECT_LT(miss[0], 0.15);
    EXPECT_GT(miss[1], 0.25);

    if (::access("/usr/bin/zbarimg", X_OK) != 0) GTEST_SKIP() << "zbarimg missing (Debian: zbar-tools)";
    for (const PrinterRun* run : {&byDefault, &otsu}) {
        EXPECT_EQ(scan(run->paper), "QR-Code:https://zorvan.example/r/000173\nCODE-128:000173061226\n");
    }
}

TEST(TextAndPictures, PureTextPrintsAsOtsuAlsoAntiAliased)
{
    // The receipt's text rows as they are (two levels), and the PDF receipt as
    // poppler renders it, anti-aliased, without its gray panel.
    const RgbPicture receipt = readRgbPng(sourcePath("samples/receipt.png"));
    RgbPicture text{receipt.width, 540, {receipt.pixels.begin() + 150 * 576 * 3, receipt.pixels.begin() + 690 * 576 * 3}};
    std::vector<RgbPicture> pages = {text};
    TempDir dir;
    if (runProcess({"/usr/bin/pdftoppm", "-r", "203", "-W", "576", "-png", "-singlefile",
                    sourcePath("samples/receipt-doc.pdf"), dir.file("doc")})
            .exitStatus == 0) {
        RgbPicture doc = readRgbPng(dir.file("doc.png"));
        std::fill(doc.pixels.begin() + 630 * 576 * 3, doc.pixels.begin() + 760 * 576 * 3, 255);
        pages.push_back(doc);
    }
    for (const RgbPicture& page : pages) {
        const auto [byDefault, otsu] = printBoth(page);
        EXPECT_TRUE(byDefault.paperBytes() == otsu.paperBytes()) << "page of " << page.height << " rows";
    }
}
