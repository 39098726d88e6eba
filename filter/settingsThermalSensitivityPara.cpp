#include "filter/settingsThermalSensitivityPara.h"

#include "diagnostics/jobLog.h"

#include <cups/cups.h>

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

// libcups marks the whole PPD interface deprecated; it is still the way a
// CUPS filter reads its printer's PPD, so the warning is silenced here only.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

struct PpdCloser {
    void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using PpdFile = std::unique_ptr<ppd_file_t, PpdCloser>;

// The job's parsed options, freed when the list goes out of scope.
class OptionList {
public:
    explicit OptionList(const char* text) { count_ = cupsParseOptions(text, 0, &options_); }
    ~OptionList()
    {
        if (options_ != nullptr) {
            cupsFreeOptions(count_, options_);
        }
    }
    OptionList(const OptionList&) = delete;
    OptionList& operator=(const OptionList&) = delete;
    int count() const { return count_; }
    cups_option_t* options() const { return options_; }

private:
    int count_ = 0;
    cups_option_t* options_ = nullptr;
};

PpdFile openJobPpd()
{
    const char* name = std::getenv("PPD");
    if (name == nullptr) {
        return nullptr;
    }
    PpdFile ppd(ppdOpenFile(name));
    if (!ppd) {
        // The job goes on without settings, but the user must learn why every
        // setting is missing (an 8-bit page then fails for want of a binarization).
        int line = 0;
        const ppd_status_t why = ppdLastError(&line);
        cupsLog(LogLevel::Error, "Unable to read the PPD file \"%s\": %s (line %d); the print settings are missing.",
                     name, ppdErrorString(why), line);
    }
    return ppd;
}

// The options this filter reads.
constexpr const char* settingKeywords[] = {
    "MediaType", "Density", "Openingfeed", "Brightness", "Contrast", "Imagealgorithm",
    "Threshold", "HorizontalOffset", "VerticalOffset", "Blackandwhiteinversion", "PaperCutMode", "AfterFeed",
    "BlackMarkOffset", "setBlackMarkOffset", "MediaTypeSet", "PaperSaveMode", "PageHeaderBlank", "EndBlank"};

// A job option that names one of the settings with a value the PPD does not
// offer is left unmarked by libcups, so the PPD's default applies; say so.
void reportUnknownChoices(ppd_file_t* ppd, const OptionList& jobOptions)
{
    for (int i = 0; i < jobOptions.count(); ++i) {
        const cups_option_t& option = jobOptions.options()[i];
        bool ours = false;
        for (const char* keyword : settingKeywords) {
            ours = ours || strcasecmp(option.name, keyword) == 0;
        }
        ppd_option_t* ppdOption = ours ? ppdFindOption(ppd, option.name) : nullptr;
        if (ppdOption != nullptr && ppdFindChoice(ppdOption, option.value) == nullptr) {
            cupsLog(LogLevel::Error, "Option %s=%s is not one of the printer's choices; using %s=%s.",
                         option.name, option.value, ppdOption->keyword, ppdOption->defchoice);
        }
    }
}

}  // namespace

int getOptionChoiceIndex(const char* keyword, ppd_file_t* ppd)
{
    if (ppd == nullptr) {
        return -1;
    }
    ppd_choice_t* choice = ppdFindMarkedChoice(ppd, keyword);
    if (choice == nullptr) {
        ppd_option_t* option = ppdFindOption(ppd, keyword);
        if (option == nullptr) {
            return -1;
        }
        choice = ppdFindChoice(option, option->defchoice);
        if (choice == nullptr) {
            return -1;
        }
    }
    // The choice carries its value as the leading number of its keyword,
    // read as atoi reads it (blanks, sign, digits; anything else gives 0).
    // strtol keeps an over-long number defined where atoi would not be.
    return static_cast<int>(std::strtol(choice->choice, nullptr, 10));
}

