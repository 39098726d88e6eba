#include "PrinterJob.h"

#include <chrono>
#include <cstdlib>
#include <sstream>

using namespace testsupport;

namespace reliability {

std::size_t PrinterRun::logCount(const std::string& text) const
{
    std::size_t count = 0;
    for (std::size_t at = proc.err.find(text); at != std::string::npos; at = proc.err.find(text, at + text.size())) {
        ++count;
    }
    return count;
}

long PrinterRun::number(const std::string& key) const
{
    auto it = summary.find(key);
    return it == summary.end() ? -1 : std::strtol(it->second.c_str(), nullptr, 10);
}

namespace {

std::map<std::string, std::string> readSummary(const std::string& path)
{
    std::map<std::string, std::string> values;
    std::istringstream in(readFile(path));
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) {
            values[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return values;
}

}  // namespace

PrinterRun runWithPrinter(const PrinterJob& job)
{
    TempDir dir;
    const std::string rasterPath = dir.file("job.ras");
    if (!job.rawStream.empty()) {
        writeFile(rasterPath, job.rawStream);
    } else {
        writeRasterFile(rasterPath, job.pages);
    }
    const std::string out = dir.file("printer");

    std::vector<std::string> argv = {builtProgram("zorvan-printer"), "--out", out, "--speed", "0",
                                     "--status", job.status};
    argv.insert(argv.end(), job.printerArgs.begin(), job.printerArgs.end());
    argv.push_back("--");
    argv.push_back(builtProgram("rastertozorvan"));
    if (!job.filterArgs.empty()) {
        argv.insert(argv.end(), job.filterArgs.begin(), job.filterArgs.end());
    } else {
        argv.insert(argv.end(), {"42", "user", "title", "1", job.options});
        if (!job.rasterOnStdin) {
            argv.push_back(rasterPath);
        }
    }

    ProcessOptions po;
    po.env["PPD"] = job.ppdPath.empty() ? sourcePath("ppd/zorvan.ppd") : job.ppdPath;
    po.env["ZORVAN_TEST_WAIT_MS"] = std::to_string(job.waitMs);
    po.timeoutSeconds = job.timeoutSeconds;
    if (job.rasterOnStdin) {
        po.stdinData = job.rawStream.empty() ? readFile(rasterPath) : job.rawStream;
    }

    PrinterRun run;
    const auto start = std::chrono::steady_clock::now();
    run.proc = runProcess(argv, po);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.summary = readSummary(out + "/summary.txt");
    run.listing = readFile(out + "/listing.txt");
    return run;
}

RasterPage boxPage(int copies, unsigned width, unsigned height)
{
    return rgbPage(
        width, height,
        [=](unsigned x, unsigned y) {
            const bool inside = x >= width / 4 && x < 3 * width / 4 && y >= height / 4 && y < 3 * height / 4;
            return inside ? 0x000000u : 0xFFFFFFu;
        },
        copies);
}

::testing::AssertionResult copiesAccountedFor(const PrinterRun& run, int copies)
{
    const long printed = run.number("rasters_printed");
    const long received = run.number("rasters");
    const long incomplete = static_cast<long>(run.logCount("may be incomplete"));
    if (received != copies) {
        return ::testing::AssertionFailure() << "the printer received " << received << " rasters for " << copies
                                             << " copies\n" << run.log();
    }
    if (printed + incomplete < copies || printed > copies) {
        return ::testing::AssertionFailure() << printed << " copies printed and " << incomplete
                                             << " reported incomplete, for " << copies << " copies\n" << run.log();
    }
    return ::testing::AssertionSuccess();
}

}  // namespace reliability
