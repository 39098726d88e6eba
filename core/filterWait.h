// One place for every wait of the filter: the status poll, the pauses and the
// deadlines are all counted in wait periods. A period is one second; tests set
// the test-only environment variable ZORVAN_TEST_WAIT_MS to shorten it so that
// a job that waits on its printer finishes in milliseconds. It is read once.
//
// Every wait goes through pauseFor(), which also ends early when a cancel has
// been requested, so one flag can stop the whole filter at its next wait.
#pragma once

#include <functional>

// Length of one wait period in milliseconds: 1000, or ZORVAN_TEST_WAIT_MS
// (test-only; 0..1000) when that is set.
int waitPeriodMs();

// Forget the cached period so the next call reads the environment again
// (in-process runs that change it).
void resetWaitPeriod();

// Waits up to `periods` wait periods. Returns early, with true, as soon as
// `wakeWhen` holds (it is tested before waiting, whenever the waiters are
// notified, and at least every few milliseconds), and with false when a
// cancel was requested. A timeout without either returns false too; callers
// that need to know test their condition again.
bool pauseFor(double periods, const std::function<bool()>& wakeWhen = {});

// Wakes every pauseFor() so it tests its condition again. Called whenever a
// flag that someone may wait on changes.
void notifyWaiters();

// Cancel: set by whoever must stop the job (a later signal handler may set
// cancelFlag() directly; waits notice it within a few milliseconds).
void requestCancel();
bool isCancelRequested();
void clearCancel();

// Milliseconds of a number of wait periods.
long long periodsToMs(double periods);
