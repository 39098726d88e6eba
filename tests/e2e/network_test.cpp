// A network printer: a private scheduler prints through CUPS's own socket
// backend to the simulated printer listening on the loopback address, and
// shows the printer's paper-out condition as a printer-state-reason while the
// job waits for paper.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "support/Process.h"

namespace {

using testsupport::builtProgram;
using testsupport::readKeyValues;
using testsupport::runProcess;
using testsupport::sourcePath;

const std::string sandbox = sourcePath("scripts/cupsd-sandbox");

// Asks `probe` every 50 ms, for at most `seconds`.
bool eventually(double seconds, const std::function<bool()>& probe)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!probe()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

class NetworkPrinter : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0 || ::access("/usr/sbin/cupsd", X_OK) != 0) {
            GTEST_SKIP() << "needs root and cupsd: cupsd runs filters as the lp user";
        }
        // The lp user must enter the scheduler's folder.
        ::chmod(tmp_.path().c_str(), 0755);
        testsupport::writeFile(tmp_.file("status"), "ready\n");
        // In the background, its pid printed; --timeout bounds it should this
        // test die before it stops the printer.
        auto started = runProcess({"/bin/sh", "-c",
                                   "exec \"$0\" --listen 127.0.0.1:0 --out \"$1\" --speed 0 --status-file \"$2\" "
                                   "--timeout 50 >\"$3\" 2>\"$4\" </dev/null & echo $!",
                                   builtProgram("zorvan-printer"), tmp_.file("paper"), tmp_.file("status"),
                                   tmp_.file("port"), tmp_.file("printer.log")});
        printer_ = std::atoi(started.out.c_str());
        ASSERT_GT(printer_, 0) << started.err;
        ASSERT_TRUE(eventually(5, [&] { return testsupport::readFile(tmp_.file("port")).find('\n') != std::string::npos; }))
            << testsupport::readFile(tmp_.file("printer.log"));
        const std::string port = testsupport::readFile(tmp_.file("port"));

        // A filter built with the leak checker: libcups 2.4's cupsMarkOptions
        // leaks an option array on every job; only that is excused.
        testsupport::writeFile(tmp_.file("lsan.supp"), "leak:cupsAddOption\n");
        ::chmod(tmp_.file("lsan.supp").c_str(), 0644);
        auto cupsd = runProcess({sandbox, "start", tmp_.file("cups"), "--filter", builtProgram("rastertozorvan"),
                                 "--setenv", "ZORVAN_TEST_WAIT_MS=20", "--setenv",
                                 "LSAN_OPTIONS=suppressions=" + tmp_.file("lsan.supp"), "--owner",
                                 std::to_string(::getpid())});
        ASSERT_EQ(cupsd.exitStatus, 0) << cupsd.err;
        server_ = cupsd.out.substr(0, cupsd.out.find('\n'));
        auto added = cups({"/usr/sbin/lpadmin", "-p", "net", "-E", "-v",
                           "socket://127.0.0.1:" + port.substr(0, port.find('\n')), "-P",
                           sourcePath("ppd/zorvan.ppd")});
        ASSERT_EQ(added.exitStatus, 0) << added.err;
    }

    void TearDown() override
    {
        if (!server_.empty()) {
            runProcess({sandbox, "stop", tmp_.file("cups")});
        }
        if (printer_ > 0) {
            ::kill(printer_, SIGTERM);
        }
    }

    testsupport::ProcessResult cups(const std::vector<std::string>& argv)
    {
        testsupport::ProcessOptions options;
        options.env["CUPS_SERVER"] = server_;
        options.timeoutSeconds = 20;
        return runProcess(argv, options);
    }

    int print()
    {
        auto r = cups({"/usr/bin/lp", "-d", "net", sourcePath("samples/receipt-doc.pdf")});
        auto at = r.out.find("net-");
        return at == std::string::npos ? -1 : std::atoi(r.out.c_str() + at + 4);
    }

    std::string jobState(int job)
    {
        auto r = runProcess({sandbox, "job-state", tmp_.file("cups"), std::to_string(job)});
        return r.out.substr(0, r.out.find('\n'));
    }

    // The queue's printer-state-reasons, as lpstat shows them ("Alerts: ...").
    std::string alerts()
    {
        const std::string out = cups({"/usr/bin/lpstat", "-l", "-p", "net"}).out;
        auto at = out.find("Alerts:");
        return at == std::string::npos ? out : out.substr(at, out.find('\n', at) - at);
    }

    // What the printer did with job N (its Nth connection).
    std::map<std::string, std::string> paper(int job)
    {
        return readKeyValues(tmp_.file("paper/job-" + std::to_string(job) + "/summary.txt"));
    }

    std::string log() { return testsupport::readFile(tmp_.file("cups/log/error_log")); }

    testsupport::TempDir tmp_;
    pid_t printer_ = -1;
    std::string server_;
};

TEST_F(NetworkPrinter, PrintsAndHoldsAJobWhileThePaperIsOut)
{
    const int first = print();
    ASSERT_GT(first, 0);
    const std::string wait = "completed\n";
    EXPECT_EQ(runProcess({sandbox, "wait", tmp_.file("cups"), std::to_string(first), "20"}).out, wait) << log();
    EXPECT_GT(std::atoi(paper(1)["rows_printed"].c_str()), 1000) << log();

    testsupport::writeFile(tmp_.file("status"), "paperout\n");
    const int second = print();
    ASSERT_GT(second, 0);
    EXPECT_TRUE(eventually(10, [&] { return alerts().find("media-empty-error") != std::string::npos; }))
        << alerts() << log();
    EXPECT_EQ(jobState(second), "processing");

    testsupport::writeFile(tmp_.file("status"), "ready\n");
    EXPECT_EQ(runProcess({sandbox, "wait", tmp_.file("cups"), std::to_string(second), "20"}).out, wait) << log();
    EXPECT_EQ(alerts().find("media-empty-error"), std::string::npos) << alerts();
    auto job2 = paper(2);
    EXPECT_GT(std::atoi(job2["rows_printed"].c_str()), 1000) << log();
    EXPECT_EQ(job2["printed_while_error"], "0");
    // The printer's query numbering goes on from the first connection.
    EXPECT_GT(std::atoi(job2["first_query"].c_str()), 1);
}

}  // namespace
