// The driver's own printer web page, "Paper and Print Settings": the loaded
// roll (in millimetres) and every setting of the driver with a plain label,
// its unit and a line of help, saved as the printer's defaults. A page of
// its own rather than PAPPL's Printing Defaults page, which names vendor
// settings by their attribute names unless a strings file is registered;
// and PAPPL 1.3.1 grows the printer's attributes at every request once one is.
#pragma once

#include <pappl/pappl.h>

// PAPPL's printer creation callback: adds the page and its link to the
// printer's navigation and to its home page.
void addSettingsPage(pappl_printer_t* printer, void* data);
