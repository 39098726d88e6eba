// Pictures (PNG, JPEG) are decoded by the app rather than by PAPPL. PAPPL 1.3
// hands a colour picture to a monochrome job by its red channel alone, so a
// red logo prints white and a blue one black. Decoded to sRGB and handed to
// the driver as colour rows whatever the job's print-color-mode, the
// driver's own gray conversion makes the dots, as it does in the filter.
#pragma once

#include <pappl/pappl.h>

// Registers the app's PNG and JPEG decoders for the drivers' native format;
// PAPPL prefers them over its own.
void addImageFilters(pappl_system_t* system);
