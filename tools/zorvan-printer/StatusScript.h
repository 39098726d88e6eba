// The status script: what the simulated printer answers to each status query.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zsim {

// One answer. A query that gets `reply == false` is left unanswered.
struct Answer {
    bool reply = true;
    bool hasStatus = true;            // false for raw replies: the printer's condition is unchanged
    std::uint8_t status = 0x20;       // status byte (bit 0x20 = paper present)
    std::vector<std::uint8_t> bytes;  // exact bytes of the reply (10 04 04 s 00 unless raw/wrong leader)
    std::vector<std::uint8_t> stray;  // written before the reply
    int delayMs = 0;                  // extra wait before the reply
    int splitMs = -1;                 // >= 0: reply in two writes (3 + rest) this far apart
    std::string text;                 // the rule as written, for the listing
};

struct Rule {
    long first = 1;   // query numbers, 1-based, inclusive
    long last = -1;   // -1: open end
    long raster = 0;  // > 0: instead, the first query after raster number `raster`
    Answer answer;
};

class StatusScript {
public:
    // Parses "RULE[,RULE...]"; on a syntax error returns false and says why in `error`.
    bool parse(const std::string& text, std::string& error);
    // The answer to query number `n` (1-based); `afterRaster` is the number of
    // the raster this query is the first to follow (a copy's acknowledgement), or 0.
    Answer answerFor(long n, long afterRaster = 0) const;

private:
    std::vector<Rule> rules_;
    Answer fallback_ = makeDefault();
    static Answer makeDefault();
};

// True when the status byte stops the printer: cover open, paper out or overheating.
bool statusIsError(std::uint8_t status);
// "ready", "cover open", "paper out, skewed", ...
std::string describeStatus(std::uint8_t status);

// The help text for the script syntax (shared by --help and the README).
extern const char* const kStatusScriptHelp;

}  // namespace zsim
