// The printer status monitor and the one channel to the printer.
//
// The monitor polls the printer's status about once a wait period on a thread
// of its own and keeps isPrinterStatusOK up to date; the main thread waits on
// that flag before it sends anything.
//
// The device is one channel shared by two threads. Every exchange with the
// printer (a status query and its reply, a 1-bit page, a whole copy with its
// acknowledgement) holds printerChannelMutex, so a status query never lands
// inside page bytes and a copy's acknowledgement is never taken by the
// monitor. Both threads write to the device only under it.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

extern std::atomic<bool> isPrinterStatusOK;  // written by the monitor only
extern std::atomic<bool> isPrinting;         // written by the main thread only
extern std::mutex printerChannelMutex;

// The monitor's reply buffer.
extern unsigned char status[5];

// Decodes the status byte of a reply into the monitor's error code:
// 1 cover open, 2 out of paper, 4 overheating, ORed.
unsigned char printerErrorCode(unsigned char statusByte);

// A copy's acknowledgement reported an error (cover, paper, heat): nothing
// more goes out until the monitor has seen three clean replies again.
// Call with printerChannelMutex held.
void holdPrintingAfterErrorReply();

// Body of the monitor thread: polls until a stop is requested or the job is
// cancelled. Never stops inside a query/reply exchange.
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
