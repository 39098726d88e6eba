#include "app/appSettings.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>

namespace {

constexpr AppSetting::Choice conversions[] = {
    {"automatic-threshold", 0, "Automatic threshold (Otsu), best for text and receipts"},
    {"ordered-dither-8x8", 2, "Ordered dither 8x8"},
    {"ordered-dither-16x16", 3, "Ordered dither 16x16"},
    {"floyd-steinberg", 7, "Error diffusion, Floyd-Steinberg, best for photos"},
    {"burkes", 8, "Error diffusion, Burkes"},
    {"sierra", 9, "Error diffusion, Sierra"},
    {"fixed-threshold", 10, "Fixed threshold (set the threshold below)"},
    {"stucki", 11, "Error diffusion, Stucki"},
    {"text-and-pictures", 12, "Automatic, sharp text and dithered pictures"},
};
constexpr AppSetting::Choice paperSavings[] = {{"off", 0, "Off"},
                                               {"top", 1, "Skip blank space at the top"},
                                               {"bottom", 2, "Skip blank space at the bottom"},
                                               {"top-and-bottom", 3, "Skip blank space at top and bottom"}};
// "auto": the paper type of the job's media (media-type), see paperTypeOfMedia.
constexpr int paperTypeFromMedia = 0;
constexpr AppSetting::Choice paperTypes[] = {
    {"auto", paperTypeFromMedia, "As the media type says (continuous, labels or black mark)"},
    {"continuous", 1, "Continuous receipt paper"},
    {"continuous-long-feed", 2, "Continuous paper, long tear-off feed"},
    {"black-mark", 3, "Black mark paper"},
    {"label-gap", 4, "Label paper (gap)"}};
constexpr AppSetting::Choice printerChecks[] = {
    {"standard", 0, "Standard (asks about once a second)"},
    {"quick", 1, "Quick (asks in quick succession until ready)"},
    {"off", 2, "Off (the printer cannot answer)"}};
// The cut a job gets without finishings, and the kind of cut trim makes.
constexpr AppSetting::Choice cuts[] = {{"none", 0, "No cut (a job asking for trim: full cut after each copy)"},
                                       {"partial-each-copy", 1, "Partial cut after each copy"},
                                       {"full-each-copy", 2, "Full cut after each copy"},
                                       {"partial-end-of-job", 3, "Partial cut at the end of the job"},
                                       {"full-end-of-job", 4, "Full cut at the end of the job"}};

using Kind = AppSetting::Kind;
using S = settingsThermalSensitivityPara;

// Defaults are those of the filter's PPD. Lengths are in millimetres: the
// printer moves the paper 8 dots a millimetre.
constexpr AppSetting settings[] = {
    {"zorvan-paper-type", Kind::Keyword, paperTypes, 0, 0, paperTypeFromMedia, &S::MediaType, "Paper type", "",
     "Continuous paper gets 15 mm of blank paper below each copy to tear it off at (70 mm with the long feed); "
     "label and black mark paper get none."},
    {"zorvan-store-paper-type", Kind::Boolean, {}, 0, 1, 0, &S::MediaTypeSet, "Tell the printer the paper type", "",
     "Sends the paper type with every copy, so that the printer stops at the gap or the black mark."},
    {"zorvan-cut", Kind::Keyword, cuts, 0, 0, 0, &S::PaperCutMode, "Paper cut", "",
     "Each copy is cut once it and its tear-off paper are out, or the paper is cut once after the job's last copy."},
    {"zorvan-feed-before", Kind::Range, {}, 0, 40, 0, &S::Openingfeed, "Feed before printing", "mm",
     "Blank paper fed before each copy."},
    {"zorvan-feed-after", Kind::Range, {}, 0, 40, 0, &S::AfterPrintFeed, "Feed after printing", "mm",
     "Blank paper added below each copy, after the tear-off paper."},
    {"zorvan-paper-saving", Kind::Keyword, paperSavings, 0, 0, 2, &S::PaperSaveMode, "Skip blank paper", "",
     "Leaves out the blank rows at the top or the bottom of a page."},
    {"zorvan-blank-top", Kind::Range, {}, 0, 20, 0, &S::PageHeaderBlank, "Blank space kept at the top", "mm",
     "How much of a skipped blank top stays; acts only when blank space at the top is skipped."},
    {"zorvan-blank-bottom", Kind::Range, {}, 0, 20, 2, &S::EndBlank, "Blank space kept at the bottom", "mm",
     "How much of a skipped blank bottom stays; acts only when blank space at the bottom is skipped."},
    {"zorvan-conversion", Kind::Keyword, conversions, 0, 0, 12, &S::Imagealgorithm, "Black and white conversion", "",
     "How gray and colour become the head's black dots."},
    {"zorvan-threshold", Kind::Range, {}, 0, 255, 0, &S::Threshold, "Black and white threshold", "level 0-255",
     "For the fixed threshold: the gray level that divides black from white."},
    {"zorvan-brightness", Kind::Range, {}, -100, 100, 0, &S::Brightness, "Brightness", "%",
     "Lightens (above 0) or darkens (below 0) the page before conversion."},
    {"zorvan-contrast", Kind::Range, {}, -100, 100, 0, &S::Contrast, "Contrast", "%",
     "Raises (above 0) or lowers (below 0) the contrast before conversion."},
    {"zorvan-inversion", Kind::Boolean, {}, 0, 1, 0, &S::BlackAndWhiteInversion, "White on black", "",
     "Prints the page inverted; the tear-off paper below it stays blank."},
    {"zorvan-printer-check", Kind::Keyword, printerChecks, 0, 0, 1, &S::PrinterCheck, "Printer check", "",
     "How the driver asks the printer whether it is ready; Off for a connection that carries nothing back "
     "(paper out or an open cover then cannot be reported)."},
};

const char* keywordOf(const AppSetting& s, int value)
{
    for (const AppSetting::Choice& c : s.choices) {
        if (c.value == value) {
            return c.keyword;
        }
    }
    return s.choices.front().keyword;
}

// The value of one setting from its IPP text; the default when the text is
// missing or not one of the setting's values (PAPPL has checked it already).
int valueOf(const AppSetting& s, const char* text)
{
    if (text == nullptr) {
        return s.defaultValue;
    }
    switch (s.kind) {
    case Kind::Keyword:
        for (const AppSetting::Choice& c : s.choices) {
            if (std::strcmp(c.keyword, text) == 0) {
                return c.value;
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

// The paper type (the PPD's MediaType) of a media-type keyword: label and
// black-mark rolls, else continuous paper.
int paperTypeOfMedia(const char* mediaType)
{
    for (const MediaType& type : mediaTypes) {
        if (std::strcmp(type.keyword, mediaType) == 0) {
            return type.paperType;
        }
    }
    return 1;
}

}  // namespace

void addSettingAttributes(pappl_pr_driver_data_t& data, ipp_t* attrs)
{
    data.num_vendor = 0;
    for (const AppSetting& s : settings) {
        data.vendor[data.num_vendor++] = s.name;
        const std::string supported = std::string(s.name) + "-supported";
        const std::string byDefault = std::string(s.name) + "-default";
        switch (s.kind) {
        case Kind::Keyword: {
            const char* keywords[16];
            for (std::size_t i = 0; i < s.choices.size(); ++i) {
                keywords[i] = s.choices[i].keyword;
            }
            ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, supported.c_str(), static_cast<int>(s.choices.size()),
                          nullptr, keywords);
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

std::span<const AppSetting> appSettings() { return settings; }

bool acceptsValue(const AppSetting& s, const char* text)
{
    if (s.kind == Kind::Boolean) {
        return std::strcmp(text, "true") == 0 || std::strcmp(text, "false") == 0;
    }
    if (s.kind == Kind::Keyword) {
        return std::any_of(s.choices.begin(), s.choices.end(),
                           [text](const AppSetting::Choice& c) { return std::strcmp(c.keyword, text) == 0; });
    }
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && value >= s.low && value <= s.high;
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
    result.setBlackMarkOffset = 0;
    result.BlackMarkOffset = 0;
    result.HorizontalOffset = 0;
    result.VerticalOffset = 0;
    result.Density = densityLevel(options.darkness_configured, options.print_darkness);
    for (const AppSetting& s : settings) {
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
    if (result.MediaType == paperTypeFromMedia) {
        result.MediaType = paperTypeOfMedia(options.media.type);
    }
    // IPP's trim is the cutter: the kind zorvan-cut names, a full cut after
    // each copy when it names none.
    if ((options.finishings & PAPPL_FINISHINGS_TRIM) != 0 && result.PaperCutMode == 0) {
        result.PaperCutMode = 2;
    }
    return result;
}
