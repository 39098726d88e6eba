// The app's printer device: the core's bytes go to the PAPPL device (usb://
// or socket://), the printer's replies come back from it, the core's lines go
// to the job's log (an "ERROR: " line also becomes the job's message), and the
// printer's conditions become PAPPL printer-state-reasons.
#pragma once

#include <pappl/pappl.h>

#include <cstddef>
#include <string>

#include "core/printingCore.h"

class AppDevice final : public PrinterDevice {
public:
    // `job` may be null (a status query of an idle printer).
    AppDevice(pappl_printer_t* printer, pappl_job_t* job, pappl_device_t* device);
    void write(std::span<const unsigned char> bytes) override;
    void flush() override;
    long readReply(unsigned char* buffer, std::size_t length, double periods) override;
    long drain() override;
    bool cancelled() override;
    void message(const char* line) override;
    void condition(const PrinterConditions& conditions) override;

    // The text of the last "ERROR: " line, empty when none came.
    const std::string& lastError() const { return lastError_; }

private:
    int waitReadable(long long ms);

    pappl_printer_t* printer_;
    pappl_job_t* job_;
    pappl_device_t* device_;
    int socket_ = -1;  // the connection of a socket:// device, to wait on with a limit
    unsigned char pending_[64] = {};
    std::size_t pendingCount_ = 0;
    std::string lastError_;
};

// The printer-state-reasons of a printer reply (or of its silence), applied
// to the printer; overheating and skew are 'other' and named in the log and
// the job's message.
void reportConditions(pappl_printer_t* printer, pappl_job_t* job, const PrinterConditions& conditions);
