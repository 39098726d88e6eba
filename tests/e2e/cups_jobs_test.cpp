// Documents in, paper out: jobs printed with lp on a private scheduler started by
// scripts/cupsd-sandbox go through CUPS's converters, our filters and the simulated
// printer (the zorvan-sim backend, or listening behind a socket:// queue); the paper
// is checked against the document.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "support/Pictures.h"
#include "support/Process.h"

namespace {

using namespace testsupport;

constexpr int kRoll = 576;  // 80 mm roll at 203 dpi: the PPD's printable width
constexpr double kDotsPerMm = 203 / 25.4;
const std::string kScript = sourcePath("scripts/cupsd-sandbox");
const std::string kLeaks = "suppressions=" + sourcePath("tests/e2e/lsan.supp");  // libcups's, for a sanitized filter
// Under /tmp whatever TMPDIR says: lp must enter every folder above it, and the socket path must stay short.
std::string dir, sock, skipReason, queue;
pid_t listener = 0;

// Runs a CUPS client or the sandbox script against the private scheduler; its output, trimmed.
std::string cups(const std::vector<std::string>& args, double timeout = 30)
{
    std::string out = runProcess(args, {.env = {{"CUPS_SERVER", sock}}, .timeoutSeconds = timeout}).out;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// A job's final state, waited for at most two minutes (a bound on a hang: a loaded machine is slow).
std::string finalState(const std::string& job)
{
    return cups({kScript, "wait", dir + "/cups", job, "120"}, 130);
}

// Prints `file` (in the scheduler's folder) on the current queue; the job id.
std::string submit(const std::string& file, std::vector<std::string> lp)
{
    lp.insert(lp.begin(), {"/usr/bin/lp", "-d", queue});
    lp.push_back(dir + "/" + file);
    const std::string said = cups(lp), marker = "request id is " + queue + "-";  // then "N (1 file(s))"
    EXPECT_TRUE(said.starts_with(marker)) << said;
    return std::to_string(std::atoi(said.c_str() + std::min(said.size(), marker.size())));
}

// Another job on the same queue, which must complete; its paper.
Gray printed(const std::string& file, const std::vector<std::string>& lp)
{
    const std::string job = submit(file, lp);
    EXPECT_EQ(finalState(job), "completed");
    return readPng(dir + "/paper/job-" + job + "/paper.png");
}

// 576 x 240: black top-left quarter and bottom bar, white elsewhere; a blue square for the colour road.
Rgb blocks(int x, int y)
{
    if ((x < 288 && y < 120) || y >= 220) return {0, 0, 0};
    if (x >= 400 && x < 480 && y >= 140 && y < 200) return {20, 40, 160};
    return {255, 255, 255};
}

// The paper against the document at the printer's resolution (the picture itself, or
// poppler's rendering of a PDF): solid black blocks of the document must be black on
// paper, blank ones (with a margin) blank, and the content as high.
using Check = std::function<void(const Gray&, const std::map<std::string, std::string>& summary)>;

Check like(const std::string& document)
{
    return [document](const Gray& p, auto&) { expectSameContent(p, readPng(dir + "/" + document), kRoll); };
}

// The paper and the PDF alike, and both codes of the PDF scan from the paper.
Check likeAndScans(const std::string& document)
{
    return [document](const Gray& p, auto& s) {
        like(document)(p, s);
        if (::access("/usr/bin/zbarimg", X_OK) != 0) GTEST_SKIP() << "zbarimg missing (Debian: zbar-tools)";
        writeGrayPng(dir + "/scanned.png", p, 203);
        EXPECT_EQ(runProcess({"/usr/bin/zbarimg", "-q", "--nodbus", dir + "/scanned.png"}).out,
                  "QR-Code:https://zorvan.example/r/000173\nCODE-128:000173061226\n");
    };
}

// The mid-gray area of gray.ps (a black band on top, then 50% gray).
double grayShare(const Gray& p)
{
    const int top = p.darkRows().first;
    return p.darkShare(16, top + 40, kRoll - 16, top + 260);
}


// One page of about `rows` raster rows: content, kept blank and the 120 white rows below a page of MediaType 1.
Check onePageOf(double rows)
{
    return [rows](auto&, auto& s) {
        EXPECT_EQ(s.at("rasters_printed"), "1");
        EXPECT_NEAR(std::atoi(s.at("raster_rows").c_str()), rows + 120, 6);
    };
}

struct Job {
    const char* name;
    std::string file;  // in the scheduler's folder
    std::vector<std::string> lp;
    Check check;
    std::string status;                // the printer's status script, "" = always ready
    std::string state = "completed";  // the final job state
    bool network = false;              // a socket:// queue to the printer listening on the loopback address
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
        // imagetozorvan comes along with rastertozorvan: pictures go through it.
        sock = cups({kScript, "start", dir + "/cups", "--filter", builtProgram("rastertozorvan"), "--backend",
                     "zorvan-sim=" + builtProgram("zorvan-printer"), "--setenv", "ZORVAN_TEST_WAIT_MS=20", "--setenv",
                     "LSAN_OPTIONS=" + kLeaks + ":print_suppressions=0", "--owner",
                     std::to_string(::getpid())});
        if (sock.empty()) skipReason = "cupsd-sandbox start failed";
        writeRgbPng(dir + "/blocks.png", kRoll, 240, blocks);
        const Rgb black{0, 0, 0}, white{255, 255, 255};
        writeRgbPng(dir + "/narrow.png", 200, 300, [&](int, int y) { return y < 100 ? black : white; });
        writeRgbPng(dir + "/mark.png", kRoll, 600,
                    [&](int x, int y) { return y >= 250 && y < 300 && x >= 100 && x < 400 ? black : white; });
        // 10 pt of black (28 rows), then 100 pt of 50% gray; a document because CUPS's image
        // converter would apply a "brightness" option of its own to a picture.
        writeFile(dir + "/gray.ps", "%!PS-Adobe-3.0\n%%BoundingBox: 0 0 204 283\n%%Pages: 1\n%%EndComments\n"
                                    "%%Page: 1 1\n0 setgray 0 273.46 204.3 10 rectfill\n"
                                    "0.5 setgray 0 173.46 204.3 100 rectfill\nshowpage\n%%EOF\n");
        // 72 x 1200 mm, longer than every shipped size: a 10 mm bar at the top and one ending
        // 1160 mm down (PostScript counts from the bottom), so paper saving trims a 40 mm tail.
        writeFile(dir + "/long.ps", "%!PS-Adobe-3.0\n%%BoundingBox: 0 0 204 3402\n%%Pages: 1\n%%EndComments\n"
                                    "%%Page: 1 1\n0 3373.23 204.09 28.35 rectfill\n0 113.39 204.09 28.35 rectfill\n"
                                    "showpage\n%%EOF\n");
        std::filesystem::copy_file(sourcePath("samples/receipt.png"), dir + "/receipt.png");
        std::filesystem::copy_file(sourcePath("samples/receipt-doc.pdf"), dir + "/receipt.pdf");
        runProcess({"/usr/bin/pdftoppm", "-gray", "-r", "203", "-W", "576", "-png", "-singlefile",
                    dir + "/receipt.pdf", dir + "/ref"});
        // The 1-bit road: a raster the filter takes as it is.
        runProcess({builtProgram("zorvan-raster"), "--bits", "1", sourcePath("samples/label.png"), dir + "/label.ras"});
    }
    static void TearDownTestSuite()
    {
        // It writes its last job's files as it goes: gone before the folder is.
        if (listener > 0 && ::kill(listener, SIGTERM) == 0) eventually([] { return !running(listener); });
        if (dir.empty()) return;
        cups({kScript, "stop", dir + "/cups"});
        std::filesystem::remove_all(dir);
    }
};

class CupsJobs : public CupsSandbox, public ::testing::WithParamInterface<Job> {};

TEST_P(CupsJobs, PrintsAsExpected)
{
    if (!skipReason.empty()) GTEST_SKIP() << skipReason;
    const Job& j = GetParam();
    // One queue per job: the status script is part of the device URI. Portrait always:
    // CUPS would otherwise turn a wide picture along the roll.
    static int queues = 0;
    queue = "q" + std::to_string(++queues);
    std::string uri = "zorvan-sim:" + dir + "/paper?speed=0" + (j.status.empty() ? "" : "&status=" + j.status);
    if (j.network) {
        // In the background, its pid printed; --timeout bounds it should this test die first.
        writeFile(dir + "/status", j.status + "\n");
        listener = std::atoi(runProcess({"/bin/sh", "-c",
                                         "exec \"$0\" --listen 127.0.0.1:0 --out \"$1\" --speed 0 --status-file \"$2\" "
                                         "--timeout 300 >\"$1.port\" 2>/dev/null </dev/null & echo $!",
                                         builtProgram("zorvan-printer"), dir + "/net", dir + "/status"})
                                 .out.c_str());
        int port = 0;  // its first line
        ASSERT_TRUE(eventually([&] { return (port = portAfter(dir + "/net.port", "")) > 0; }));
        uri = "socket://127.0.0.1:" + std::to_string(port);
    }
    ASSERT_EQ(cups({"/usr/sbin/lpadmin", "-p", queue, "-E", "-v", uri, "-P", builtPpd(), "-o",
                    "orientation-requested-default=3"}),
              "");
    const std::string job = submit(j.file, j.lp);
    const auto reasons = [] { return cups({"/usr/bin/lpstat", "-l", "-p", queue}); };
    if (j.status == "paperout") {
        // The job waits while the paper is out, and CUPS shows users why: message and state reason.
        const auto said = [](const std::string& out, const char* what) { return out.find(what) != std::string::npos; };
        EXPECT_TRUE(eventually([&] {
            return said(cups({kScript, "printer-state", dir + "/cups", queue}),
                        "Status Process Error -- Out of paper.") &&
                   said(reasons(), "media-empty-error");
        })) << reasons();
        EXPECT_EQ(cups({kScript, "job-state", dir + "/cups", job}), "processing");
        if (j.state == "cancelled") cups({"/usr/bin/cancel", job});
        if (j.network) writeFile(dir + "/status", "ready\n");
    }
    // Each test runs in a process of its own, with a scheduler of its own: the log is this job's.
    const std::string paperDir = j.network ? dir + "/net/job-1" : dir + "/paper/job-" + job;
    ASSERT_EQ(finalState(job), j.state)
        << readFile(dir + "/cups/log/error_log") << readFile(paperDir + "/summary.txt");
    if (j.state == "completed") {
        EXPECT_EQ(reasons().find("media-empty-error"), std::string::npos) << reasons();
    }
    if (j.check) j.check(readPng(paperDir + "/paper.png"), readKeyValues(paperDir + "/summary.txt"));
}

// A page of gray.ps as ordered dither (and `more`).
std::vector<std::string> grayPage(std::vector<std::string> more = {})
{
    more.insert(more.begin(), {"-o", "media=Roll80x100mm", "-o", "Imagealgorithm=2"});
    return more;
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, CupsJobs,
    ::testing::Values(
        Job{"PngColour", "blocks.png", {}, like("blocks.png")},
        Job{"PngGray", "blocks.png", {"-o", "ColorModel=Gray"}, like("blocks.png")},
        Job{"OneBitRaster", "label.ras", {}, [](auto& p, auto&) {
                // Every black pixel of the label is a dot, nothing else is (the filter keeps
                // the blank rows of a 1-bit page, so the rows line up from the top).
                const Gray label = readPng(sourcePath("samples/label.png"));
                ASSERT_EQ(label.width, kRoll);
                ASSERT_EQ(p.width, label.width);
                ASSERT_GE(p.height, label.height);
                long differ = 0;
                for (int y = 0; y < label.height; ++y)
                    for (int x = 0; x < label.width; ++x) differ += (label.at(x, y) < 128) != (p.at(x, y) == 0);
                EXPECT_EQ(differ, 0);
            }},
        // Two copies, each cut once it is out.
        Job{"TwoCopiesCut", "blocks.png", {"-n", "2", "-o", "PaperCutMode=2"}, [](auto& p, auto& s) {
                EXPECT_EQ(s.at("rasters_printed"), "2");
                EXPECT_EQ(s.at("copies_acknowledged"), "2");
                EXPECT_EQ(s.at("cuts"), "2");
                EXPECT_GT(p.darkRows().second - p.darkRows().first, 2 * 220);
            }},
        // A narrow picture at its own size (one pixel a dot), in the middle.
        Job{"NarrowPicture", "narrow.png", {"-o", "print-scaling=none", "-o", "ppi=203"}, [](auto& p, auto&) {
                auto [left, right] = p.darkColumns();
                EXPECT_NEAR(right - left, 200, 2);
                EXPECT_NEAR((left + right) / 2, kRoll / 2, 20);
            }},
        Job{"PdfColour", "receipt.pdf", {"-o", "media=Roll80x150mm"}, likeAndScans("ref.png")},
        Job{"PdfOtsu", "receipt.pdf", {"-o", "media=Roll80x150mm", "-o", "Imagealgorithm=0"}, likeAndScans("ref.png")},
        Job{"PdfGray", "receipt.pdf", {"-o", "media=Roll80x150mm", "-o", "ColorModel=Gray"}, like("ref.png")},
        // Job options reach the filter: ordered dither prints about half of a mid-gray...
        Job{"Dither", "gray.ps", grayPage(), [](auto& p, auto&) {
                EXPECT_GT(grayShare(p), 0.3);
                EXPECT_LT(grayShare(p), 0.7);
            }},
        // ...brighter, less of it...
        Job{"Brightness", "gray.ps", grayPage({"-o", "Brightness=40"}),
            [](auto& p, auto&) { EXPECT_LT(grayShare(p), 0.4); }},
        // ...a fixed threshold below the gray, none of it, but the black band.
        Job{"Threshold", "gray.ps", grayPage({"-o", "Imagealgorithm=10", "-o", "Threshold=64"}), [](auto& p, auto&) {
                EXPECT_LT(grayShare(p), 0.02);
                const int band = p.darkRows().first;
                EXPECT_GT(p.darkShare(16, band + 2, kRoll - 16, band + 26), 0.95);
            }},
        // A picture's Brightness is the driver's alone: CUPS reads a "brightness" of its own
        // (100 = unchanged), which imagetozorvan keeps from its converter. So 0 prints the very
        // paper of no option, and +-40 still change it.
        Job{"PictureBrightness", "receipt.png", {"-o", "Brightness=0"}, [](auto& p, auto&) {
                EXPECT_TRUE(printed("receipt.png", {}).pixels == p.pixels) << "Brightness=0 changed the picture";
                for (const char* b : {"Brightness=40", "Brightness=-40"})
                    EXPECT_FALSE(printed("receipt.png", {"-o", b}).pixels == p.pixels) << b;
            }},
        // A 50-row mark 250 rows down a 600-row page, trimmed to the mark.
        Job{"PaperSaving", "mark.png", {"-o", "PaperSaveMode=3", "-o", "PageHeaderBlank=0", "-o", "EndBlank=0"},
            [](auto& p, auto&) {
                EXPECT_LE(p.darkRows().first, 2);
                EXPECT_EQ(p.darkRows().second - p.darkRows().first, 50);
                EXPECT_LT(p.height, 200);
            }},
        // A custom length prints as one page, whole or less its blank tail (EndBlank 2 keeps 16 rows).
        Job{"CustomLength", "long.ps", {"-o", "media=Custom.72x1200mm", "-o", "PaperSaveMode=0"},
            onePageOf(1200 * kDotsPerMm)},
        Job{"CustomLengthTrimmed", "long.ps", {"-o", "media=Custom.72x1200mm", "-o", "PaperSaveMode=2"},
            onePageOf(1160 * kDotsPerMm + 16)},
        // Over the network, the paper out until the job is seen waiting: then it prints, nothing while out.
        Job{"NetworkPaperOutThenBack", "receipt.pdf", {"-o", "media=Roll80x150mm"},
            [](auto& p, auto& s) {
                EXPECT_EQ(s.at("printed_while_error"), "0");
                EXPECT_EQ(s.at("rasters_printed"), "1");
                like("ref.png")(p, s);
            },
            "paperout", "completed", true},
        Job{"CancelWhileOutOfPaper", "blocks.png", {}, nullptr, "paperout", "cancelled"},
        // A printer that never answers: with the printer check off the job prints all the same.
        Job{"NetworkSilentWithCheckOff", "receipt.pdf", {"-o", "media=Roll80x150mm", "-o", "PrinterCheck=2"},
            [](auto& p, auto& s) {
                EXPECT_EQ(s.at("queries"), "0");
                like("ref.png")(p, s);
            },
            "none", "completed", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CupsSandbox, PpdsPassCupstestppdOnceInstalled)
{
    if (!skipReason.empty()) GTEST_SKIP() << skipReason;
    for (const char* model : {"zorvan.ppd", "zorvan58.ppd"}) {
        auto r = runProcess({"/usr/bin/cupstestppd", builtPpd(model)},
                            {.env = {{"CUPS_SERVERBIN", dir + "/cups/bin"}}});  // holds our filter
        EXPECT_EQ(r.exitStatus, 0) << model << r.out << r.err;
    }
}

// imagetozorvan by hand (no root) against the simulated printer: a picture the converter
// cannot read fails both programs, each named in an ERROR: line; a cancel (the printer is
// out of paper, the simulator sends SIGTERM after 2 s) reaches the filter, which ends the
// job cleanly, so nothing is left waiting.
TEST(PictureFilter, ReportsFailuresAndPassesTheCancelOn)
{
    const std::string converter =
        runProcess({"/bin/sh", "-c", "printf %s \"$(cups-config --serverbin)/filter/imagetoraster\""}).out;
    if (::access(converter.c_str(), X_OK) != 0) GTEST_SKIP() << "CUPS's imagetoraster missing (Debian: cups-filters)";
    TempDir tmp;
    std::filesystem::create_directories(tmp.file("bin/filter"));
    std::filesystem::create_symlink(converter, tmp.file("bin/filter/imagetoraster"));
    std::filesystem::create_symlink(builtProgram("rastertozorvan"), tmp.file("bin/filter/rastertozorvan"));
    writeFile(tmp.file("broken.png"), "not a picture");
    auto run = [&](const std::string& status, const std::string& file) {
        return runProcess({builtProgram("zorvan-printer"), "--speed", "0", "--timeout", "2", "--status", status,
                           "--out", tmp.file("out-" + status), "--", builtProgram("imagetozorvan"), "1", "user",
                           "title", "1", "Brightness=0", file},
                          {.env = {{"CUPS_SERVERBIN", tmp.file("bin")}, {"PPD", builtPpd()},
                                   {"ZORVAN_TEST_WAIT_MS", "20"}, {"LSAN_OPTIONS", kLeaks}},
                           .timeoutSeconds = 10});
    };
    const auto broken = run("ready", tmp.file("broken.png"));
    EXPECT_EQ(broken.exitStatus, 1);
    EXPECT_NE(broken.err.find("ERROR: imagetoraster failed (exit status 1)."), std::string::npos) << broken.err;
    EXPECT_NE(broken.err.find("ERROR: rastertozorvan failed (exit status 1)."), std::string::npos) << broken.err;

    const auto cancelled = run("paperout", sourcePath("samples/receipt.png"));
    EXPECT_EQ(cancelled.exitStatus, 0) << cancelled.err;
    EXPECT_NE(cancelled.err.find("INFO: Job cancelled."), std::string::npos) << cancelled.err;
    EXPECT_EQ(cancelled.err.find("ERROR:"), std::string::npos) << cancelled.err;

    // A filter anyone may rewrite is not run, as the scheduler would not run it.
    std::filesystem::remove(tmp.file("bin/filter/rastertozorvan"));
    std::filesystem::copy_file(builtProgram("rastertozorvan"), tmp.file("bin/filter/rastertozorvan"));
    std::filesystem::permissions(tmp.file("bin/filter/rastertozorvan"), std::filesystem::perms::all);
    const auto insecure = run("ready", sourcePath("samples/receipt.png"));
    EXPECT_EQ(insecure.exitStatus, 1);
    EXPECT_NE(insecure.err.find("is writable by other users; not running it."), std::string::npos) << insecure.err;
}

}  // namespace
