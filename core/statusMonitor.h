// The printer status monitor of a job: on a thread of its own it polls the
// printer's status about once a wait period and keeps the job's printerReady
// up to date; the job's thread waits on that flag before it sends anything.
// The printer counts as ready after three clean replies in a row; any error
// clears it at once.
#pragma once

#include <atomic>
#include <thread>

class JobContext;

// A copy's acknowledgement reported an error (cover, paper, heat): nothing
// more goes out until the monitor has seen three clean replies again.
// Call with the job's channel held.
void holdPrintingAfterErrorReply(JobContext& job);

// Owner of a job's running monitor: starts it (with the job's printer not yet
// ready), and stops and joins it when asked or when it goes out of scope. It
// polls until stopped or the job is cancelled, never inside an exchange.
class StatusMonitor {
public:
    explicit StatusMonitor(JobContext& job);
    ~StatusMonitor();
    StatusMonitor(const StatusMonitor&) = delete;
    StatusMonitor& operator=(const StatusMonitor&) = delete;
    void stop();

private:
    void run();
    void pollOnce();

    JobContext& job_;
    std::atomic<bool> stopRequested_{false};
    std::thread thread_;
};
