// The filter prints one job per process. The library's names that carry no
// job (the output buffer RawData and curPagePos, the flags isPrinterStatusOK
// and isPrinting, outputarray and the command encoders of Functions.h, the
// waits and the cancel below) are that job's: a thin layer over the context
// the filter's session runs in.
#pragma once

#include <atomic>
#include <functional>

#include "core/jobContext.h"

// The process's one job (its output buffer is RawData).
JobContext& singleJob();

extern std::atomic<bool>& isPrinterStatusOK;  // singleJob().printerReady
extern std::atomic<bool>& isPrinting;         // singleJob().printing

// The waits and the cancel of the process's job (jobWaits.h).
int waitPeriodMs();
void resetWaitPeriod();  // reads ZORVAN_TEST_WAIT_MS again
long long periodsToMs(double periods);
bool pauseFor(double periods, const std::function<bool()>& wakeWhen = {});
void notifyWaiters();
void requestCancel();
bool isCancelRequested();
void clearCancel();
