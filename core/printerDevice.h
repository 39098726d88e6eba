// What the printing core needs of a printer and of the one who prints on it:
// raw writes, timed raw reads, a log that takes lines with a level, and word
// of the printer's condition. The core frames and decodes the replies itself.
#pragma once

#include <span>

#include "core/printerCommands.h"
#include "diagnostics/jobLog.h"

class PrinterDevice : public LogSink {
public:
    // Bytes to the printer, in order; they may wait in a buffer until flush().
    virtual void write(std::span<const unsigned char> bytes) = 0;
    virtual void flush() = 0;
    // Reads what the printer has sent, waiting at most `timeoutMs` for it (0:
    // only what is there already). The byte count, 0 when nothing came in
    // time, -1 when the printer has no way to answer (no back channel, or it
    // ended).
    virtual long read(std::span<unsigned char> buffer, int timeoutMs) = 0;
    // Whether the job has been cancelled from outside the core (the Printer
    // Application's cancel); the core stops at its next safe point.
    virtual bool cancelled() { return false; }
    // The printer's condition: every reply the monitor read (or its silence,
    // count 0 or less) and every read while a copy waits for its acknowledgement.
    virtual void condition(const PrinterConditions& conditions) = 0;
};
