#include "filter/jobCancel.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "core/singleJob.h"
#include "diagnostics/jobLog.h"
#include "filter/filterDevice.h"

namespace {

// Set by the signal handler, read by the watcher. Lock-free, so safe there.
std::atomic<bool> terminateSignalled{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onTerminate(int) { terminateSignalled.store(true); }

// How often the watcher looks at the flags.
constexpr auto watchSlice = std::chrono::milliseconds(10);

// Wait periods the job has, after a cancel, to write its closing bytes.
constexpr double closingPeriods = 5.0;

}  // namespace

void installCancelHandlers()
{
    struct sigaction action {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    // Restart interrupted calls: the job itself decides where to stop, and a
    // write blocked on a stuck printer is the watcher's business.
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

CancelWatch::CancelWatch() : thread_([this] { watch(); }) {}

CancelWatch::~CancelWatch()
{
    closingDone();
    thread_.join();
}

void CancelWatch::closingDone()
{
    {
        std::lock_guard<std::mutex> lock(napMutex_);
        done_.store(true);
    }
    // The job's end need not wait for the watcher's next look.
    napEnd_.notify_all();
}

void CancelWatch::nap()
{
    // A signal handler cannot notify: SIGTERM is seen at the slice's end.
    std::unique_lock<std::mutex> lock(napMutex_);
    napEnd_.wait_for(lock, watchSlice, [this] { return done_.load(); });
}

void CancelWatch::watch()
{
    // Until a cancel: forward SIGTERM.
    while (!done_.load() && !isCancelRequested()) {
        if (terminateSignalled.exchange(false)) {
            writeCupsLine(LogLevel::Debug, "SIGTERM received; cancelling the job.");
            requestCancel();
            break;
        }
        nap();
    }
    if (done_.load()) {
        return;
    }
    // After it: the job must end in time, or the printer has stopped reading.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(periodsToMs(closingPeriods));
    while (!done_.load()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            cupsLog(LogLevel::Error, "The job did not end within %.0f seconds after it was cancelled (the printer is "
                         "not taking data); giving up.",
                         closingPeriods);
            endJobStateReasons();
            std::fflush(stderr);
            // The main thread may be stuck in a write that never returns.
            _exit(1);
        }
        nap();
    }
}
