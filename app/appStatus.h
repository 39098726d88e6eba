// PAPPL's status callback: an idle printer is asked for its status (16 04 04)
// and its reply becomes the printer-state-reasons and the paper-roll supply.
#pragma once

#include <pappl/pappl.h>

bool appPrinterStatus(pappl_printer_t* printer);
