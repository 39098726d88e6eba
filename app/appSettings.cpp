#include "app/appSettings.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>

namespace {

struct Choice {
    const char* keyword;
    int value;  // the number the filter's PPD choice carries
};

constexpr Choice conversions[] = {
    {"automatic-threshold", 0}, {"ordered-dither-8x8", 2}, {"ordered-dither-16x16", 3}, {"floyd-steinberg", 7},
    {"burkes", 8},              {"sierra", 9},             {"fixed-threshold", 10},     {"stucki", 11},
    {"text-and-pictures", 12},
};
constexpr Choice paperSavings[] = {{"off", 0}, {"top", 1}, {"bottom", 2}, {"top-and-bottom", 3}};
constexpr Choice printerChecks[] = {{"standard", 0}, {"quick", 1}, {"off", 2}};
constexpr Choice paperTypes[] = {
    {"continuous", 1}, {"continuous-long-feed", 2}, {"black-mark", 3}, {"label-gap", 4}};

enum class Kind { Keyword, Range, Boolean };

struct Setting {
    const char* name;
    Kind kind;
    const Choice* choices;  // Keyword
    int choiceCount;
    int low, high;  // Range
    int defaultValue;
    int settingsThermalSensitivityPara::*field;
};

// Defaults are those of the filter's PPD.
const Setting settings[] = {
    {"zorvan-conversion", Kind::Keyword, conversions, static_cast<int>(std::size(conversions)), 0, 0, 12,
     &settingsThermalSensitivityPara::Imagealgorithm},
    {"zorvan-threshold", Kind::Range, nullptr, 0, 0, 255, 0, &settingsThermalSensitivityPara::Threshold},
    {"zorvan-brightness", Kind::Range, nullptr, 0, -100, 100, 0, &settingsThermalSensitivityPara::Brightness},
    {"zorvan-contrast", Kind::Range, nullptr, 0, -100, 100, 0, &settingsThermalSensitivityPara::Contrast},
    {"zorvan-inversion", Kind::Boolean, nullptr, 0, 0, 1, 0,
     &settingsThermalSensitivityPara::BlackAndWhiteInversion},
    {"zorvan-paper-saving", Kind::Keyword, paperSavings, static_cast<int>(std::size(paperSavings)), 0, 0, 2,
     &settingsThermalSensitivityPara::PaperSaveMode},
    {"zorvan-blank-top", Kind::Range, nullptr, 0, 0, 20, 0, &settingsThermalSensitivityPara::PageHeaderBlank},
    {"zorvan-blank-bottom", Kind::Range, nullptr, 0, 0, 20, 2, &settingsThermalSensitivityPara::EndBlank},
    {"zorvan-feed-before", Kind::Range, nullptr, 0, 0, 40, 0, &settingsThermalSensitivityPara::Openingfeed},
    {"zorvan-feed-after", Kind::Range, nullptr, 0, 0, 40, 0, &settingsThermalSensitivityPara::AfterPrintFeed},
    {"zorvan-paper-type", Kind::Keyword, paperTypes, static_cast<int>(std::size(paperTypes)), 0, 0, 1,
     &settingsThermalSensitivityPara::MediaType},
    {"zorvan-printer-check", Kind::Keyword, printerChecks, static_cast<int>(std::size(printerChecks)), 0, 0, 1,
     &settingsThermalSensitivityPara::PrinterCheck},
};

const char* keywordOf(const Setting& s, int value)
{
    for (int i = 0; i < s.choiceCount; ++i) {
        if (s.choices[i].value == value) {
            return s.choices[i].keyword;
        }
    }
    return s.choices[0].keyword;
}

// The value of one setting from its IPP text; the default when the text is
// missing or not one of the setting's values (PAPPL has checked it already).
int valueOf(const Setting& s, const char* text)
{
    if (text == nullptr) {
        return s.defaultValue;
    }
    switch (s.kind) {
    case Kind::Keyword:
        for (int i = 0; i < s.choiceCount; ++i) {
            if (std::strcmp(s.choices[i].keyword, text) == 0) {
                return s.choices[i].value;
            }
        }
        return s.defaultValue;
    case Kind::Boolean:
        return std::strcmp(text, "true") == 0 ? 1 : 0;
    case Kind::Range:
        break;
    }
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < s.low || value > s.high) {
        return s.defaultValue;
    }
    return static_cast<int>(value);
}

}  // namespace

void addSettingAttributes(pappl_pr_driver_data_t& data, ipp_t* attrs)
{
    data.num_vendor = 0;
    for (const Setting& s : settings) {
        data.vendor[data.num_vendor++] = s.name;
        const std::string supported = std::string(s.name) + "-supported";
        const std::string byDefault = std::string(s.name) + "-default";
        switch (s.kind) {
        case Kind::Keyword: {
            const char* keywords[16];
            for (int i = 0; i < s.choiceCount; ++i) {
                keywords[i] = s.choices[i].keyword;
            }
            ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, supported.c_str(), s.choiceCount, nullptr,
                          keywords);
            ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, byDefault.c_str(), nullptr,
                         keywordOf(s, s.defaultValue));
            break;
        }
        case Kind::Range:
            ippAddRange(attrs, IPP_TAG_PRINTER, supported.c_str(), s.low, s.high);
            ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, byDefault.c_str(), s.defaultValue);
            break;
        case Kind::Boolean:
            ippAddBoolean(attrs, IPP_TAG_PRINTER, supported.c_str(), 1);
            ippAddBoolean(attrs, IPP_TAG_PRINTER, byDefault.c_str(), s.defaultValue != 0);
            break;
        }
    }
}

bool printerIsAsked(pappl_printer_t* printer)
{
    ipp_t* defaults = papplPrinterGetDriverAttributes(printer);
    ipp_attribute_t* check = ippFindAttribute(defaults, "zorvan-printer-check-default", IPP_TAG_KEYWORD);
    const bool off = check != nullptr && std::strcmp(ippGetString(check, 0, nullptr), "off") == 0;
    ippDelete(defaults);
    return !off;
}

int densityLevel(int darknessConfigured, int printDarkness)
{
    const int darkness = std::clamp(darknessConfigured + printDarkness, 0, 100);
    return 1 + (darkness * 6 + 50) / 100;
}

settingsThermalSensitivityPara jobSettings(const pappl_pr_options_t& options, pappl_printer_t* printer)
{
    struct IppDeleter {
        void operator()(ipp_t* ipp) const { ippDelete(ipp); }
    };
    const std::unique_ptr<ipp_t, IppDeleter> defaults(papplPrinterGetDriverAttributes(printer));
    // What the app does not offer: the PPD's defaults.
    settingsThermalSensitivityPara result = {};
    result.MediaTypeSet = 0;
    result.setBlackMarkOffset = 0;
    result.BlackMarkOffset = 0;
    result.PaperCutMode = 0;
    result.HorizontalOffset = 0;
    result.VerticalOffset = 0;
    result.Density = densityLevel(options.darkness_configured, options.print_darkness);
    for (const Setting& s : settings) {
        const char* text = cupsGetOption(s.name, options.num_vendor, options.vendor);
        char byDefault[256] = "";
        if (text == nullptr) {
            const std::string name = std::string(s.name) + "-default";
            if (ipp_attribute_t* attr = ippFindAttribute(defaults.get(), name.c_str(), IPP_TAG_ZERO)) {
                ippAttributeString(attr, byDefault, sizeof byDefault);
                text = byDefault;
            }
        }
        result.*s.field = valueOf(s, text);
    }
    return result;
}
