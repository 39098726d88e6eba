// A stand-in for libFuzzer's driver, linked into every fuzz target in the
// ordinary build: it runs the seed corpus and then seeded random mutations of
// it for a few seconds, so `make test` keeps each target compiling and alive
// under the same compiler and sanitizers as the rest of the suite. The real
// coverage-guided runs use libFuzzer (`make fuzz`).
//
//   fuzz_<name> [--seconds S] [--runs N] [--seed N] [--save-slowest] [--verbose] [FILE|DIR]...
//
// --save-slowest writes the slowest input to ./slowest-input.
//
// A crash writes the input that caused it to ./crash-<pid> (the same file
// libFuzzer would take as an argument to reproduce it).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

// The sanitizer runtime's interface exists only in sanitized builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZORVAN_HAVE_SANITIZER_INTERFACE 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZORVAN_HAVE_SANITIZER_INTERFACE 1
#endif
#endif
#ifdef ZORVAN_HAVE_SANITIZER_INTERFACE
#include <sanitizer/common_interface_defs.h>
#endif

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

using Bytes = std::vector<std::uint8_t>;

// The input being run, for the crash dump. Plain globals: read from a
// signal handler or a sanitizer's death callback on this same thread.
const std::uint8_t* currentData = nullptr;
std::size_t currentSize = 0;
int reportFd = 2;

void writeAll(int fd, const void* data, std::size_t size)
{
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n <= 0) {
            return;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

void dumpCurrentInput()
{
    if (currentData == nullptr && currentSize != 0) {
        return;
    }
    char name[64];
    std::snprintf(name, sizeof name, "crash-%ld", static_cast<long>(::getpid()));
    const int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        return;
    }
    writeAll(fd, currentData, currentSize);
    ::close(fd);
    const char prefix[] = "fuzz smoke: the failing input is in ./";
    writeAll(reportFd, prefix, sizeof prefix - 1);
    writeAll(reportFd, name, std::strlen(name));
    writeAll(reportFd, "\n", 1);
}

extern "C" void onFatalSignal(int signo)
{
    dumpCurrentInput();
    std::signal(signo, SIG_DFL);
    std::raise(signo);
}

bool readFile(const std::string& path, Bytes& out)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    out.clear();
    std::uint8_t buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        out.insert(out.end(), buffer, buffer + n);
    }
    std::fclose(f);
    return true;
}

// Files given directly, and the regular files of directories given (one level).
void collect(const std::string& path, std::vector<Bytes>& corpus)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "fuzz smoke: cannot read %s\n", path.c_str());
        std::exit(2);
    }
    if (!S_ISDIR(st.st_mode)) {
        Bytes b;
        if (readFile(path, b)) {
            corpus.push_back(std::move(b));
        }
        return;
    }
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) {
        return;
    }
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] != '.') {
            names.emplace_back(e->d_name);
        }
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        const std::string full = path + "/" + name;
        if (::stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            Bytes b;
            if (readFile(full, b)) {
                corpus.push_back(std::move(b));
            }
        }
    }
}

// A few of libFuzzer's simpler mutations: enough to walk off the seeds'
// happy paths into truncations, odd sizes and stray bytes.
Bytes mutate(const std::vector<Bytes>& corpus, std::mt19937_64& rng)
{
    auto pick = [&rng](std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(rng() % n); };
    Bytes b = corpus.empty() ? Bytes() : corpus[pick(corpus.size())];
    if (b.empty() || rng() % 16 == 0) {
        b.resize(pick(256) + 1);
        for (auto& x : b) {
            x = static_cast<std::uint8_t>(rng());
        }
        return b;
    }
    const int edits = 1 + static_cast<int>(pick(8));
    for (int i = 0; i < edits && !b.empty(); ++i) {
        switch (rng() % 8) {
        case 0:  // flip a bit
            b[pick(b.size())] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
            break;
        case 1:  // random byte
            b[pick(b.size())] = static_cast<std::uint8_t>(rng());
            break;
        case 2:  // interesting byte
        {
            static const std::uint8_t values[] = {0x00, 0x01, 0x7F, 0x80, 0xFE, 0xFF, 0x10, 0x20, 0x0A, 0x2A};
            b[pick(b.size())] = values[pick(sizeof values)];
            break;
        }
        case 3:  // truncate
            b.resize(pick(b.size()) + 1);
            break;
        case 4:  // erase a run
        {
            const std::size_t at = pick(b.size());
            const std::size_t n = std::min(b.size() - at, pick(16) + 1);
            b.erase(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + n));
            break;
        }
        case 5:  // insert random bytes
        {
            const std::size_t at = pick(b.size() + 1);
            const std::size_t n = pick(16) + 1;
            for (std::size_t k = 0; k < n; ++k) {
                b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), static_cast<std::uint8_t>(rng()));
            }
            break;
        }
        case 6:  // splice in part of another seed
        {
            const Bytes& other = corpus[pick(corpus.size())];
            if (!other.empty()) {
                const std::size_t from = pick(other.size());
                const std::size_t n = std::min(other.size() - from, pick(64) + 1);
                const std::size_t at = pick(b.size());
                for (std::size_t k = 0; k < n && at + k < b.size(); ++k) {
                    b[at + k] = other[from + k];
                }
            }
            break;
        }
        default:  // overwrite 4 bytes with an extreme 32-bit value
        {
            static const std::uint32_t values[] = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFF, 0x10000, 65535 * 2};
            const std::uint32_t v = values[pick(sizeof values / sizeof values[0])];
            const std::size_t at = pick(b.size());
            for (std::size_t k = 0; k < 4 && at + k < b.size(); ++k) {
                b[at + k] = static_cast<std::uint8_t>(v >> (8 * (rng() % 2 == 0 ? k : 3 - k)));
            }
            break;
        }
        }
    }
    return b;
}

