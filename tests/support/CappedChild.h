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

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kCanCapMemory = false;
#elif defined(__linux__)
inline constexpr bool kCanCapMemory = true;
#else
inline constexpr bool kCanCapMemory = false;
#endif

inline long addressSpaceInUse()
{
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr) {
        return -1;
    }
    long pages = -1;
    if (std::fscanf(f, "%ld", &pages) != 1) {
        pages = -1;
    }
    std::fclose(f);
    return pages < 0 ? -1 : pages * sysconf(_SC_PAGESIZE);
}

// `check` returns 0 when everything was as expected; so does this, or the
// child's failure code (100 + signal when it died).
inline int runCapped(long headroom, const std::function<int()>& check)
{
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        return 99;
    }
    if (pid == 0) {
        const long used = addressSpaceInUse();
        if (used < 0) {
            _exit(90);
        }
        rlimit limit{};
        limit.rlim_cur = static_cast<rlim_t>(used + headroom);
        limit.rlim_max = static_cast<rlim_t>(used + headroom);
        if (setrlimit(RLIMIT_AS, &limit) != 0) {
            _exit(91);
        }
        _exit(check());
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

}  // namespace testsupport
