#include "filter/settingsThermalSensitivityPara.h"

settingsThermalSensitivityPara settingsThermalSensitivity = {};
