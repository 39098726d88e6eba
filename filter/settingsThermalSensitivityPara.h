// Print settings: one integer per PPD option, read once per job.
#pragma once

#include <cups/ppd.h>

struct settingsThermalSensitivityPara {
    int MediaType;
    int Density;
    int Openingfeed;
    int Brightness;
    int Contrast;
    int Imagealgorithm;
    int Threshold;
    int HorizontalOffset;
    int VerticalOffset;
    int BlackAndWhiteInversion;
    int PaperCutMode;
    int AfterPrintFeed;
    int MediaTypeSet;
    int setBlackMarkOffset;
    int BlackMarkOffset;
    int PaperSaveMode;
    int PageHeaderBlank;
    int EndBlank;
};

extern settingsThermalSensitivityPara settingsThermalSensitivity;

// Reads the PPD named by $PPD, marks its defaults and then the job's options,
// and fills settingsThermalSensitivity (-1 for an option that is missing).
void initializeSettings(const char* options);

// The leading number of the option's chosen choice keyword, or -1.
int getOptionChoiceIndex(const char* keyword, ppd_file_t* ppd);
