// Diagnostics: the private trace log and the debug dumps of intermediate
// images and data. Everything here is off unless one of the flags is set;
// nothing in the driver sets them, so a normal job writes no file.
#pragma once

#include <cups/raster.h>

extern int nSaveLogData;
extern int nSaveMiddleBmpData;
extern int nSaveMainBmpData;
extern int nSaveRawData;
extern char path[256];

// Appends one formatted text to /tmp//Print.log while nSaveLogData is set.
void TraceLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void TraceLogDebug();
bool GetPath();

void SetSaveLogDataFalg(int flag);
void SetSaveMiddleBmpDataFalg(int flag);
void SetSaveMainBmpDataFalg(int flag);
void SetSaveRawDataFalg(int flag);
int GetSaveLogDataFalg();
int GetSaveMiddleBmpDataFalg();
int GetSaveMainBmpDataFalg();
int GetSaveRawDataFalg();

// Debug dumps (bitmaps, raw bytes, page header).
void saveOneBitBmpFileMain(const unsigned char* data, unsigned int width, unsigned int height, int size, int index,
                           unsigned int turnOver);
void saveOneBitBmpFile(const unsigned char* data, unsigned int width, unsigned int height, int size, int index,
                       unsigned int turnOver);
void save24BitBmpFile(const unsigned char* data, unsigned int width, unsigned int height, int size, int index);
void save24BitBmpFile2(const unsigned char* data, unsigned int width, unsigned int height, int size);
void SaveDataRaw(const unsigned char* data, int size, int index);
void SaveCupsPageHeader2Info(const cups_page_header2_t* header);
