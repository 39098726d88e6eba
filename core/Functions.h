// Printer command output of the filter's one job (singleJob.h): the output
// buffer, the command encoders, blank-line detection, and the getters through
// which everyone reads the print settings.
#pragma once

#include "core/blankLines.h"
#include "core/jobContext.h"
#include "core/printerCommands.h"
#include "settings/printSettings.h"

// ---- Output buffer and byte channel ----
extern unsigned char RawData[MaxRawDataSize];
extern int curPagePos;

void mputchar(int ch);
void outputarray(const unsigned char* data, int length);
void outputCommand(int length, const unsigned char* command);
// To the printer of the job's session (standard output without one).
void SendDataToBackEnd(const unsigned char* data, int length);
void intToHex(unsigned int value, unsigned char* out);
unsigned char BitSwat(unsigned char value);

// ---- Printer control commands, appended to the output buffer ----
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
void setPaperMode(int paperMode);
void setPrinterStandbyTimeCommand(unsigned int standbyTime);
void triggerPrinterSelfTest();
void triggerButtonPrint();
void setStartFeed(int n);
void skiplines(int dots);
void rasterheader(int bytesPerRow, int rows);
void CutPaper(int cutSelector, int firstCutMode, int secondCutMode, int useGsV);
// ---- written straight to the printer ----
void queryPrinterQuantityOfElectricity();
void setEndFeed(int n);
