// The simulated printer's insides: it decodes the command stream byte by byte, keeps
// the paper that comes out of it, and writes the listing, the picture and the summary.
#pragma once

#include "StatusScript.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace zsim {

struct PrinterConfig {
    int headWidth = 576;      // dots
    double speedMmPerS = 150; // 0: instant
    double dotsPerMm = 8;
    std::uint64_t maxPaperRows = 200000;  // 25 m of paper; keeps hostile input from eating memory
    bool answerQueries = true;  // false in decode mode
};

// A reply the printer has decided to send: `bytes` at time `due` (seconds since start).
struct TimedWrite {
    double due = 0;
    std::vector<std::uint8_t> bytes;
    long query = 0;
    bool last = true;  // the last part of the reply to `query`
};

class Printer {
public:
    Printer(const PrinterConfig& cfg, const StatusScript& script, std::FILE* listing, bool echo);

    // Takes the next input bytes, received at time `now`. Replies the printer decides on
    // are appended to `out`, in order, due no earlier than the reply before them.
    void feed(std::span<const std::uint8_t> bytes, double now, std::vector<TimedWrite>& out);
    // End of input: reports unknown bytes still pending and an unfinished command.
    void finish(double now);
    // A free-form line in the listing ("note: ...").
    void note(double now, const std::string& text);

    bool writePng(const std::string& path, std::string& error) const;
    // key=value lines; `extra` is appended in order.
    bool writeSummary(const std::string& path, const std::vector<std::pair<std::string, std::string>>& extra,
                      std::string& error) const;

    long queries() const { return stats_.queries; }
    // The number of the last status query, counted over every connection.
    long queryNumber() const { return queryBase_ + stats_.queries; }
    std::uint8_t condition() const { return condition_; }
    double busyUntil() const { return busyUntil_; }
    // A printer that has served earlier connections: its query numbering and
    // its condition go on from there.
    void continueFrom(long queriesSoFar, std::uint8_t condition);
    // The status script was replaced: the printer is at once in the state
    // the new script gives for the next query (a cover opened or paper loaded
    // is known to the printer before anyone asks).
    void scriptChanged(double now);
    std::uint64_t bytesIn() const { return offset_; }

private:
    enum class Decode { NeedMore, Done, Unknown };
    Decode tryCommand(double now, std::vector<TimedWrite>& out);
    void flushUnknown(double now);
    void line(double now, std::uint64_t offset, std::span<const std::uint8_t> bytes, const std::string& text);
    void startRaster(double now, std::uint64_t offset);
    void endRaster(double now);
    void rasterData(const std::uint8_t* p, std::size_t n, double now);
    void takeByte(std::uint8_t b, std::uint64_t off, double now, std::vector<TimedWrite>& out);
    void rasterRow(double now);
    void addPaperRow(const std::vector<std::uint8_t>& row);
    void advance(double now, double rows);
    bool printing() const { return !statusIsError(condition_); }

    PrinterConfig cfg_;
    const StatusScript& script_;
    std::FILE* listing_;
    bool echo_;

    std::uint64_t offset_ = 0;            // bytes taken so far
    std::vector<std::uint8_t> cmd_;       // bytes of the command being assembled
    std::uint64_t cmdOffset_ = 0;
    std::vector<std::uint8_t> unknown_;   // a run of bytes that are no command
    std::uint64_t unknownOffset_ = 0;
    bool unknownAfterRaster_ = false;
    bool lastWasRaster_ = false;

    // Raster data in progress.
    bool inRaster_ = false;
    int rasterMode_ = 0;
    std::uint32_t rasterBytesPerRow_ = 0, rasterRows_ = 0, rowsDone_ = 0;
    std::uint64_t rasterRemaining_ = 0;
    std::vector<std::uint8_t> rowBuf_;
    bool rasterPrinting_ = true;
    bool rasterClipped_ = false;
    int queryMatch_ = 0;            // how much of 16 04 04 the raster data has matched so far
    bool rasterHoldsQuery_ = false;
    std::uint64_t rasterQueryOffset_ = 0;
    long rasterNumber_ = 0;

    std::uint8_t condition_ = 0x20;  // the status the printer reports now
    long queryBase_ = 0;             // queries answered on earlier connections
    int justification_ = 0;
    double busyUntil_ = 0;          // when the rows taken so far have printed
    double lastDue_ = 0;
    bool rasterSinceQuery_ = false;
    bool ackPending_ = false;
    double firstRasterAt_ = 0;  // seconds since the epoch when the first raster command came; 0: none yet  // a raster whose acknowledgement has not come yet

    std::vector<std::uint8_t> paper_;  // gray, headWidth per row, 255 = white
    std::uint64_t paperRows_ = 0;
    bool paperFull_ = false;
    double now_ = 0;  // time of the bytes being taken

    struct Stats {
        long commands = 0, initialise = 0, rasters = 0, rastersPrinted = 0, rastersWhileError = 0;
        std::uint64_t rasterRows = 0, rowsPrinted = 0, rowsWhileError = 0, rasterBytes = 0;
        long feeds = 0;
        std::uint64_t feedDots = 0;
        long queries = 0, replies = 0, unanswered = 0, copiesAcknowledged = 0, otherQueries = 0;
        std::uint64_t clippedRows = 0, unknownBytes = 0;
        long unknownRuns = 0, errors = 0, cuts = 0, swallowedQueries = 0;
        bool unfinishedRaster = false, unfinishedCommand = false;
        std::uint64_t unfinishedMissing = 0;
    } stats_;
};

}  // namespace zsim
