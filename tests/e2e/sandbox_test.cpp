// The private scheduler must never outlive its user: stopped on request, and
// stopped by its watcher when the process that started it ends without
// stopping it (a crashed or killed test).
#include <gtest/gtest.h>

#include "e2e/CupsSandbox.h"
#include "support/Process.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace {

bool canStartCupsd()
{
    return ::geteuid() == 0 && ::access("/usr/sbin/cupsd", X_OK) == 0;
}

// A process that is gone or a zombie waiting for its parent no longer runs.
bool running(pid_t pid)
{
    if (::kill(pid, 0) != 0) {
        return false;
    }
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidField, name, state;
    if (stat >> pidField >> name >> state) {
        return state != "Z";
    }
    return true;
}

bool stopsWithin(pid_t pid, int seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (running(pid)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

pid_t schedulerPid(const std::string& dir)
{
    return static_cast<pid_t>(std::atol(testsupport::readFile(dir + "/cupsd.pid").c_str()));
}

const std::string script = testsupport::sourcePath("scripts/cupsd-sandbox");

TEST(CupsSandboxScript, StopEndsTheScheduler)
{
    if (!canStartCupsd()) {
        GTEST_SKIP() << "needs root and cupsd";
    }
    e2e::TmpFolder tmp;
    ASSERT_FALSE(tmp.path().empty());
    const std::string dir = tmp.path() + "/cups";
    auto started = testsupport::runProcess({script, "start", dir});
    ASSERT_EQ(started.exitStatus, 0) << started.err;
    EXPECT_EQ(started.out, dir + "/cups.sock\n");
    const pid_t pid = schedulerPid(dir);
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(running(pid));
    // Only its socket: no port is open for it.
    EXPECT_NE(testsupport::readFile(dir + "/etc/cupsd.conf").find("Listen " + dir + "/cups.sock\n"),
              std::string::npos);

    auto stopped = testsupport::runProcess({script, "stop", dir});
    EXPECT_EQ(stopped.exitStatus, 0) << stopped.err;
    EXPECT_TRUE(stopsWithin(pid, 5));
    // Stopping twice is harmless.
    EXPECT_EQ(testsupport::runProcess({script, "stop", dir}).exitStatus, 0);
}

TEST(CupsSandboxScript, SchedulerEndsWithItsOwner)
{
    if (!canStartCupsd()) {
        GTEST_SKIP() << "needs root and cupsd";
    }
    e2e::TmpFolder tmp;
    ASSERT_FALSE(tmp.path().empty());
    const std::string dir = tmp.path() + "/cups";
    // The owner is a shell that starts the scheduler and exits without stopping it.
    auto owner = testsupport::runProcess({"/bin/sh", "-c", "exec \"$0\" start \"$1\" --owner $$", script, dir});
    ASSERT_EQ(owner.exitStatus, 0) << owner.err;
    const pid_t pid = schedulerPid(dir);
    ASSERT_GT(pid, 0);
    const bool stopped = stopsWithin(pid, 10);
    if (!stopped) {
        ::kill(pid, SIGKILL);
    }
    EXPECT_TRUE(stopped) << "the watcher did not stop the scheduler of a finished owner";
}

TEST(CupsSandboxScript, RefusesBadUse)
{
    auto noDir = testsupport::runProcess({script, "start"});
    EXPECT_NE(noDir.exitStatus, 0);
    auto unknown = testsupport::runProcess({script, "frobnicate"});
    EXPECT_NE(unknown.exitStatus, 0);
    if (!canStartCupsd()) {
        return;
    }
    e2e::TmpFolder tmp;
    ASSERT_FALSE(tmp.path().empty());
    auto badOption = testsupport::runProcess({script, "start", tmp.path() + "/cups", "--owner", "me"});
    EXPECT_NE(badOption.exitStatus, 0);
    EXPECT_NE(badOption.err.find("--owner wants a process id"), std::string::npos) << badOption.err;
    auto missingFilter = testsupport::runProcess({script, "start", tmp.path() + "/cups", "--filter", "/nonexistent"});
    EXPECT_NE(missingFilter.exitStatus, 0);
    EXPECT_NE(missingFilter.err.find("no such filter"), std::string::npos) << missingFilter.err;
}

}  // namespace
