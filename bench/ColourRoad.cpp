#include "ColourRoad.h"

#include "core/colourPageRoad.h"
#include "core/singleJob.h"
#include "filter/settingsThermalSensitivityPara.h"

void setRoadSettings(int algorithm)
{
    settingsThermalSensitivity = {};
    settingsThermalSensitivity.Imagealgorithm = algorithm;
    settingsThermalSensitivity.Threshold = algorithm == 10 ? 128 : 0;
}

int runColourRoad(unsigned char* image, int width, int height)
{
    // The filter's own road without the copies: everything up to the bit
    // raster in the output buffer, without waiting for a printer.
    JobContext& job = singleJob();
    job.settings = settingsThermalSensitivity;
    job.output.setPosition(0);
    if (!colourBitRaster(job, image, width, height, 1)) {
        return 0;
    }
    return job.output.position();
}
