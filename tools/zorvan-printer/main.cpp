// zorvan-printer: a simulated Zorvan thermal printer. It answers status queries from a
// script, prints at a set speed on a head of a set width, and leaves a listing of the
// commands it received, a picture of the paper and a summary for tests.
#include "Printer.h"
#include "StatusScript.h"

#include <cups/cups.h>
#include <cups/sidechannel.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "Usage:\n"
    "  zorvan-printer [OPTIONS] -- PROGRAM [ARGS...]   run PROGRAM (e.g. the filter) against the printer\n"
    "  zorvan-printer [OPTIONS] [--input FILE]         decode a byte stream (standard input), no replies\n"
    "  zorvan-printer [OPTIONS] --listen ADDRESS:PORT  a network printer (AppSocket, as on port 9100)\n"
    "  zorvan-sim                                      as a CUPS backend: print the device line\n"
    "  zorvan-sim job-id user title copies options [file]   as a CUPS backend: print a job\n"
    "\n"
    "Run mode: PROGRAM's standard output goes into the printer and the printer's replies\n"
    "arrive on PROGRAM's file descriptor 3 (where cupsBackChannelRead reads); PROGRAM's\n"
    "standard input and standard error are inherited. The exit status is PROGRAM's (128+N\n"
    "when signal N ended it), taken after PROGRAM has exited and its output is drained.\n"
    "\n"
    "Listen mode: the printer waits for TCP connections on ADDRESS:PORT (port 0: any free\n"
    "port; the port is printed alone on the first line of standard output). Each connection\n"
    "is one job, served one at a time: its output files go to DIR/job-N (N counts from 1,\n"
    "skipping folders that exist) and the replies to its status queries go back over the\n"
    "same connection. The job ends when the client closes its side: the printer finishes\n"
    "printing, writes the job's files and then closes the connection (CUPS's socket\n"
    "backend waits for that). The printer's condition and the numbering of status queries\n"
    "go on from one connection to the next. SIGTERM (or --timeout) ends the job in hand,\n"
    "writes its files and stops the printer with status 0.\n"
    "\n"
    "Options:\n"
    "  --out DIR            where the output files go (default: zorvan-printer-out)\n"
    "  --width DOTS         print head width in dots (default 576, 80 mm; 384 for 58 mm)\n"
    "  --speed MM_PER_S     print speed at 8 dots/mm (default 150; 0 = instant). A status\n"
    "                       query is answered only once the rows before it have printed\n"
    "  --status SCRIPT      how status queries are answered (below; default: always ready)\n"
    "  --status-file FILE   the same, read from FILE, and read again whenever FILE changes\n"
    "                       (an empty file is taken as being written and ignored). The\n"
    "                       new script takes over at once, e.g. a file saying 'paperout'\n"
    "                       and later 'ready'; query numbers in its ranges keep counting\n"
    "                       from the printer's start\n"
    "  --listen ADDR:PORT   listen mode (above); ADDR is a numeric address or a host name\n"
    "  --stall-after N      stop reading input after N bytes (a printer that hangs)\n"
    "  --timeout SEC        give up after SEC seconds (run mode: SIGTERM to PROGRAM, then\n"
    "                       SIGKILL 2 s later; listen mode: stop)\n"
    "  --input FILE         decode FILE instead of standard input\n"
    "  --verbose, -v        echo the listing to standard error as it is written\n"
    "  --help               this text\n"
    "\n"
    "Output files (in --out DIR):\n"
    "  listing.txt   one line per command: time (s), byte offset, the command's bytes, what it is\n"
    "                (initialise, density, justification, paper mode, feed, raster, status query\n"
    "                and its reply, cuts, standby, self test, button print, DLE EOT 4/5, unknown\n"
    "                bytes as hex; ERROR lines for unfinished rasters and bytes that follow a\n"
    "                raster without being a command)\n"
    "  paper.png     the printed paper: 8-bit gray, head width wide, rasters and feeds in\n"
    "                order, a set bit is a black dot\n"
    "  summary.txt   key=value: bytes_in, rasters, rasters_printed, raster_rows, rows_printed,\n"
    "                raster_bytes, feeds, feed_dots, cuts, queries, queries_answered,\n"
    "                queries_unanswered, copies_acknowledged (answered queries\n"
    "                that follow a raster), clipped_rows, printed_while_error (rasters received\n"
    "                while reporting an error, not printed), rows_while_error,\n"
    "                unfinished_raster (yes/no), unfinished_raster_missing_bytes,\n"
    "                unfinished_command, unknown_bytes, swallowed_query_patterns, errors,\n"
    "                paper_width, paper_rows, paper_truncated (the picture stops at 200000\n"
    "                rows), replies_sent, reply_writes_dropped, stalled, timed_out, mode,\n"
    "                exit_status (run mode), first_query (listen mode: the number of\n"
    "                this connection's first status query), first_raster_at (seconds\n"
    "                since the epoch when the first raster command came)\n"
    "\n"
    "As a CUPS backend (installed e.g. as <serverbin>/backend/zorvan-sim) the options come\n"
    "from the device URI:  zorvan-sim:/DIR?status=SCRIPT&speed=MM&width=DOTS&stall=N\n"
    "Each job writes DIR/job-<id>/ (default DIR /tmp/zorvan-sim); values may be %-encoded.\n"
    "Given a print file, the backend prints it num-copies times.\n"
    "\n";

