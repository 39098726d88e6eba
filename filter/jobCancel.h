// Job cancel. CUPS cancels a job by sending the filter SIGTERM: the handler
// only sets a flag; a watcher thread turns it into the filter's cancel
// request (singleJob.h), which every wait of the job notices, and the job
// then stops at its next safe point, sends the printer the cancel sequence
// and ends normally. If the job cannot get there because the printer has
// stopped taking data (standard output blocked), the watcher gives up after
// five wait periods with an "ERROR: " line and exit status 1.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// SIGTERM requests a cancel; SIGPIPE is ignored (a closed output is an error
// the writes see, not a reason to die). Called once by the program's main().
void installCancelHandlers();

// Runs for one job: forwards a SIGTERM to the cancel request and, once a
// cancel has been requested, bounds the time until closingDone().
class CancelWatch {
public:
    CancelWatch();
    ~CancelWatch();
    CancelWatch(const CancelWatch&) = delete;
    CancelWatch& operator=(const CancelWatch&) = delete;
    // The job has written its last printer bytes.
    void closingDone();

private:
    void watch();
    // Sleeps one watch slice, or less when the job is done.
    void nap();
    std::atomic<bool> done_{false};
    std::mutex napMutex_;
    std::condition_variable napEnd_;
    std::thread thread_;
};
