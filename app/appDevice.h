// The app's printer device: the core's bytes go to the PAPPL device (usb://
// or socket://), the printer's replies come back from it, the core's lines go
// to the job's log at their level (an error also becomes the job's message), and the
// printer's conditions become PAPPL printer-state-reasons.
#pragma once

#include <pappl/pappl.h>

#include <cstddef>
#include <string>

#include "core/printerDevice.h"

class AppDevice final : public PrinterDevice {
public:
    // `job` may be null (a status query of an idle printer).
    AppDevice(pappl_printer_t* printer, pappl_job_t* job, pappl_device_t* device);
    void write(std::span<const unsigned char> bytes) override;
    void flush() override;
    long read(std::span<unsigned char> buffer, int timeoutMs) override;
    // The job's cancel, and the server's stop (a job waiting for paper must
    // not hold the server up).
    bool cancelled() override;
    // To the job's log at the line's level; an error also becomes the job's message.
    void log(LogLevel level, std::string_view text) override;
    void condition(const PrinterConditions& conditions) override;

    // The text of the last error line, empty when none came.
    const std::string& lastError() const { return lastError_; }

private:
    pappl_printer_t* printer_;
    pappl_job_t* job_;
    pappl_device_t* device_;
    int socket_ = -1;  // the connection of a socket:// device, to wait on with a limit
    std::string lastError_;
};

// The printer-state-reasons of a printer reply (or of its silence), applied
// to the printer; overheating and skew are 'other' and named in the log and
// the job's message.
void reportConditions(pappl_printer_t* printer, pappl_job_t* job, const PrinterConditions& conditions);
