#include "app/appStatus.h"

#include "app/appDevice.h"
#include "app/appSettings.h"
#include "core/printingCore.h"

bool appPrinterStatus(pappl_printer_t* printer)
{
    // Busy with a job: the job's own monitor reports the printer's condition.
    if (papplPrinterGetState(printer) == IPP_PSTATE_PROCESSING || !printerIsAsked(printer)) {
        return true;
    }
    pappl_device_t* device = papplPrinterOpenDevice(printer);
    PrinterConditions conditions;
    if (device == nullptr) {
        reportConditions(printer, nullptr, conditions);  // no answer: offline
        return true;
    }
    {
        AppDevice appDevice(printer, nullptr, device);
        conditions = askPrinterStatus(appDevice);
    }
    papplPrinterCloseDevice(printer);
    reportConditions(printer, nullptr, conditions);
    return true;
}
