#include "core/statusMonitor.h"

#include <sys/time.h>

#include <chrono>
#include <cstring>

#include "core/jobContext.h"
#include "core/replyReader.h"

namespace {

// The pause between the polls of a quick check: 30 ms of a one-second period.
constexpr double quickPollPeriods = 0.03;

void setPrinterReady(JobContext& job, bool ready)
{
    job.printerReady.exchange(ready);
    job.waits.notify();
}

}  // namespace

void holdPrintingAfterErrorReply(JobContext& job)
{
    // The caller holds the channel, as the monitor does while it counts.
    job.readyCount = 0;
    setPrinterReady(job, false);
}

StatusMonitor::StatusMonitor(JobContext& job) : job_(job)
{
    job_.printerReady.store(false);
    job_.printing.store(false);
    job_.readyCount = 0;
    std::memset(job_.monitorReply, 0, sizeof job_.monitorReply);
    thread_ = std::thread([this] { run(); });
}

StatusMonitor::~StatusMonitor() { stop(); }

void StatusMonitor::stop()
{
    if (!thread_.joinable()) {
        return;
    }
    stopRequested_.store(true);
    job_.waits.notify();
    thread_.join();
}

// One query/reply exchange, under the channel lock.
void StatusMonitor::pollOnce()
{
    std::lock_guard<std::mutex> channel(job_.channel);
    // A copy that started while this thread waited for the lock owns the
    // replies until its acknowledgement.
    if (job_.printing.load()) {
        return;
    }
    CommandBytes<3> query;
    command::statusQuery(query.buffer);
    PrinterDevice& device = job_.device();
    device.write(query.bytes());
    device.flush();
    const long count = readReply(job_, job_.monitorReply, sizeof job_.monitorReply, 1.0);
    PrinterConditions conditions = decodePrinterReply(job_.monitorReply, count);
    conditions.from = PrinterConditions::From::Monitor;
    if (conditions.valid) {
        if (conditions.errorCode() != 0) {
            setPrinterReady(job_, false);
            job_.readyCount = 0;
        } else {
            ++job_.readyCount;
        }
        if (job_.readyCount >= 3) {
            setPrinterReady(job_, true);
            job_.readyCount = 0;
        }
    }
    conditions.readyCount = job_.readyCount;
    device.condition(conditions);
}

void StatusMonitor::run()
{
    // The imaging library is not called here, but whatever logs on this
    // thread belongs to the job.
    LogScope scope(job_.device());
    while (!job_.settingsKnown.load() && !stopRequested_.load() && !job_.cancelled()) {
        job_.waits.pauseFor(1.0, [this] { return job_.settingsKnown.load() || stopRequested_.load(); });
    }
    const PrinterCheck check = GetPrinterCheck(job_.settings);
    if (check == PrinterCheck::Off) {
        // Nobody asks: the printer counts as ready.
        setPrinterReady(job_, true);
        return;
    }
    while (!stopRequested_.load() && !job_.cancelled()) {
        timeval start{};
        timeval end{};
        gettimeofday(&start, nullptr);
        if (!job_.printing.load()) {
            pollOnce();
        }
        gettimeofday(&end, nullptr);
        job_.log(LogLevel::Debug, "Status Process Time -- time1 -- %ld.%06ld seconds",
                 static_cast<long>(end.tv_sec - start.tv_sec), static_cast<long>(end.tv_usec - start.tv_usec));
        // Until the printer is ready a quick check asks again at once; a
        // period's pause would hold the first page back by seconds.
        const bool quick = check == PrinterCheck::Quick && !job_.printerReady.load();
        job_.waits.pauseFor(quick ? quickPollPeriods : 1.0, [this] { return stopRequested_.load(); });
        if (job_.waits.periodMs() == 0) {
            // A zero test period must not turn the poll into a busy loop.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}
