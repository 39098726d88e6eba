// Documents in, paper out: jobs printed with lp on a private CUPS queue go
// through CUPS's own converters, our filter and the simulated printer, and the
// picture of the paper is checked against the document.
#include <gtest/gtest.h>

#include "e2e/CupsSandbox.h"
#include "support/Pictures.h"
#include "support/Process.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace {

using e2e::CupsSandbox;
using testsupport::Gray;

constexpr int kRollDots = 576;  // 80 mm roll at 203 dpi: the PPD's printable width
constexpr int kJobSeconds = 20;

class CupsJobs : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string reason;
        if (!e2e::canRunCups(reason)) {
            GTEST_SKIP() << reason;
        }
        cups_ = std::make_unique<CupsSandbox>();
        ASSERT_TRUE(cups_->ok()) << cups_->why();
    }

    // Prints and waits; the job must complete.
    int printAndComplete(const std::string& queue, const std::string& file, const std::vector<std::string>& args = {})
    {
        const int job = cups_->print(queue, file, args);
        EXPECT_GT(job, 0) << cups_->why();
        if (job > 0) {
            EXPECT_EQ(cups_->waitJob(job, kJobSeconds), "completed") << jobReport(job);
        }
        return job;
    }

    Gray paper(int job)
    {
        Gray picture;
        std::string error;
        EXPECT_TRUE(testsupport::readPng(cups_->paperDir(job) + "/paper.png", picture, error)) << error << jobReport(job);
        return picture;
    }

    std::string jobReport(int job)
    {
        std::string text = "\n--- log of job " + std::to_string(job) + ":\n";
        for (const auto& line : cups_->jobLog(job)) {
            if (line.find("envp[") == std::string::npos) {
                text += line + "\n";
            }
        }
        return text + "--- printer summary:\n" + testsupport::readFile(cups_->paperDir(job) + "/summary.txt");
    }

    std::string file(const std::string& name) const { return cups_->dir() + "/" + name; }

    std::unique_ptr<CupsSandbox> cups_;
};

// 576 x 240: black in the top-left quarter and a black bar across the
// bottom, white elsewhere; a blue square on the right for the colour road.
std::string writeBlocksPng(const std::string& path)
{
    testsupport::writeRgbPng(path, kRollDots, 240, [](int x, int y) -> testsupport::Rgb {
        if ((x < 288 && y < 120) || y >= 220) {
            return {0, 0, 0};
        }
        if (x >= 400 && x < 480 && y >= 140 && y < 200) {
            return {20, 40, 160};
        }
        return {255, 255, 255};
    });
    return path;
}

// The content of writeBlocksPng, found on the paper.
void expectBlocks(const Gray& paper, const std::string& what)
{
    ASSERT_EQ(paper.width, kRollDots) << what;
    auto [top, bottom] = paper.darkRows();
    const int h = bottom - top;
    ASSERT_GT(h, 200) << what << ": the picture is missing or cut";
    ASSERT_LT(h, 300) << what << ": the picture is stretched";
    // Scale: the document's 240 rows came out as h rows.
    auto row = [&](int docRow) { return top + docRow * h / 240; };
    EXPECT_GT(paper.darkShare(8, row(8), 280, row(112)), 0.95) << what << ": black quarter";
    EXPECT_LT(paper.darkShare(296, row(8), 568, row(112)), 0.02) << what << ": white quarter";
    EXPECT_LT(paper.darkShare(8, row(128), 392, row(212)), 0.02) << what << ": white middle";
    EXPECT_GT(paper.darkShare(8, row(223), 568, row(238)), 0.95) << what << ": black bar";
}

TEST_F(CupsJobs, PngInColourAndInGrayPrintsTheImage)
{
    ASSERT_TRUE(cups_->addQueue("zorvan"));
    const auto png = writeBlocksPng(file("blocks.png"));

    const int colour = printAndComplete("zorvan", png);
    expectBlocks(paper(colour), "colour");
    const auto log = cups_->jobLog(colour);
    EXPECT_EQ(e2e::countEqual(log, "Ready to print."), 1) << jobReport(colour);

    const int gray = printAndComplete("zorvan", png, {"-o", "ColorModel=Gray"});
    expectBlocks(paper(gray), "gray");
}

