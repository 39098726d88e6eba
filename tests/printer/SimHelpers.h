// Helpers for driving the simulated printer from tests.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/Pictures.h"
#include "support/Process.h"

namespace simtest {

struct SimRun {
    testsupport::ProcessResult proc;
    std::string listing;
    std::map<std::string, std::string> summary;
    std::string outDir;

    // The paper the printer drew; an empty picture when there is none.
    testsupport::Gray paper() const;
};

// Runs zorvan-printer ARGS -- /bin/bash -c SCRIPT with its output in `dir`.
SimRun runSim(const testsupport::TempDir& dir, const std::vector<std::string>& args, const std::string& script,
              const std::string& sub = "out");

// Runs zorvan-printer in decode mode on `bytes`.
SimRun decodeBytes(const testsupport::TempDir& dir, const std::string& bytes, const std::vector<std::string>& args = {});

// A raster command GS v 0 with its data.
std::string rasterCommand(int bytesPerRow, int rows, const std::string& data, int mode = 0);

}  // namespace simtest
