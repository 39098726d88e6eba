// Settings from PPD text and a job option string, through initializeSettings, every
// getter and the encoders that take settings. Input: the PPD text, then a NUL byte, then
// the option string (no NUL: all PPD text, no options).
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "core/Functions.h"
#include "filter/settingsThermalSensitivityPara.h"

namespace {

std::string ppdPath;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char name[] = "/tmp/zorvan-fuzz-ppd-XXXXXX";
    ::close(::mkstemp(name));
    ppdPath = name;
    ::setenv("PPD", name, 1);
    std::atexit([] { ::unlink(ppdPath.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto* nul = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
    const std::size_t ppdSize = nul != nullptr ? static_cast<std::size_t>(nul - data) : size;
    std::ofstream(ppdPath, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), static_cast<long>(ppdSize));
    const std::string options = nul != nullptr ? std::string(reinterpret_cast<const char*>(nul + 1), size - ppdSize - 1) : "";
    initializeSettings(options.c_str());
    // Every getter must give a value, whatever was stored, and the encoders must take any of them.
    volatile unsigned sink = 0u + GetPaperMode() + GetDensity() + GetOpeningFeed() + GetBrightness() + GetContrast() +
                        GetBinarizationAlgorithm() + GetThreshholdByManual() + HorizontalOffset() + VerticalOffset() +
                        GetBlackAndWhiteInversion() + GetPaperCutMode() + GetAfterPrintFeed() + GetMediaTypeSet() +
                        GetsetBlackMarkOffset() + GetBlackMarkOffset() + GetPaperSaveMode() + GetpageHeaderBlank() +
                        GetEndBlank() + GetAlignment();
    (void)sink;
    curPagePos = 0;
    setPaperMode(GetPaperMode());
    setStartFeed(GetOpeningFeed());
    setDensity(GetDensity());
    setAlign(static_cast<unsigned>(GetAlignment()));
    curPagePos = 0;
    return 0;
}
