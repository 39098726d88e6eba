#include "ColourRoad.h"

#include "core/Functions.h"
#include "core/colourPageRoad.h"
#include "filter/settingsThermalSensitivityPara.h"

void setRoadSettings(int algorithm)
{
    settingsThermalSensitivity = {};
    settingsThermalSensitivity.Imagealgorithm = algorithm;
    settingsThermalSensitivity.Threshold = algorithm == 10 ? 128 : 0;
}

int runColourRoad(unsigned char* image, int width, int height)
{
    // The filter's own road with no copies to send: everything up to the
    // bit raster in the output buffer, without waiting for a printer.
    curPagePos = 0;
    if (colourPageRoad(image, width, height, 0, 1) != PageResult::Done) {
        return 0;
    }
    return curPagePos;
}