volatile sig_atomic_t gSignal = 0;
bool gBackend = false;  // errors are CUPS log lines and exit statuses then
void onSignal(int sig) { gSignal = sig; }

struct Options {
    std::string out = "zorvan-printer-out";
    int width = 576;
    double speed = 150;
    std::string status;
    bool haveStatus = false;
    std::string statusFile;  // read again when it changes
    std::string listen;
    long long stallAfter = -1;
    double timeout = 0;
    std::string input;
    bool verbose = false;
};

[[noreturn]] void usageError(const std::string& msg) {
    if (gBackend) {
        // 1 is CUPS_BACKEND_FAILED; 2 would ask CUPS for authentication.
        std::fprintf(stderr, "ERROR: zorvan-sim: %s\n", msg.c_str());
        std::exit(1);
    }
    std::fprintf(stderr, "zorvan-printer: ERROR: %s (see --help)\n", msg.c_str());
    std::exit(2);
}

bool readWholeFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return true;
}

double toNumber(const std::string& what, const std::string& s, double lo, double hi) {
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(s.c_str(), &end);
    if (s.empty() || *end != '\0' || errno != 0 || v < lo || v > hi) usageError("bad value for " + what + ": '" + s + "'");
    return v;
}

void setOption(Options& o, const std::string& key, const std::string& value) {
    if (key == "out") {
        o.out = value;
    } else if (key == "width") {
        o.width = static_cast<int>(toNumber("--width", value, 8, 4096));
    } else if (key == "speed") {
        o.speed = toNumber("--speed", value, 0, 100000);
    } else if (key == "status") {
        o.status = value;
        o.haveStatus = true;
    } else if (key == "status-file") {
        if (!readWholeFile(value, o.status)) usageError("cannot read status file '" + value + "'");
        o.haveStatus = true;
        o.statusFile = value;
    } else if (key == "listen" && !gBackend) {
        o.listen = value;
    } else if (key == "stall-after" || key == "stall") {
        o.stallAfter = static_cast<long long>(toNumber("--stall-after", value, 0, 1e15));
    } else if (key == "timeout") {
        o.timeout = toNumber("--timeout", value, 0, 1e7);
    } else if (key == "input") {
        o.input = value;
    } else {
        usageError("unknown option '--" + key + "'");
    }
}

