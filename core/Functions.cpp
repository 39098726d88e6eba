#include "core/Functions.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "diagnostics/middleDataSave.h"
#include "core/printSettings.h"
#include "core/printingCore.h"

// ---- Output buffer and byte channel ----

settingsThermalSensitivityPara settingsThermalSensitivity = {};

// On Linux the output buffer starts on a huge page, so that a page's bit
// raster can be made in it without a page fault per 4 KiB (see the colour
// page road).
#if defined(__linux__)
alignas(2 * 1024 * 1024)
#endif
unsigned char RawData[MaxRawDataSize] = {};
int curPagePos = 0;

namespace {

void traceDroppedBytes(long long count)
{
    // Every byte that does not fit gets its own line; with the trace log off
    // there is nothing to write, so the loop is skipped.
    if (nSaveLogData == 0) {
        return;
    }
    for (long long i = 0; i < count; ++i) {
        TraceLog(" MaxRawDataSize=%d Is  too small \r\n", MaxRawDataSize);
    }
}

// The append rule for a whole range: what fits is copied at once, the rest
// is dropped byte by byte.
void appendRange(const unsigned char* data, int length)
{
    if (length <= 0 || data == nullptr) {
        return;
    }
    const int room = MaxRawDataSize - curPagePos;
    const int stored = std::min(length, std::max(room, 0));
    if (stored > 0) {
        std::memcpy(RawData + curPagePos, data, static_cast<std::size_t>(stored));
        curPagePos += stored;
    }
    traceDroppedBytes(static_cast<long long>(length) - stored);
}

void appendByte(unsigned char byte)
{
    if (curPagePos <= MaxRawDataSize - 1) {
        RawData[curPagePos] = byte;
        ++curPagePos;
    } else {
        traceDroppedBytes(1);
    }
}

}  // namespace

void mputchar(int ch) { appendByte(static_cast<unsigned char>(ch & 0xFF)); }

void outputarray(const unsigned char* data, int length) { appendRange(data, length); }

void outputCommand(int length, const unsigned char* command) { appendRange(command, length); }

void SendDataToBackEnd(const unsigned char* data, int length)
{
    if (length <= 0 || data == nullptr) {
        return;
    }
    // Flushing is left to the caller.
    printerDevice().write({data, static_cast<std::size_t>(length)});
}

unsigned char lo(int value) { return static_cast<unsigned char>(static_cast<unsigned int>(value) & 0xFFu); }

unsigned char hi(int value) { return static_cast<unsigned char>((static_cast<unsigned int>(value) >> 8) & 0xFFu); }

void intToHex(unsigned int value, unsigned char* out)
{
    if (out == nullptr) {
        return;
    }
    const unsigned int high = (value >> 4) & 0x0Fu;
    const unsigned int low = value & 0x0Fu;
    *out = static_cast<unsigned char>((high << 4) | low);
}

unsigned char BitSwat(unsigned char value)
{
    unsigned char result = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if ((value & (1u << bit)) != 0) {
            result = static_cast<unsigned char>(result | (0x80u >> bit));
        }
    }
    return result;
}

// ---- Printer control commands ----

