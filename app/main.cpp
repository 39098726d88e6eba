// zorvan-app: the printer application for Zorvan receipt printers. The usual
// PAPPL sub-commands: server, add, delete, devices, drivers, submit, jobs,
// cancel, status, options, shutdown; `zorvan-app --help` lists them.
#include <pappl/pappl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/appDrivers.h"
#include "app/appSystem.h"
#include "zorvanVersion.h"

namespace {

// Sub-commands that need no running server, or must not start one.
bool standsAlone(const char* command)
{
    for (const char* name : {"server", "devices", "drivers", "shutdown"}) {
        if (std::strcmp(command, name) == 0) {
            return true;
        }
    }
    return command[0] == '-';  // --help, --version and the like
}

// PAPPL starts a server of its own when a sub-command finds none. With the
// state in a folder of its own, the caller means the server there: say so
// instead of leaving a surprise server running on the default port.
bool serverExpectedButMissing(int argc, char* argv[])
{
    const char* dir = std::getenv(stateDirVariable);
    if (dir == nullptr || *dir == '\0' || argc < 2 || standsAlone(argv[1])) {
        return false;
    }
    // A server answers on its socket; the file alone may be left from one that has stopped.
    const std::string socket = std::string(dir) + "/zorvan-app.sock";
    if (http_t* http = httpConnect2(socket.c_str(), 0, nullptr, AF_LOCAL, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr)) {
        httpClose(http);
        return false;
    }
    std::fprintf(stderr, "ERROR: No zorvan-app server runs with its state in %s; start one with \"zorvan-app server\".\n",
                 dir);
    return true;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (!useStateDirectory() || serverExpectedButMissing(argc, argv)) {
        return 1;
    }
    bool serving = argc > 1 && std::strcmp(argv[1], "server") == 0;
    return papplMainloop(argc, argv, ZORVAN_VERSION, nullptr, driverCount(), driverTable(), zorvanAutoAdd,
                         zorvanDriver, nullptr, nullptr, appSystem, nullptr, &serving);
}
