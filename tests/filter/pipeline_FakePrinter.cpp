#include "FakePrinter.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <stdexcept>

#include "support/Process.h"

namespace testsupport {

namespace {

// Decodes one command at `pos`; returns its length, or 0 when more bytes are needed.
std::size_t decodeOne(const std::string& s, std::size_t pos, PrinterCommand& cmd)
{
    const std::size_t left = s.size() - pos;
    auto at = [&](std::size_t i) { return static_cast<unsigned char>(s[pos + i]); };
    cmd = PrinterCommand{};
    cmd.offset = pos;
    const unsigned char b = at(0);
    if (b == 0x1B || b == 0x1D || b == 0x16) {
        if (left < 2) {
            return 0;
        }
        const unsigned char b1 = at(1);
        if (b == 0x1B && b1 == 0x40) {
            cmd.kind = PrinterCommand::Initialise;
            return 2;
        }
        PrinterCommand::Kind three = PrinterCommand::Unknown;
        if (b == 0x1B && b1 == 0x61) three = PrinterCommand::Justification;
        if (b == 0x1B && b1 == 0x01) three = PrinterCommand::PaperMode;
        if (b == 0x1B && b1 == 0x4A) three = PrinterCommand::Feed;
        if (b == 0x1D && b1 == 0x83) three = PrinterCommand::Density;
        if (three != PrinterCommand::Unknown) {
            if (left < 3) {
                return 0;
            }
            cmd.kind = three;
            cmd.value = at(2);
            return 3;
        }
        if (b == 0x16 && b1 == 0x04) {
            if (left < 3) {
                return 0;
            }
            if (at(2) == 0x04) {
                cmd.kind = PrinterCommand::StatusQuery;
                return 3;
            }
        }
        if (b == 0x1D && b1 == 0x76) {
            if (left < 8) {
                return 0;
            }
            cmd.kind = PrinterCommand::Raster;
            cmd.rowBytes = at(4) | (at(5) << 8);
            cmd.rows = at(6) | (at(7) << 8);
            const std::size_t bytes = static_cast<std::size_t>(cmd.rowBytes) * static_cast<std::size_t>(cmd.rows);
            if (left < 8 + bytes) {
                return 0;
            }
            cmd.data = s.substr(pos + 8, bytes);
            return 8 + bytes;
        }
    }
    cmd.kind = PrinterCommand::Unknown;
    cmd.value = b;
    return 1;
}

}  // namespace

std::string statusReply(unsigned char statusByte)
{
    return std::string{'\x10', '\x04', '\x04', static_cast<char>(statusByte), '\x00'};
}

Responder answerQueries(std::function<std::string(int query)> script)
{
    return [script](const PrinterCommand& command, const std::vector<PrinterCommand>&) {
        Reply reply;
        if (command.kind == PrinterCommand::StatusQuery) {
            reply.bytes = script(command.query);
        }
        return reply;
    };
}

Responder alwaysReady()
{
    return answerQueries([](int) { return statusReply(0x20); });
}

bool isCopyQuery(const PrinterCommand& command, const std::vector<PrinterCommand>& before)
{
    return command.kind == PrinterCommand::StatusQuery && !before.empty() &&
           before.back().kind == PrinterCommand::Raster;
}

std::vector<const PrinterCommand*> FilterRun::ofKind(PrinterCommand::Kind kind) const
{
    std::vector<const PrinterCommand*> result;
    for (const auto& c : commands) {
        if (c.kind == kind) {
            result.push_back(&c);
        }
    }
    return result;
}

bool FilterRun::logHas(const std::string& text) const
{
    std::size_t at = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        std::size_t found = err.find(text.substr(start, end - start), at);
        if (found == std::string::npos) {
            return false;
        }
        at = found + (end - start);
        start = end;
    }
    return true;
}

std::size_t FilterRun::logCount(const std::string& text) const
{
    std::size_t count = 0;
    for (std::size_t p = err.find(text); p != std::string::npos; p = err.find(text, p + text.size())) {
        ++count;
    }
    return count;
}

std::string describe(const std::vector<PrinterCommand>& commands)
{
    static const char* const names[] = {"init", "density", "justify", "paper-mode", "feed", "raster", "query",
                                        "unknown"};
    std::string text;
    for (const PrinterCommand& c : commands) {
        text += (text.empty() ? "" : ", ") + std::string(names[c.kind]);
        if (c.kind == PrinterCommand::Raster) {
            text += " " + std::to_string(c.rowBytes) + "x" + std::to_string(c.rows);
        } else if (c.kind != PrinterCommand::Initialise && c.kind != PrinterCommand::StatusQuery) {
            text += " " + std::to_string(c.value);
        }
    }
    return text;
}

std::vector<PrinterCommand> decodePrinterStream(const std::string& stream, bool* complete)
{
    std::vector<PrinterCommand> commands;
    std::size_t pos = 0;
    while (pos < stream.size()) {
        PrinterCommand cmd;
        std::size_t used = decodeOne(stream, pos, cmd);
        if (used == 0) {
            break;
        }
        commands.push_back(std::move(cmd));
        pos += used;
    }
    if (complete != nullptr) {
        *complete = pos == stream.size();
    }
    return commands;
}

