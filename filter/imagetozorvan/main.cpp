// imagetozorvan: the printer's filter for pictures (PNG, JPEG, TIFF, ...).
//
// CUPS's image converter, imagetoraster, reads an option "brightness" of its
// own (any letter case, 100 = unchanged) and this driver's Brightness option
// has the same name with 0 = unchanged, so "-o Brightness=0" made pictures
// nearly black before rastertozorvan ever saw them. This program runs the
// converter without that one option and pipes its raster into rastertozorvan,
// which gets every option, Brightness included, and applies its own
// adjustment:
//
//   imagetoraster job user title copies OPTIONS-BRIGHTNESS [file]
//     | rastertozorvan job user title copies OPTIONS
//
// Both programs come from CUPS's filter folder ($CUPS_SERVERBIN/filter, which
// the scheduler sets). Standard output (to the backend), standard error (to
// the scheduler) and the back channel on descriptor 3 are inherited. SIGTERM
// (a cancelled job) is passed on to both; the exit status is 1 when either
// program fails, with an ERROR: line naming it.
#include <cups/cups.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kConverter = "imagetoraster";
constexpr const char* kFilter = "rastertozorvan";

volatile sig_atomic_t converterPid = 0;
volatile sig_atomic_t filterPid = 0;
volatile sig_atomic_t cancelled = 0;

void passOnTerm(int)
{
    cancelled = 1;
    if (converterPid > 0) {
        kill(converterPid, SIGTERM);
    }
    if (filterPid > 0) {
        kill(filterPid, SIGTERM);
    }
}

// The job's options less every "brightness" (cupsGetOption and
// cupsRemoveOption ignore letter case), written back in the form
// cupsParseOptions reads: a backslash keeps quotes, braces, blanks and
// backslashes in a value literal.
std::string withoutBrightness(const char* options)
{
    cups_option_t* list = nullptr;
    int count = cupsParseOptions(options, 0, &list);
    while (cupsGetOption("brightness", count, list) != nullptr) {
        count = cupsRemoveOption("brightness", count, &list);
    }
    std::string text;
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            text += ' ';
        }
        text += list[i].name;
        text += '=';
        for (const char* c = list[i].value; *c != '\0'; ++c) {
            if (std::strchr("\\'\"{} \t\n\r\v\f", *c) != nullptr) {
                text += '\\';
            }
            text += *c;
        }
    }
    cupsFreeOptions(count, list);
    return text;
}

std::string filterFolder(const char* fallback)
{
    const char* serverBin = std::getenv("CUPS_SERVERBIN");
    return serverBin != nullptr && *serverBin != '\0' ? std::string(serverBin) + "/filter" : fallback;
}

// Starts `path` with `args` (args[0] included), standard input from `in` and
// standard output to `out` when they are not -1. The child closes `unused`.
pid_t start(const std::string& path, std::vector<std::string> args, int in, int out, int unused)
{
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGTERM, SIG_DFL);
        signal(SIGPIPE, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (in != -1) {
            dup2(in, 0);
            close(in);
        }
        if (out != -1) {
            dup2(out, 1);
            close(out);
        }
        close(unused);
        execv(path.c_str(), argv.data());
        std::fprintf(stderr, "ERROR: Cannot run %s: %s\n", path.c_str(), std::strerror(errno));
        _exit(127);
    }
    if (pid < 0) {
        std::fprintf(stderr, "ERROR: Cannot start %s: %s\n", path.c_str(), std::strerror(errno));
    }
    return pid;
}

// True when the program did its job; a program ended by the SIGTERM we passed
// on was cancelled, not failed.
bool succeeded(const char* name, int status)
{
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        return true;
    }
    if (WIFSIGNALED(status)) {
        if (cancelled && WTERMSIG(status) == SIGTERM) {
            return true;
        }
        std::fprintf(stderr, "ERROR: %s was ended by signal %d.\n", name, WTERMSIG(status));
    } else {
        std::fprintf(stderr, "ERROR: %s failed (exit status %d).\n", name, WEXITSTATUS(status));
    }
    return false;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 6 && argc != 7) {
        std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
        return 1;
    }
    const std::string converter = filterFolder(ZORVAN_CUPS_FILTER_DIR) + "/" + kConverter;
    const std::string filter = filterFolder(ZORVAN_FILTER_DIR) + "/" + kFilter;
    for (const std::string* program : {&converter, &filter}) {
        if (access(program->c_str(), X_OK) != 0) {
            std::fprintf(stderr, "ERROR: Cannot run %s: %s\n", program->c_str(), std::strerror(errno));
            return 1;
        }
        // The scheduler refuses a filter that others may rewrite; the programs
        // run from here bypass its check, so make it here.
        struct stat info {};
        if (stat(program->c_str(), &info) == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
            std::fprintf(stderr, "ERROR: %s is writable by other users; not running it.\n", program->c_str());
            return 1;
        }
    }

    std::vector<std::string> converterArgs(argv, argv + argc);
    converterArgs[5] = withoutBrightness(argv[5]);
    // The raster arrives on standard input, so the filter gets no file name.
    std::vector<std::string> filterArgs(argv, argv + 6);

    // SIGTERM waits until both children are known, then reaches both.
    sigset_t term, previous;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    sigprocmask(SIG_BLOCK, &term, &previous);
    struct sigaction action {};
    action.sa_handler = passOnTerm;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);

    int raster[2];
    if (pipe(raster) != 0) {
        std::fprintf(stderr, "ERROR: Cannot make a pipe: %s\n", std::strerror(errno));
        return 1;
    }
    converterPid = start(converter, converterArgs, -1, raster[1], raster[0]);
    filterPid = converterPid > 0 ? start(filter, filterArgs, raster[0], -1, raster[1]) : -1;
    close(raster[0]);
    close(raster[1]);
    if (filterPid < 0 && converterPid > 0) {
        kill(converterPid, SIGTERM);
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);

    bool ok = converterPid > 0 && filterPid > 0;
    int running = (converterPid > 0 ? 1 : 0) + (filterPid > 0 ? 1 : 0);
    while (running > 0) {
        int status = 0;
        const pid_t pid = waitpid(-1, &status, 0);
        if (pid < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::fprintf(stderr, "ERROR: Lost track of %s and %s: %s\n", kConverter, kFilter, std::strerror(errno));
            return 1;
        }
        if (pid == converterPid || pid == filterPid) {
            ok = succeeded(pid == converterPid ? kConverter : kFilter, status) && ok;
            --running;
        }
    }
    return ok ? 0 : 1;
}
