#include "core/jobWaits.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace {

// Longest stretch a wait sleeps without looking at the cancel flag: a flag
// set from a signal handler cannot notify the condition variable.
constexpr long long cancelCheckMs = 20;

}  // namespace

int waitPeriodFromEnvironment()
{
    // ZORVAN_TEST_WAIT_MS is for tests only: it shortens every wait of a job.
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

long long JobWaits::periodsToMs(double periods) const
{
    if (periods <= 0.0) {
        return 0;
    }
    return static_cast<long long>(periods * static_cast<double>(periodMs()) + 0.5);
}

bool JobWaits::pauseFor(double periods, const std::function<bool()>& wakeWhen)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(periodsToMs(periods));
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (cancel_.load()) {
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
        condition_.wait_for(lock, slice);
    }
}

void JobWaits::notify()
{
    // Taking the mutex orders the notification after a waiter's test of its
    // condition, so no change is missed between the test and the sleep.
    { std::lock_guard<std::mutex> lock(mutex_); }
    condition_.notify_all();
}

void JobWaits::requestCancel()
{
    cancel_.store(true);
    notify();
}
