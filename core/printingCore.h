// The printing core: the page pipeline, the colour page road, the copies with
// their acknowledgements and the status monitor. It talks to a printer only
// through a PrinterDevice, so the CUPS filter and the Printer Application
// print through the same code.
//
// Each job has a context of its own (jobContext.h), owned by its session: two
// sessions on two printers run at the same time and share nothing mutable.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "core/copySubmission.h"
#include "core/jobContext.h"
#include "core/printerDevice.h"
#include "core/statusMonitor.h"
#include "settings/printSettings.h"

// Row sizes of a page: the 4-byte padded row for its depth, and the stride of
// its page buffer (the larger of that and the bytes per line).
struct PageRowSizes {
    long long tmpWidth = 0;
    long long actualWidth = 0;
};
PageRowSizes pageRowSizes(unsigned width, unsigned bitsPerColor, unsigned bytesPerLine);

// One accepted page, as a raster header describes it.
struct PageFormat {
    int width = 0;          // pixels per row
    int height = 0;         // rows
    int bitsPerColor = 0;   // 1 or 8 print
    int bytesPerLine = 0;   // of each row as read
    bool gray = false;      // 8-bit gray: one byte of ink per pixel (of light with grayLight)
    bool grayLight = false; // with gray: the bytes are light instead (255 white), as sGray has them
    int copies = 1;
    int actualWidth = 0;    // page buffer stride (pageRowSizes)
    int pageNumber = 1;     // names the page in messages
};

// Reads the next row of the page: `bytes` bytes into `row`; false when the
// stream ended.
using RowReader = std::function<bool(unsigned char* row, unsigned bytes)>;

// Reads the next `rows` rows of the page, `bytes` bytes each, back to back
// into `data`; false when the stream ended before the last of them.
using BandReader = std::function<bool(unsigned char* data, unsigned rows, unsigned bytes)>;

// One status query to a printer that has no job, and its reply, decoded.
PrinterConditions askPrinterStatus(PrinterDevice& device);

// A job on one device: attaches the device to the job's context and starts
// the job's status monitor; the destructor stops the monitor.
class PrintSession {
public:
    // A job with a context of its own.
    explicit PrintSession(PrinterDevice& device);
    // A job in `context` (the filter's one job of the process).
    PrintSession(JobContext& context, PrinterDevice& device);
    ~PrintSession();
    PrintSession(const PrintSession&) = delete;
    PrintSession& operator=(const PrintSession&) = delete;

    // The job's settings, as values.
    void useSettings(const settingsThermalSensitivityPara& settings);

    // Reads, trims and prints one page. `pageBuffer` holds height × actualWidth bytes.
    PageResult printPage(const PageFormat& page, const RowReader& readRow, unsigned char* pageBuffer);
    // The same, reading many rows at a time where they lie back to back in
    // the page buffer: a stream that delivers a band per call saves a call
    // (and often a system call) per row.
    PageResult printPage(const PageFormat& page, const BandReader& readRows, unsigned char* pageBuffer);

    // After the job's last page: the cut chosen for the end of the job
    // (PaperCutMode 3 or 4), once the printer is ready; nothing for the
    // other choices. Cancelled when the job is.
    PageResult endJob();

    // Stops the monitor before the session ends (the job's last bytes follow).
    void stopMonitor() { monitor_.stop(); }

    // After a cancelled page: stops the monitor and sends the printer's cancel
    // sequence (600 bytes of 00, then initialise twice), which ends whatever
    // the printer was left in.
    void sendCancelSequence();

private:
    std::unique_ptr<JobContext> own_;
    JobContext& job_;
    StatusMonitor monitor_;
};
