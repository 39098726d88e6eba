// The filter's printer device: the core's bytes go to standard output, the
// printer's replies come over the CUPS back channel (descriptor 3), the core's
// lines and the printer's conditions become the filter's "INFO:", "DEBUG:" and
// "STATE:" lines on standard error, and a cancel is the SIGTERM of jobCancel.h.
#pragma once

#include "core/printerDevice.h"

class FilterDevice final : public PrinterDevice {
public:
    FilterDevice();
    void write(std::span<const unsigned char> bytes) override;
    void flush() override;
    // libcups's own time limit is not honoured by every version: on a silent
    // printer its read blocks, and without a back channel it spins; this waits
    // itself and hands libcups only a channel that has data.
    long read(std::span<unsigned char> buffer, int timeoutMs) override;
    void log(LogLevel level, std::string_view text) override;
    void condition(const PrinterConditions& conditions) override;

private:
    // Whether the user has been told that the printer does not answer; said
    // once per stretch of silence.
    bool silenceReported_ = false;
};

// The printer's condition as CUPS printer-state-reasons ("STATE: +kw" and
// "STATE: -kw" lines on standard error). The filter owns exactly these
// keywords and never touches others (the backend has its own):
//   media-empty-error, cover-open-error, com.zorvan-overheating-error,
//   com.zorvan-paper-skewed-warning (the printer still prints) and
//   com.zorvan-no-answer-report.
// Only changes against what CUPS was last told are written; the first valid
// reply of a job tells the whole picture, since cupsd keeps the reasons of
// an earlier job. Both threads report; the told state is kept under a lock.
//
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
