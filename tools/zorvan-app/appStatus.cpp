#include "tools/zorvan-app/appStatus.h"

#include "tools/zorvan-app/appDevice.h"

bool appPrinterStatus(pappl_printer_t* printer)
{
    // Busy with a job: the job's own monitor reports the printer's condition.
    if (papplPrinterGetState(printer) == IPP_PSTATE_PROCESSING) {
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
        const unsigned char query[] = {0x16, 0x04, 0x04};
        appDevice.write(query);
        appDevice.flush();
        unsigned char reply[5] = {};
        conditions = decodePrinterReply(reply, appDevice.readReply(reply, sizeof reply, 1.0));
    }
    papplPrinterCloseDevice(printer);
    reportConditions(printer, nullptr, conditions);
    return true;
}