namespace {

// Command templates. A parameterised encoder writes its parameter into the
// template, emits it and stores the default back, so between calls every
// template holds its initial bytes (the standby template keeps its last use).
unsigned char rasterHeaderTemplate[4] = {0x1D, 0x76, 0x30, 0x00};
unsigned char initializeTemplate[2] = {0x1B, 0x40};
unsigned char densityTemplate[3] = {0x1D, 0x83, 0x04};
unsigned char statusQueryTemplate[3] = {0x10, 0x04, 0x04};
unsigned char alignTemplate[3] = {0x1B, 0x61, 0x01};
unsigned char paperModeTemplate[3] = {0x1B, 0x01, 0x00};
unsigned char standbyTimeTemplate[3] = {0x1B, 0x05, 0x00};
unsigned char selfTestTemplate[3] = {0x1B, 0x03, 0x01};
unsigned char buttonPrintTemplate[3] = {0x1B, 0x06, 0x01};
unsigned char startFeedTemplate[3] = {0x1B, 0x4A, 0x00};
unsigned char endFeedTemplate[3] = {0x1B, 0x4A, 0x00};
const unsigned char batteryQueryCommand[3] = {0x10, 0x04, 0x05};

const unsigned char partialCutEsc[2] = {0x1B, 0x6D};
const unsigned char fullCutEsc[2] = {0x1B, 0x69};
const unsigned char partialCutGsV[4] = {0x1D, 0x56, 0x42, 0x00};
const unsigned char fullCutGsV[4] = {0x1D, 0x56, 0x41, 0x00};

template <std::size_t N>
void emit(const unsigned char (&command)[N])
{
    outputCommand(static_cast<int>(N), command);
}

template <std::size_t N>
void emitDirect(const unsigned char (&command)[N])
{
    printerDevice().write(command);
}

// Total feed in dots for a length in units of 8 dots. A negative length
// (an option missing from the PPD gives -1) feeds nothing rather than the
// low 8 bits of a negative number.
long long feedDots(int n)
{
    return n > 0 ? 8LL * n : 0;
}

int asSignedByte(unsigned char byte) { return static_cast<std::int8_t>(byte); }

}  // namespace

void jobSetup() { emit(initializeTemplate); }
void Do1b40() { emit(initializeTemplate); }
void ShutDown() { emit(initializeTemplate); }
void EndPage() { emit(initializeTemplate); }
void pageSetup() { emit(initializeTemplate); }
void printerInitialize() { emit(initializeTemplate); }

void cancelJob()
{
    for (int i = 0; i < 600; ++i) {
        appendByte(0x00);
    }
    emit(initializeTemplate);
    emit(initializeTemplate);
}

void setDensity(int density)
{
    densityTemplate[2] = lo(density);
    emit(densityTemplate);
    densityTemplate[2] = 0x04;
}

void queryPrinterStatus() { emit(statusQueryTemplate); }

void setAlign(unsigned int alignment)
{
    alignTemplate[2] = static_cast<unsigned char>(alignment <= 2 ? alignment : 1);
    emit(alignTemplate);
    alignTemplate[2] = 0x01;
}

void queryPrinterQuantityOfElectricity() { emitDirect(batteryQueryCommand); }

void setPaperMode(int paperMode)
{
    unsigned char p = 0x00;
    if (paperMode == 4) {
        p = 0x01;
    } else if (paperMode == 3) {
        p = 0x02;
    }
    paperModeTemplate[2] = p;
    emit(paperModeTemplate);
    paperModeTemplate[2] = 0x00;
}

void setPrinterStandbyTimeCommand(unsigned int standbyTime)
{
    standbyTimeTemplate[2] = static_cast<unsigned char>(standbyTime <= 3 ? standbyTime : 0);
    emit(standbyTimeTemplate);
}

void triggerPrinterSelfTest() { emit(selfTestTemplate); }

void triggerButtonPrint() { emit(buttonPrintTemplate); }

void setStartFeed(int n)
{
    // ESC J carries at most 255 dots: long feeds go out as full chunks of FF
    // (one per 256 dots requested) followed by the remainder.
    const long long dots = feedDots(n);
    for (long long chunk = dots / 256; chunk > 0; --chunk) {
        startFeedTemplate[2] = 0xFF;
        emit(startFeedTemplate);
    }
    startFeedTemplate[2] = static_cast<unsigned char>(dots & 0xFF);
    emit(startFeedTemplate);
    startFeedTemplate[2] = 0x00;
}

