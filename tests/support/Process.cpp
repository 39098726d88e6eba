#include "support/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace testsupport {

namespace {

void setNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

std::vector<std::string> childEnvironment(const ProcessOptions& options)
{
    std::map<std::string, std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry(*e);
        auto eq = entry.find('=');
        if (eq != std::string::npos) {
            env[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
    }
    for (const auto& name : options.unsetEnv) {
        env.erase(name);
    }
    for (const auto& [name, value] : options.env) {
        env[name] = value;
    }
    std::vector<std::string> strings;
    for (const auto& [name, value] : env) {
        strings.push_back(name + "=" + value);
    }
    return strings;
}

std::vector<char*> cStrings(std::vector<std::string>& strings)
{
    std::vector<char*> result;
    for (auto& s : strings) {
        result.push_back(s.data());
    }
    result.push_back(nullptr);
    return result;
}

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options)
{
    int inPipe[2], outPipe[2], errPipe[2];
    if (::pipe(inPipe) != 0 || ::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) {
        throw std::runtime_error("pipe failed");
    }

    // Build the environment before forking.
    std::vector<std::string> envStrings = childEnvironment(options);
    std::vector<std::string> args = argv;
    std::vector<char*> envp = cStrings(envStrings);
    std::vector<char*> argp = cStrings(args);

    pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        ::dup2(inPipe[0], 0);
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) {
            ::close(fd);
        }
        // A filter reads the printer's replies from descriptor 3; /dev/null
        // is a silent printer.
        if (options.noBackChannel) {
            ::close(3);
        }
        const int devNull = options.noBackChannel ? -1 : ::open("/dev/null", O_RDONLY);
        if (devNull >= 0 && devNull != 3) {
            ::dup2(devNull, 3);
            ::close(devNull);
        }
        ::execve(argp[0], argp.data(), envp.data());
        std::fprintf(stderr, "exec %s failed: %s\n", argp[0], std::strerror(errno));
        ::_exit(127);
    }
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    ::close(errPipe[1]);

    ProcessResult result;
    int inFd = inPipe[1];
    int outFd = outPipe[0];
    int errFd = errPipe[0];
    setNonBlocking(inFd);
    setNonBlocking(outFd);
    setNonBlocking(errFd);
    ::signal(SIGPIPE, SIG_IGN);

    std::size_t written = 0;
    if (options.stdinData.empty()) {
        ::close(inFd);
        inFd = -1;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(options.timeoutSeconds);
    char buffer[65536];
    while (outFd >= 0 || errFd >= 0) {
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            result.timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        int waitMs = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count()) + 1;
        pollfd fds[3];
        int n = 0;
        if (inFd >= 0) fds[n++] = {inFd, POLLOUT, 0};
        if (outFd >= 0) fds[n++] = {outFd, POLLIN, 0};
        if (errFd >= 0) fds[n++] = {errFd, POLLIN, 0};
        if (::poll(fds, n, waitMs) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < n; ++i) {
            if (fds[i].revents == 0) continue;
            int fd = fds[i].fd;
            if (fd == inFd) {
                ssize_t w = ::write(inFd, options.stdinData.data() + written, options.stdinData.size() - written);
                if (w > 0) written += static_cast<std::size_t>(w);
                if (w < 0 && errno != EAGAIN) written = options.stdinData.size();
                if (written >= options.stdinData.size()) {
                    ::close(inFd);
                    inFd = -1;
                }
            } else {
                ssize_t r = ::read(fd, buffer, sizeof buffer);
                if (r > 0) {
                    (fd == outFd ? result.out : result.err).append(buffer, static_cast<std::size_t>(r));
                } else if (r == 0 || errno != EAGAIN) {
                    ::close(fd);
                    (fd == outFd ? outFd : errFd) = -1;
                }
            }
        }
    }
    for (int fd : {inFd, outFd, errFd}) {
        if (fd >= 0) ::close(fd);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status)) {
        result.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

std::string builtProgram(const std::string& name)
{
    return std::string(ZORVAN_BIN_DIR) + "/" + name;
}

std::string sourcePath(const std::string& relative)
{
    return std::string(ZORVAN_SOURCE_DIR) + "/" + relative;
}

TempDir::TempDir()
{
    std::string templ = (std::filesystem::temp_directory_path() / "zorvan-test-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = templ;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary);
    out << content;
}

std::map<std::string, std::string> readKeyValues(const std::string& path)
{
    std::map<std::string, std::string> values;
    std::istringstream in(readFile(path));
    for (std::string line; std::getline(in, line);) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) {
            values[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return values;
}

}  // namespace testsupport
