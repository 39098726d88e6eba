// Helpers for driving the simulated printer from tests.
#pragma once

#include "support/Process.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace simtest {

struct SimRun {
    testsupport::ProcessResult proc;
    std::string listing;
    std::map<std::string, std::string> summary;
    std::string outDir;
};

// Runs zorvan-printer ARGS -- /bin/bash -c SCRIPT with its output in `dir`.
SimRun runSim(const testsupport::TempDir& dir, const std::vector<std::string>& args, const std::string& script,
              const std::string& sub = "out");

// Runs zorvan-printer in decode mode on `bytes`.
SimRun decodeBytes(const testsupport::TempDir& dir, const std::string& bytes, const std::vector<std::string>& args = {});

std::map<std::string, std::string> readSummary(const std::string& path);

struct Gray {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // 8-bit gray, row by row
    std::uint8_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};
// Reads any PNG, converted to 8-bit gray. Returns false on failure.
bool readPng(const std::string& path, Gray& out);

// A raster command GS v 0 with its data.
std::string rasterCommand(int bytesPerRow, int rows, const std::string& data, int mode = 0);
// printf-ready form of bytes (\xHH escapes), for bash scripts.
std::string printfEscaped(const std::string& bytes);

}  // namespace simtest
