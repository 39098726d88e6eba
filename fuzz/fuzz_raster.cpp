// The raster stream through the whole job: header checks, page buffer, row
// reading, paper saving, both roads, the binarizers, copies and bands, run
// in-process with rastertozorvanMain. The printer is a stand-in that answers
// every status query at once (after a short fuzzed script of other answers it
// is ready for good), and every wait of the filter lasts 0 ms.
//
// Input: one byte n, then n status bytes the printer answers first (a byte
// 0xEE stands for a reply with a wrong leader), then the job's option string
// up to a NUL byte, then the raster stream. The PPD is the shipped one.
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzFiles.h"
#include "filter/printerStatusProcess.h"
#include "filter/rastertozorvan.h"
#include "fuzz/FuzzInput.h"

namespace {

std::string rasterPath;

// The printer's script: answered in order, then ready (status 0x20) for good.
// Only touched under the printer channel lock, but atomics keep it simple.
unsigned char script[8];
std::atomic<int> scriptLength{0};
std::atomic<int> scriptNext{0};

long scriptedPrinter(unsigned char* buffer, std::size_t length)
{
    unsigned char reply[5] = {0x10, 0x04, 0x04, 0x20, 0x00};
    const int i = scriptNext.fetch_add(1);
    if (i < scriptLength.load()) {
        if (script[i] == 0xEE) {
            reply[2] = 0x05;
        } else {
            reply[3] = script[i];
        }
    }
    const std::size_t n = length < sizeof reply ? length : sizeof reply;
    std::memcpy(buffer, reply, n);
    return static_cast<long>(n);
}

// Keeps each run short: pages whose page buffer would pass 16 MiB, or that
// ask for more than 3 copies, are skipped (the bad-input tests cover the
// absurd sizes through the built filter). Reads only the headers.
bool withinFuzzBounds(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        return false;
    }
    cups_raster_t* r = cupsRasterOpen(fd, CUPS_RASTER_READ);
    bool ok = true;
    cups_page_header2_t header;
    int pages = 0;
    while (ok && r != nullptr && cupsRasterReadHeader2(r, &header) != 0 && pages < 8) {
        ++pages;
        const std::uint64_t stride = std::max<std::uint64_t>(header.cupsBytesPerLine,
                                                             (std::uint64_t{header.cupsWidth} * 24 + 31) / 32 * 4);
        const std::uint64_t rows = std::uint64_t{header.cupsHeight} + 560;
        ok = stride * rows * 3 <= (16u << 20) && header.NumCopies <= 3;
        // Skip over the page's data without looking at it.
        std::vector<unsigned char> line(header.cupsBytesPerLine > 0 && header.cupsBytesPerLine < (1u << 20)
                                            ? header.cupsBytesPerLine
                                            : 1);
        for (unsigned y = 0; ok && y < header.cupsHeight && header.cupsBytesPerLine == line.size(); ++y) {
            if (cupsRasterReadPixels(r, line.data(), header.cupsBytesPerLine) == 0) {
                break;
            }
        }
    }
    if (r != nullptr) {
        cupsRasterClose(r);
    }
    ::close(fd);
    return ok && pages < 8;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    rasterPath = makeScratchFile("zorvan-fuzz-raster");
    std::atexit([] { ::unlink(rasterPath.c_str()); });
    ::setenv("PPD", ZORVAN_SOURCE_DIR "/ppd/zorvan.ppd", 1);
    // 1 ms, not 0: a zero period gives a copy no time at all for its acknowledgement.
    ::setenv("ZORVAN_TEST_WAIT_MS", "1", 1);
    testPrinterReply = scriptedPrinter;
    // The printer bytes go nowhere.
    const int devnull = ::open("/dev/null", O_WRONLY);
    ::dup2(devnull, 1);
    ::close(devnull);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    const int n = in.byte() % 8;
    for (int i = 0; i < n; ++i) {
        script[i] = in.byte();
    }
    scriptLength.store(n);
    scriptNext.store(0);

    const auto rest = in.rest();
    if (rest.empty()) {
        return 0;
    }
    const auto* nul = static_cast<const std::uint8_t*>(std::memchr(rest.data(), 0, rest.size()));
    if (nul == nullptr) {
        return 0;
    }
    std::string options(reinterpret_cast<const char*>(rest.data()), static_cast<std::size_t>(nul - rest.data()));
    const std::size_t streamOffset = static_cast<std::size_t>(nul - rest.data()) + 1;
    writeScratchFile(rasterPath, rest.data() + streamOffset, rest.size() - streamOffset);
    if (!withinFuzzBounds(rasterPath)) {
        return 0;
    }

    char* argv[] = {const_cast<char*>("rastertozorvan"), const_cast<char*>("1"), const_cast<char*>("fuzz"),
                    const_cast<char*>("title"), const_cast<char*>("1"), options.data(), rasterPath.data(), nullptr};
    const int status = rastertozorvanMain(7, argv);
    if (status != 0 && status != 1) {
        __builtin_trap();  // a filter exits 0 or 1, nothing else
    }
    return 0;
}
