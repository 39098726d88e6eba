// The printer models the app offers: the 80 mm (576 dots) and 58 mm (384
// dots) heads at 203 dpi, with roll media of the PPD's lengths.
#pragma once

#include <pappl/pappl.h>

struct PrinterModel {
    const char* driverName;
    const char* description;
    int headDots;
    int widthHmm;  // printable width in hundredths of mm (PAPPL truncates to dots)
    const char* media[7];
};

// The printer's own command stream: the drivers' native document format.
inline constexpr const char* nativeFormat = "application/vnd.zorvan-escpos";

// PAPPL's driver table for papplMainloop.
int driverCount();
pappl_pr_driver_t* driverTable();

// The model a printer was created with (its driver data's extension).
const PrinterModel& printerModel(pappl_printer_t* printer);

bool zorvanDriver(pappl_system_t* system, const char* driverName, const char* deviceUri, const char* deviceId,
                  pappl_pr_driver_data_t* data, ipp_t** attrs, void* context);

// A driver for a printer found on USB whose IEEE 1284 ID names the make.
const char* zorvanAutoAdd(const char* deviceInfo, const char* deviceUri, const char* deviceId, void* context);
