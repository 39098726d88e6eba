// Settings from PPD text and a job option string, through initializeSettings
// and every getter. Input: the PPD text, then a NUL byte, then the option
// string (no NUL: everything is PPD text and there are no options).
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzFiles.h"
#include "filter/Functions.h"
#include "filter/settingsThermalSensitivityPara.h"

namespace {

std::string ppdPath;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    ppdPath = makeScratchFile("zorvan-fuzz-ppd");
    ::setenv("PPD", ppdPath.c_str(), 1);
    std::atexit([] { ::unlink(ppdPath.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto* nul = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
    const std::size_t ppdSize = nul != nullptr ? static_cast<std::size_t>(nul - data) : size;
    writeScratchFile(ppdPath, data, ppdSize);
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
