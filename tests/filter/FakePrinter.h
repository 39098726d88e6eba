// A printer for process tests of the filter: runs the built filter with its
// standard output into a decoder of the printer's command language and
// answers each status query on the filter's back channel (descriptor 3)
// according to a script.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/Ppd.h"
#include "support/Raster.h"

namespace testsupport {

struct PrinterCommand {
    enum Kind { Initialise, Density, Justification, PaperMode, Feed, Raster, StatusQuery, Unknown };
    Kind kind = Unknown;
    int value = 0;         // density, justification, paper-mode or feed byte; the unknown byte
    int rowBytes = 0;      // raster: bytes per row
    int rows = 0;          // raster: rows
    std::string data;      // raster: the rows' bytes
    std::size_t offset = 0;  // where the command starts in standard output
    int query = -1;        // status query: its number, counting from 0
};

// What the printer sends back on the back channel after a command: `bytes`
// (nothing when empty), `delayMs` after the command was decoded.
struct Reply {
    std::string bytes;
    int delayMs = 0;
};

// Called for every decoded command with the commands before it.
using Responder = std::function<Reply(const PrinterCommand& command, const std::vector<PrinterCommand>& before)>;

std::string statusReply(unsigned char statusByte);  // 10 04 04 s 00

// Answers status query number q with script(q) ("" for no answer).
Responder answerQueries(std::function<std::string(int query)> script);
Responder alwaysReady();

// Whether a status query is a copy's (it follows the copy's raster data).
bool isCopyQuery(const PrinterCommand& command, const std::vector<PrinterCommand>& before);

struct FilterJob {
    std::vector<RasterPage> pages;
    std::string rawStream;    // used instead of pages when not empty
    std::string options;      // argument 5
    std::string ppd;          // PPD text; empty: no PPD at all
    Responder printer = alwaysReady();
    int waitMs = 20;          // the filter's test-only wait period
    double timeoutSeconds = 30.0;
    int readPauseMs = 0;      // a slow printer: pause after each read of its input
    std::size_t terminateAfterBytes = 0;  // send the filter SIGTERM (a cancel) once it has sent this much
    std::map<std::string, std::string> env;
};

struct FilterRun {
    std::string out;
    std::string err;
    int exitStatus = -1;
    bool timedOut = false;
    std::vector<PrinterCommand> commands;
    bool endedInsideCommand = false;  // the stream stopped inside a command (e.g. raster data)
    int queries = 0;

    std::vector<const PrinterCommand*> ofKind(PrinterCommand::Kind kind) const;
    // Whether the log holds the lines of `text` in this order. Both threads
    // log, so lines of one thread need not stand together.
    bool logHas(const std::string& text) const;
    std::size_t logCount(const std::string& text) const;
};

FilterRun runFilterJob(const FilterJob& job);

// The commands in a line, e.g. "init, density 5, justify 1, raster 16x170, query".
std::string describe(const std::vector<PrinterCommand>& commands);

// Decodes a command stream; `complete` is false when it ends inside a command.
std::vector<PrinterCommand> decodePrinterStream(const std::string& stream, bool* complete = nullptr);

}  // namespace testsupport