// Pictures as a user expects them on a roll: a wide one prints across the
// roll (the queue asks for portrait; CUPS would turn it), and a narrow one at
// its own size, placed in the middle (the filter centres every raster).
TEST_F(CupsJobs, PicturesKeepTheirOrientationAndPlace)
{
    ASSERT_TRUE(cups_->addQueue("zorvan"));
    const auto wide = file("wide.png");
    testsupport::writeRgbPng(wide, 600, 200, [](int x, int) -> testsupport::Rgb {
        return x < 200 ? testsupport::Rgb{0, 0, 0} : testsupport::Rgb{255, 255, 255};
    });
    const Gray widePaper = paper(printAndComplete("zorvan", wide));
    auto [wideLeft, wideRight] = widePaper.darkColumns();
    auto [wideTop, wideBottom] = widePaper.darkRows();
    // The black left third, scaled to the roll: about 192 dots wide and as tall.
    EXPECT_LE(wideLeft, 2);
    EXPECT_NEAR(wideRight - wideLeft, 192, 6);
    EXPECT_NEAR(wideBottom - wideTop, 192, 6);

    const auto narrow = file("narrow.png");
    testsupport::writeRgbPng(
        narrow, 200, 300, [](int, int y) -> testsupport::Rgb { return y < 100 ? testsupport::Rgb{0, 0, 0} : testsupport::Rgb{255, 255, 255}; },
        203);
    const Gray narrowPaper = paper(printAndComplete("zorvan", narrow, {"-o", "print-scaling=none"}));
    auto [narrowLeft, narrowRight] = narrowPaper.darkColumns();
    EXPECT_NEAR(narrowRight - narrowLeft, 200, 2);
    EXPECT_NEAR((narrowLeft + narrowRight) / 2, kRollDots / 2, 20) << "a narrow picture is centred";
}

// The bundled PDF receipt against poppler's rendering of it at the printer's
// resolution: where the document is solid black the paper must be black, where
// it is blank (with a margin) the paper must be blank.
void expectLikeDocument(const Gray& paper, const Gray& reference, const std::string& what)
{
    ASSERT_EQ(paper.width, kRollDots) << what;
    auto [paperTop, paperBottom] = paper.darkRows();
    auto [refTop, refBottom] = reference.darkRows();
    ASSERT_GT(paperBottom - paperTop, 0) << what << ": nothing printed";
    EXPECT_NEAR(paperBottom - paperTop, refBottom - refTop, 12) << what << ": content height";
    constexpr int kBlock = 12;
    int solid = 0, blank = 0;
    for (int by = refTop; by + kBlock <= refBottom; by += kBlock) {
        for (int bx = 0; bx + kBlock <= std::min(reference.width, paper.width); bx += kBlock) {
            const int py = by - refTop + paperTop;
            if (reference.darkShare(bx, by, bx + kBlock, by + kBlock) == 1.0) {
                ++solid;
                EXPECT_GT(paper.darkShare(bx + 2, py + 2, bx + kBlock - 2, py + kBlock - 2), 0.9)
                    << what << ": block at x " << bx << ", row " << by - refTop << " should be black";
            } else if (reference.darkShare(bx - kBlock, by - kBlock, bx + 2 * kBlock, by + 2 * kBlock) == 0.0) {
                ++blank;
                EXPECT_LT(paper.darkShare(bx, py, bx + kBlock, py + kBlock), 0.05)
                    << what << ": block at x " << bx << ", row " << by - refTop << " should be blank";
            }
        }
    }
    EXPECT_GT(solid, 20) << "the reference has too little solid black to compare";
    EXPECT_GT(blank, 200) << "the reference has too little blank to compare";
}

TEST_F(CupsJobs, PdfReceiptInColourAndInGrayPrintsLikeTheDocument)
{
    ASSERT_TRUE(cups_->addQueue("zorvan"));
    const auto pdf = testsupport::sourcePath("samples/receipt-doc.pdf");
    auto rendered = testsupport::runProcess(
        {"/usr/bin/pdftoppm", "-gray", "-r", "203", "-W", "576", "-png", "-singlefile", pdf, file("reference")});
    if (rendered.exitStatus != 0) {
        GTEST_SKIP() << "pdftoppm (poppler-utils) is needed for the reference picture";
    }
    Gray reference;
    std::string error;
    ASSERT_TRUE(testsupport::readPng(file("reference.png"), reference, error)) << error;
    ASSERT_EQ(reference.width, kRollDots) << "the sample is laid out for the roll's printable width";

    const int colour = printAndComplete("zorvan", pdf, {"-o", "media=Roll80x150mm"});
    expectLikeDocument(paper(colour), reference, "colour");
    const int gray = printAndComplete("zorvan", pdf, {"-o", "media=Roll80x150mm", "-o", "ColorModel=Gray"});
    expectLikeDocument(paper(gray), reference, "gray");
}

