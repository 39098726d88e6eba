// The print settings a job uses: one integer per PPD option (-1 for an option
// the printer does not offer). Front ends fill the record from wherever their
// settings come from (the filter from its PPD and job options) and hand it to
// the core as a value; the getters of Functions.h read the copy in use.
#pragma once

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

// The settings in use (the running session's).
extern settingsThermalSensitivityPara settingsThermalSensitivity;
