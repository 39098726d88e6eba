// The filter end to end with the simulated printer (zorvan-printer): what a
// printer that counts the announced bytes of every raster would print.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "FakePrinter.h"
#include "support/Process.h"
#include "support/Raster.h"

using namespace testsupport;

namespace {

struct SimulatedJob {
    std::map<std::string, std::string> summary;
    std::string listing;
    ProcessResult process;

    long value(const std::string& key) const
    {
        auto it = summary.find(key);
        return it == summary.end() ? -1 : std::stol(it->second);
    }
};

SimulatedJob printOnSimulator(const std::vector<RasterPage>& pages, const std::string& ppd,
                              const std::vector<std::string>& printerOptions)
{
    TempDir dir;
    writeRasterFile(dir.file("job.ras"), pages);
    std::vector<std::string> argv = {builtProgram("zorvan-printer"), "--out", dir.file("out"), "--timeout", "60"};
    argv.insert(argv.end(), printerOptions.begin(), printerOptions.end());
    for (const std::string& a : {std::string("--"), builtProgram("rastertozorvan"), std::string("1"),
                                 std::string("tester"), std::string("job"), std::string("1"), std::string(""),
                                 dir.file("job.ras")}) {
        argv.push_back(a);
    }
    ProcessOptions options;
    options.env["ZORVAN_TEST_WAIT_MS"] = "20";
    options.timeoutSeconds = 90;
    if (!ppd.empty()) {
        writeFile(dir.file("z.ppd"), ppd);
        options.env["PPD"] = dir.file("z.ppd");
    } else {
        options.unsetEnv = {"PPD"};
    }
    SimulatedJob job;
    job.process = runProcess(argv, options);
    std::istringstream summary(readFile(dir.file("out/summary.txt")));
    for (std::string line; std::getline(summary, line);) {
        auto eq = line.find('=');
        if (eq != std::string::npos) {
            job.summary[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    job.listing = readFile(dir.file("out/listing.txt"));
    return job;
}

void expectCleanStream(const SimulatedJob& job)
{
    EXPECT_EQ(job.summary.at("unfinished_raster"), "no") << job.listing.substr(0, 2000);
    EXPECT_EQ(job.value("unknown_bytes"), 0);
    EXPECT_EQ(job.value("swallowed_query_patterns"), 0);
    EXPECT_EQ(job.value("errors"), 0);
}

}  // namespace

TEST(Simulator, LongOneBitPagePrintsWholeInBands)
{
    // 3.2 MB of rows: beyond the output buffer.
    auto page = oneBitPage(576, 45000, [](unsigned x, unsigned y) { return (x / 16 + y / 16) % 2 == 0; });
    auto job = printOnSimulator({page}, "", {"--speed", "0"});
    ASSERT_EQ(job.process.exitStatus, 0) << job.process.err.substr(job.process.err.size() - 2000);
    expectCleanStream(job);
    EXPECT_EQ(job.value("rasters"), 2);  // 43,690 rows fit the buffer, then the rest
    EXPECT_EQ(job.value("rows_printed"), 45000);
}

TEST(Simulator, ErrorsHoldThePrintUntilTheCoverIsClosed)
{
    auto page = oneBitPage(384, 100, [](unsigned x, unsigned y) { return x == y; });
    auto job = printOnSimulator({page}, "", {"--speed", "0", "--width", "384", "--status", "1-3:cover|paperout,ready"});
    ASSERT_EQ(job.process.exitStatus, 0) << job.process.err;
    expectCleanStream(job);
    EXPECT_EQ(job.value("printed_while_error"), 0);
    EXPECT_EQ(job.value("rows_printed"), 100);
    EXPECT_GE(job.value("queries"), 6);
    EXPECT_NE(job.process.err.find("INFO: Status Process Error -- Open the printer cover, out of paper.\n"),
              std::string::npos);
}

TEST(Simulator, ColourCopiesAreAcknowledgedAfterTheyPrint)
{
    auto page = rgbPage(576, 400, [](unsigned x, unsigned y) { return ((x ^ y) & 32) ? 0x202020u : 0xF0F0F0u; }, 3);
    const std::string ppd = ppdText({{"Imagealgorithm", {"7", "7"}}, {"AfterFeed", {"2", "2"}}});
    auto job = printOnSimulator({page}, ppd, {"--speed", "400"});
    ASSERT_EQ(job.process.exitStatus, 0) << job.process.err;
    expectCleanStream(job);
    EXPECT_EQ(job.value("copies_acknowledged"), 3);
    EXPECT_EQ(job.value("rasters_printed"), 3);
    EXPECT_EQ(job.value("rows_printed"), 3 * (400 + 120 + 16));
}

TEST(Simulator, SilentPrinterAfterACopyEndsTheJobWithAnError)
{
    auto page = rgbPage(64, 10, [](unsigned, unsigned) { return 0u; }, 2);
    const std::string ppd = ppdText({{"Imagealgorithm", {"0", "0"}}});
    auto job = printOnSimulator({page}, ppd, {"--speed", "0", "--status", "1-3:ready,none"});
    EXPECT_EQ(job.process.exitStatus, 1);
    EXPECT_NE(job.process.err.find("ERROR: The printer did not acknowledge copy 1 of page 1"), std::string::npos)
        << job.process.err;
    EXPECT_EQ(job.value("rasters"), 1);
    EXPECT_EQ(job.summary.at("unfinished_raster"), "no");
}