// A PDF of the 80 x 100 mm page: a black band at the top, mid-gray below it.
// A PDF, not a picture: CUPS's image converter reads a "brightness" option of
// its own and would change a picture before the driver sees it.
std::string writeGrayPdf(const std::string& path)
{
    // 10 pt of black (28 rows), then 100 pt of gray (281 rows).
    testsupport::writePdf(path, 204.3, 283.46, "0 g 0 273.46 204.3 10 re f 0.5 g 0 173.46 204.3 100 re f");
    return path;
}

double grayShare(const Gray& paper)
{
    auto [top, bottom] = paper.darkRows();
    return paper.darkShare(16, top + 40, kRollDots - 16, top + 260);
}

TEST_F(CupsJobs, JobOptionsReachTheFilter)
{
    ASSERT_TRUE(cups_->addQueue("zorvan"));
    const auto pdf = writeGrayPdf(file("gray.pdf"));
    const std::vector<std::string> page{"-o", "media=Roll80x100mm"};
    auto with = [&](std::vector<std::string> options) {
        options.insert(options.begin(), page.begin(), page.end());
        return options;
    };

    // Ordered dither: about half of a mid-gray prints.
    const int dither = printAndComplete("zorvan", pdf, with({"-o", "Imagealgorithm=2"}));
    EXPECT_EQ(e2e::countEqual(cups_->jobLog(dither), "PPD Imagealgorithm=2"), 1) << jobReport(dither);
    const double ditherShare = grayShare(paper(dither));
    EXPECT_GT(ditherShare, 0.3);
    EXPECT_LT(ditherShare, 0.7);

    // A fixed threshold below the gray: none of it prints, the band does.
    const int threshold = printAndComplete("zorvan", pdf, with({"-o", "Imagealgorithm=10", "-o", "Threshold=64"}));
    EXPECT_EQ(e2e::countEqual(cups_->jobLog(threshold), "PPD Threshold=64"), 1) << jobReport(threshold);
    const Gray thresholdPaper = paper(threshold);
    const int band = thresholdPaper.darkRows().first;
    EXPECT_LT(grayShare(thresholdPaper), 0.02);
    EXPECT_GT(thresholdPaper.darkShare(16, band + 2, kRollDots - 16, band + 26), 0.95);

    // Brighter: less of the same gray prints under the same dither.
    const int bright = printAndComplete("zorvan", pdf, with({"-o", "Imagealgorithm=2", "-o", "Brightness=40"}));
    EXPECT_EQ(e2e::countEqual(cups_->jobLog(bright), "PPD Brightness=40"), 1) << jobReport(bright);
    EXPECT_LT(grayShare(paper(bright)), ditherShare - 0.1);
}

TEST_F(CupsJobs, PaperSavingTrimsTheBlankPaper)
{
    ASSERT_TRUE(cups_->addQueue("zorvan"));
    // A small mark with much blank paper above and below it.
    const auto png = file("mark.png");
    testsupport::writeRgbPng(png, kRollDots, 600, [](int x, int y) -> testsupport::Rgb {
        return (y >= 250 && y < 300 && x >= 100 && x < 400) ? testsupport::Rgb{0, 0, 0} : testsupport::Rgb{255, 255, 255};
    });

    const int full = printAndComplete("zorvan", png, {"-o", "PaperSaveMode=0"});
    const int trimmed = printAndComplete(
        "zorvan", png, {"-o", "PaperSaveMode=3", "-o", "PageHeaderBlank=0", "-o", "EndBlank=0"});
    EXPECT_EQ(e2e::countEqual(cups_->jobLog(trimmed), "PPD PaperSaveMode=3"), 1) << jobReport(trimmed);
    const Gray fullPaper = paper(full), trimmedPaper = paper(trimmed);
    // Without saving the mark sits 250 rows down; with it, at the top.
    EXPECT_GE(fullPaper.darkRows().first, 240);
    EXPECT_LE(trimmedPaper.darkRows().first, 2);
    EXPECT_LT(trimmedPaper.height, fullPaper.height - 400);
    EXPECT_EQ(trimmedPaper.darkRows().second - trimmedPaper.darkRows().first,
              fullPaper.darkRows().second - fullPaper.darkRows().first);
}

TEST_F(CupsJobs, TwoCopiesPrintTwice)
{
    ASSERT_TRUE(cups_->addQueue("zorvan"));
    const auto png = writeBlocksPng(file("blocks.png"));
    const int job = printAndComplete("zorvan", png, {"-n", "2"});
    auto summary = cups_->summary(job);
    EXPECT_EQ(summary["rasters_printed"], "2") << jobReport(job);
    EXPECT_EQ(summary["copies_acknowledged"], "2") << jobReport(job);
    // Both copies on the paper, one below the other.
    const Gray picture = paper(job);
    auto [top, bottom] = picture.darkRows();
    EXPECT_GT(bottom - top, 2 * 220) << jobReport(job);
}

