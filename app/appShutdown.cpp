#include "app/appShutdown.h"

#include <signal.h>

#include <atomic>
#include <ctime>

namespace {

std::atomic<bool> stopping{false};
static_assert(std::atomic<bool>::is_always_lock_free);
// PAPPL's handler, called after ours: it ends the main loop.
void (*papplHandler)(int) = nullptr;

extern "C" void onTerminate(int signal)
{
    stopping.store(true);
    if (papplHandler != nullptr) {
        papplHandler(signal);
    }
}

// PAPPL installs its handler when its main loop starts; the loop's timers run
// after that, so the first run finds it there and chains in front of it.
bool chainHandler(pappl_system_t*, void*)
{
    struct sigaction current {};
    if (::sigaction(SIGTERM, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) != 0 ||
        current.sa_handler == onTerminate) {
        return true;
    }
    if (current.sa_handler == SIG_DFL || current.sa_handler == SIG_IGN) {
        return true;  // not PAPPL's loop: nothing to pass the signal on to
    }
    papplHandler = current.sa_handler;
    struct sigaction ours {};
    ours.sa_handler = onTerminate;
    sigemptyset(&ours.sa_mask);
    ours.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &ours, nullptr);
    return true;  // and again every second, should PAPPL install its own anew
}

}  // namespace

void watchServerStop(pappl_system_t* system) { papplSystemAddTimerCallback(system, std::time(nullptr), 1, chainHandler, nullptr); }

bool serverStopping() { return stopping.load(); }
