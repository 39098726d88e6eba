// Documents in, paper out: jobs printed with lp on a private scheduler started by
// scripts/cupsd-sandbox go through CUPS's converters, our filter and the simulated
// printer (the zorvan-sim backend); the paper is checked against the document.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "support/Pictures.h"
#include "support/Process.h"

namespace {

using testsupport::Gray;
using testsupport::Rgb;
using Summary = std::map<std::string, std::string>;

constexpr int kRoll = 576;  // 80 mm roll at 203 dpi: the PPD's printable width
const std::string kScript = testsupport::sourcePath("scripts/cupsd-sandbox");
// Under /tmp whatever TMPDIR says: lp must enter every folder above it, and the socket path must stay short.
std::string dir, sock, skipReason;

// Runs a CUPS client or the sandbox script against the private scheduler; its output, trimmed.
std::string cups(const std::vector<std::string>& args, double timeout = 30)
{
    testsupport::ProcessOptions o;
    o.env["CUPS_SERVER"] = sock;
    o.timeoutSeconds = timeout;
    std::string out = testsupport::runProcess(args, o).out;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

bool eventually(const std::function<bool()>& done)
{
    for (int i = 0; i < 400 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return done();
}

// 576 x 240: black top-left quarter and bottom bar, white elsewhere; a blue square for the colour road.
Rgb blocks(int x, int y)
{
    if ((x < 288 && y < 120) || y >= 220) return {0, 0, 0};
    if (x >= 400 && x < 480 && y >= 140 && y < 200) return {20, 40, 160};
    return {255, 255, 255};
}

void expectBlocks(const Gray& p)
{
    ASSERT_EQ(p.width, kRoll);
    auto [top, bottom] = p.darkRows();
    const int h = bottom - top;
    ASSERT_TRUE(h > 200 && h < 300) << "the picture is missing, cut or stretched: " << h << " rows";
    auto row = [&](int docRow) { return top + docRow * h / 240; };
    EXPECT_GT(p.darkShare(8, row(8), 280, row(112)), 0.95) << "black quarter";
    EXPECT_LT(p.darkShare(296, row(8), 568, row(112)), 0.02) << "white quarter";
    EXPECT_LT(p.darkShare(8, row(128), 392, row(212)), 0.02) << "white middle";
    EXPECT_GT(p.darkShare(8, row(223), 568, row(238)), 0.95) << "black bar";
}

// The PDF receipt against poppler's rendering at the printer's resolution: solid black
// blocks of the document must be black on paper, blank ones (with a margin) blank.
void expectLikeReceipt(const Gray& p)
{
    Gray ref;
    std::string error;
    ASSERT_TRUE(testsupport::readPng(dir + "/ref.png", ref, error)) << error;
    ASSERT_EQ(p.width, kRoll);
    auto [pTop, pBottom] = p.darkRows();
    auto [rTop, rBottom] = ref.darkRows();
    EXPECT_NEAR(pBottom - pTop, rBottom - rTop, 12) << "content height";
    constexpr int B = 12;
    int solid = 0, blank = 0;
    for (int by = rTop; by + B <= rBottom; by += B)
        for (int bx = 0; bx + B <= kRoll; bx += B) {
            const int py = by - rTop + pTop;
            if (ref.darkShare(bx, by, bx + B, by + B) == 1.0) {
                ++solid;
                EXPECT_GT(p.darkShare(bx + 2, py + 2, bx + B - 2, py + B - 2), 0.9) << bx << "," << by - rTop;
            } else if (ref.darkShare(bx - B, by - B, bx + 2 * B, by + 2 * B) == 0.0) {
                ++blank;
                EXPECT_LT(p.darkShare(bx, py, bx + B, py + B), 0.05) << bx << "," << by - rTop;
            }
        }
    EXPECT_GT(solid, 20);
    EXPECT_GT(blank, 200);
}

// The mid-gray area of gray.pdf (a black band on top, then 50% gray).
double grayShare(const Gray& p)
{
    const int top = p.darkRows().first;
    return p.darkShare(16, top + 40, kRoll - 16, top + 260);
}

struct Job {
    const char* name;
    std::string file;  // in the scheduler's folder
    std::vector<std::string> lp;
    std::string status;            // the printer's status script, "" = always ready
    std::string state;             // the final job state
    std::function<void(const Gray&, const Summary&, const std::string& log)> check;
};

void PrintTo(const Job& j, std::ostream* os) { *os << j.name; }

// One private scheduler per test program run (ctest runs every test in a process of its own).
class CupsSandbox : public ::testing::Test {
public:
    static void SetUpTestSuite()
    {
        if (::geteuid() != 0 || ::access("/usr/sbin/cupsd", X_OK) != 0 || ::access("/usr/bin/ipptool", X_OK) != 0) {
            skipReason = "needs root, cupsd and ipptool";
            return;
        }
        char templ[] = "/tmp/zorvan-e2e-XXXXXX";
        dir = ::mkdtemp(templ);
        std::filesystem::create_directory(dir + "/paper");
        ::chmod(dir.c_str(), 0755);
        ::chmod((dir + "/paper").c_str(), 0777);  // the backend runs as lp
        // libcups 2.4's cupsMarkOptions leaks the option array it builds for print-color-mode,
        // which CUPS passes with every job; only that allocation is excused for the sanitized filter.
        testsupport::writeFile(dir + "/lsan.supp", "leak:cupsAddOption\n");
        ::chmod((dir + "/lsan.supp").c_str(), 0644);
        sock = cups({kScript, "start", dir + "/cups", "--filter", testsupport::builtProgram("rastertozorvan"), "--backend",
                        "zorvan-sim=" + testsupport::builtProgram("zorvan-printer"), "--setenv",
                        "ZORVAN_TEST_WAIT_MS=20", "--setenv",
                        "LSAN_OPTIONS=suppressions=" + dir + "/lsan.supp:print_suppressions=0", "--owner",
                        std::to_string(::getpid())});
        if (sock.empty()) skipReason = "cupsd-sandbox start failed";
        testsupport::writeRgbPng(dir + "/blocks.png", kRoll, 240, blocks);
        testsupport::writeRgbPng(
            dir + "/narrow.png", 200, 300, [](int, int y) { return y < 100 ? Rgb{0, 0, 0} : Rgb{255, 255, 255}; }, 203);
        testsupport::writeRgbPng(dir + "/mark.png", kRoll, 600, [](int x, int y) {
            return y >= 250 && y < 300 && x >= 100 && x < 400 ? Rgb{0, 0, 0} : Rgb{255, 255, 255};
        });
        // 10 pt of black (28 rows), then 100 pt of 50% gray; a PDF because CUPS's image
        // converter would apply a "brightness" option of its own to a picture.
        testsupport::writePdf(dir + "/gray.pdf", 204.3, 283.46, "0 g 0 273.46 204.3 10 re f 0.5 g 0 173.46 204.3 100 re f");
        std::filesystem::copy_file(testsupport::sourcePath("samples/receipt-doc.pdf"), dir + "/receipt.pdf");
        testsupport::runProcess({"/usr/bin/pdftoppm", "-gray", "-r", "203", "-W", "576", "-png", "-singlefile",
                                 dir + "/receipt.pdf", dir + "/ref"});
        // The 1-bit road: a raster the filter takes as it is.
        testsupport::runProcess({testsupport::builtProgram("zorvan-raster"), "--bits", "1",
                                 testsupport::sourcePath("samples/label.png"), dir + "/label.ras"});
    }
    static void TearDownTestSuite()
    {
        if (dir.empty()) return;
        cups({kScript, "stop", dir + "/cups"});
        std::filesystem::remove_all(dir);
    }
};

class CupsJobs : public CupsSandbox, public ::testing::WithParamInterface<Job> {};

int queues = 0;

TEST_P(CupsJobs, PrintsAsExpected)
{
    if (!skipReason.empty()) GTEST_SKIP() << skipReason;
    const Job& j = GetParam();
    // One queue per job: the status script is part of the device URI. Portrait always:
    // CUPS would otherwise turn a wide picture along the roll.
    const std::string queue = "q" + std::to_string(++queues);
    std::string uri = "zorvan-sim:" + dir + "/paper?speed=0" + (j.status.empty() ? "" : "&status=" + j.status);
    ASSERT_EQ(cups({"/usr/sbin/lpadmin", "-p", queue, "-E", "-v", uri, "-P", testsupport::sourcePath("ppd/zorvan.ppd"),
                       "-o", "orientation-requested-default=3"}),
              "");
    std::vector<std::string> lp = {"/usr/bin/lp", "-d", queue};
    lp.insert(lp.end(), j.lp.begin(), j.lp.end());
    lp.push_back(dir + "/" + j.file);
    const std::string said = cups(lp);  // "request id is QUEUE-N (1 file(s))"
    const std::string marker = "request id is " + queue + "-";
    ASSERT_NE(said.find(marker), std::string::npos) << said;
    const std::string job = std::to_string(std::atoi(said.c_str() + said.find(marker) + marker.size()));
    if (j.state == "cancelled") {
        // Cancelled while the printer, out of paper, holds it; CUPS shows users why it waits.
        EXPECT_TRUE(eventually([&] {
            return cups({kScript, "printer-state", dir + "/cups", queue}).find("Status Process Error -- Out of paper.") !=
                   std::string::npos;
        }));
        cups({"/usr/bin/cancel", job});
    }
    const std::string state = cups({kScript, "wait", dir + "/cups", job, "30"}, 40);
    // Each test runs in a process of its own, with a scheduler of its own: the log is this job's.
    const std::string log = testsupport::readFile(dir + "/cups/log/error_log");
    const std::string paperDir = dir + "/paper/job-" + job;
    ASSERT_EQ(state, j.state) << log << testsupport::readFile(paperDir + "/summary.txt");
    if (!j.check) return;
    Gray paper;
    std::string error;
    ASSERT_TRUE(testsupport::readPng(paperDir + "/paper.png", paper, error)) << error;
    j.check(paper, testsupport::readKeyValues(paperDir + "/summary.txt"), log);
}

const std::vector<std::string> kGrayPage = {"-o", "media=Roll80x100mm", "-o", "Imagealgorithm=2"};

std::vector<std::string> grayPage(std::vector<std::string> more)
{
    more.insert(more.begin(), kGrayPage.begin(), kGrayPage.end());
    return more;
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, CupsJobs,
    ::testing::Values(
        Job{"PngColour", "blocks.png", {}, "", "completed", [](auto& p, auto&, auto&) { expectBlocks(p); }},
        Job{"PngGray", "blocks.png", {"-o", "ColorModel=Gray"}, "", "completed",
            [](auto& p, auto&, auto&) { expectBlocks(p); }},
        Job{"OneBitRaster", "label.ras", {}, "", "completed",
            [](auto& p, auto&, auto&) {
                // Every black pixel of the label is a dot, nothing else is (the filter keeps
                // the blank rows of a 1-bit page, so the rows line up from the top).
                Gray label;
                std::string error;
                ASSERT_TRUE(testsupport::readPng(testsupport::sourcePath("samples/label.png"), label, error));
                ASSERT_EQ(p.width, label.width);
                ASSERT_GE(p.height, label.height);
                long differ = 0;
                for (int y = 0; y < label.height; ++y)
                    for (int x = 0; x < label.width; ++x) differ += (label.at(x, y) < 128) != (p.at(x, y) == 0);
                EXPECT_EQ(differ, 0);
            }},
        Job{"TwoCopies", "blocks.png", {"-n", "2"}, "", "completed",
            [](auto& p, auto& s, auto&) {
                EXPECT_EQ(s.at("rasters_printed"), "2");
                EXPECT_EQ(s.at("copies_acknowledged"), "2");
                EXPECT_GT(p.darkRows().second - p.darkRows().first, 2 * 220);
            }},
        // A narrow picture at its own size, in the middle.
        Job{"NarrowPicture", "narrow.png", {"-o", "print-scaling=none"}, "", "completed",
            [](auto& p, auto&, auto&) {
                auto [left, right] = p.darkColumns();
                EXPECT_NEAR(right - left, 200, 2);
                EXPECT_NEAR((left + right) / 2, kRoll / 2, 20);
            }},
        Job{"PdfColour", "receipt.pdf", {"-o", "media=Roll80x150mm"}, "", "completed",
            [](auto& p, auto&, auto&) { expectLikeReceipt(p); }},
        Job{"PdfGray", "receipt.pdf", {"-o", "media=Roll80x150mm", "-o", "ColorModel=Gray"}, "", "completed",
            [](auto& p, auto&, auto&) { expectLikeReceipt(p); }},
        // Job options reach the filter: ordered dither prints about half of a mid-gray...
        Job{"Dither", "gray.pdf", grayPage({}), "", "completed",
            [](auto& p, auto&, auto&) {
                EXPECT_GT(grayShare(p), 0.3);
                EXPECT_LT(grayShare(p), 0.7);
            }},
        // ...brighter, less of it...
        Job{"Brightness", "gray.pdf", grayPage({"-o", "Brightness=40"}), "", "completed",
            [](auto& p, auto&, auto&) { EXPECT_LT(grayShare(p), 0.4); }},
        // ...a fixed threshold below the gray, none of it, but the black band.
        Job{"Threshold", "gray.pdf", grayPage({"-o", "Imagealgorithm=10", "-o", "Threshold=64"}), "", "completed",
            [](auto& p, auto&, auto&) {
                EXPECT_LT(grayShare(p), 0.02);
                const int band = p.darkRows().first;
                EXPECT_GT(p.darkShare(16, band + 2, kRoll - 16, band + 26), 0.95);
            }},
        // A 50-row mark 250 rows down a 600-row page, trimmed to the mark.
        Job{"PaperSaving", "mark.png", {"-o", "PaperSaveMode=3", "-o", "PageHeaderBlank=0", "-o", "EndBlank=0"}, "",
            "completed",
            [](auto& p, auto&, auto&) {
                EXPECT_LE(p.darkRows().first, 2);
                EXPECT_EQ(p.darkRows().second - p.darkRows().first, 50);
                EXPECT_LT(p.height, 200);
            }},
        // The first 60 status queries (about a second) find no paper: the job waits, says why, then prints.
        Job{"PaperOutThenBack", "blocks.png", {}, "1-60:paperout,ready", "completed",
            [](auto& p, auto& s, auto& log) {
                EXPECT_NE(log.find("Status Process Error -- Out of paper."), std::string::npos) << log;
                EXPECT_EQ(s.at("printed_while_error"), "0");
                EXPECT_EQ(s.at("rasters_printed"), "1");
                expectBlocks(p);
            }},
        Job{"CancelWhileOutOfPaper", "blocks.png", {}, "paperout", "cancelled", nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CupsSandbox, PpdPassesCupstestppdOnceInstalled)
{
    if (!skipReason.empty()) GTEST_SKIP() << skipReason;
    testsupport::ProcessOptions o;
    o.env["CUPS_SERVERBIN"] = dir + "/cups/bin";  // holds our filter
    auto r = testsupport::runProcess({"/usr/bin/cupstestppd", testsupport::sourcePath("ppd/zorvan.ppd")}, o);
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
}

}  // namespace
