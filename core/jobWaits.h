// Every wait of a job: the status poll, the pauses and the deadlines are all
// counted in wait periods. A period is one second; tests set the test-only
// environment variable ZORVAN_TEST_WAIT_MS to shorten it so that a job that
// waits on its printer finishes in milliseconds. A job reads it when it starts.
//
// Every wait goes through pauseFor(), which also ends early once the job's
// cancel has been requested, so one request stops the whole job at its next
// wait.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

// 1000, or ZORVAN_TEST_WAIT_MS (test-only; 0..1000) when that is set.
int waitPeriodFromEnvironment();

class JobWaits {
public:
    JobWaits() : periodMs_(waitPeriodFromEnvironment()) {}
    JobWaits(const JobWaits&) = delete;
    JobWaits& operator=(const JobWaits&) = delete;

    int periodMs() const { return periodMs_.load(); }
    void setPeriodMs(int periodMs) { periodMs_.store(periodMs); }
    // Milliseconds of a number of wait periods.
    long long periodsToMs(double periods) const;

    // Waits up to `periods` wait periods. Returns early, with true, as soon as
    // `wakeWhen` holds (it is tested before waiting, whenever the waiters are
    // notified, and at least every few milliseconds), and with false when a
    // cancel was requested. A timeout without either returns false too;
    // callers that need to know test their condition again.
    bool pauseFor(double periods, const std::function<bool()>& wakeWhen = {});

    // Wakes every pauseFor() so it tests its condition again. Called whenever
    // a flag that someone may wait on changes.
    void notify();

    void requestCancel();
    bool cancelRequested() const { return cancel_.load(); }
    void clearCancel() { cancel_.store(false); }

private:
    std::atomic<int> periodMs_;
    // Lock-free, so that a signal handler could set it.
    std::atomic<bool> cancel_{false};
    std::mutex mutex_;
    std::condition_variable condition_;
};
