// The one wait of the filter: its period, early wake-up and cancel.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "filter/filterWait.h"

namespace {

class WaitPeriod : public ::testing::Test {
protected:
    void TearDown() override
    {
        ::unsetenv("ZORVAN_TEST_WAIT_MS");
        resetWaitPeriod();
        clearCancel();
    }
    static int periodFor(const char* value)
    {
        if (value == nullptr) {
            ::unsetenv("ZORVAN_TEST_WAIT_MS");
        } else {
            ::setenv("ZORVAN_TEST_WAIT_MS", value, 1);
        }
        resetWaitPeriod();
        return waitPeriodMs();
    }
};

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

TEST_F(WaitPeriod, OneSecondUnlessATestShortensIt)
{
    EXPECT_EQ(periodFor(nullptr), 1000);
    EXPECT_EQ(periodFor("25"), 25);
    EXPECT_EQ(periodFor("0"), 0);
    for (const char* bad : {"", "abc", "12ms", "-5", "1001", "99999999999"}) {
        EXPECT_EQ(periodFor(bad), 1000) << bad;
    }
    periodFor("40");
    EXPECT_EQ(periodsToMs(10.0 + 0.002 * 1000), 480);
}

TEST_F(WaitPeriod, WaitEndsWhenItsConditionHoldsOrOnCancel)
{
    periodFor("1000");
    std::atomic<bool> flag{false};
    auto start = std::chrono::steady_clock::now();
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        flag = true;
        notifyWaiters();
    });
    EXPECT_TRUE(pauseFor(100.0, [&] { return flag.load(); }));
    setter.join();
    EXPECT_LT(secondsSince(start), 5.0);

    start = std::chrono::steady_clock::now();
    std::thread canceller([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        requestCancel();
    });
    EXPECT_FALSE(pauseFor(100.0, [] { return false; }));
    canceller.join();
    EXPECT_TRUE(isCancelRequested());
    EXPECT_LT(secondsSince(start), 5.0);
    EXPECT_FALSE(pauseFor(100.0)) << "a cancelled job does not wait";
}

TEST_F(WaitPeriod, PlainPauseLastsItsPeriods)
{
    periodFor("20");
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(pauseFor(3.0));
    EXPECT_GE(secondsSince(start), 0.055);
}
