// Runs a built program as a child process and captures what it says.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

struct ProcessResult {
    std::string out, err;  // standard output (bytes as written) and standard error
    int exitStatus = -1;   // exit status, or -1 when the process did not exit normally
    double seconds = 0;    // how long it ran
};

struct ProcessOptions {
    std::string stdinData;                   // the child's standard input
    std::map<std::string, std::string> env;  // added to (or replacing in) the inherited environment
    double timeoutSeconds = 60.0;            // the child is killed after this long
    bool backChannel = true;                 // descriptor 3 is /dev/null (a printer that never answers), else closed
};

// argv[0] is the program path.
ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// Path of a program built by this project (build/bin/NAME).
std::string builtProgram(const std::string& name);

// Path inside the source tree.
std::string sourcePath(const std::string& relative);

// Path of a PPD compiled by this build: zorvan.ppd (80 mm) or zorvan58.ppd (58 mm).
std::string builtPpd(const std::string& name = "zorvan.ppd");

// A fresh temporary directory, removed when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Whether the process runs (neither gone nor a zombie left to whoever adopted
// it); where there is no /proc, whether it exists.
bool running(int pid);

// Tests `done` every 50 ms until it holds or `seconds` have passed; whether it holds.
// The deadline only bounds a hang: a loaded machine may take long.
bool eventually(const std::function<bool()>& done, double seconds = 60);

// The port of a server started on port 0, from the first line of `file` that
// holds `marker` followed by the port (0 while there is none, or it is not whole yet).
int portAfter(const std::string& file, const std::string& marker);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

// The "key=value" lines of a file (the simulated printer's summary.txt).
std::map<std::string, std::string> readKeyValues(const std::string& path);

}  // namespace testsupport
