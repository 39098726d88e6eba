#include "core/singleJob.h"

#include "core/Functions.h"

namespace {

// The filter's job. Constructing it only records where RawData and curPagePos are.
JobContext processJob(RawData, curPagePos);

}  // namespace

JobContext& singleJob() { return processJob; }

std::atomic<bool>& isPrinterStatusOK = processJob.printerReady;
std::atomic<bool>& isPrinting = processJob.printing;

int waitPeriodMs() { return processJob.waits.periodMs(); }
void resetWaitPeriod() { processJob.waits.setPeriodMs(waitPeriodFromEnvironment()); }
long long periodsToMs(double periods) { return processJob.waits.periodsToMs(periods); }
bool pauseFor(double periods, const std::function<bool()>& wakeWhen) { return processJob.waits.pauseFor(periods, wakeWhen); }
void notifyWaiters() { processJob.waits.notify(); }
void requestCancel() { processJob.waits.requestCancel(); }
bool isCancelRequested() { return processJob.waits.cancelRequested(); }
void clearCancel() { processJob.waits.clearCancel(); }
