// A job's working state, owned by its print session and handed down the
// page's road: the settings, the output buffer, the printer's replies, the
// status monitor's flags and count, the channel lock, the waits and the cancel.
// Two jobs on two printers share nothing mutable.
#pragma once

#include <atomic>
#include <cstdarg>
#include <mutex>

#include "core/jobWaits.h"
#include "core/outputBuffer.h"
#include "core/printerDevice.h"
#include "imaging/ImageBuffer.h"
#include "settings/printSettings.h"

inline constexpr int MaxRawDataSize = 3145728;  // 3 MiB: a job's output buffer

class JobContext {
public:
    // A job with an output buffer of its own.
    JobContext();
    // A job whose output buffer is `data` (MaxRawDataSize bytes) filled up to
    // `position`: the filter's RawData and curPagePos.
    JobContext(unsigned char* data, int& position);
    JobContext(const JobContext&) = delete;
    JobContext& operator=(const JobContext&) = delete;

    // The printer; a device on standard output and standard error that has
    // no replies while no session has attached one.
    PrinterDevice& device() const { return *device_; }
    void attach(PrinterDevice* device);

    // Formats a line and hands it to the device's log.
    void log(LogLevel level, const char* format, ...) __attribute__((format(printf, 3, 4)));

    // Whether the job has been cancelled (by a request or by the device).
    bool cancelled();

    settingsThermalSensitivityPara settings{};
    // Set once the session has the job's settings; the monitor asks the
    // printer nothing before (it may be told not to ask at all).
    std::atomic<bool> settingsKnown{false};

private:
    ScratchBuffer<unsigned char> ownStorage_;
    int ownPosition_ = 0;
    PrinterDevice* device_;

public:
    OutputBuffer output;
    JobWaits waits;

    // The channel to the printer is shared by the job's thread and its
    // monitor: every exchange with the printer (a status query and its reply,
    // a 1-bit page, a whole copy with its acknowledgement) holds `channel`, so
    // a query never lands inside page bytes and a copy's acknowledgement is
    // never taken by the monitor. What follows is used under it.
    std::mutex channel;
    int readyCount = 0;                        // clean replies in a row, the monitor's count
    unsigned char monitorReply[replyBytes] = {};
    unsigned char copyReply[replyBytes] = {};  // zeroed when the job starts, else only written by reads
    // Reply bytes read but not handed out yet: the start of a reply split
    // across reads, or what followed a reply in the same read.
    unsigned char pendingReply[64] = {};
    std::size_t pendingCount = 0;

    std::atomic<bool> printerReady{false};  // written by the monitor only
    std::atomic<bool> printing{false};      // written by the job's thread only: a copy is out
};
