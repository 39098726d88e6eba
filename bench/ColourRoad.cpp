#include "ColourRoad.h"

#include "filter/Functions.h"
#include "filter/settingsThermalSensitivityPara.h"
#include "imaging/24BitTo1Bit.h"
#include "imaging/Dither.h"
#include "imaging/FunctionAsistant.h"
#include "imaging/ImageBuffer.h"
#include "imaging/freeimageHalftone.h"

#include <cstdint>

void setRoadSettings(int algorithm)
{
    settingsThermalSensitivity = {};
    settingsThermalSensitivity.Imagealgorithm = algorithm;
    settingsThermalSensitivity.Threshold = algorithm == 10 ? 128 : 0;
}

int runColourRoad(unsigned char* image, int width, int height)
{
    // The same calls, in the same order, as the filter's colour road; only
    // the copies to the printer are left out.
    const int horizontal = HorizontalOffset();
    const int vertical = VerticalOffset();
    if (GetBrightness() != 0 || GetContrast() != 0) {
        f_BrightContrastPS(image, width, height, static_cast<unsigned int>(width) * 3u, GetBrightness(),
                           GetContrast());
    }
    if (horizontal != 0 || vertical != 0) {
        f_XYOfffset(image, width, height, static_cast<unsigned int>(width) * 3u, horizontal * 24, vertical * 24);
    }
    TrueCollorRGBToBGR(width, height, image);

    int height0 = 120;
    switch (GetPaperMode() & 0xFF) {
    case 2: height0 = 560; break;
    case 3:
    case 4: height0 = 0; break;
    default: break;
    }
    const int witsStep = bitRasterStride(width);
    int DataBinSize = (height0 + height) * witsStep;
    ScratchBuffer<unsigned char> bits = allocateScratch<unsigned char>(DataBinSize);
    if (!bits) {
        return 0;
    }
    bool ok = false;
    switch (GetBinarizationAlgorithm()) {
    case 0: ok = TrueCollorBitToOnebit(width, height, height0, image, GetGrayAlgorithm(), bits.get(), &DataBinSize); break;
    case 2: ok = makeDitherBayer8(width, height, height0, image, GetGrayAlgorithm(), bits.get(), &DataBinSize); break;
    case 3: ok = makeDitherBayer16(width, height, height0, image, GetGrayAlgorithm(), bits.get(), &DataBinSize); break;
    case 7:
        ok = ErrorDiffusionFloydSteinberg7351(width, height, height0, image, GetFloydSteinbergGrayAlgorithm(),
                                              bits.get(), &DataBinSize);
        break;
    case 8:
        ok = ErrorDiffusionBurkes(width, height, height0, image, GetFloydSteinbergGrayAlgorithm(), bits.get(),
                                  &DataBinSize);
        break;
    case 9:
        ok = ErrorDiffusionSierra(width, height, height0, image, GetFloydSteinbergGrayAlgorithm(), bits.get(),
                                  &DataBinSize);
        break;
    case 10:
        ok = Threshold(width, height, height0, image, static_cast<unsigned int>(GetThreshholdByManual()), bits.get(),
                       &DataBinSize);
        break;
    case 11:
        ok = ErrorDiffusionStucki(width, height, height0, image, GetFloydSteinbergGrayAlgorithm(), bits.get(),
                                  &DataBinSize);
        break;
    default: return 0;
    }
    if (!ok || DataBinSize == 0) {
        return 0;
    }
    if (GetBlackAndWhiteInversion() == 0) {
        DoTurnOver(bits.get(), DataBinSize);
    }
    curPagePos = 0;
    outputarray(bits.get(), DataBinSize);
    return DataBinSize;
}
