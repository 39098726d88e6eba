// The printer status monitor and the one channel to the printer.
//
// The monitor polls the printer's status over the back channel about once a
// wait period on a thread of its own and keeps isPrinterStatusOK up to date;
// the main thread waits on that flag before it sends anything.
//
// Standard output and the back channel are one channel shared by two threads.
// Every exchange with the printer (a status query and its reply, a 1-bit page,
// a whole copy with its acknowledgement) holds printerChannelMutex, so a status
// query never lands inside page bytes and a copy's acknowledgement is never
// taken by the monitor. Both threads write standard output only under it.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <thread>

extern std::atomic<bool> isPrinterStatusOK;  // written by the monitor only
extern std::atomic<bool> isPrinting;         // written by the main thread only
extern std::mutex printerChannelMutex;

// The monitor's reply buffer.
extern unsigned char status[5];

// Reads up to `length` bytes of printer replies from the back channel, waiting
// at most `periods` wait periods (0: only what is there already). Returns the
// byte count, 0 when nothing came in time, -1 when there is no back channel.
// (libcups's own time limit is not honoured by every version: on a silent
// printer its read blocks, and without a back channel it spins; this waits
// itself and hands libcups only a channel that has data.)
long backChannelReadFor(unsigned char* buffer, std::size_t length, double periods);

// Throws away whatever the back channel holds right now; returns the count.
long drainBackChannel();

// Test-only: when set, stands in for the back channel's printer. Every read
// of a reply gets its bytes from it at once (it returns the byte count) and a
// drain finds nothing. In-process fuzzing sets it to a printer that is always
// ready; the filter never sets it.
extern long (*testPrinterReply)(unsigned char* buffer, std::size_t length);

// Decodes the status byte of a reply into the monitor's error code:
// 1 cover open, 2 out of paper, 4 overheating, ORed.
unsigned char printerErrorCode(unsigned char statusByte);

// The printer's condition as CUPS printer-state-reasons ("STATE: +kw" and
// "STATE: -kw" lines on standard error). The filter owns exactly these
// keywords and never touches others (the backend has its own):
//   media-empty-error, cover-open-error, com.zorvan-overheating-error,
//   com.zorvan-paper-skewed-warning (the printer still prints) and
//   com.zorvan-no-answer-report.
// Only changes against what CUPS was last told are written; the first valid
// reply of a job tells the whole picture, since cupsd keeps the reasons of
// an earlier job. Both threads report; the told state is kept under a lock.

// A reply came from the printer (`count` bytes, as read): clears "no answer"
// and, when it begins 10 04 04 and carries a status byte, reports the
// printer's conditions.
void reportPrinterReply(const unsigned char* reply, long count);

// The monitor's query got no reply.
void reportPrinterSilent();

// For one job: clears "no answer" when the job starts and again when it ends
// (however it ends), and forgets what CUPS was told before. The printer's
// conditions stay as told: they persist until a reply shows them gone.
class JobStateReasons {
public:
    JobStateReasons();
    ~JobStateReasons();
    JobStateReasons(const JobStateReasons&) = delete;
    JobStateReasons& operator=(const JobStateReasons&) = delete;
};

// The end-of-job clear of "no answer", for exits that skip destructors.
// Nothing is reported after it.
void endJobStateReasons();

// A copy's acknowledgement reported an error (cover, paper, heat): nothing
// more goes out until the monitor has seen three clean replies again.
// Call with printerChannelMutex held.
void holdPrintingAfterErrorReply();

// Body of the monitor thread: polls until a stop is requested. Never stops
// inside a query/reply exchange.
void printerStatusProcess();

// Owner of the running monitor: starts it, and stops and joins it when asked
// or when it goes out of scope. Resets the shared flags for a fresh job.
class StatusMonitor {
public:
    StatusMonitor();
    ~StatusMonitor();
    StatusMonitor(const StatusMonitor&) = delete;
    StatusMonitor& operator=(const StatusMonitor&) = delete;
    void stop();

private:
    std::thread thread_;
};
