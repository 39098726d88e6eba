#include "core/filterWait.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

namespace {

std::atomic<int> cachedPeriodMs{-1};
// Set only through requestCancel()/clearCancel(); lock-free so that a signal
// handler may also store to it.
std::atomic<bool> cancelFlag{false};

std::mutex waitMutex;
std::condition_variable waitCondition;

// Longest stretch a wait sleeps without looking at the cancel flag: a flag set
// from a signal handler cannot notify the condition variable.
constexpr long long cancelCheckMs = 20;

int readPeriodFromEnvironment()
{
    // ZORVAN_TEST_WAIT_MS is for tests only: it shortens every wait of the filter.
    const char* text = std::getenv("ZORVAN_TEST_WAIT_MS");
    if (text == nullptr || *text == '\0') {
        return 1000;
    }
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > 1000) {
        return 1000;
    }
    return static_cast<int>(value);
}

}  // namespace

int waitPeriodMs()
{
    int period = cachedPeriodMs.load();
    if (period < 0) {
        period = readPeriodFromEnvironment();
        cachedPeriodMs.store(period);
    }
    return period;
}

void resetWaitPeriod() { cachedPeriodMs.store(-1); }

long long periodsToMs(double periods)
{
    if (periods <= 0.0) {
        return 0;
    }
    return static_cast<long long>(periods * static_cast<double>(waitPeriodMs()) + 0.5);
}

bool pauseFor(double periods, const std::function<bool()>& wakeWhen)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(periodsToMs(periods));
    std::unique_lock<std::mutex> lock(waitMutex);
    for (;;) {
        if (cancelFlag.load()) {
            return false;
        }
        if (wakeWhen && wakeWhen()) {
            return true;
        }
        auto now = Clock::now();
        if (now >= deadline) {
            return false;
        }
        auto slice = std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(cancelCheckMs));
        waitCondition.wait_for(lock, slice);
    }
}

void notifyWaiters()
{
    // Taking the mutex orders the notification after a waiter's test of its
    // condition, so no change is missed between the test and the sleep.
    { std::lock_guard<std::mutex> lock(waitMutex); }
    waitCondition.notify_all();
}

void requestCancel()
{
    cancelFlag.store(true);
    notifyWaiters();
}

bool isCancelRequested() { return cancelFlag.load(); }

void clearCancel() { cancelFlag.store(false); }
