// Writes small PPD files for tests: a valid header and page size, plus the
// options a test asks for, each with its choices and default.
#pragma once

#include <string>
#include <vector>

#include "support/Process.h"

namespace testsupport {

struct PpdOption {
    std::string keyword;               // e.g. "Density"
    std::string defaultChoice;         // e.g. "3"
    std::vector<std::string> choices;  // choice keywords; the default is added if missing
};

// The 18 print-setting options of the driver, each with a few numbered
// choices and the default given (a plain receipt setup: Otsu, density 4,
// normal print, paper saving off, everything else 0; paper mode 1).
std::vector<PpdOption> settingsOptions();

// Sets the default of `keyword` in `options` (adding the choice, or the whole
// option, when missing).
void setPpdDefault(std::vector<PpdOption>& options, const std::string& keyword, const std::string& choice);

// Removes an option, so that the driver reads it as missing.
void removePpdOption(std::vector<PpdOption>& options, const std::string& keyword);

// The full text of a PPD carrying `options`.
std::string ppdText(const std::vector<PpdOption>& options);

// Writes the PPD into `dir` and returns its path.
std::string writePpd(const TempDir& dir, const std::vector<PpdOption>& options,
                     const std::string& fileName = "printer.ppd");

// Convenience: all settings options with the given defaults changed.
std::string writeSettingsPpd(const TempDir& dir,
                             const std::vector<std::pair<std::string, std::string>>& defaults = {},
                             const std::string& fileName = "printer.ppd");

}  // namespace testsupport
