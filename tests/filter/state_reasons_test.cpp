// The printer's condition as CUPS printer-state-reasons: the built filter runs
// against the simulated printer, whose status script sets the conditions, and
// the STATE lines it writes are compared in order.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "support/Process.h"

namespace {

using testsupport::builtProgram;
using testsupport::sourcePath;

struct StateCase {
    const char* name;
    const char* script;  // the printer's answers
    double timeout;      // > 0: the simulator cancels the job (SIGTERM) after this long
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
    static const std::map<std::string, char> letters = {
        {"com.zorvan-no-answer-report", 'N'},   {"media-empty-error", 'E'}, {"cover-open-error", 'C'},
        {"com.zorvan-overheating-error", 'H'}, {"com.zorvan-paper-skewed-warning", 'S'}};
    std::istringstream in(log);
    std::string line;
    std::string result;
    while (std::getline(in, line)) {
        if (line.rfind("STATE: ", 0) != 0) {
            continue;
        }
        auto found = letters.find(line.substr(8));
        result += (result.empty() ? "" : " ") + line.substr(7, 1) +
                  (found == letters.end() ? "<" + line.substr(8) + ">" : std::string(1, found->second));
    }
    return result;
}

class StateReasons : public ::testing::TestWithParam<StateCase> {
protected:
    static void SetUpTestSuite()
    {
        raster_ = std::make_unique<testsupport::TempDir>();
        auto made = testsupport::runProcess(
            {builtProgram("zorvan-raster"), sourcePath("samples/receipt.png"), raster_->file("page.ras")});
        ASSERT_EQ(made.exitStatus, 0) << made.err;
    }
    static void TearDownTestSuite() { raster_.reset(); }
    static std::unique_ptr<testsupport::TempDir> raster_;
};

std::unique_ptr<testsupport::TempDir> StateReasons::raster_;

TEST_P(StateReasons, TellsCupsWhatChanged)
{
    const StateCase& c = GetParam();
    testsupport::TempDir out;
    std::vector<std::string> argv{builtProgram("zorvan-printer"), "--out", out.path(), "--speed", "0", "--status",
                                  c.script};
    if (c.timeout > 0) {
        argv.insert(argv.end(), {"--timeout", std::to_string(c.timeout)});
    }
    argv.insert(argv.end(), {"--", builtProgram("rastertozorvan"), "1", "user", "title", "1", "",
                             raster_->file("page.ras")});
    testsupport::ProcessOptions options;
    // A period long enough that a loaded machine answers every query within
    // it: a reply that misses its period would read as a short silence.
    options.env = {{"PPD", sourcePath("ppd/zorvan.ppd")}, {"ZORVAN_TEST_WAIT_MS", "100"}};
    options.timeoutSeconds = 30;
    auto run = testsupport::runProcess(argv, options);

    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(stateLetters(run.err), c.states) << run.err;
    auto summary = testsupport::readKeyValues(out.file("summary.txt"));
    EXPECT_EQ(summary["rows_printed"] != "0", c.prints) << summary["rows_printed"];
}

// Every job starts and ends with -N; the first reply tells all four printer
// conditions, later replies only what changed; a condition still there at
// the end stays set.
INSTANTIATE_TEST_SUITE_P(
    Conditions, StateReasons,
    ::testing::Values(StateCase{"PaperOutThenLoaded", "1:paperout,ready", 0, "-N +E -C -H -S -E -N", true},
                      StateCase{"CoverOpenThenClosed", "1:cover,ready", 0, "-N -E +C -H -S -C -N", true},
                      StateCase{"OverheatingThenCool", "1:hot,ready", 0, "-N -E -C +H -S -H -N", true},
                      StateCase{"AllErrorsThenReady", "1-2:cover|paperout|hot,ready", 0,
                                "-N +E +C +H -S -E -C -H -N", true},
                      // A warning only: the page prints and the reason outlives the job.
                      StateCase{"SkewedThroughout", "skew", 0, "-N -E -C -H +S -N", true},
                      StateCase{"SilentThenAnswers", "1-2:none,ready", 0, "-N +N -N -E -C -H -S -N", true},
                      // Never answers: the job is cancelled and still clears N.
                      StateCase{"SilentUntilCancelled", "none", 1.0, "-N +N -N", false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
