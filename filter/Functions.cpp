#include "filter/Functions.h"

#include "filter/settingsThermalSensitivityPara.h"

namespace {

int withinPercent(int value)
{
    return (value >= -100 && value <= 100) ? value : 0;
}

}  // namespace

// ---- Settings getters ----
int GetPaperMode() { return settingsThermalSensitivity.MediaType; }
int GetDensity() { return settingsThermalSensitivity.Density; }
int GetOpeningFeed() { return settingsThermalSensitivity.Openingfeed; }
int GetBrightness() { return withinPercent(settingsThermalSensitivity.Brightness); }
int GetContrast() { return withinPercent(settingsThermalSensitivity.Contrast); }
int GetBinarizationAlgorithm() { return settingsThermalSensitivity.Imagealgorithm; }
int GetThreshholdByManual() { return settingsThermalSensitivity.Threshold; }
int HorizontalOffset() { return withinPercent(settingsThermalSensitivity.HorizontalOffset); }
int VerticalOffset() { return withinPercent(settingsThermalSensitivity.VerticalOffset); }
int GetBlackAndWhiteInversion() { return settingsThermalSensitivity.BlackAndWhiteInversion; }
int GetPaperCutMode() { return settingsThermalSensitivity.PaperCutMode; }
int GetAfterPrintFeed()
{
    return settingsThermalSensitivity.AfterPrintFeed > 0 ? settingsThermalSensitivity.AfterPrintFeed : 0;
}
int GetMediaTypeSet() { return settingsThermalSensitivity.MediaTypeSet; }
int GetsetBlackMarkOffset() { return settingsThermalSensitivity.setBlackMarkOffset; }
int GetBlackMarkOffset() { return settingsThermalSensitivity.BlackMarkOffset; }
int GetPaperSaveMode() { return settingsThermalSensitivity.PaperSaveMode; }
int GetpageHeaderBlank() { return settingsThermalSensitivity.PageHeaderBlank; }
int GetEndBlank() { return settingsThermalSensitivity.EndBlank; }
int GetAlignment() { return 1; }