settingsThermalSensitivityPara readPpdSettings(const char* options)
{
    PpdFile ppd = openJobPpd();
    if (ppd) {
        ppdMarkDefaults(ppd.get());
        OptionList jobOptions(options);
        if (jobOptions.count() > 0) {
            cupsMarkOptions(ppd.get(), jobOptions.count(), jobOptions.options());
            reportUnknownChoices(ppd.get(), jobOptions);
        }
    }

    settingsThermalSensitivityPara s = {};
    ppd_file_t* p = ppd.get();
    s.MediaType = getOptionChoiceIndex("MediaType", p);
    s.Density = getOptionChoiceIndex("Density", p);
    s.Openingfeed = getOptionChoiceIndex("Openingfeed", p);
    s.Brightness = getOptionChoiceIndex("Brightness", p);
    s.Contrast = getOptionChoiceIndex("Contrast", p);
    s.Imagealgorithm = getOptionChoiceIndex("Imagealgorithm", p);
    s.Threshold = getOptionChoiceIndex("Threshold", p);
    s.HorizontalOffset = getOptionChoiceIndex("HorizontalOffset", p);
    s.VerticalOffset = getOptionChoiceIndex("VerticalOffset", p);
    s.BlackAndWhiteInversion = getOptionChoiceIndex("Blackandwhiteinversion", p);
    s.PaperCutMode = getOptionChoiceIndex("PaperCutMode", p);
    s.AfterPrintFeed = getOptionChoiceIndex("AfterFeed", p);
    s.BlackMarkOffset = getOptionChoiceIndex("BlackMarkOffset", p);
    s.setBlackMarkOffset = getOptionChoiceIndex("setBlackMarkOffset", p);
    s.MediaTypeSet = getOptionChoiceIndex("MediaTypeSet", p);
    s.PaperSaveMode = getOptionChoiceIndex("PaperSaveMode", p);
    s.PageHeaderBlank = getOptionChoiceIndex("PageHeaderBlank", p);
    s.EndBlank = getOptionChoiceIndex("EndBlank", p);
    s.PrinterCheck = getOptionChoiceIndex("PrinterCheck", p);

    cupsLog(LogLevel::Debug, "PPD MediaType=%d", s.MediaType);
    cupsLog(LogLevel::Debug, "PPD Density=%d", s.Density);
    cupsLog(LogLevel::Debug, "PPD Openingfeed=%d", s.Openingfeed);
    cupsLog(LogLevel::Debug, "PPD Brightness=%d", s.Brightness);
    cupsLog(LogLevel::Debug, "PPD Contrast=%d", s.Contrast);
    cupsLog(LogLevel::Debug, "PPD Imagealgorithm=%d", s.Imagealgorithm);
    cupsLog(LogLevel::Debug, "PPD Threshold=%d", s.Threshold);
    cupsLog(LogLevel::Debug, "PPD HorizontalOffset=%d", s.HorizontalOffset);
    cupsLog(LogLevel::Debug, "PPD VerticalOffset=%d", s.VerticalOffset);
    cupsLog(LogLevel::Debug, "PPD BlackAndWhiteInversion=%d", s.BlackAndWhiteInversion);
    cupsLog(LogLevel::Debug, "PPD PaperCutMode=%d", s.PaperCutMode);
    cupsLog(LogLevel::Debug, "PPD AfterPrintFeed=%d", s.AfterPrintFeed);
    cupsLog(LogLevel::Debug, "PPD BlackMarkOffset=%d", s.BlackMarkOffset);
    cupsLog(LogLevel::Debug, "PPD setBlackMarkOffset=%d", s.setBlackMarkOffset);
    cupsLog(LogLevel::Debug, "PPD MediaTypeSet=%d", s.MediaTypeSet);
    cupsLog(LogLevel::Debug, "PPD PaperSaveMode=%d", s.PaperSaveMode);
    cupsLog(LogLevel::Debug, "PPD PageHeaderBlank=%d", s.PageHeaderBlank);
    cupsLog(LogLevel::Debug, "PPD EndBlank=%d", s.EndBlank);
    if (s.PrinterCheck >= 0) {
        cupsLog(LogLevel::Debug, "PPD PrinterCheck=%d", s.PrinterCheck);
    }
    // The PPD closes here, when `ppd` goes out of scope.
    return s;
}

void initializeSettings(const char* options) { settingsThermalSensitivity = readPpdSettings(options); }

#pragma GCC diagnostic pop