// Polls until `done` holds or `seconds` pass.
bool eventually(int seconds, const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

TEST_F(CupsJobs, PaperOutHoldsTheJobUntilPaperIsBack)
{
    // The first 60 status queries (about a second of polling) find no paper.
    ASSERT_TRUE(cups_->addQueue("zorvan", "1-60:paperout,ready"));
    const auto png = writeBlocksPng(file("blocks.png"));
    const int job = cups_->print("zorvan", png);
    ASSERT_GT(job, 0) << cups_->why();

    std::string held;
    EXPECT_TRUE(eventually(kJobSeconds, [&] {
        held = cups_->printerState("zorvan");
        return held.find("Out of paper") != std::string::npos || cups_->jobState(job) != "processing";
    }));
    EXPECT_NE(held.find("Status Process Error -- Out of paper."), std::string::npos) << held;

    EXPECT_EQ(cups_->waitJob(job, kJobSeconds), "completed") << jobReport(job);
    const auto log = cups_->jobLog(job);
    EXPECT_GE(e2e::countContaining(log, "Status Process Error -- Out of paper."), 1) << jobReport(job);
    auto summary = cups_->summary(job);
    EXPECT_EQ(summary["rasters_printed"], "1") << jobReport(job);
    EXPECT_EQ(summary["printed_while_error"], "0") << jobReport(job);
    expectBlocks(paper(job), "after paper out");
}

TEST_F(CupsJobs, CancelledJobEndsCancelled)
{
    // A printer that never has paper: the job waits until it is cancelled.
    ASSERT_TRUE(cups_->addQueue("zorvan", "paperout"));
    const auto png = writeBlocksPng(file("blocks.png"));
    const int job = cups_->print("zorvan", png);
    ASSERT_GT(job, 0) << cups_->why();
    EXPECT_TRUE(eventually(kJobSeconds, [&] {
        return e2e::countContaining(cups_->jobLog(job), "Status Process Error -- Out of paper.") > 0;
    })) << jobReport(job);
    ASSERT_TRUE(cups_->cancel(job));
    EXPECT_EQ(cups_->waitJob(job, kJobSeconds), "cancelled") << jobReport(job);
}

// CUPS refuses to run a filter that others may change and leaves the job
// stopped for good: waiting must end there, not at the deadline.
TEST_F(CupsJobs, InsecureFilterStopsTheJobAndTheWaitEnds)
{
    ASSERT_TRUE(cups_->addQueue("zorvan"));
    const std::string filter = cups_->dir() + "/cups/bin/filter/rastertozorvan";
    ASSERT_EQ(::chmod(filter.c_str(), 0777), 0);
    const auto png = writeBlocksPng(file("blocks.png"));
    const int job = cups_->print("zorvan", png);
    ASSERT_GT(job, 0) << cups_->why();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(cups_->waitJob(job, kJobSeconds), "stopped") << jobReport(job);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(kJobSeconds / 2));
    EXPECT_NE(cups_->errorLog().find("insecure permissions"), std::string::npos) << jobReport(job);
}

TEST(CupsPpd, PassesCupsTestPpd)
{
    const auto ppd = testsupport::sourcePath("ppd/zorvan.ppd");
    if (::access("/usr/bin/cupstestppd", X_OK) != 0 || ::access(ppd.c_str(), R_OK) != 0) {
        GTEST_SKIP() << "cupstestppd or the PPD missing";
    }
    // Before install: everything but the filters, which are not in place yet.
    auto before = testsupport::runProcess({"/usr/bin/cupstestppd", "-I", "filters", ppd});
    EXPECT_EQ(before.exitStatus, 0) << before.out << before.err;

    // Installed (the private scheduler's ServerBin holds our filter): all of it.
    if (::geteuid() != 0 || ::access("/usr/sbin/cupsd", X_OK) != 0) {
        GTEST_SKIP() << "a private scheduler needs root and cupsd";
    }
    CupsSandbox cups;
    ASSERT_TRUE(cups.ok()) << cups.why();
    testsupport::ProcessOptions options;
    options.env["CUPS_SERVERBIN"] = cups.dir() + "/cups/bin";
    auto after = testsupport::runProcess({"/usr/bin/cupstestppd", ppd}, options);
    EXPECT_EQ(after.exitStatus, 0) << after.out << after.err;
}

}  // namespace
