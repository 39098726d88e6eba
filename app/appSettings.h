// The printer's settings as IPP attributes: print darkness onto the density
// command and the vendor attributes for the rest of the filter's PPD options.
// Their defaults live in the printer's driver attributes (settable in the web
// page); a job may give its own values.
#pragma once

#include <pappl/pappl.h>

#include <span>

#include "settings/printSettings.h"

// One of the driver's settings as a vendor attribute: its IPP name and
// values, the settings field it fills, and what a person reads about it.
struct AppSetting {
    struct Choice {
        const char* keyword;
        int value;  // the number the filter's PPD choice carries
        const char* label;
    };
    enum class Kind { Keyword, Range, Boolean };
    const char* name;
    Kind kind;
    std::span<const Choice> choices;  // Keyword
    int low, high;                    // Range
    int defaultValue;
    int settingsThermalSensitivityPara::*field;
    const char* label;
    const char* unit;  // of a Range: "mm" for lengths
    const char* help;
};

// The driver's settings, in the order a person reads them.
std::span<const AppSetting> appSettings();

// Whether `text` is one of the setting's values as IPP writes it.
bool acceptsValue(const AppSetting& s, const char* text);

// The media types the printers take, and the paper type (the PPD's
// MediaType) each stands for.
struct MediaType {
    const char* keyword;
    int paperType;
};
inline constexpr MediaType mediaTypes[] = {{"continuous", 1}, {"labels", 4}, {"black-mark", 3}};

// Adds every vendor attribute's "-supported" and "-default" to `attrs` and
// names them in `data`.
void addSettingAttributes(pappl_pr_driver_data_t& data, ipp_t* attrs);

// The job's settings record: its vendor options, else the printer's defaults
// (PAPPL 1.3 hands a job only the vendor attributes it names), and its
// darkness; what IPP does not offer keeps the PPD's default. The paper type
// follows the media's type unless zorvan-paper-type names one; finishings
// trim cuts the paper as zorvan-cut says (after each copy when it says none).
settingsThermalSensitivityPara jobSettings(const pappl_pr_options_t& options, pappl_printer_t* printer);

// Whether the printer is asked for its condition by default (its printer
// check is not "off": a printer with no way back must not be asked).
bool printerIsAsked(pappl_printer_t* printer);

// Density level 1 (lightest) to 7 (darkest) of a configured darkness (0-100)
// shifted by a job's print-darkness (-100 to 100).
int densityLevel(int darknessConfigured, int printDarkness);
