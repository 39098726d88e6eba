// The shipped PPD through a private CUPS scheduler: a custom page length
// prints as one page, and a picture's Brightness is the driver's alone (CUPS's
// image converter reads a "brightness" of its own, 100 = unchanged, which
// imagetozorvan keeps from it). And imagetozorvan run by hand: what it does
// when a program fails or the job is cancelled.
#include <gtest/gtest.h>

#include "support/Process.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using testsupport::builtProgram;
using testsupport::runProcess;
using testsupport::sourcePath;

constexpr double kDotsPerMm = 203 / 25.4;
constexpr int kContinuousPaperRows = 120;  // white rows below a page of MediaType 1

testsupport::ProcessOptions within(double seconds)
{
    testsupport::ProcessOptions options;
    options.timeoutSeconds = seconds;
    return options;
}

std::string systemConverter()
{
    std::string serverBin = runProcess({"/usr/bin/cups-config", "--serverbin"}).out;
    serverBin = serverBin.substr(0, serverBin.find('\n'));
    return serverBin + "/filter/imagetoraster";
}

bool canRun(std::string& reason)
{
    for (const char* program : {"rastertozorvan", "imagetozorvan", "zorvan-printer"}) {
        if (::access(builtProgram(program).c_str(), X_OK) != 0) {
            reason = std::string(program) + " not built";
            return false;
        }
    }
    if (::access(systemConverter().c_str(), X_OK) != 0) {
        reason = "CUPS's imagetoraster missing (Debian: cups-filters)";
        return false;
    }
    return true;
}

// A scheduler in /tmp (the lp user must enter every folder above it) with a
// queue "zorvan" for the shipped PPD on the simulated printer, instant paper.
class Scheduler {
public:
    Scheduler()
    {
        if (::geteuid() != 0 || ::access("/usr/sbin/cupsd", X_OK) != 0 || ::access("/usr/bin/ipptool", X_OK) != 0) {
            why_ = "needs root, cupsd and ipptool";
            return;
        }
        char folder[] = "/tmp/zorvan-ppd-XXXXXX";
        if (::mkdtemp(folder) == nullptr) {
            why_ = "cannot make a folder in /tmp";
            return;
        }
        dir_ = folder;
        ::chmod(dir_.c_str(), 0755);
        const std::string paper = dir_ + "/paper";
        const passwd* lp = ::getpwnam("lp");
        if (lp == nullptr || ::mkdir(paper.c_str(), 0755) != 0 || ::chown(paper.c_str(), lp->pw_uid, lp->pw_gid) != 0) {
            why_ = "cannot give the lp user a paper folder";
            return;
        }
        // libcups 2.4's cupsMarkOptions leaks; a sanitized filter must not fail the job on it.
        testsupport::writeFile(dir_ + "/lsan.supp", "leak:cupsAddOption\n");
        ::chmod((dir_ + "/lsan.supp").c_str(), 0644);
        auto r = runProcess({script_, "start", dir_ + "/cups", "--filter", builtProgram("rastertozorvan"), "--filter",
                             builtProgram("imagetozorvan"), "--backend", "zorvan-sim=" + builtProgram("zorvan-printer"),
                             "--setenv", "ZORVAN_TEST_WAIT_MS=20", "--setenv",
                             "LSAN_OPTIONS=suppressions=" + dir_ + "/lsan.supp", "--owner", std::to_string(::getpid())},
                            within(30));
        started_ = true;
        socket_ = r.out.substr(0, r.out.find('\n'));
        if (r.exitStatus != 0) {
            why_ = "cupsd-sandbox start failed: " + r.err;
            return;
        }
        r = cups({"/usr/sbin/lpadmin", "-p", "zorvan", "-E", "-v", "zorvan-sim:" + paper + "?status=ready&speed=0",
                  "-P", sourcePath("ppd/zorvan.ppd"), "-o", "orientation-requested-default=3"});
        ok_ = r.exitStatus == 0;
        why_ = r.err;
    }

    ~Scheduler()
    {
        if (started_) {
            runProcess({script_, "stop", dir_ + "/cups"}, within(30));
        }
        if (!dir_.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(dir_, ec);
        }
    }

    bool ok() const { return ok_; }
    const std::string& why() const { return why_; }
    const std::string& dir() const { return dir_; }

    // Prints `file` with lp and `options`; the job must complete. Returns the
    // simulated printer's folder of the job (paper.png, summary.txt).
    std::string print(const std::string& file, std::vector<std::string> options)
    {
        options.insert(options.begin(), {"/usr/bin/lp", "-d", "zorvan"});
        options.push_back(file);
        const auto r = cups(options);
        const auto at = r.out.find("zorvan-");
        EXPECT_NE(at, std::string::npos) << r.out << r.err;
        const std::string job = at == std::string::npos ? "0" : std::to_string(std::atoi(r.out.c_str() + at + 7));
        const auto state = runProcess({script_, "wait", dir_ + "/cups", job, "30"}, within(40)).out;
        EXPECT_EQ(state, "completed\n") << jobLog(job);
        return dir_ + "/paper/job-" + job;
    }

    // The scheduler's lines of one job: the filters it ran and what they said.
    std::string jobLog(const std::string& job) const
    {
        std::string lines;
        const std::string log = testsupport::readFile(dir_ + "/cups/log/error_log");
        const std::string tag = "[Job " + job + "] ";
        for (size_t at = log.find(tag); at != std::string::npos; at = log.find(tag, at + 1)) {
            const std::string line = log.substr(at, log.find('\n', at) - at);
            lines += line.find("envp[") == std::string::npos ? line + "\n" : "";
        }
        return lines;
    }

private:
    testsupport::ProcessResult cups(const std::vector<std::string>& argv)
    {
        auto options = within(30);
        options.env["CUPS_SERVER"] = socket_;
        return runProcess(argv, options);
    }

