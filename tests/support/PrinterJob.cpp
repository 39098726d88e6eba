#include "support/PrinterJob.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace testsupport {

RasterPage rasterPage(unsigned width, unsigned height, unsigned bits, unsigned space,
                      const std::function<std::uint32_t(unsigned, unsigned)>& value, int copies)
{
    RasterPage page{pageHeader(width, height, bits, space, copies), {}};
    const std::size_t line = page.header.cupsBytesPerLine, pixelBytes = page.header.cupsBitsPerPixel / 8;
    page.rows.assign(line * height, 0);
    for (unsigned y = 0; y < height; ++y) {
        for (unsigned x = 0; x < width; ++x) {
            unsigned char* at = page.rows.data() + y * line;
            const std::uint32_t v = value(x, y);
            if (bits == 1) {
                at[x / 8] = static_cast<unsigned char>(at[x / 8] | (v != 0 ? 0x80 >> (x % 8) : 0));
            }
            for (std::size_t i = 0; i < pixelBytes; ++i) {
                at[x * pixelBytes + i] = static_cast<unsigned char>(v >> (8 * (pixelBytes - 1 - i)));
            }
        }
    }
    return page;
}

cups_page_header2_t pageHeader(unsigned width, unsigned height, unsigned bitsPerColor, unsigned colorSpace, int copies)
{
    cups_page_header2_t header{};
    header.NumCopies = copies;
    header.cupsWidth = width;
    header.cupsHeight = height;
    header.cupsBitsPerColor = bitsPerColor;
    header.cupsBitsPerPixel = bitsPerColor * (colorSpace == 1 ? 3 : 1);
    header.cupsBytesPerLine = (width * header.cupsBitsPerPixel + 7) / 8;
    header.cupsColorSpace = static_cast<cups_cspace_t>(colorSpace);
    return header;
}

std::string rasterStream(const std::vector<RasterPage>& pages)
{
    const std::uint32_t sync = CUPS_RASTER_SYNC;  // "RaS3" in this machine's byte order
    std::string bytes(reinterpret_cast<const char*>(&sync), 4);
    for (const RasterPage& page : pages) {
        bytes.append(reinterpret_cast<const char*>(&page.header), sizeof page.header);
        bytes.append(page.rows.begin(), page.rows.end());
    }
    return bytes;
}

bool PrinterRun::has(const std::string& text) const
{
    std::size_t at = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line) && at != std::string::npos;) {
        at = proc.err.find(line, at);
    }
    return at != std::string::npos;
}

std::size_t PrinterRun::count(const std::string& text) const
{
    std::size_t n = 0;
    for (std::size_t at = proc.err.find(text); at != std::string::npos; at = proc.err.find(text, at + 1)) {
        ++n;
    }
    return n;
}

long PrinterRun::number(const std::string& key) const
{
    return summary.contains(key) ? std::strtol(summary.at(key).c_str(), nullptr, 10) : -1;
}

std::string PrinterRun::commands(bool queries) const
{
    // Listing lines: time, offset, then the command's bytes and what it is.
    std::string text;
    std::istringstream in(listing);
    for (std::string line; std::getline(in, line);) {
        const std::size_t gap = line.find("  ", 22);
        if (line.size() <= 21 || line[21] == ' ' || gap == std::string::npos) {
            continue;  // a note, or the end of input
        }
        const std::string what = line.substr(line.find_first_not_of(' ', gap));
        const bool query = what.starts_with("status query"), unknown = what.find("unknown bytes") != std::string::npos;
        if (!query || queries) {
            text += (text.empty() ? "" : ", ") +
                    (query     ? "Q"
                     : unknown ? "?" + std::to_string(std::atoi(what.c_str() + what.find_first_of("0123456789")))
                               : line.substr(21, gap - 21));
        }
    }
    return text;
}

std::string PrinterRun::paperBytes() const
{
    std::string bytes(paper.pixels.size() / 8, '\0');
    for (std::size_t i = 0; i < bytes.size() * 8; ++i) {
        bytes[i / 8] = static_cast<char>(bytes[i / 8] | (paper.pixels[i] < 128 ? 0x80 >> (i % 8) : 0));
    }
    return bytes;
}

std::vector<std::string> PrinterRun::unreadableLines() const
{
    static const char* const prefixes[] = {"DEBUG: ", "INFO: ", "ERROR: ", "PAGE: ", "STATE: "};
    std::vector<std::string> lines;
    std::istringstream in(proc.err);
    for (std::string line; std::getline(in, line);) {
        const bool marker = line == " -- 721" || line == " -- 725";
        if (!marker && std::none_of(std::begin(prefixes), std::end(prefixes),
                                    [&](const char* p) { return line.starts_with(p); })) {
            lines.push_back(line);
        }
    }
    if (!proc.err.empty() && proc.err.back() != '\n') {
        lines.push_back("(no newline at the end)");
    }
    return lines;
}

PrinterRun runJob(const PrinterJob& job)
{
    TempDir dir;
    const std::string raster = job.pages.empty() ? job.rawStream : rasterStream(job.pages);
    writeFile(dir.file("job.ras"), raster);
    std::vector<std::string> argv = {
        builtProgram("zorvan-printer"), "--out",    dir.file("printer"), "--speed", "0", "--width",
        std::to_string(job.headDots),   "--status", job.status};
    argv.insert(argv.end(), job.printerArgs.begin(), job.printerArgs.end());
    argv.insert(argv.end(), {"--", job.filterPath.empty() ? builtProgram("rastertozorvan") : job.filterPath});
    std::vector<std::string> filterArgs = {"42", "user", "title", "1", job.options, dir.file("job.ras")};
    filterArgs.resize(job.onStdin ? 5 : 6);
    const auto& args = job.filterArgs.empty() ? filterArgs : job.filterArgs;
    argv.insert(argv.end(), args.begin(), args.end());

    const ProcessOptions options{.stdinData = job.onStdin ? raster : "",
                                 .env = {{"PPD", job.ppdPath.empty() ? builtPpd() : job.ppdPath},
                                         {"ZORVAN_TEST_WAIT_MS", std::to_string(job.waitMs)}},
                                 .timeoutSeconds = job.timeoutSeconds};
    PrinterRun run{runProcess(argv, options), readKeyValues(dir.file("printer/summary.txt")),
                   readFile(dir.file("printer/listing.txt")), readPng(dir.file("printer/paper.png"))};
    // CUPS reads a line's meaning from its first word: whatever the job, none may lose it.
    for (const std::string& line : run.unreadableLines()) {
        ADD_FAILURE() << "a log line CUPS cannot read: \"" << line << "\"";
    }
    return run;
}

}  // namespace testsupport
