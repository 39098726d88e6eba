#include "core/colourPageRoad.h"

#include <cstdint>
#include <cstdio>

#include "core/Functions.h"
#include "core/copySubmission.h"
#include "core/printingCore.h"
#include "imaging/24BitTo1Bit.h"
#include "imaging/Dither.h"
#include "imaging/GrayAlgorithm.h"
#include "imaging/FunctionAsistant.h"
#include "imaging/ImageBuffer.h"
#include "imaging/TextAndPictures.h"
#include "imaging/freeimageHalftone.h"

namespace {

// White rows below the image, by paper mode.
int whiteRowsForPaperMode(int paperMode)
{
    switch (paperMode & 0xFF) {
    case 2: return 560;
    case 3:
    case 4: return 0;
    default: return 120;
    }
}

}  // namespace

PageResult colourPageRoad(unsigned char* image, int cupsWidth, int actualHeight, int numCopies, int pageNumber)
{
    const int horizontalOffset = HorizontalOffset();
    const int verticalOffset = VerticalOffset();
    if (GetBrightness() != 0 || GetContrast() != 0) {
        f_BrightContrastPS(image, cupsWidth, actualHeight, static_cast<unsigned int>(cupsWidth) * 3u, GetBrightness(),
                           GetContrast());
    }
    if (horizontalOffset != 0 || verticalOffset != 0) {
        f_XYOfffset(image, cupsWidth, actualHeight, static_cast<unsigned int>(cupsWidth) * 3u, horizontalOffset * 24,
                    verticalOffset * 24);
    }
    // The binarizers want blue-green-red pixels; rather than swapping the
    // page in place, they read the red-green-blue pixels with the roles of
    // the first and third byte exchanged, which gives the same gray values.
    coreLog("DEBUG: 512 -- do RGBToBGR.\n");
    const UnswappedRaster swapped;
    coreLog("DEBUG: 547 -- OK.\n");

    const int height0 = whiteRowsForPaperMode(GetPaperMode());
    const int witsStep = bitRasterStride(cupsWidth);
    const std::int64_t expectedSize = (static_cast<std::int64_t>(height0) + actualHeight) * witsStep;
    if (expectedSize > INT32_MAX) {
        coreLog("ERROR: The bit raster of page %d would need %lld bytes, more than can be handled.\n",
                pageNumber, static_cast<long long>(expectedSize));
        return PageResult::Failed;
    }
    int DataBinSize = static_cast<int>(expectedSize);
    // The bit raster is made where outputarray would copy it, in the output
    // buffer, when it fits there and every copy sends it with one raster
    // command (the banded sending reuses the output buffer); else in a buffer
    // of its own.
    const long long lastHeight = static_cast<long long>(actualHeight) + height0 + 8LL * GetAfterPrintFeed();
    const bool inOutputBuffer =
        expectedSize <= MaxRawDataSize - curPagePos && lastHeight <= maxRowsPerRasterCommand(witsStep);
    ScratchBuffer<unsigned char> ownBits;
    unsigned char* bits = RawData + curPagePos;
    if (inOutputBuffer) {
        if (expectedSize >= static_cast<std::int64_t>(largeBufferBytes)) {
            adviseHugePages(RawData, MaxRawDataSize);
        }
    } else {
        ownBits = allocateScratch<unsigned char>(DataBinSize);
        bits = ownBits.get();
    }
    if (bits == nullptr) {
        coreLog("ERROR: Unable to allocate the bit raster of page %d (%d bytes).\n", pageNumber,
                DataBinSize);
        return PageResult::Failed;
    }
    coreLog("DEBUG: 585 witsStep -- %d,DataBinSize -- %d.\n", witsStep, DataBinSize);
    coreLog("DEBUG: 558 -- OK.\n");
    coreLog("DEBUG: 630 height0 -- %d.\n", height0);
    coreLog("DEBUG: header.cupsHeight=%d,pageHeight=%d,height0=%d.\n", actualHeight, 0, height0);
    coreLog("DEBUG: 564 -- OK.\n");

    const int algorithm = GetBinarizationAlgorithm();
    bool bReturn = false;
    switch (algorithm) {
    case 0:
        bReturn = TrueCollorBitToOnebit(cupsWidth, actualHeight, height0, image, GetGrayAlgorithm(), bits,
                                        &DataBinSize);
        coreLog("DEBUG: 611 bReturn -- %d.\n", bReturn ? 1 : 0);
        break;
    case 2:
        bReturn = makeDitherBayer8(cupsWidth, actualHeight, height0, image, GetGrayAlgorithm(), bits,
                                   &DataBinSize);
        coreLog("DEBUG: 622 bReturn=%d\n", bReturn ? 1 : 0);
        break;
    case 3:
        bReturn = makeDitherBayer16(cupsWidth, actualHeight, height0, image, GetGrayAlgorithm(), bits,
                                    &DataBinSize);
        coreLog("DEBUG: 633 bReturn=%d\n", bReturn ? 1 : 0);
        break;
    case 7:
        bReturn = ErrorDiffusionFloydSteinberg7351(cupsWidth, actualHeight, height0, image,
                                                   GetFloydSteinbergGrayAlgorithm(), bits, &DataBinSize);
        coreLog("DEBUG: 7351 bReturn -- %d.\n", bReturn ? 1 : 0);
        break;
    case 8:
        bReturn = ErrorDiffusionBurkes(cupsWidth, actualHeight, height0, image, GetFloydSteinbergGrayAlgorithm(),
                                       bits, &DataBinSize);
        coreLog("DEBUG: 660 bReturn=%d\n", bReturn ? 1 : 0);
        break;
    case 9:
        bReturn = ErrorDiffusionSierra(cupsWidth, actualHeight, height0, image, GetFloydSteinbergGrayAlgorithm(),
                                       bits, &DataBinSize);
        coreLog("DEBUG: 670 bReturn=%d\n", bReturn ? 1 : 0);
        break;
    case 10:
        bReturn = Threshold(cupsWidth, actualHeight, height0, image,
                            static_cast<unsigned int>(GetThreshholdByManual()), bits, &DataBinSize);
        coreLog("DEBUG: 680 bReturn=%d\n", bReturn ? 1 : 0);
        break;
    case 11:
        bReturn = ErrorDiffusionStucki(cupsWidth, actualHeight, height0, image, GetFloydSteinbergGrayAlgorithm(),
                                       bits, &DataBinSize);
        coreLog("DEBUG: 670 bReturn=%d\n", bReturn ? 1 : 0);
        break;
    case 12:
        bReturn = TextAndPicturesToOnebit(cupsWidth, actualHeight, height0, image, GetGrayAlgorithm(), bits,
                                          &DataBinSize);
        coreLog("DEBUG: 690 bReturn=%d\n", bReturn ? 1 : 0);
        break;
    default:
        coreLog("ERROR: Unsupported binarization setting %d (Imagealgorithm); choose one of 0, 2, 3, 7, 8, 9, "
                "10, 11.\n",
                algorithm);
        return PageResult::Failed;
    }
    if (!bReturn) {
        coreLog("ERROR: The binarization (setting %d) of page %d failed.\n", algorithm, pageNumber);
        return PageResult::Failed;
    }
    if (DataBinSize == 0) {
        coreLog("ERROR: The binarization of page %d produced an empty bit raster.\n", pageNumber);
        return PageResult::Failed;
    }
    if (DataBinSize != expectedSize) {
        // The raster command announces whole rows; a raster of another size would
        // not match its header.
        coreLog("ERROR: The binarization of page %d produced %d bytes instead of %lld.\n", pageNumber,
                DataBinSize, static_cast<long long>(expectedSize));
        return PageResult::Failed;
    }
    if (GetBlackAndWhiteInversion() == 0) {
        DoTurnOver(bits, DataBinSize);
    }

    coreLog("DEBUG: Raw>Data Before outputarray -- curPagePos -- %d.\n -- 721", curPagePos);
    if (inOutputBuffer) {
        curPagePos += DataBinSize;  // already in place
    } else if (DataBinSize <= MaxRawDataSize) {
        outputarray(bits, DataBinSize);
    } else {
        coreLog("DEBUG: The bit raster of %d bytes is larger than the output buffer; it goes out in "
                "bands.\n",
                DataBinSize);
    }
    coreLog("DEBUG: RawData After outputarray -- curPagePos -- %d.\n -- 725", curPagePos);

    return sendCopies(numCopies, bits, witsStep, actualHeight + height0, pageNumber);
}