    std::string script_ = sourcePath("scripts/cupsd-sandbox");
    std::string dir_, socket_, why_;
    bool started_ = false, ok_ = false;
};

#define START_SCHEDULER(name)                    \
    std::string reason;                          \
    if (!canRun(reason)) {                       \
        GTEST_SKIP() << reason;                  \
    }                                            \
    Scheduler name;                              \
    if (name.why().starts_with("needs root")) {  \
        GTEST_SKIP() << name.why();              \
    }                                            \
    ASSERT_TRUE(name.ok()) << name.why()

// A 72 x 1200 mm document, longer than every shipped size: a 10 mm bar at
// the top and one ending 1160 mm down (PostScript counts from the bottom), so
// paper saving trims a 40 mm blank tail. Printed with and without the trim,
// it is one page either way.
TEST(PpdOptions, CustomLengthPrintsAsOnePageLessTheBlankTail)
{
    START_SCHEDULER(cups);
    const std::string ps = cups.dir() + "/long.ps";
    testsupport::writeFile(ps,
                           "%!PS-Adobe-3.0\n%%BoundingBox: 0 0 204 3402\n%%Pages: 1\n%%EndComments\n%%Page: 1 1\n"
                           "0 3373.23 204.09 28.35 rectfill\n0 113.39 204.09 28.35 rectfill\nshowpage\n%%EOF\n");
    struct Case {
        const char* paperSave;
        double rows;  // raster rows: content, kept blank, the continuous paper's white rows
    } cases[] = {
        {"PaperSaveMode=0", 1200 * kDotsPerMm + kContinuousPaperRows},
        {"PaperSaveMode=2", 1160 * kDotsPerMm + 16 + kContinuousPaperRows},  // EndBlank 2: 16 rows kept
    };
    for (const auto& c : cases) {
        const auto paper = cups.print(ps, {"-o", "media=Custom.72x1200mm", "-o", c.paperSave});
        auto summary = testsupport::readKeyValues(paper + "/summary.txt");
        EXPECT_EQ(summary["rasters_printed"], "1") << c.paperSave;
        EXPECT_NEAR(std::atoi(summary["raster_rows"].c_str()), c.rows, 6) << c.paperSave;
    }
}

// Byte-identical paper with Brightness=0 and without the option; +-40 still
// change the picture (the driver's own adjustment).
TEST(PpdOptions, PictureBrightnessIsTheDriversOwn)
{
    START_SCHEDULER(cups);
    const auto png = sourcePath("samples/receipt.png");
    const std::string plain = testsupport::readFile(cups.print(png, {}) + "/paper.png");
    ASSERT_FALSE(plain.empty());
    EXPECT_TRUE(testsupport::readFile(cups.print(png, {"-o", "Brightness=0"}) + "/paper.png") == plain)
        << "Brightness=0 changed the picture";
    for (const char* brightness : {"Brightness=40", "Brightness=-40"}) {
        EXPECT_FALSE(testsupport::readFile(cups.print(png, {"-o", brightness}) + "/paper.png") == plain) << brightness;
    }
}

// By hand, against the simulated printer: a picture the converter cannot read
// fails both programs, each named in an ERROR: line; a cancel (the printer
// is out of paper, the simulator sends SIGTERM after 2 s) reaches the filter,
// which ends the job cleanly, so nothing is left waiting.
TEST(PictureFilter, ReportsFailuresAndPassesTheCancelOn)
{
    std::string reason;
    if (!canRun(reason)) {
        GTEST_SKIP() << reason;
    }
    testsupport::TempDir tmp;
    std::filesystem::create_directories(tmp.file("bin/filter"));
    std::filesystem::create_symlink(systemConverter(), tmp.file("bin/filter/imagetoraster"));
    std::filesystem::create_symlink(builtProgram("rastertozorvan"), tmp.file("bin/filter/rastertozorvan"));
    testsupport::writeFile(tmp.file("broken.png"), "not a picture");
    auto options = within(10);
    options.env = {{"CUPS_SERVERBIN", tmp.file("bin")}, {"PPD", sourcePath("ppd/zorvan.ppd")},
                   {"ZORVAN_TEST_WAIT_MS", "20"}};
    auto run = [&](const std::string& status, const std::string& file) {
        return runProcess({builtProgram("zorvan-printer"), "--speed", "0", "--timeout", "2", "--status", status,
                           "--out", tmp.file("out-" + status), "--", builtProgram("imagetozorvan"), "1", "user",
                           "title", "1", "Brightness=0", file},
                          options);
    };

    const auto broken = run("ready", tmp.file("broken.png"));
    EXPECT_EQ(broken.exitStatus, 1);
    EXPECT_NE(broken.err.find("ERROR: imagetoraster failed (exit status 1)."), std::string::npos) << broken.err;
    EXPECT_NE(broken.err.find("ERROR: rastertozorvan failed (exit status 1)."), std::string::npos) << broken.err;

    const auto cancelled = run("paperout", sourcePath("samples/receipt.png"));
    EXPECT_EQ(cancelled.exitStatus, 0) << cancelled.err;
    EXPECT_NE(cancelled.err.find("INFO: Job cancelled."), std::string::npos) << cancelled.err;
    EXPECT_EQ(cancelled.err.find("ERROR:"), std::string::npos) << cancelled.err;
}

}  // namespace
