#include "app/appSystem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/appDrivers.h"
#include "app/appWebPage.h"
#include "app/appImages.h"
#include "app/appShutdown.h"
#include "zorvanVersion.h"

namespace {

const char* stateDirectory()
{
    const char* dir = std::getenv(stateDirVariable);
    return dir != nullptr && *dir != '\0' ? dir : nullptr;
}

pappl_loglevel_t logLevel(const char* name)
{
    if (name == nullptr) {
        return PAPPL_LOGLEVEL_INFO;
    }
    const struct {
        const char* name;
        pappl_loglevel_t level;
    } levels[] = {{"debug", PAPPL_LOGLEVEL_DEBUG}, {"info", PAPPL_LOGLEVEL_INFO}, {"warn", PAPPL_LOGLEVEL_WARN},
                  {"error", PAPPL_LOGLEVEL_ERROR}, {"fatal", PAPPL_LOGLEVEL_FATAL}};
    for (const auto& l : levels) {
        if (std::strcmp(l.name, name) == 0) {
            return l.level;
        }
    }
    return PAPPL_LOGLEVEL_INFO;
}

}  // namespace

bool useStateDirectory()
{
    const char* dir = stateDirectory();
    if (dir == nullptr) {
        return true;
    }
    if (::mkdir(dir, 0700) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "ERROR: Cannot create the state folder %s (%s=%s): %s\n", dir, stateDirVariable, dir,
                     std::strerror(errno));
        return false;
    }
    // PAPPL's main loop puts its state file and control socket in
    // SNAP_COMMON when that is set; it is the only way to move the socket.
    ::setenv("SNAP_COMMON", dir, 1);
    return true;
}

pappl_system_t* appSystem(int numOptions, cups_option_t* options, void* data)
{
    const bool serving = data != nullptr && *static_cast<const bool*>(data);
    const char* dir = stateDirectory();
    std::string spool;
    std::string log;
    if (dir != nullptr) {
        spool = std::string(dir) + "/zorvan-app.d";
        log = std::string(dir) + "/zorvan-app.log";
    } else if (::getuid() == 0) {
        spool = "/var/spool/zorvan-app";
        log = "-";  // standard error: the journal under systemd
    } else {
        const char* tmp = std::getenv("TMPDIR");
        spool = std::string(tmp != nullptr ? tmp : "/tmp") + "/zorvan-app" + std::to_string(::getuid()) + ".d";
        log = "-";
    }
    if (const char* value = cupsGetOption("log-file", numOptions, options)) {
        log = value;
    }
    const char* portText = cupsGetOption("server-port", numOptions, options);
    // 0: the first free port from 8000 up, taken as it is found (the log names it), so that
    // servers started side by side never pick the same one.
    const int port = portText != nullptr ? std::atoi(portText) : 8000;
    if (port < 0 || port > 65535 || (port == 0 && std::strcmp(portText, "0") != 0)) {
        std::fprintf(stderr, "ERROR: Bad server-port \"%s\"; give a port number from 0 to 65535.\n", portText);
        return nullptr;
    }
    const char* listen = cupsGetOption("listen", numOptions, options);
    if (listen == nullptr) {
        listen = "localhost";
    }
    const bool everywhere = std::strcmp(listen, "*") == 0;

    const pappl_soptions_t soptions = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE |
                                      PAPPL_SOPTIONS_WEB_LOG | PAPPL_SOPTIONS_WEB_SECURITY | PAPPL_SOPTIONS_WEB_TLS;
    pappl_system_t* system = papplSystemCreate(soptions, "Zorvan Printer Application", port, "_print,_universal",
                                               spool.c_str(), log.c_str(),
                                               logLevel(cupsGetOption("log-level", numOptions, options)),
                                               cupsGetOption("auth-service", numOptions, options), false);
    if (system == nullptr) {
        std::fprintf(stderr, "ERROR: Cannot create the printer application's system.\n");
        return nullptr;
    }
    // No papplSystemSetHostName here: as root it renames the machine itself
    // (it writes /etc/hostname). URIs and DNS-SD carry the machine's name.
    // Sub-commands that list drivers build a system too; only the server listens.
    if (serving && !papplSystemAddListeners(system, everywhere ? nullptr : listen)) {
        std::fprintf(stderr, "ERROR: Cannot listen on %s port %d.\n", listen, port);
        papplSystemDelete(system);
        return nullptr;
    }
    if (const char* group = cupsGetOption("admin-group", numOptions, options)) {
        papplSystemSetAdminGroup(system, group);
    }
    papplSystemSetPrinterDrivers(system, driverCount(), driverTable(), zorvanAutoAdd, addSettingsPage, zorvanDriver,
                                 nullptr);
    addImageFilters(system);
    if (serving) {
        watchServerStop(system);
    }
    // No strings of our own: with any registered, PAPPL 1.3.1 appends one more
    // printer-strings-languages-supported to the printer's attributes at every
    // Get-Printer-Attributes, so a server that clients poll grows without end.
    // PAPPL's Printing Defaults page shows the attribute names; the driver's
    // own page (appWebPage.h) gives each setting its label, unit and help.
    papplSystemSetFooterHTML(system, "Zorvan receipt printers &middot; zorvan-app " ZORVAN_VERSION);
    pappl_version_t version{};
    std::snprintf(version.name, sizeof version.name, "zorvan-app");
    std::snprintf(version.sversion, sizeof version.sversion, ZORVAN_VERSION);
    papplSystemSetVersions(system, 1, &version);
    return system;
}