FilterRun runFilterJob(const FilterJob& job)
{
    ::signal(SIGPIPE, SIG_IGN);
    TempDir dir;
    const std::string rasterPath = dir.file("job.ras");
    if (!job.rawStream.empty() || job.pages.empty()) {
        writeFile(rasterPath, job.rawStream);
    } else {
        writeRasterFile(rasterPath, job.pages);
    }
    ProcessOptions options;
    options.unsetEnv = {"PPD"};
    if (!job.ppd.empty()) {
        writeFile(dir.file("test.ppd"), job.ppd);
        options.env["PPD"] = dir.file("test.ppd");
    }
    options.env["ZORVAN_TEST_WAIT_MS"] = std::to_string(job.waitMs);
    for (const auto& [k, v] : job.env) {
        options.env[k] = v;
    }
    std::vector<std::string> envStrings = childEnvironment(options);
    std::vector<std::string> args = {builtProgram("rastertozorvan"), "7", "tester", "job", "1", job.options,
                                     rasterPath};
    auto argp = cStrings(args);
    auto envp = cStrings(envStrings);

    int outPipe[2], errPipe[2], backPipe[2];
    if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0 || ::pipe(backPipe) != 0) {
        throw std::runtime_error("pipe failed");
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, 0);
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        ::dup2(backPipe[0], 3);
        for (int fd = 4; fd < 256; ++fd) {
            ::close(fd);
        }
        ::execve(argp[0], argp.data(), envp.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    ::close(backPipe[0]);

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(static_cast<long long>(job.timeoutSeconds * 1000));
    FilterRun run;
    std::deque<std::pair<Clock::time_point, std::string>> pendingReplies;
    std::size_t parsed = 0;
    bool outOpen = true;
    bool errOpen = true;
    bool terminated = false;
    while (outOpen || errOpen) {
        auto now = Clock::now();
        while (!pendingReplies.empty() && pendingReplies.front().first <= now) {
            const std::string& reply = pendingReplies.front().second;
            [[maybe_unused]] ssize_t w = ::write(backPipe[1], reply.data(), reply.size());
            pendingReplies.pop_front();
        }
        if (now >= deadline) {
            run.timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        int timeoutMs = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count());
        if (!pendingReplies.empty()) {
            auto untilReply =
                std::chrono::duration_cast<std::chrono::milliseconds>(pendingReplies.front().first - now).count();
            timeoutMs = std::min<int>(timeoutMs, static_cast<int>(untilReply) + 1);
        }
        pollfd fds[2] = {{outOpen ? outPipe[0] : -1, POLLIN, 0}, {errOpen ? errPipe[0] : -1, POLLIN, 0}};
        if (::poll(fds, 2, timeoutMs) < 0) {
            continue;
        }
        char buffer[65536];
        if (outOpen && (fds[0].revents & (POLLIN | POLLHUP)) != 0) {
            ssize_t n = ::read(outPipe[0], buffer, sizeof buffer);
            if (n <= 0) {
                outOpen = false;
            } else {
                run.out.append(buffer, static_cast<std::size_t>(n));
                if (job.terminateAfterBytes > 0 && !terminated && run.out.size() >= job.terminateAfterBytes) {
                    ::kill(pid, SIGTERM);
                    terminated = true;
                }
                if (job.readPauseMs > 0) {
                    ::usleep(static_cast<useconds_t>(job.readPauseMs) * 1000);
                }
                for (;;) {
                    PrinterCommand cmd;
                    if (parsed >= run.out.size()) {
                        break;
                    }
                    std::size_t used = decodeOne(run.out, parsed, cmd);
                    if (used == 0) {
                        break;
                    }
                    if (cmd.kind == PrinterCommand::StatusQuery) {
                        cmd.query = run.queries++;
                    }
                    if (job.printer) {
                        Reply reply = job.printer(cmd, run.commands);
                        if (!reply.bytes.empty()) {
                            pendingReplies.emplace_back(Clock::now() + std::chrono::milliseconds(reply.delayMs),
                                                        reply.bytes);
                            std::stable_sort(pendingReplies.begin(), pendingReplies.end(),
                                             [](const auto& a, const auto& b) { return a.first < b.first; });
                        }
                    }
                    run.commands.push_back(std::move(cmd));
                    parsed += used;
                }
            }
        }
        if (errOpen && (fds[1].revents & (POLLIN | POLLHUP)) != 0) {
            ssize_t n = ::read(errPipe[0], buffer, sizeof buffer);
            if (n <= 0) {
                errOpen = false;
            } else {
                run.err.append(buffer, static_cast<std::size_t>(n));
            }
        }
    }
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    ::close(backPipe[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.endedInsideCommand = parsed != run.out.size();
    return run;
}

}  // namespace testsupport
