// The print settings a job uses: one integer per PPD option (-1 for an option
// the printer does not offer), and the getters through which everyone reads
// them. Front ends fill the record from wherever their settings come from (the
// filter from its PPD and job options); the printing core keeps a copy in each
// job and reads it with the getters that take the record.
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
    int PrinterCheck;  // how the printer is asked before printing (PrinterCheck below)
};

// How the driver checks the printer before it prints: Standard polls about
// once a wait period (a second); Quick polls in quick succession until the
// printer has been ready three times in a row, then as Standard; Off never
// asks (a connection with no way back) and waits for no acknowledgement.
// An option the PPD does not have (-1) is Standard.
enum class PrinterCheck { Standard, Quick, Off };
PrinterCheck GetPrinterCheck(const settingsThermalSensitivityPara& s);

// The settings of the filter's one job, read by the getters without an
// argument (and by the library's binarizers that follow the manual threshold).
extern settingsThermalSensitivityPara settingsThermalSensitivity;

int GetPaperMode(const settingsThermalSensitivityPara& s);
int GetDensity(const settingsThermalSensitivityPara& s);
int GetOpeningFeed(const settingsThermalSensitivityPara& s);
int GetBrightness(const settingsThermalSensitivityPara& s);  // -100..100, else 0
int GetContrast(const settingsThermalSensitivityPara& s);    // -100..100, else 0
int GetBinarizationAlgorithm(const settingsThermalSensitivityPara& s);
int GetThreshholdByManual(const settingsThermalSensitivityPara& s);
int HorizontalOffset(const settingsThermalSensitivityPara& s);  // -100..100, else 0
int VerticalOffset(const settingsThermalSensitivityPara& s);    // -100..100, else 0
int GetBlackAndWhiteInversion(const settingsThermalSensitivityPara& s);
int GetPaperCutMode(const settingsThermalSensitivityPara& s);
int GetAfterPrintFeed(const settingsThermalSensitivityPara& s);  // never negative
int GetMediaTypeSet(const settingsThermalSensitivityPara& s);
int GetsetBlackMarkOffset(const settingsThermalSensitivityPara& s);
int GetBlackMarkOffset(const settingsThermalSensitivityPara& s);
int GetPaperSaveMode(const settingsThermalSensitivityPara& s);
int GetpageHeaderBlank(const settingsThermalSensitivityPara& s);
int GetEndBlank(const settingsThermalSensitivityPara& s);
int GetAlignment();  // always centred (1)

// The same of settingsThermalSensitivity.
int GetPaperMode();
int GetDensity();
int GetOpeningFeed();
int GetBrightness();
int GetContrast();
int GetBinarizationAlgorithm();
int GetThreshholdByManual();
int HorizontalOffset();
int VerticalOffset();
int GetBlackAndWhiteInversion();
int GetPaperCutMode();
int GetAfterPrintFeed();
int GetMediaTypeSet();
int GetsetBlackMarkOffset();
int GetBlackMarkOffset();
int GetPaperSaveMode();
int GetpageHeaderBlank();
int GetEndBlank();