bool makeDirs(const std::string& path) {
    std::string cur;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            if (!cur.empty() && ::mkdir(cur.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
        if (i < path.size()) cur += path[i];
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string percentDecode(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::strtoul(s.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// Moves a descriptor above the standard ones (and 3) so that the child's dup2s cannot clobber it.
int highFd(int fd) {
    int h = ::fcntl(fd, F_DUPFD, 10);
    ::close(fd);
    if (h >= 0) ::fcntl(h, F_SETFD, FD_CLOEXEC);
    return h;
}

enum class Mode { Run, Backend, Decode, Listen };

// The status file, watched for changes while the printer runs.
class StatusFileWatch {
public:
    explicit StatusFileWatch(std::string path) : path_(std::move(path)) { changed(); }
    // True when the file differs from the last look (and is not empty).
    bool changed() {
        struct stat st {};
        std::error_code ec;
        if (path_.empty() || ::stat(path_.c_str(), &st) != 0 || st.st_size == 0) return false;
        // Sub-second modification times: a test may rewrite the file quickly.
        auto modified = std::filesystem::last_write_time(path_, ec);
        bool same = st.st_ino == last_.st_ino && st.st_size == last_.st_size && modified == modified_;
        last_ = st;
        modified_ = modified;
        return !same;
    }
    // Reads the file into `script` when it has changed; a script that does not
    // parse leaves the old one in force. True when `script` was replaced.
    bool reload(zsim::StatusScript& script, std::string& message) {
        std::string text, err;
        zsim::StatusScript fresh;
        if (!changed() || !readWholeFile(path_, text)) return false;
        if (!fresh.parse(text, err)) {
            message = "note: status file ignored: " + err;
            return false;
        }
        script = fresh;
        return true;
    }

private:
    std::string path_;
    struct stat last_ {};
    std::filesystem::file_time_type modified_ {};
};

struct Io {
    Mode mode = Mode::Decode;
    zsim::StatusScript* script = nullptr;  // replaced in place when the status file changes
    StatusFileWatch* statusFile = nullptr;
    int inFd = 0;
    int backFd = -1;  // run mode: the write end of PROGRAM's fd 3
    pid_t child = -1;
    int extraPasses = 0;  // backend with a print file: copies beyond the first, read again from the start
};

struct Outcome {
    int childStatus = 0;
    long repliesSent = 0;
    long writesDropped = 0;
    bool stalled = false;
    bool timedOut = false;
    bool signalled = false;
};

double secondsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

int statusOf(int wstatus) {
    if (WIFEXITED(wstatus)) return WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) return 128 + WTERMSIG(wstatus);
    return 1;
}

Outcome runLoop(zsim::Printer& printer, const Options& opt, Io& io) {
    Outcome oc;
    const auto t0 = std::chrono::steady_clock::now();
    std::deque<zsim::TimedWrite> pending;
    std::vector<zsim::TimedWrite> fresh;
    std::vector<std::uint8_t> buf(65536);
    bool inputOpen = true;
    bool childDone = io.child < 0;
    bool termSent = false, killSent = false;
    double termAt = 0;
    std::uint64_t taken = 0;

    auto sendDue = [&](double now) {
        while (!pending.empty() && pending.front().due <= now) {
            const auto& w = pending.front();
            bool ok = true;
            if (io.mode == Mode::Run) {
                ssize_t n = childDone ? -1 : ::write(io.backFd, w.bytes.data(), w.bytes.size());
                ok = n == static_cast<ssize_t>(w.bytes.size());
            } else if (io.mode == Mode::Backend) {
                ssize_t n = cupsBackChannelWrite(reinterpret_cast<const char*>(w.bytes.data()), w.bytes.size(), 1.0);
                ok = n == static_cast<ssize_t>(w.bytes.size());
            } else if (io.mode == Mode::Listen) {
                ssize_t n = ::send(io.inFd, w.bytes.data(), w.bytes.size(), 0);  // SIGPIPE is ignored
                ok = n == static_cast<ssize_t>(w.bytes.size());
            }
            if (!ok)
                oc.writesDropped++;
            else if (w.last)
                oc.repliesSent++;
            pending.pop_front();
        }
    };

    for (;;) {
        double now = secondsSince(t0);
        std::string message;
        if (io.statusFile && io.script && io.statusFile->reload(*io.script, message))
            printer.scriptChanged(now);
        else if (!message.empty())
            printer.note(now, message);
        sendDue(now);

        if (gSignal && !oc.signalled) {
            oc.signalled = true;
            printer.note(now, "note: received signal " + std::to_string(gSignal));
            if (io.mode == Mode::Run && !childDone) {
                ::kill(io.child, SIGTERM);
                termSent = true;
                termAt = now;
            } else {
                break;
            }
        }
        if (opt.timeout > 0 && now >= opt.timeout && !oc.timedOut) {
            oc.timedOut = true;
            printer.note(now, "note: timeout after " + std::to_string(opt.timeout) + " s");
            if (io.mode == Mode::Run && !childDone) {
                ::kill(io.child, SIGTERM);
                termSent = true;
                termAt = now;
            } else {
                break;
            }
        }
        if (termSent && !killSent && !childDone && now - termAt > 2.0) {
            ::kill(io.child, SIGKILL);
            killSent = true;
        }
        if (!childDone) {
            int ws = 0;
            pid_t r = ::waitpid(io.child, &ws, WNOHANG);
            if (r == io.child) {
                childDone = true;
                oc.childStatus = statusOf(ws);
                // Nobody is left to take replies; what PROGRAM left running (a reader on
                // fd 3 holding our input open) sees the channel end instead of waiting forever.
                if (io.backFd >= 0) {
                    ::close(io.backFd);
                    io.backFd = -1;
                }
            }
        }

        bool reading = inputOpen && !oc.stalled;
        if (io.mode == Mode::Run) {
            if (childDone && (!reading || oc.signalled || oc.timedOut)) break;
        } else if (!reading) {
            // Decode mode does not wait for anyone; a backend that stalls waits to be cancelled.
            // A network printer closes only once the paper is out.
            bool printed = io.mode != Mode::Listen || now >= printer.busyUntil();
            if (io.mode == Mode::Decode || (!inputOpen && pending.empty() && printed)) break;
        }

        int waitMs = 50;
        if (!reading && pending.empty() && io.mode == Mode::Listen)
            waitMs = std::clamp(static_cast<int>((printer.busyUntil() - now) * 1000) + 1, 0, 50);
        if (!pending.empty()) {
            double d = pending.front().due - secondsSince(t0);
            waitMs = d <= 0 ? 0 : std::min(50, static_cast<int>(d * 1000) + 1);
        }
        struct pollfd p {};
        p.fd = io.inFd;
        p.events = POLLIN;
        int pr = ::poll(&p, reading ? 1 : 0, waitMs);
        if (pr <= 0 || !reading) continue;
        std::size_t want = buf.size();
        if (opt.stallAfter >= 0)
            want = static_cast<std::size_t>(std::min<long long>(static_cast<long long>(want), opt.stallAfter - static_cast<long long>(taken)));
        ssize_t n = want ? ::read(io.inFd, buf.data(), want) : 0;
        if (n > 0) {
            taken += static_cast<std::uint64_t>(n);
            fresh.clear();
            printer.feed(std::span<const std::uint8_t>(buf.data(), static_cast<std::size_t>(n)), secondsSince(t0), fresh);
            for (auto& w : fresh) pending.push_back(std::move(w));
        } else if (n == 0 && want && io.extraPasses > 0 && ::lseek(io.inFd, 0, SEEK_SET) == 0) {
            io.extraPasses--;
            printer.note(secondsSince(t0), "note: the print file again, for the next copy");
        } else if (n == 0 && want) {
            inputOpen = false;
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            inputOpen = false;
        }
        if (opt.stallAfter >= 0 && static_cast<long long>(taken) >= opt.stallAfter && inputOpen && !oc.stalled) {
            oc.stalled = true;
            printer.note(secondsSince(t0), "note: stopped reading input after " + std::to_string(taken) + " bytes");
        }
    }
    oc.writesDropped += static_cast<long>(pending.size());
    if (!pending.empty())
        printer.note(secondsSince(t0), "note: " + std::to_string(pending.size()) + " reply writes not sent (input ended)");
    printer.finish(secondsSince(t0));
    return oc;
}

int finishOutputs(zsim::Printer& printer, const Options& opt, const Outcome& oc, Mode mode, std::FILE* listing,
                  long firstQuery = 0) {
    const char* modeName = mode == Mode::Run       ? "run"
                           : mode == Mode::Backend ? "backend"
                           : mode == Mode::Listen  ? "listen"
                                                   : "decode";
    std::vector<std::pair<std::string, std::string>> extra = {
        {"replies_sent", std::to_string(oc.repliesSent)},
        {"reply_writes_dropped", std::to_string(oc.writesDropped)},
        {"stalled", oc.stalled ? "yes" : "no"},
        {"timed_out", oc.timedOut ? "yes" : "no"},
        {"mode", modeName},
    };
    if (mode == Mode::Run) extra.push_back({"exit_status", std::to_string(oc.childStatus)});
    if (mode == Mode::Listen) extra.push_back({"first_query", std::to_string(firstQuery)});
    std::fclose(listing);
    std::string err;
    bool ok = printer.writePng(opt.out + "/paper.png", err) && printer.writeSummary(opt.out + "/summary.txt", extra, err);
    if (!ok) std::fprintf(stderr, "zorvan-printer: ERROR: %s\n", err.c_str());
    return ok ? 0 : 1;
}

std::FILE* openListing(const std::string& dir) {
    if (!makeDirs(dir)) {
        std::fprintf(stderr, "zorvan-printer: ERROR: cannot create output folder '%s': %s\n", dir.c_str(), std::strerror(errno));
        return nullptr;
    }
    std::string path = dir + "/listing.txt";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::FILE* f = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
    if (!f) std::fprintf(stderr, "zorvan-printer: ERROR: cannot write '%s': %s\n", path.c_str(), std::strerror(errno));
    if (f) std::setvbuf(f, nullptr, _IOLBF, 0);
    return f;
}

void installSignals() {
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

zsim::StatusScript parseScript(const Options& opt) {
    zsim::StatusScript script;
    std::string err;
    if (opt.haveStatus && !script.parse(opt.status, err)) usageError("status script: " + err);
    return script;
}

int runProgram(const Options& opt, char** programArgv) {
    zsim::StatusScript script = parseScript(opt);
    std::FILE* listing = openListing(opt.out);
    if (!listing) return 1;
    int outPipe[2], backPipe[2];
    if (::pipe(outPipe) != 0 || ::pipe(backPipe) != 0) {
        std::fprintf(stderr, "zorvan-printer: ERROR: pipe: %s\n", std::strerror(errno));
        return 1;
    }
    int outR = highFd(outPipe[0]), outW = highFd(outPipe[1]);
    int backR = highFd(backPipe[0]), backW = highFd(backPipe[1]);
    installSignals();
    // Its first look comes before PROGRAM starts: a change PROGRAM makes at once is a change.
    StatusFileWatch watch(opt.statusFile);
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0) {
        std::fprintf(stderr, "zorvan-printer: ERROR: fork: %s\n", std::strerror(errno));
        return 1;
    }
    if (pid == 0) {
        ::signal(SIGPIPE, SIG_DFL);
        ::signal(SIGTERM, SIG_DFL);
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGHUP, SIG_DFL);
        ::dup2(outW, 1);
        ::dup2(backR, 3);
        ::execvp(programArgv[0], programArgv);
        std::fprintf(stderr, "zorvan-printer: ERROR: cannot run '%s': %s\n", programArgv[0], std::strerror(errno));
        ::_exit(127);
    }
    ::close(outW);
    ::close(backR);
    ::fcntl(backW, F_SETFL, ::fcntl(backW, F_GETFL) | O_NONBLOCK);

    zsim::PrinterConfig cfg;
    cfg.headWidth = opt.width;
    cfg.speedMmPerS = opt.speed;
    zsim::Printer printer(cfg, script, listing, opt.verbose);
    Io io;
    io.mode = Mode::Run;
    io.script = &script;
    io.statusFile = &watch;
    io.inFd = outR;
    io.backFd = backW;
    io.child = pid;
    Outcome oc = runLoop(printer, opt, io);
    ::close(outR);
    if (io.backFd >= 0) ::close(io.backFd);
    finishOutputs(printer, opt, oc, Mode::Run, listing);
    return oc.childStatus;
}

int decode(const Options& opt) {
    zsim::StatusScript script = parseScript(opt);
    int fd = 0;
    if (!opt.input.empty()) {
        fd = ::open(opt.input.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            std::fprintf(stderr, "zorvan-printer: ERROR: cannot open '%s': %s\n", opt.input.c_str(), std::strerror(errno));
            return 1;
        }
    }
    std::FILE* listing = openListing(opt.out);
    if (!listing) return 1;
    installSignals();
    zsim::PrinterConfig cfg;
    cfg.headWidth = opt.width;
    cfg.speedMmPerS = 0;
    cfg.answerQueries = false;
    zsim::Printer printer(cfg, script, listing, opt.verbose);
    Io io;
    io.mode = Mode::Decode;
    io.inFd = fd;
    Outcome oc = runLoop(printer, opt, io);
    if (fd != 0) ::close(fd);
    int rc = finishOutputs(printer, opt, oc, Mode::Decode, listing);
    if (rc == 0)
        std::fprintf(stderr, "zorvan-printer: decoded %llu bytes; listing, paper.png and summary.txt in %s\n",
                     static_cast<unsigned long long>(printer.bytesIn()), opt.out.c_str());
    return rc;
}

// The listening socket for "ADDRESS:PORT" ("[v6]:PORT" too), or -1 after an error message.
int listenOn(const std::string& address, int& port) {
    auto colon = address.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == address.size())
        usageError("--listen wants ADDRESS:PORT, got '" + address + "'");
    std::string host = address.substr(0, colon), service = address.substr(colon + 1);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    toNumber("the --listen port", service, 0, 65535);
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
        std::fprintf(stderr, "zorvan-printer: ERROR: cannot listen on '%s': %s\n", address.c_str(), gai_strerror(rc));
        return -1;
    }
    int fd = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    int on = 1;
    if (fd >= 0) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    sockaddr_storage bound {};
    socklen_t length = sizeof bound;
    if (fd < 0 || ::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
        std::fprintf(stderr, "zorvan-printer: ERROR: cannot listen on '%s': %s\n", address.c_str(), std::strerror(errno));
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    ::freeaddrinfo(found);
    port = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                       : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    return fd;
}

// A network printer: one job per connection, the printer's state kept between them.
int listenMode(const Options& opt) {
    zsim::StatusScript script = parseScript(opt);
    StatusFileWatch watch(opt.statusFile);
    if (!makeDirs(opt.out)) {
        std::fprintf(stderr, "zorvan-printer: ERROR: cannot create output folder '%s': %s\n", opt.out.c_str(), std::strerror(errno));
        return 1;
    }
    int port = 0;
    int server = listenOn(opt.listen, port);
    if (server < 0) return 1;
    installSignals();
    std::printf("%d\n", port);
    std::fflush(stdout);

    zsim::PrinterConfig cfg;
    cfg.headWidth = opt.width;
    cfg.speedMmPerS = opt.speed;
    zsim::Answer first = script.answerFor(1);
    std::uint8_t condition = first.hasStatus ? first.status : 0x20;
    long queries = 0;
    int job = 0;
    const auto t0 = std::chrono::steady_clock::now();
    auto timeLeft = [&] { return opt.timeout > 0 ? opt.timeout - secondsSince(t0) : 1.0; };
    while (!gSignal && timeLeft() > 0) {
        std::string message;
        if (watch.reload(script, message)) {
            zsim::Answer next = script.answerFor(queries + 1);
            if (next.hasStatus) condition = next.status;
        }
        struct pollfd p {server, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        int conn = ::accept(server, nullptr, nullptr);
        if (conn < 0) continue;
        ::fcntl(conn, F_SETFD, FD_CLOEXEC);
        std::string dir;
        struct stat st {};
        do dir = opt.out + "/job-" + std::to_string(++job);
        while (::stat(dir.c_str(), &st) == 0);
        std::FILE* listing = openListing(dir);
        if (!listing) {
            ::close(conn);
            ::close(server);
            return 1;
        }
        zsim::Printer printer(cfg, script, listing, opt.verbose);
        printer.continueFrom(queries, condition);
        Options jobOpt = opt;
        jobOpt.out = dir;
        jobOpt.timeout = opt.timeout > 0 ? std::max(0.001, timeLeft()) : 0;
        Io io;
        io.mode = Mode::Listen;
        io.inFd = conn;
        io.script = &script;
        io.statusFile = &watch;
        Outcome oc = runLoop(printer, jobOpt, io);
        queries = printer.queryNumber();
        condition = printer.condition();
        finishOutputs(printer, jobOpt, oc, Mode::Listen, listing, printer.queryNumber() - printer.queries() + 1);
        ::close(conn);
        std::fprintf(stderr, "zorvan-printer: job %d: %llu bytes; listing, paper.png and summary.txt in %s\n", job,
                     static_cast<unsigned long long>(printer.bytesIn()), dir.c_str());
    }
    ::close(server);
    return 0;
}

std::string baseName(const char* p) {
    std::string s = p ? p : "";
    auto slash = s.rfind('/');
    return slash == std::string::npos ? s : s.substr(slash + 1);
}

int backend(int argc, char** argv) {
    gBackend = true;
    std::string uri;
    if (const char* u = std::getenv("DEVICE_URI")) uri = u;
    else if (std::strchr(argv[0], ':')) uri = argv[0];
    Options opt;
    opt.out = "/tmp/zorvan-sim";
    auto colon = uri.find(':');
    std::string rest = colon == std::string::npos ? std::string() : uri.substr(colon + 1);
    std::string query;
    auto q = rest.find('?');
    if (q != std::string::npos) {
        query = rest.substr(q + 1);
        rest = rest.substr(0, q);
    }
    if (rest.rfind("//", 0) == 0) {  // zorvan-sim://host/dir or zorvan-sim:///dir
        auto slash = rest.find('/', 2);
        rest = slash == std::string::npos ? std::string() : rest.substr(slash);
    }
    if (!rest.empty()) opt.out = percentDecode(rest);
    std::stringstream qs(query);
    std::string item;
    while (std::getline(qs, item, '&')) {
        if (item.empty()) continue;
        auto eq = item.find('=');
        std::string key = percentDecode(item.substr(0, eq));
        std::string value = eq == std::string::npos ? std::string() : percentDecode(item.substr(eq + 1));
        if (key == "out" || key == "input") {
            std::fprintf(stderr, "ERROR: zorvan-sim: option '%s' is not allowed in the device URI\n", key.c_str());
            return 1;
        }
        setOption(opt, key, value);
    }
    opt.out += "/job-" + std::string(argv[1]);
    zsim::StatusScript script = parseScript(opt);
    int fd = 0;
    if (argc == 7) {
        fd = ::open(argv[6], O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            std::fprintf(stderr, "ERROR: zorvan-sim: cannot open print file: %s\n", std::strerror(errno));
            return 1;
        }
    }
    std::FILE* listing = openListing(opt.out);
    if (!listing) return 1;
    installSignals();
    zsim::PrinterConfig cfg;
    cfg.headWidth = opt.width;
    cfg.speedMmPerS = opt.speed;
    zsim::Printer printer(cfg, script, listing, false);
    Io io;
    io.mode = Mode::Backend;
    io.inFd = fd;
    // As CUPS's own backends do: given a print file, the backend makes the copies.
    if (argc == 7) io.extraPasses = std::max(0, std::atoi(argv[4]) - 1);
    Outcome oc = runLoop(printer, opt, io);
    if (fd != 0) ::close(fd);
    int rc = finishOutputs(printer, opt, oc, Mode::Backend, listing);
    std::fprintf(stderr, "DEBUG: zorvan-sim: paper in %s/paper.png, listing in %s/listing.txt\n", opt.out.c_str(),
                 opt.out.c_str());
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string self = baseName(argv[0]);
    const bool calledAsBackend = self != "zorvan-printer" || std::getenv("DEVICE_URI") != nullptr;

    // CUPS backend: no arguments lists the device; six or seven arguments print a job.
    if (argc == 1 && calledAsBackend) {
        std::printf("direct %s \"Zorvan Thermal Simulator\" \"Zorvan simulated thermal printer (pictures in /tmp/zorvan-sim)\"\n",
                    self.c_str());
        return 0;
    }
    if ((argc == 6 || argc == 7) && std::strncmp(argv[1], "-", 1) != 0) return backend(argc, argv);

    Options opt;
    int i = 1;
    for (; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(zsim::kStatusScriptHelp, stdout);
            return 0;
        }
        if (a == "--verbose" || a == "-v") {
            opt.verbose = true;
            continue;
        }
        if (a.rfind("--", 0) != 0) usageError("unexpected argument '" + a + "'");
        std::string key = a.substr(2), value;
        auto eq = key.find('=');
        if (eq != std::string::npos) {
            value = key.substr(eq + 1);
            key = key.substr(0, eq);
        } else {
            if (i + 1 >= argc) usageError("option '" + a + "' needs a value");
            value = argv[++i];
        }
        setOption(opt, key, value);
    }
    if (!opt.listen.empty()) {
        if (i < argc || !opt.input.empty()) usageError("--listen takes no PROGRAM and no --input");
        return listenMode(opt);
    }
    if (i < argc) {
        if (!opt.input.empty()) usageError("--input makes no sense with a PROGRAM");
        return runProgram(opt, argv + i);
    }
    if (i == argc && argc > 1 && std::string(argv[argc - 1]) == "--") usageError("no PROGRAM after --");
    return decode(opt);
}
