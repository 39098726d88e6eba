// Jobs for the built filter: CUPS raster streams, and a run of the filter
// against the simulated printer (zorvan-printer) that collects what both
// said: the filter's log and exit status, the printer's listing, summary and
// paper, and how long the job took.
#pragma once

#include <cups/raster.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/Pictures.h"
#include "support/Process.h"

namespace testsupport {

struct RasterPage {
    cups_page_header2_t header{};
    // The page's rows, cupsBytesPerLine bytes each. Fewer rows than
    // cupsHeight make a stream that ends inside the page.
    std::vector<unsigned char> rows;
};

// A page header for chunky pixels: `bitsPerColor` 1 or 8, `colorSpace` 1 (RGB,
// three colours per pixel) or 3 (black, one). Any field may be changed afterwards.
cups_page_header2_t pageHeader(unsigned width, unsigned height, unsigned bitsPerColor, unsigned colorSpace,
                               int copies = 1);

// A page of chunky pixels whose pixel (x, y) is value(x, y): 0xRRGGBB for
// RGB, the ink (0 is blank paper) for 8-bit black, a dot when not 0 for 1 bit.
RasterPage rasterPage(unsigned width, unsigned height, unsigned bitsPerColor, unsigned colorSpace,
                      const std::function<std::uint32_t(unsigned, unsigned)>& value, int copies = 1);

// The pages as one uncompressed (version 3) raster stream, headers copied as
// they are, so that they may carry values libcups's writer would refuse.
std::string rasterStream(const std::vector<RasterPage>& pages);

struct PrinterJob {
    std::vector<RasterPage> pages;
    std::string rawStream;                 // the input when there are no pages
    bool onStdin = false;                  // six arguments: the stream on standard input
    std::string ppdPath;                   // default: the shipped PPD
    std::string options;                   // argument 5
    std::string status = "ready";          // the printer's status script
    int headDots = 576;                    // the printer's head width
    std::vector<std::string> printerArgs;  // more zorvan-printer options
    std::vector<std::string> filterArgs;   // replace the filter's arguments when not empty
    int waitMs = 20;                       // the filter's test-only wait period
    double timeoutSeconds = 30.0;
    std::string filterPath;                // default: the built filter
};

struct PrinterRun {
    ProcessResult proc;  // the simulator's exit status is the filter's
    std::map<std::string, std::string> summary;
    std::string listing;
    Gray paper;

    const std::string& log() const { return proc.err; }
    // Whether the log holds the lines of `text` in this order, each as a part
    // of a line (the other thread's lines may come between them).
    bool has(const std::string& text) const;
    std::size_t count(const std::string& text) const;
    long number(const std::string& key) const;  // a summary value, -1 when missing
    // The bytes of every command the printer received but the status queries,
    // e.g. "1B 40, 1D 83 05, 1D 76 30 00 48 00 E8 03"; a run of unknown bytes
    // shows as "?COUNT", and with `queries` each status query as "Q". A
    // raster's data is on the paper.
    std::string commands(bool queries = false) const;
    // The paper packed back into raster bytes: a dark dot is a set bit.
    std::string paperBytes() const;
    // The log's lines that do not begin with a CUPS prefix (the trace markers
    // " -- 721" and " -- 725" stand alone); every run is checked for them.
    std::vector<std::string> unreadableLines() const;
};

PrinterRun runJob(const PrinterJob& job);

}  // namespace testsupport
