#include "core/colourPageRoad.h"

#include <cstdint>
#include <cstring>

#include "core/jobContext.h"
#include "imaging/24BitTo1Bit.h"
#include "imaging/Dither.h"
#include "imaging/FunctionAsistant.h"
#include "imaging/GrayAlgorithm.h"
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

// Clears the bits of each row beyond the page's `width` dots (a set bit is a dot).
void blankRowPadding(unsigned char* bits, int witsStep, int rows, int width)
{
    const int fullBytes = width / 8;
    const int rest = width % 8;
    const int firstPadding = fullBytes + (rest != 0 ? 1 : 0);
    if (width <= 0 || width >= witsStep * 8) {
        return;  // the row has no padding
    }
    for (int y = 0; y < rows; ++y) {
        unsigned char* row = bits + static_cast<std::int64_t>(y) * witsStep;
        if (rest != 0) {
            row[fullBytes] = static_cast<unsigned char>(row[fullBytes] & (0xFF << (8 - rest)));
        }
        std::memset(row + firstPadding, 0x00, static_cast<std::size_t>(witsStep - firstPadding));
    }
}

}  // namespace

std::optional<BitRaster> colourBitRaster(JobContext& job, unsigned char* image, int cupsWidth, int actualHeight,
                                         int pageNumber)
{
    const settingsThermalSensitivityPara& s = job.settings;
    const int horizontalOffset = HorizontalOffset(s);
    const int verticalOffset = VerticalOffset(s);
    if (GetBrightness(s) != 0 || GetContrast(s) != 0) {
        f_BrightContrastPS(image, cupsWidth, actualHeight, static_cast<unsigned int>(cupsWidth) * 3u, GetBrightness(s),
                           GetContrast(s));
    }
    if (horizontalOffset != 0 || verticalOffset != 0) {
        f_XYOfffset(image, cupsWidth, actualHeight, static_cast<unsigned int>(cupsWidth) * 3u, horizontalOffset * 24,
                    verticalOffset * 24);
    }
    // The binarizers want blue-green-red pixels; rather than swapping the
    // page in place, they read the red-green-blue pixels with the roles of
    // the first and third byte exchanged, which gives the same gray values.
    job.log(LogLevel::Debug, "512 -- do RGBToBGR.");
    const PageReading reading{false, static_cast<unsigned int>(GetThreshholdByManual(s))};
    job.log(LogLevel::Debug, "547 -- OK.");

    const int height0 = whiteRowsForPaperMode(GetPaperMode(s));
    const int witsStep = bitRasterStride(cupsWidth);
    const std::int64_t expectedSize = (static_cast<std::int64_t>(height0) + actualHeight) * witsStep;
    if (expectedSize > INT32_MAX) {
        job.log(LogLevel::Error, "The bit raster of page %d would need %lld bytes, more than can be handled.",
                pageNumber, static_cast<long long>(expectedSize));
        return std::nullopt;
    }
    int DataBinSize = static_cast<int>(expectedSize);
    // The bit raster is made where it would be appended, in the output
    // buffer, when it fits there; else in storage of its own.
    OutputBuffer& output = job.output;
    const bool inOutputBuffer = expectedSize <= output.capacity() - output.position();
    BitRaster raster;
    unsigned char* bits = nullptr;
    if (inOutputBuffer) {
        bits = output.data() + output.position();
        if (expectedSize >= static_cast<std::int64_t>(largeBufferBytes)) {
            adviseHugePages(output.data(), static_cast<std::size_t>(output.capacity()));
        }
    } else {
        raster.storage = allocateScratch<unsigned char>(DataBinSize);
        bits = raster.storage.get();
    }
    if (bits == nullptr) {
        job.log(LogLevel::Error, "Unable to allocate the bit raster of page %d (%d bytes).", pageNumber,
                DataBinSize);
        return std::nullopt;
    }
    job.log(LogLevel::Debug, "585 witsStep -- %d,DataBinSize -- %d.", witsStep, DataBinSize);
    job.log(LogLevel::Debug, "558 -- OK.");
    job.log(LogLevel::Debug, "630 height0 -- %d.", height0);
    job.log(LogLevel::Debug, "header.cupsHeight=%d,pageHeight=%d,height0=%d.", actualHeight, 0, height0);
    job.log(LogLevel::Debug, "564 -- OK.");

    const int algorithm = GetBinarizationAlgorithm(s);
    bool bReturn = false;
    switch (algorithm) {
    case 0:
        bReturn = TrueCollorBitToOnebit(cupsWidth, actualHeight, height0, image, GetGrayAlgorithm(), bits,
                                        &DataBinSize, reading);
        job.log(LogLevel::Debug, "611 bReturn -- %d.", bReturn ? 1 : 0);
        break;
    case 2:
        bReturn = makeDitherBayer8(cupsWidth, actualHeight, height0, image, GetGrayAlgorithm(), bits, &DataBinSize,
                                   reading);
        job.log(LogLevel::Debug, "622 bReturn=%d", bReturn ? 1 : 0);
        break;
    case 3:
        bReturn = makeDitherBayer16(cupsWidth, actualHeight, height0, image, GetGrayAlgorithm(), bits, &DataBinSize,
                                    reading);
        job.log(LogLevel::Debug, "633 bReturn=%d", bReturn ? 1 : 0);
        break;
    case 7:
        bReturn = ErrorDiffusionFloydSteinberg7351(cupsWidth, actualHeight, height0, image,
                                                   GetFloydSteinbergGrayAlgorithm(), bits, &DataBinSize, reading);
        job.log(LogLevel::Debug, "7351 bReturn -- %d.", bReturn ? 1 : 0);
        break;
    case 8:
        bReturn = ErrorDiffusionBurkes(cupsWidth, actualHeight, height0, image, GetFloydSteinbergGrayAlgorithm(),
                                       bits, &DataBinSize, reading);
        job.log(LogLevel::Debug, "660 bReturn=%d", bReturn ? 1 : 0);
        break;
    case 9:
        bReturn = ErrorDiffusionSierra(cupsWidth, actualHeight, height0, image, GetFloydSteinbergGrayAlgorithm(),
                                       bits, &DataBinSize, reading);
        job.log(LogLevel::Debug, "670 bReturn=%d", bReturn ? 1 : 0);
        break;
    case 10:
        bReturn = Threshold(cupsWidth, actualHeight, height0, image,
                            static_cast<unsigned int>(GetThreshholdByManual(s)), bits, &DataBinSize, reading);
        job.log(LogLevel::Debug, "680 bReturn=%d", bReturn ? 1 : 0);
        break;
    case 11:
        bReturn = ErrorDiffusionStucki(cupsWidth, actualHeight, height0, image, GetFloydSteinbergGrayAlgorithm(),
                                       bits, &DataBinSize, reading);
        job.log(LogLevel::Debug, "670 bReturn=%d", bReturn ? 1 : 0);
        break;
    case 12:
        bReturn = TextAndPicturesToOnebit(cupsWidth, actualHeight, height0, image, GetGrayAlgorithm(), bits,
                                          &DataBinSize, reading);
        job.log(LogLevel::Debug, "690 bReturn=%d", bReturn ? 1 : 0);
        break;
    default:
        job.log(LogLevel::Error,
                "Unsupported binarization setting %d (Imagealgorithm); choose one of 0, 2, 3, 7, 8, 9, 10, 11, 12.",
                algorithm);
        return std::nullopt;
    }
    if (!bReturn) {
        job.log(LogLevel::Error, "The binarization (setting %d) of page %d failed.", algorithm, pageNumber);
        return std::nullopt;
    }
    if (DataBinSize == 0) {
        job.log(LogLevel::Error, "The binarization of page %d produced an empty bit raster.", pageNumber);
        return std::nullopt;
    }
    if (DataBinSize != expectedSize) {
        // The raster command announces whole rows; a raster of another size would
        // not match its header.
        job.log(LogLevel::Error, "The binarization of page %d produced %d bytes instead of %lld.", pageNumber,
                DataBinSize, static_cast<long long>(expectedSize));
        return std::nullopt;
    }
    if (GetBlackAndWhiteInversion(s) == 0) {
        DoTurnOver(bits, DataBinSize);
    } else {
        // White on black inverts the image, not the paper beside and below
        // it: the padding dots of each row and the tear-off rows stay blank
        // rather than a stripe and a band of solid black.
        blankRowPadding(bits, witsStep, actualHeight, cupsWidth);
        std::memset(bits + static_cast<std::int64_t>(actualHeight) * witsStep, 0x00,
                    static_cast<std::size_t>(height0) * static_cast<std::size_t>(witsStep));
    }

    job.log(LogLevel::Debug, "Raw>Data Before outputarray -- curPagePos -- %d.\n -- 721", output.position());
    if (inOutputBuffer) {
        output.setPosition(output.position() + DataBinSize);  // already in place
    } else {
        job.log(LogLevel::Debug, "The bit raster of %d bytes is larger than the output buffer; it goes out in bands.",
                DataBinSize);
    }
    job.log(LogLevel::Debug, "RawData After outputarray -- curPagePos -- %d.\n -- 725", output.position());
    raster.bits = bits;
    raster.stride = witsStep;
    raster.rows = actualHeight + height0;
    return raster;
}

PageResult colourPageRoad(JobContext& job, unsigned char* image, int cupsWidth, int actualHeight, int numCopies,
                          int pageNumber)
{
    const std::optional<BitRaster> raster = colourBitRaster(job, image, cupsWidth, actualHeight, pageNumber);
    if (!raster) {
        return PageResult::Failed;
    }
    return sendCopies(job, numCopies, *raster, pageNumber);
}
