// The server's stop. PAPPL ends its main loop on SIGTERM only once no job is
// active, or after a minute; a job that waits for paper would hold it that
// long. The app learns of the signal too, and its jobs end at once.
#pragma once

#include <pappl/pappl.h>

// Passes SIGTERM on to the handler PAPPL's main loop installed, after noting
// it. Call once the system exists; it installs itself from the main loop.
void watchServerStop(pappl_system_t* system);

// Whether the server has been told to stop.
bool serverStopping();
