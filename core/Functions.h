// Printer command output: the output buffer, the command encoders, blank-line
// detection, and the getters through which everyone reads the print settings.
#pragma once

#include <cstdint>
#include <span>

// ---- Output buffer and byte channel ----
inline constexpr int MaxRawDataSize = 3145728;  // 3 MiB
extern unsigned char RawData[MaxRawDataSize];
extern int curPagePos;

void mputchar(int ch);
void outputarray(const unsigned char* data, int length);
void outputCommand(int length, const unsigned char* command);
void SendDataToBackEnd(const unsigned char* data, int length);
unsigned char lo(int value);
unsigned char hi(int value);
void intToHex(unsigned int value, unsigned char* out);
unsigned char BitSwat(unsigned char value);

// ---- Printer control commands ----
void jobSetup();
void Do1b40();
void ShutDown();
void EndPage();
void pageSetup();
void printerInitialize();
void cancelJob();
void setDensity(int density);
void queryPrinterStatus();
void setAlign(unsigned int alignment);
void queryPrinterQuantityOfElectricity();
void setPaperMode(int paperMode);
void setPrinterStandbyTimeCommand(unsigned int standbyTime);
void triggerPrinterSelfTest();
void triggerButtonPrint();
void setStartFeed(int n);
void setEndFeed(int n);
void skiplines(int dots);
void rasterheader(int bytesPerRow, int rows);
void CutPaper(int cutSelector, int firstCutMode, int secondCutMode, int useGsV);

// The bytes a command template holds between encoder calls (read-only view,
// for checks and diagnostics).
enum class CommandTemplate {
    RasterHeader, Initialize, Density, StatusQuery, Align, PaperMode,
    StandbyTime, SelfTest, ButtonPrint, StartFeed, EndFeed, BatteryQuery
};
std::span<const unsigned char> commandTemplateBytes(CommandTemplate which);

// ---- Blank-line detection ----
int isNullDataLine(const unsigned char* line, int length);
void DataNullLine(const unsigned char* flags, int height, int* startLine, int* endLine, int mode);

// ---- Settings getters ----
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
int GetAlignment();
