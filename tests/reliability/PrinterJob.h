// Runs the built filter against the simulated printer (zorvan-printer) and
// collects what both said: the filter's log and exit status, the printer's
// summary and listing, and how long the job took.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/Process.h"
#include "support/Raster.h"

namespace reliability {

struct PrinterJob {
    std::vector<testsupport::RasterPage> pages;
    std::string rawStream;             // used instead of pages when not empty
    bool rasterOnStdin = false;        // six arguments: the stream on standard input
    std::string options;               // argument 5
    std::string status = "ready";      // the printer's status script
    std::vector<std::string> printerArgs;  // more zorvan-printer options
    int waitMs = 20;                   // the filter's test-only wait period
    double timeoutSeconds = 30.0;
    std::string ppdPath;               // default: the shipped PPD
    std::vector<std::string> filterArgs;   // replaces the filter's arguments when not empty
};

struct PrinterRun {
    testsupport::ProcessResult proc;   // the simulator's exit status is the filter's
    std::map<std::string, std::string> summary;
    std::string listing;
    double seconds = 0.0;

    const std::string& log() const { return proc.err; }
    bool logHas(const std::string& text) const { return proc.err.find(text) != std::string::npos; }
    std::size_t logCount(const std::string& text) const;
    long number(const std::string& key) const;  // a summary value, -1 when missing
};

PrinterRun runWithPrinter(const PrinterJob& job);

// A small RGB page: a black box on white, `copies` copies.
testsupport::RasterPage boxPage(int copies = 1, unsigned width = 64, unsigned height = 24);

// Every copy either printed or named as possibly incomplete, and nothing
// printed twice: the rasters the printer printed plus the copies the filter
// reported as incomplete make up `copies`.
::testing::AssertionResult copiesAccountedFor(const PrinterRun& run, int copies);

}  // namespace reliability