void setEndFeed(int n)
{
    const long long dots = feedDots(n);
    const int f = static_cast<int>(dots);
    coreLog("DEBUG: EndFeed -- %d.\n", n);
    if (dots < 256) {
        coreLog("DEBUG: EndFeed -- 3 length%d. -- 345\n", n);
        coreLog("DEBUG: EndFeed -- 3 length%d. -- 346\n", asSignedByte(endFeedTemplate[2]));
        endFeedTemplate[2] = static_cast<unsigned char>(f & 0xFF);
        coreLog("DEBUG: EndFeed -- 3 length%d. -- 347\n", f);
        coreLog("DEBUG: EndFeed -- 3 length%d. -- 347\n", f & 0xF8);
        emitDirect(endFeedTemplate);
        coreLog("DEBUG: EndFeed -- 3 length%d. -- 347\n", asSignedByte(endFeedTemplate[2]));
    } else {
        for (long long chunk = dots / 256; chunk > 0; --chunk) {
            endFeedTemplate[2] = 0xFF;
            emitDirect(endFeedTemplate);
            coreLog("DEBUG: EndFeed -- 1 length%d. -- 331\n", asSignedByte(endFeedTemplate[2]));
        }
        endFeedTemplate[2] = static_cast<unsigned char>(dots & 0xFF);
        emitDirect(endFeedTemplate);
        coreLog("DEBUG: EndFeed -- 2 length%d. -- 338\n", asSignedByte(endFeedTemplate[2]));
    }
    endFeedTemplate[2] = 0x00;
}

void skiplines(int dots)
{
    const unsigned char command[3] = {0x1B, 0x4A, lo(dots)};
    emit(command);
}

void rasterheader(int bytesPerRow, int rows)
{
    emit(rasterHeaderTemplate);
    appendByte(lo(bytesPerRow));
    appendByte(hi(bytesPerRow));
    appendByte(lo(rows));
    appendByte(hi(rows));
}

void CutPaper(int cutSelector, int firstCutMode, int secondCutMode, int useGsV)
{
    int cutMode = 0;
    if (cutSelector == 1) {
        cutMode = firstCutMode;
    } else if (cutSelector == 2 && firstCutMode == 0) {
        cutMode = secondCutMode;
    }
    if (cutMode == 0) {
        return;
    }
    const bool partial = cutMode == 1;
    if (useGsV != 0) {
        emit(partial ? partialCutGsV : fullCutGsV);
    } else {
        emit(partial ? partialCutEsc : fullCutEsc);
    }
}

std::span<const unsigned char> commandTemplateBytes(CommandTemplate which)
{
    switch (which) {
    case CommandTemplate::RasterHeader: return rasterHeaderTemplate;
    case CommandTemplate::Initialize: return initializeTemplate;
    case CommandTemplate::Density: return densityTemplate;
    case CommandTemplate::StatusQuery: return statusQueryTemplate;
    case CommandTemplate::Align: return alignTemplate;
    case CommandTemplate::PaperMode: return paperModeTemplate;
    case CommandTemplate::StandbyTime: return standbyTimeTemplate;
    case CommandTemplate::SelfTest: return selfTestTemplate;
    case CommandTemplate::ButtonPrint: return buttonPrintTemplate;
    case CommandTemplate::StartFeed: return startFeedTemplate;
    case CommandTemplate::EndFeed: return endFeedTemplate;
    case CommandTemplate::BatteryQuery: return batteryQueryCommand;
    }
    return {};
}

// ---- Blank-line detection ----

int isNullDataLine(const unsigned char* line, int length)
{
    if (line == nullptr || length == 0) {
        return -1;
    }
    // Stops at the first byte that is not white (FF); a negative length
    // examines nothing and counts as blank.
    int i = 0;
    for (; i + 8 <= length; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, line + i, sizeof word);
        if (word != ~std::uint64_t{0}) {
            break;
        }
    }
    for (; i < length; ++i) {
        if (line[i] != 0xFF) {
            return 1;
        }
    }
    return 0;
}

void DataNullLine(const unsigned char* flags, int height, int* startLine, int* endLine, int mode)
{
    if ((mode == 1 || mode == 3) && height >= 2) {
        for (int i = 1; i < height; ++i) {
            if (flags[i - 1] != 0) {
                break;  // the top line has content: nothing to trim
            }
            if (flags[i] != 0) {
                *startLine = i;
                break;
            }
        }
    }
    if ((mode == 2 || mode == 3) && height >= 4) {
        for (int i = height - 1; i >= 3; --i) {
            if (flags[i] != 0) {
                break;  // the bottom line has content
            }
            if (flags[i - 1] != 0) {
                *endLine = height - i;
                break;
            }
        }
    }
}


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
