// The printer's settings as IPP attributes: print darkness onto the density
// command and the vendor attributes for the rest of the filter's PPD options.
// Their defaults live in the printer's driver attributes (settable in the web
// page); a job may give its own values.
#pragma once

#include <pappl/pappl.h>

#include "settings/printSettings.h"

// Adds every vendor attribute's "-supported" and "-default" to `attrs` and
// names them in `data`.
void addSettingAttributes(pappl_pr_driver_data_t& data, ipp_t* attrs);

// The job's settings record: its vendor options, else the printer's defaults
// (PAPPL 1.3 hands a job only the vendor attributes it names), and its
// darkness; what IPP does not offer keeps the PPD's default.
settingsThermalSensitivityPara jobSettings(const pappl_pr_options_t& options, pappl_printer_t* printer);

// Whether the printer is asked for its condition by default (its printer
// check is not "off": a printer with no way back must not be asked).
bool printerIsAsked(pappl_printer_t* printer);

// Density level 1 (lightest) to 7 (darkest) of a configured darkness (0-100)
// shifted by a job's print-darkness (-100 to 100).
int densityLevel(int darknessConfigured, int printDarkness);