double slowestSeconds = 0.0;
Bytes slowestInput;

void runOne(const Bytes& input)
{
    currentData = input.data();
    currentSize = input.size();
    const auto start = std::chrono::steady_clock::now();
    LLVMFuzzerTestOneInput(input.data(), input.size());
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (took > slowestSeconds) {
        slowestSeconds = took;
        slowestInput = input;
    }
    currentData = nullptr;
    currentSize = 0;
}

}  // namespace

int main(int argc, char** argv)
{
    double seconds = 2.0;
    long long maxRuns = -1;
    std::uint64_t seed = 0;
    bool seedGiven = false;
    bool verbose = false;
    bool saveSlowest = false;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (arg == "--runs" && i + 1 < argc) {
            maxRuns = std::atoll(argv[++i]);
        } else if (arg == "--seed" && i + 1 < argc) {
            seed = std::strtoull(argv[++i], nullptr, 10);
            seedGiven = true;
        } else if (arg == "--save-slowest") {
            saveSlowest = true;
        } else if (arg == "--verbose") {
            verbose = true;
        } else {
            paths.push_back(arg);
        }
    }
    if (const char* env = std::getenv("FUZZ_SMOKE_SECONDS"); env != nullptr && *env != '\0') {
        seconds = std::atof(env);
    }
    if (!seedGiven) {
        seed = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    }

    std::vector<Bytes> corpus;
    for (const auto& path : paths) {
        collect(path, corpus);
    }

    LLVMFuzzerInitialize(&argc, &argv);

    // The targets log like the filter does; keep that out of the test output
    // but keep a descriptor for our own report and the sanitizers'.
    reportFd = ::dup(2);
    if (!verbose) {
        const int devnull = ::open("/dev/null", O_WRONLY);
        ::dup2(devnull, 1);
        ::dup2(devnull, 2);
        ::close(devnull);
    }
#ifdef ZORVAN_HAVE_SANITIZER_INTERFACE
    __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(reportFd)));
    __sanitizer_set_death_callback(dumpCurrentInput);
#endif
    for (int signo : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
        std::signal(signo, onFatalSignal);
    }

    for (const auto& input : corpus) {
        runOne(input);
    }

    std::mt19937_64 rng(seed);
    const auto start = std::chrono::steady_clock::now();
    long long generated = 0;
    while ((maxRuns < 0 || generated < maxRuns) &&
           (maxRuns >= 0 ||
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < seconds)) {
        runOne(mutate(corpus, rng));
        ++generated;
    }

    if (saveSlowest) {
        if (FILE* f = std::fopen("slowest-input", "wb")) {
            std::fwrite(slowestInput.data(), 1, slowestInput.size(), f);
            std::fclose(f);
        }
    }
    char line[200];
    const int n = std::snprintf(line, sizeof line,
                                "fuzz smoke: %zu corpus inputs and %lld generated inputs (seed %llu) ran clean; "
                                "slowest input %.1f ms\n",
                                corpus.size(), generated, static_cast<unsigned long long>(seed),
                                slowestSeconds * 1000.0);
    writeAll(reportFd, line, static_cast<std::size_t>(n));
    return 0;
}
