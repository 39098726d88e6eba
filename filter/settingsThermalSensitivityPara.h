// Print settings from the PPD: one integer per option, read once per job.
#pragma once

#include <cups/ppd.h>

#include "settings/printSettings.h"

// Reads the PPD named by $PPD, marks its defaults and then the job's options,
// and returns the settings (-1 for an option that is missing).
settingsThermalSensitivityPara readPpdSettings(const char* options);

// readPpdSettings into the settings in use.
void initializeSettings(const char* options);

// The leading number of the option's chosen choice keyword, or -1.
int getOptionChoiceIndex(const char* keyword, ppd_file_t* ppd);
