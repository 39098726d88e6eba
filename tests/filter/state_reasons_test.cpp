// The printer's condition as CUPS printer-state-reasons: the built filter runs
// against the simulated printer, whose status script sets the conditions, and
// the STATE lines it writes are compared in order.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "support/PrinterJob.h"

namespace {

using namespace testsupport;

struct StateCase {
    const char* name;
    const char* script;  // the printer's answers
    const char* cancelAfter;  // not empty: the simulator cancels the job (SIGTERM) after so many seconds
    // The STATE lines in order, one letter per keyword: N no answer, E paper
    // out, C cover open, H overheating, S paper skewed.
    const char* states;
    bool prints;
};

// ctest names the cases by name, not by bytes.
void PrintTo(const StateCase& c, std::ostream* os) { *os << c.name; }

// Only the filter's own keywords can appear here: a line for any other
// keyword fails the comparison.
std::string stateLetters(const std::string& log)
{
    static const std::map<std::string, std::string> letters = {
        {"com.zorvan-no-answer-report", "N"},   {"media-empty-error", "E"}, {"cover-open-error", "C"},
        {"com.zorvan-overheating-error", "H"}, {"com.zorvan-paper-skewed-warning", "S"}};
    std::istringstream in(log);
    std::string result;
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with("STATE: ")) continue;
        const auto found = letters.find(line.substr(8));
        result += (result.empty() ? "" : " ") + line.substr(7, 1) +
                  (found == letters.end() ? "<" + line.substr(8) + ">" : found->second);
    }
    return result;
}

class StateReasons : public ::testing::TestWithParam<StateCase> {};

TEST_P(StateReasons, TellsCupsWhatChanged)
{
    const StateCase& c = GetParam();
    TempDir dir;
    const std::string raster = dir.file("page.ras");
    ASSERT_EQ(runProcess({builtProgram("zorvan-raster"), sourcePath("samples/receipt.png"), raster}).exitStatus, 0);
    // A period long enough that a loaded machine answers every query within
    // it: a reply that misses its period would read as a short silence.
    const auto r = runJob({.rawStream = readFile(raster),
                           .status = c.script,
                           .printerArgs = *c.cancelAfter ? std::vector<std::string>{"--timeout", c.cancelAfter}
                                                         : std::vector<std::string>{},
                           .waitMs = 400});
    EXPECT_EQ(r.proc.exitStatus, 0) << r.log();
    EXPECT_EQ(stateLetters(r.log()), c.states) << r.log();
    EXPECT_EQ(r.number("rows_printed") > 0, c.prints) << r.number("rows_printed");
}

// Every job starts and ends with -N; the first reply tells all four printer
// conditions, later replies only what changed; a condition still there at
// the end stays set.
INSTANTIATE_TEST_SUITE_P(
    Conditions, StateReasons,
    ::testing::Values(StateCase{"PaperOutThenLoaded", "1:paperout,ready", "", "-N +E -C -H -S -E -N", true},
                      StateCase{"CoverOpenThenClosed", "1:cover,ready", "", "-N -E +C -H -S -C -N", true},
                      StateCase{"OverheatingThenCool", "1:hot,ready", "", "-N -E -C +H -S -H -N", true},
                      StateCase{"AllErrorsThenReady", "1-2:cover|paperout|hot,ready", "", "-N +E +C +H -S -E -C -H -N",
                                true},
                      // A warning only: the page prints and the reason outlives the job.
                      StateCase{"SkewedThroughout", "skew", "", "-N -E -C -H +S -N", true},
                      StateCase{"SilentThenAnswers", "1-2:none,ready", "", "-N +N -N -E -C -H -S -N", true},
                      // Never answers: the job is cancelled and still clears N.
                      StateCase{"SilentUntilCancelled", "none", "1.0", "-N +N -N", false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
