#include "core/statusMonitor.h"

#include <sys/time.h>

#include <chrono>

#include "core/filterWait.h"
#include "core/printingCore.h"

std::atomic<bool> isPrinterStatusOK{false};
std::atomic<bool> isPrinting{false};
std::mutex printerChannelMutex;
unsigned char status[5] = {};

namespace {

std::atomic<bool> monitorStopRequested{false};

// Consecutive clean replies; the printer counts as ready after three.
int delayTimeCount = 0;

void setPrinterReady(bool ready)
{
    isPrinterStatusOK.exchange(ready);
    notifyWaiters();
}

// One query/reply exchange, under the channel lock.
void pollPrinterOnce()
{
    std::lock_guard<std::mutex> channel(printerChannelMutex);
    // A copy that started while this thread waited for the lock owns the
    // replies until its acknowledgement.
    if (isPrinting.load()) {
        return;
    }
    PrinterDevice& device = printerDevice();
    const unsigned char query[] = {0x16, 0x04, 0x04};
    device.write(query);
    device.flush();
    const long count = device.readReply(status, sizeof status, 1.0);
    PrinterConditions conditions = decodePrinterReply(status, count);
    conditions.from = PrinterConditions::From::Monitor;
    if (conditions.valid) {
        if (conditions.errorCode() != 0) {
            setPrinterReady(false);
            delayTimeCount = 0;
        } else {
            ++delayTimeCount;
        }
        if (delayTimeCount >= 3) {
            setPrinterReady(true);
            delayTimeCount = 0;
        }
    }
    conditions.readyCount = delayTimeCount;
    device.condition(conditions);
}

}  // namespace

unsigned char printerErrorCode(unsigned char statusByte)
{
    const unsigned char reply[5] = {0x10, 0x04, 0x04, statusByte, 0x00};
    return decodePrinterReply(reply, sizeof reply).errorCode();
}

void holdPrintingAfterErrorReply()
{
    // The caller holds printerChannelMutex, as the monitor does while it counts.
    delayTimeCount = 0;
    setPrinterReady(false);
}

void printerStatusProcess()
{
    while (!monitorStopRequested.load() && !jobCancelled()) {
        timeval start{};
        timeval end{};
        gettimeofday(&start, nullptr);
        if (!isPrinting.load()) {
            pollPrinterOnce();
        }
        gettimeofday(&end, nullptr);
        coreLog("DEBUG: Status Process Time -- time1 -- %ld.%06ld seconds\n", static_cast<long>(end.tv_sec - start.tv_sec),
                static_cast<long>(end.tv_usec - start.tv_usec));
        pauseFor(1.0, [] { return monitorStopRequested.load(); });
        if (waitPeriodMs() == 0) {
            // A zero test period must not turn the poll into a busy loop.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

StatusMonitor::StatusMonitor()
{
    monitorStopRequested.store(false);
    isPrinterStatusOK.store(false);
    isPrinting.store(false);
    delayTimeCount = 0;
    for (unsigned char& b : status) {
        b = 0;
    }
    thread_ = std::thread(printerStatusProcess);
}

StatusMonitor::~StatusMonitor() { stop(); }

void StatusMonitor::stop()
{
    if (!thread_.joinable()) {
        return;
    }
    monitorStopRequested.store(true);
    notifyWaiters();
    thread_.join();
}
