// The raster stream through the whole job in-process with rastertozorvanMain: header
// checks, page buffer, row reading, paper saving, both roads, the binarizers, copies and
// bands. The printer is a stand-in that answers every status query at once (after a short
// fuzzed script of other answers it is ready for good); every wait of the filter is 1 ms.
//
// Input: one byte n, then n status bytes the printer answers first (0xEE: a reply with a
// wrong leader), then the job's option string up to a NUL byte, then the raster stream.
// The PPD is the shipped one.
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/printerDevice.h"
#include "filter/rastertozorvan.h"
#include "fuzz/FuzzInput.h"

namespace {

std::string rasterPath;
unsigned char script[8];
int scriptLength = 0;

// The printer: takes every byte, and answers each status query at once (after
// a short fuzzed script of other answers it is ready for good).
class ScriptedPrinter final : public PrinterDevice {
public:
    void write(std::span<const unsigned char> bytes) override
    {
        // A query is three bytes of their own: the core writes each in one call.
        if (bytes.size() == 3 && bytes[0] == 0x16 && bytes[1] == 0x04 && bytes[2] == 0x04) {
            std::lock_guard<std::mutex> lock(mutex_);
            ++unanswered_;
        }
    }
    void flush() override {}
    long read(std::span<unsigned char> buffer, int) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (unanswered_ == 0) {
            return 0;
        }
        --unanswered_;
        unsigned char reply[5] = {0x10, 0x04, 0x04, 0x20, 0x00};
        const int i = next_++;
        if (i < scriptLength && script[i] == 0xEE) reply[2] = 0x05;
        else if (i < scriptLength) reply[3] = script[i];
        const std::size_t n = std::min(buffer.size(), sizeof reply);
        std::memcpy(buffer.data(), reply, n);
        return static_cast<long>(n);
    }
    void log(LogLevel, std::string_view) override {}
    void condition(const PrinterConditions&) override {}

private:
    std::mutex mutex_;
    int unanswered_ = 0;
    int next_ = 0;
};

// Keeps each run short: streams with a page whose buffer would pass 16 MiB, with more than
// 3 copies or with 8 pages are skipped (the bad-input tests run the absurd sizes through
// the built filter). Reads the headers and skips the rows.
bool withinFuzzBounds()
{
    const int fd = ::open(rasterPath.c_str(), O_RDONLY);
    cups_raster_t* r = cupsRasterOpen(fd, CUPS_RASTER_READ);
    cups_page_header2_t h;
    bool ok = true;
    int pages = 0;
    std::vector<unsigned char> row;
    while (ok && ++pages < 8 && cupsRasterReadHeader2(r, &h) != 0) {
        const std::uint64_t stride = std::max<std::uint64_t>(h.cupsBytesPerLine, (std::uint64_t{h.cupsWidth} * 24 + 31) / 32 * 4);
        ok = stride * (h.cupsHeight + 560ull) * 3 <= (16u << 20) && h.NumCopies <= 3;
        row.resize(std::clamp(h.cupsBytesPerLine, 1u, 1u << 20));
        for (unsigned y = 0; ok && y < h.cupsHeight && row.size() == h.cupsBytesPerLine; ++y)
            if (cupsRasterReadPixels(r, row.data(), h.cupsBytesPerLine) == 0) break;
    }
    cupsRasterClose(r);
    ::close(fd);
    return ok && pages < 8;
}

}  // namespace

// libcups callocs a row buffer as long as a (compressed) page's header asks, up to 4 GiB,
// before anyone can look at the header; AddressSanitizer then writes a shadow byte for
// every 8 of it, twice, and that cost most inputs seconds and the run half a GiB. Such an
// allocation fails at once instead: libcups refuses the header, and nothing this target
// lets through (pages up to 16 MiB) comes near the limit.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=256"; }

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char name[] = "/tmp/zorvan-fuzz-raster-XXXXXX";
    ::close(::mkstemp(name));
    rasterPath = name;
    std::atexit([] { ::unlink(rasterPath.c_str()); });
    ::setenv("PPD", ZORVAN_PPD_BUILD_DIR "/zorvan.ppd", 1);
    // 1 ms, not 0: a zero period gives a copy no time at all for its acknowledgement.
    ::setenv("ZORVAN_TEST_WAIT_MS", "1", 1);
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
    for (int i = 0; i < n; ++i) script[i] = in.byte();
    scriptLength = n;
    const auto rest = in.rest();
    if (rest.empty()) return 0;
    const auto* nul = static_cast<const std::uint8_t*>(std::memchr(rest.data(), 0, rest.size()));
    if (nul == nullptr) return 0;
    std::string options(rest.data(), nul);
    std::ofstream(rasterPath, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(nul + 1), rest.data() + rest.size() - nul - 1);
    if (!withinFuzzBounds()) return 0;
    char* argv[] = {const_cast<char*>("rastertozorvan"), const_cast<char*>("1"), const_cast<char*>("fuzz"),
                    const_cast<char*>("title"), const_cast<char*>("1"), options.data(), rasterPath.data(), nullptr};
    ScriptedPrinter printer;
    const int status = rastertozorvanMain(7, argv, printer);
    if (status != 0 && status != 1) __builtin_trap();  // a filter exits 0 or 1, nothing else
    return 0;
}
