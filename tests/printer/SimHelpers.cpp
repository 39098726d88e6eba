#include "SimHelpers.h"

namespace simtest {

namespace {

SimRun runPrinter(const std::string& outDir, const std::vector<std::string>& args, const std::vector<std::string>& tail,
                  const std::string& input)
{
    SimRun r;
    r.outDir = outDir;
    std::vector<std::string> argv = {testsupport::builtProgram("zorvan-printer"), "--out", r.outDir};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.end(), tail.begin(), tail.end());
    testsupport::ProcessOptions po;
    po.stdinData = input;
    po.timeoutSeconds = 30;
    r.proc = testsupport::runProcess(argv, po);
    r.listing = testsupport::readFile(r.outDir + "/listing.txt");
    r.summary = testsupport::readKeyValues(r.outDir + "/summary.txt");
    return r;
}

}  // namespace

testsupport::Gray SimRun::paper() const
{
    testsupport::Gray g;
    std::string error;
    if (!testsupport::readPng(outDir + "/paper.png", g, error)) {
        return {};
    }
    return g;
}

SimRun runSim(const testsupport::TempDir& dir, const std::vector<std::string>& args, const std::string& script,
              const std::string& sub)
{
    return runPrinter(dir.file(sub), args, {"--", "/bin/bash", "-c", script}, "");
}

SimRun decodeBytes(const testsupport::TempDir& dir, const std::string& bytes, const std::vector<std::string>& args)
{
    return runPrinter(dir.file("decode"), args, {}, bytes);
}

std::string rasterCommand(int bytesPerRow, int rows, const std::string& data, int mode)
{
    std::string s = {'\x1d', '\x76', '\x30', static_cast<char>(mode), static_cast<char>(bytesPerRow & 0xFF),
                     static_cast<char>(bytesPerRow >> 8), static_cast<char>(rows & 0xFF), static_cast<char>(rows >> 8)};
    return s + data;
}

}  // namespace simtest
