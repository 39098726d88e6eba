// Settings from PPD text and a job option string, through initializeSettings
// and every getter. Input: the PPD text, then a NUL byte, then the option
// string (no NUL: everything is PPD text and there are no options).
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "filter/Functions.h"
#include "filter/settingsThermalSensitivityPara.h"

namespace {

std::string ppdPath;

void writePpd(const std::uint8_t* data, std::size_t size)
{
    const int fd = ::open(ppdPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) {
        std::abort();  // the harness itself is broken, not the code under test
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) {
            std::abort();
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char pattern[] = "/tmp/zorvan-fuzz-ppd-XXXXXX";
    const int fd = ::mkstemp(pattern);
    if (fd < 0) {
        std::abort();
    }
    ::close(fd);
    ppdPath = pattern;
    ::setenv("PPD", ppdPath.c_str(), 1);
    std::atexit([] { ::unlink(ppdPath.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto* nul = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
    const std::size_t ppdSize = nul != nullptr ? static_cast<std::size_t>(nul - data) : size;
    writePpd(data, ppdSize);
    const std::string options = nul != nullptr ? std::string(reinterpret_cast<const char*>(nul + 1), size - ppdSize - 1)
                                               : std::string();

    initializeSettings(options.c_str());

    // Every getter must give a value without trapping, whatever was stored,
    // and the encoders that take settings must take any of them.
    const int getters[] = {GetPaperMode(), GetDensity(), GetOpeningFeed(), GetBrightness(), GetContrast(),
                           GetBinarizationAlgorithm(), GetThreshholdByManual(), HorizontalOffset(), VerticalOffset(),
                           GetBlackAndWhiteInversion(), GetPaperCutMode(), GetAfterPrintFeed(), GetMediaTypeSet(),
                           GetsetBlackMarkOffset(), GetBlackMarkOffset(), GetPaperSaveMode(), GetpageHeaderBlank(),
                           GetEndBlank(), GetAlignment()};
    volatile unsigned sink = 0;
    for (int v : getters) {
        sink = sink + static_cast<unsigned>(v);
    }
    curPagePos = 0;
    setPaperMode(GetPaperMode());
    setStartFeed(GetOpeningFeed());
    setDensity(GetDensity());
    setAlign(static_cast<unsigned>(GetAlignment()));
    curPagePos = 0;
    return 0;
}
