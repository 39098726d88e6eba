// zorvan-app: the printer application for Zorvan receipt printers. The usual
// PAPPL sub-commands: server, add, delete, devices, drivers, submit, jobs,
// cancel, status, options, shutdown; `zorvan-app --help` lists them.
#include <pappl/pappl.h>

#include <cstring>

#include "tools/zorvan-app/appDrivers.h"
#include "tools/zorvan-app/appSystem.h"
#include "zorvanVersion.h"

int main(int argc, char* argv[])
{
    if (!useStateDirectory()) {
        return 1;
    }
    bool serving = argc > 1 && std::strcmp(argv[1], "server") == 0;
    return papplMainloop(argc, argv, ZORVAN_VERSION, nullptr, driverCount(), driverTable(), zorvanAutoAdd,
                         zorvanDriver, nullptr, nullptr, appSystem, nullptr, &serving);
}
