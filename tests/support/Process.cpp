#include "support/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace testsupport {

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options)
{
    // Files rather than pipes: nothing to pump, and a daemon the child leaves
    // behind holding them open cannot stall the test.
    TempDir io;
    writeFile(io.file("in"), options.stdinData);
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(::open(io.file("in").c_str(), O_RDONLY), 0);
        ::dup2(::open(io.file("out").c_str(), O_WRONLY | O_CREAT, 0600), 1);
        ::dup2(::open(io.file("err").c_str(), O_WRONLY | O_CREAT, 0600), 2);
        options.backChannel ? ::dup2(::open("/dev/null", O_RDONLY), 3) : ::close(3);
        for (int fd = 4; fd < 64; ++fd) {
            ::close(fd);
        }
        for (const auto& [name, value] : options.env) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::duration<double>(options.timeoutSeconds);
    int status = 0;
    while (pid > 0 && ::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return {readFile(io.file("out")), readFile(io.file("err")), pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
}

std::string builtProgram(const std::string& name) { return std::string(ZORVAN_BIN_DIR) + "/" + name; }

std::string sourcePath(const std::string& relative) { return std::string(ZORVAN_SOURCE_DIR) + "/" + relative; }

std::string builtPpd(const std::string& name) { return std::string(ZORVAN_PPD_BUILD_DIR) + "/" + name; }

TempDir::TempDir() : path_((std::filesystem::temp_directory_path() / "zorvan-test-XXXXXX").string())
{
    if (::mkdtemp(path_.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::string& path)
{
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

std::map<std::string, std::string> readKeyValues(const std::string& path)
{
    std::map<std::string, std::string> values;
    std::istringstream in(readFile(path));
    for (std::string line; std::getline(in, line);) {
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos) {
            values[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return values;
}

bool running(int pid)
{
    if (pid <= 0 || ::kill(pid, 0) != 0) {
        return false;
    }
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t end = stat.rfind(')');
    return end == std::string::npos || end + 2 >= stat.size() || stat[end + 2] != 'Z';
}

bool eventually(const std::function<bool()>& done, double seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

int portAfter(const std::string& file, const std::string& marker)
{
    const std::string text = readFile(file);
    const std::size_t at = text.find(marker), end = text.find_first_not_of("0123456789", at + marker.size());
    // Only a whole number: the line may still be on its way.
    return at == std::string::npos || end == std::string::npos ? 0 : std::atoi(text.c_str() + at + marker.size());
}

}  // namespace testsupport
