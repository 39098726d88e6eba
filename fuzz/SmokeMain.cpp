// Stand-in for libFuzzer's driver in the ordinary builds: runs the inputs given (files,
// or every file of a folder), then seeded random mutations of them for --seconds, so
// ctest keeps every target compiling and alive under the same compilers and sanitizers
// as the rest of the suite. The seed is printed first; a failure comes back with
// `fuzz_NAME --seed N DIR`, a single input with `fuzz_NAME FILE`. `make fuzz` runs the
// coverage-guided libFuzzer builds.
//
//   fuzz_<name> [--seconds S] [--seed N] [FILE|DIR]...
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
// Present in sanitized builds only: where the sanitizers report once the targets' own chatter is silenced.
extern "C" void __sanitizer_set_report_fd(void* fd) __attribute__((weak));

namespace {

using Bytes = std::vector<std::uint8_t>;
std::vector<Bytes> corpus;

void add(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// libFuzzer hands even an empty input over as a valid pointer.
void run(const Bytes& input)
{
    LLVMFuzzerTestOneInput(input.empty() ? reinterpret_cast<const std::uint8_t*>("") : input.data(), input.size());
}

// A few of libFuzzer's simpler mutations of a corpus input: truncation, inserted bytes,
// random bytes, and runs of 00 or FF over size fields.
Bytes mutate(std::mt19937_64& rng)
{
    Bytes b = corpus[rng() % corpus.size()];
    for (int edits = 1 + static_cast<int>(rng() % 8); edits > 0; --edits) {
        const std::size_t at = rng() % (b.size() + 1), kind = rng() % 4, end = std::min(b.size(), at + 1 + rng() % 4);
        if (kind == 0) {
            b.resize(at);
        } else if (kind == 1) {
            b.insert(b.begin() + static_cast<long>(at), 1 + rng() % 16, static_cast<std::uint8_t>(rng()));
        } else {
            for (std::size_t i = at; i < end; ++i) b[i] = static_cast<std::uint8_t>(kind == 2 ? rng() : 0 - (rng() & 1));
        }
    }
    return b;
}

}  // namespace

int main(int argc, char** argv)
{
    double seconds = 2.0;
    auto seed = static_cast<unsigned long long>(std::chrono::system_clock::now().time_since_epoch().count());
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (arg == "--seed" && i + 1 < argc) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (std::filesystem::is_directory(arg)) {
            std::vector<std::filesystem::path> files(std::filesystem::directory_iterator(arg), {});
            std::sort(files.begin(), files.end());  // the same seed, the same inputs
            std::for_each(files.begin(), files.end(), add);
        } else if (std::filesystem::exists(arg)) {
            add(arg);
        } else {
            std::fprintf(stderr, "fuzz smoke: ERROR: cannot read %s\n", arg.c_str());
            return 2;
        }
    }
    corpus.emplace_back();  // mutations of nothing too
    LLVMFuzzerInitialize(&argc, &argv);
    const int report = ::dup(2), devnull = ::open("/dev/null", O_WRONLY);
    ::dup2(devnull, 1);
    ::dup2(devnull, 2);
    if (__sanitizer_set_report_fd != nullptr) __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<long>(report)));
    dprintf(report, "fuzz smoke: %zu inputs, then %.1f s of mutations with --seed %llu\n", corpus.size(), seconds, seed);
    std::for_each(corpus.begin(), corpus.end(), run);
    std::mt19937_64 rng(seed);
    long runs = 0;
    for (const auto start = std::chrono::steady_clock::now();
         std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < seconds; ++runs)
        run(mutate(rng));
    dprintf(report, "fuzz smoke: %ld mutated inputs ran clean\n", runs);
    return 0;
}
