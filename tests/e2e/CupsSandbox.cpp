#include "e2e/CupsSandbox.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace e2e {

namespace {

std::string trimmed(std::string s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) {
        s.pop_back();
    }
    return s;
}

testsupport::ProcessOptions withTimeout(double seconds)
{
    testsupport::ProcessOptions options;
    options.timeoutSeconds = seconds;
    return options;
}

bool executable(const std::string& path)
{
    return ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

bool canRunCups(std::string& reason)
{
    if (::geteuid() != 0) {
        reason = "needs root: cupsd runs filters as the lp user";
        return false;
    }
    if (!executable("/usr/sbin/cupsd") || !executable("/usr/bin/lp") || !executable("/usr/sbin/lpadmin")) {
        reason = "cupsd, lp or lpadmin missing (Debian: cups, cups-client)";
        return false;
    }
    if (!executable("/usr/bin/ipptool")) {
        reason = "ipptool missing (Debian: cups-ipp-utils)";
        return false;
    }
    if (::getpwnam("lp") == nullptr) {
        reason = "no lp user";
        return false;
    }
    for (const char* program : {"rastertozorvan", "zorvan-printer"}) {
        if (!executable(testsupport::builtProgram(program))) {
            reason = std::string(program) + " not built";
            return false;
        }
    }
    if (!std::filesystem::exists(testsupport::sourcePath("ppd/zorvan.ppd"))) {
        reason = "ppd/zorvan.ppd missing";
        return false;
    }
    return true;
}

int countContaining(const std::vector<std::string>& lines, const std::string& text)
{
    int n = 0;
    for (const auto& line : lines) {
        if (line.find(text) != std::string::npos) {
            ++n;
        }
    }
    return n;
}

int countEqual(const std::vector<std::string>& lines, const std::string& text)
{
    int n = 0;
    for (const auto& line : lines) {
        n += line == text ? 1 : 0;
    }
    return n;
}

TmpFolder::TmpFolder()
{
    std::string templ = "/tmp/zorvan-e2e-XXXXXX";
    if (::mkdtemp(templ.data()) != nullptr) {
        path_ = templ;
        ::chmod(path_.c_str(), 0755);
    }
}

TmpFolder::~TmpFolder()
{
    if (!path_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
}

CupsSandbox::CupsSandbox(int waitMs) : script_(testsupport::sourcePath("scripts/cupsd-sandbox"))
{
    if (dir().empty()) {
        why_ = "cannot make a folder in /tmp";
        return;
    }
    // The filters run as lp: the folder must be enterable, the paper folder writable.
    ::chmod(dir().c_str(), 0755);
    const std::string paper = dir() + "/paper";
    ::mkdir(paper.c_str(), 0755);
    if (const passwd* lp = ::getpwnam("lp")) {
        if (::chown(paper.c_str(), lp->pw_uid, lp->pw_gid) != 0) {
            why_ = "cannot hand the paper folder to lp";
            return;
        }
    }
    // libcups 2.4's cupsMarkOptions leaks the 16-byte option array it builds
    // for print-color-mode, which CUPS passes with every job: the sanitized
    // filter would fail every job on it. Only that allocation is excused.
    const std::string suppressions = dir() + "/lsan.supp";
    testsupport::writeFile(suppressions, "leak:cupsAddOption\n");
    ::chmod(suppressions.c_str(), 0644);
    std::vector<std::string> argv{script_, "start", dir() + "/cups", "--filter",
                                  testsupport::builtProgram("rastertozorvan"), "--setenv",
                                  "ZORVAN_TEST_WAIT_MS=" + std::to_string(waitMs), "--setenv",
                                  "LSAN_OPTIONS=suppressions=" + suppressions + ":print_suppressions=0",
                                  "--owner", std::to_string(::getpid())};
    if (executable(testsupport::builtProgram("zorvan-printer"))) {
        argv.insert(argv.end(), {"--backend", "zorvan-sim=" + testsupport::builtProgram("zorvan-printer")});
    }
    auto r = testsupport::runProcess(argv, withTimeout(20));
    started_ = true;
    if (r.exitStatus != 0) {
        why_ = "cupsd-sandbox start failed: " + r.err;
        return;
    }
    socket_ = trimmed(r.out);
    ok_ = true;
}

CupsSandbox::~CupsSandbox()
{
    if (started_) {
        testsupport::runProcess({script_, "stop", dir() + "/cups"}, withTimeout(20));
    }
}

testsupport::ProcessResult CupsSandbox::run(const std::vector<std::string>& argv)
{
    testsupport::ProcessOptions options;
    options.env["CUPS_SERVER"] = socket_;
    options.timeoutSeconds = 30;
    return testsupport::runProcess(argv, options);
}

bool CupsSandbox::addQueue(const std::string& queue, const std::string& status, int speedMmPerS)
{
    std::string uri = "zorvan-sim:" + dir() + "/paper?speed=" + std::to_string(speedMmPerS);
    if (!status.empty()) {
        uri += "&status=" + status;
    }
    // Portrait always: CUPS would otherwise turn a wide image along the roll.
    auto r = run({"/usr/sbin/lpadmin", "-p", queue, "-E", "-v", uri, "-P", testsupport::sourcePath("ppd/zorvan.ppd"),
                  "-o", "orientation-requested-default=3"});
    if (r.exitStatus != 0) {
        why_ = "lpadmin failed: " + r.err;
        return false;
    }
    return true;
}

int CupsSandbox::print(const std::string& queue, const std::string& file, const std::vector<std::string>& lpArgs)
{
    std::vector<std::string> argv{"/usr/bin/lp", "-d", queue};
    argv.insert(argv.end(), lpArgs.begin(), lpArgs.end());
    argv.push_back(file);
    auto r = run(argv);
    // "request id is QUEUE-N (1 file(s))"
    const std::string marker = "request id is " + queue + "-";
    auto at = r.out.find(marker);
    if (r.exitStatus != 0 || at == std::string::npos) {
        why_ = "lp failed: " + r.out + r.err;
        return -1;
    }
    return std::atoi(r.out.c_str() + at + marker.size());
}

std::string CupsSandbox::jobState(int job)
{
    return trimmed(testsupport::runProcess({script_, "job-state", dir() + "/cups", std::to_string(job)}).out);
}

std::string CupsSandbox::waitJob(int job, int seconds)
{
    return trimmed(testsupport::runProcess({script_, "wait", dir() + "/cups", std::to_string(job),
                                            std::to_string(seconds)},
                                           withTimeout(seconds + 10.0))
                       .out);
}

std::string CupsSandbox::printerState(const std::string& queue)
{
    return trimmed(testsupport::runProcess({script_, "printer-state", dir() + "/cups", queue}).out);
}

bool CupsSandbox::cancel(int job)
{
    return run({"/usr/bin/cancel", std::to_string(job)}).exitStatus == 0;
}

std::string CupsSandbox::paperDir(int job) const
{
    return dir() + "/paper/job-" + std::to_string(job);
}

std::map<std::string, std::string> CupsSandbox::summary(int job) const
{
    return testsupport::readKeyValues(paperDir(job) + "/summary.txt");
}

std::vector<std::string> CupsSandbox::jobLog(int job) const
{
    std::vector<std::string> lines;
    std::istringstream in(errorLog());
    const std::string tag = "[Job " + std::to_string(job) + "] ";
    std::string line;
    while (std::getline(in, line)) {
        auto at = line.find(tag);
        if (at != std::string::npos) {
            lines.push_back(line.substr(at + tag.size()));
        }
    }
    return lines;
}

std::string CupsSandbox::errorLog() const
{
    return testsupport::readFile(dir() + "/cups/log/error_log");
}

}  // namespace e2e
