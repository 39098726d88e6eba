// Writes small PPD files for tests.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace testsupport {

// A PPD that carries the given options, each "Keyword" -> {default, choices...}.
std::string ppdText(const std::map<std::string, std::vector<std::string>>& options);

// The same with each option's only choice `value` as its default.
std::string ppdWithDefaults(const std::map<std::string, std::string>& defaults);

}  // namespace testsupport
