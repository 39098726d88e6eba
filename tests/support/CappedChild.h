// Runs a check in a child process whose address space may grow only a little,
// so that large allocations fail there: the way to exercise the allocation
// failure paths. Linux only (reads /proc/self/statm); not under AddressSanitizer,
// which reserves far more address space than any cap.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

namespace testsupport {

#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__)
inline constexpr bool kCanCapMemory = true;
#else
inline constexpr bool kCanCapMemory = false;
#endif

// `check` returns 0 when everything was as expected; so does this, or the
// child's failure code (90/91: no cap could be set; 100 + signal when it died).
inline int runCapped(long headroom, const std::function<int()>& check)
{
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        long pages = -1;
        std::FILE* f = std::fopen("/proc/self/statm", "r");
        if (f == nullptr || std::fscanf(f, "%ld", &pages) != 1) {
            _exit(90);
        }
        std::fclose(f);
        const auto cap = static_cast<rlim_t>(pages * sysconf(_SC_PAGESIZE) + headroom);
        const rlimit limit{cap, cap};
        _exit(setrlimit(RLIMIT_AS, &limit) != 0 ? 91 : check());
    }
    int status = 0;
    while (pid > 0 && waitpid(pid, &status, 0) < 0) {
    }
    const int signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return pid < 0 ? 99 : WIFEXITED(status) ? WEXITSTATUS(status) : 100 + signal;
}

}  // namespace testsupport
