#include "settings/printSettings.h"

settingsThermalSensitivityPara settingsThermalSensitivity = {};

namespace {

int withinPercent(int value) { return (value >= -100 && value <= 100) ? value : 0; }

}  // namespace

int GetPaperMode(const settingsThermalSensitivityPara& s) { return s.MediaType; }
int GetDensity(const settingsThermalSensitivityPara& s) { return s.Density; }
int GetOpeningFeed(const settingsThermalSensitivityPara& s) { return s.Openingfeed; }
int GetBrightness(const settingsThermalSensitivityPara& s) { return withinPercent(s.Brightness); }
int GetContrast(const settingsThermalSensitivityPara& s) { return withinPercent(s.Contrast); }
int GetBinarizationAlgorithm(const settingsThermalSensitivityPara& s) { return s.Imagealgorithm; }
int GetThreshholdByManual(const settingsThermalSensitivityPara& s) { return s.Threshold; }
int HorizontalOffset(const settingsThermalSensitivityPara& s) { return withinPercent(s.HorizontalOffset); }
int VerticalOffset(const settingsThermalSensitivityPara& s) { return withinPercent(s.VerticalOffset); }
int GetBlackAndWhiteInversion(const settingsThermalSensitivityPara& s) { return s.BlackAndWhiteInversion; }
int GetPaperCutMode(const settingsThermalSensitivityPara& s) { return s.PaperCutMode; }
int GetAfterPrintFeed(const settingsThermalSensitivityPara& s) { return s.AfterPrintFeed > 0 ? s.AfterPrintFeed : 0; }
int GetMediaTypeSet(const settingsThermalSensitivityPara& s) { return s.MediaTypeSet; }
int GetsetBlackMarkOffset(const settingsThermalSensitivityPara& s) { return s.setBlackMarkOffset; }
int GetBlackMarkOffset(const settingsThermalSensitivityPara& s) { return s.BlackMarkOffset; }
int GetPaperSaveMode(const settingsThermalSensitivityPara& s) { return s.PaperSaveMode; }
int GetpageHeaderBlank(const settingsThermalSensitivityPara& s) { return s.PageHeaderBlank; }
int GetEndBlank(const settingsThermalSensitivityPara& s) { return s.EndBlank; }
int GetAlignment() { return 1; }

PrinterCheck GetPrinterCheck(const settingsThermalSensitivityPara& s)
{
    switch (s.PrinterCheck) {
    case 1: return PrinterCheck::Quick;
    case 2: return PrinterCheck::Off;
    default: return PrinterCheck::Standard;
    }
}

int GetPaperMode() { return GetPaperMode(settingsThermalSensitivity); }
int GetDensity() { return GetDensity(settingsThermalSensitivity); }
int GetOpeningFeed() { return GetOpeningFeed(settingsThermalSensitivity); }
int GetBrightness() { return GetBrightness(settingsThermalSensitivity); }
int GetContrast() { return GetContrast(settingsThermalSensitivity); }
int GetBinarizationAlgorithm() { return GetBinarizationAlgorithm(settingsThermalSensitivity); }
int GetThreshholdByManual() { return GetThreshholdByManual(settingsThermalSensitivity); }
int HorizontalOffset() { return HorizontalOffset(settingsThermalSensitivity); }
int VerticalOffset() { return VerticalOffset(settingsThermalSensitivity); }
int GetBlackAndWhiteInversion() { return GetBlackAndWhiteInversion(settingsThermalSensitivity); }
int GetPaperCutMode() { return GetPaperCutMode(settingsThermalSensitivity); }
int GetAfterPrintFeed() { return GetAfterPrintFeed(settingsThermalSensitivity); }
int GetMediaTypeSet() { return GetMediaTypeSet(settingsThermalSensitivity); }
int GetsetBlackMarkOffset() { return GetsetBlackMarkOffset(settingsThermalSensitivity); }
int GetBlackMarkOffset() { return GetBlackMarkOffset(settingsThermalSensitivity); }
int GetPaperSaveMode() { return GetPaperSaveMode(settingsThermalSensitivity); }
int GetpageHeaderBlank() { return GetpageHeaderBlank(settingsThermalSensitivity); }
int GetEndBlank() { return GetEndBlank(settingsThermalSensitivity); }
