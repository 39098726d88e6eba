// The printing core: the page pipeline, the colour page road, the copies with
// their acknowledgements and the status monitor. It talks to a printer only
// through a PrinterDevice, so the CUPS filter and any other front end print
// through the same code.
//
// One job at a time. The core still keeps its working state process-wide:
// the output buffer (RawData, curPagePos), the settings record the getters
// read (settingsThermalSensitivity), the flags isPrinterStatusOK and
// isPrinting, the reply buffers, the monitor's ready count and the wait
// periods. A PrintSession therefore holds the core's one lock from its start
// to its end: a second session, on another thread, waits until the first has
// ended. What belongs to a job alone (the device with its channel state, the
// settings values) is handed in per session.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <span>

#include "core/copySubmission.h"
#include "core/printSettings.h"

// A printer reply as data. The one decoding used by the monitor and by the
// copy acknowledgement; front ends turn it into their own messages.
struct PrinterConditions {
    enum class From { Monitor, Copy };
    From from = From::Monitor;
    long count = 0;                // bytes read; 0 or less: nothing came
    unsigned char reply[5] = {};   // the reply buffer as it stands after the read
    bool valid = false;            // bytes came and they begin 10 04 04
    unsigned char statusByte = 0;  // reply byte 3; 0x20 (ready) when the reply is too short to carry one
    bool coverOpen = false;
    bool paperOut = false;
    bool overheating = false;
    bool skewed = false;  // a warning: the printer still prints
    int readyCount = 0;   // monitor only: clean replies in a row, after this one (reset to 0 on reaching 3)

    // 1 cover open, 2 out of paper, 4 overheating, ORed.
    unsigned char errorCode() const
    {
        return static_cast<unsigned char>((coverOpen ? 1 : 0) | (paperOut ? 2 : 0) | (overheating ? 4 : 0));
    }
};

// Decodes the first `count` bytes read into a 5-byte reply buffer.
PrinterConditions decodePrinterReply(const unsigned char* reply, long count);

// What the core needs of a printer and of the one who prints on it.
class PrinterDevice {
public:
    virtual ~PrinterDevice() = default;
    // Bytes to the printer, in order; they may wait in a buffer until flush().
    virtual void write(std::span<const unsigned char> bytes) = 0;
    virtual void flush() = 0;
    // One reply of `length` bytes, waiting at most `periods` wait periods
    // (0: only what is there already). The byte count, 0 when nothing came
    // in time, -1 when the printer has no way to answer.
    virtual long readReply(unsigned char* buffer, std::size_t length, double periods) = 0;
    // Throws away the replies waiting now; returns their byte count.
    virtual long drain() = 0;
    // Whether the job has been cancelled; the core stops at its next safe point.
    virtual bool cancelled() = 0;
    // One log line as the filter writes it: "DEBUG: ", "INFO: " or "ERROR: "
    // and its text.
    virtual void message(const char* line) = 0;
    // The printer's condition: every reply the monitor read (or its silence,
    // count 0) and every read while a copy waits for its acknowledgement.
    virtual void condition(const PrinterConditions& conditions) = 0;
};

// The device of the running session; without one, a device on standard
// output and standard error that has no replies.
PrinterDevice& printerDevice();

// Formats a log line and hands it to the device.
void coreLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Shorthand for printerDevice().cancelled().
bool jobCancelled();

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

// A job on one device. Waits for the core's lock, makes `device` the core's
// device, starts the status monitor; the destructor stops the monitor and
// lets the next session in.
class PrintSession {
public:
    explicit PrintSession(PrinterDevice& device);
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

    // Stops the monitor before the session ends (the job's last bytes follow).
    void stopMonitor();

    // After a cancelled page: stops the monitor and sends the printer's cancel
    // sequence (600 bytes of 00, then initialise twice), which ends whatever
    // the printer was left in.
    void sendCancelSequence();

private:
    struct State;
    std::unique_ptr<State> state_;
};
