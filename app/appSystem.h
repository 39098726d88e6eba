// The app's system: where its state, control socket and spool live, what it
// listens on and how it logs.
//
// By default PAPPL's main loop decides: as root the state is in
// /var/lib/zorvan-app.state, the control socket /run/zorvan-app.sock and the
// spool /var/spool/zorvan-app; otherwise ~/.config/zorvan-app.state,
// $TMPDIR/zorvan-appUID.sock and $TMPDIR/zorvan-appUID.d. With
// ZORVAN_APP_STATE_DIR set, all three (and the log) are in that folder.
#pragma once

#include <pappl/pappl.h>

// The environment variable naming the one folder for state, socket and spool.
inline constexpr const char* stateDirVariable = "ZORVAN_APP_STATE_DIR";

// Points PAPPL's main loop (server and sub-commands alike) at the folder of
// ZORVAN_APP_STATE_DIR, when it is set. Returns false, with an "ERROR:" line,
// when the folder is not usable.
bool useStateDirectory();

// The system callback of papplMainloop. Server options (-o NAME=VALUE):
// listen (default localhost; '*' for every address), server-port (default
// 8000), log-file, log-level, auth-service (PAM service that
// guards changes), admin-group. `data` points to a bool: whether the
// sub-command is `server` (only the server listens).
pappl_system_t* appSystem(int numOptions, cups_option_t* options, void* data);
