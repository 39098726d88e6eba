// Helper of scripts/compare-perf:
//   zorvan-road page FILE HEIGHT       writes the receipt page as a binary PPM
//   zorvan-road time SETTING HEIGHT N  times the colour road N times (CPU time),
//                                      prints "best_ms median_ms"
//   zorvan-road memcpy HEIGHT N        times a copy of the page, same output
//   zorvan-road rss SETTING HEIGHT     runs the road once on a page read into
//                                      a page buffer as the filter does and
//                                      prints the peak resident size in KiB
#include "ColourRoad.h"
#include "ReceiptPage.h"

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int pageWidth = 576;

// CPU time of this process in milliseconds: on a machine shared with other
// work it is disturbed far less than the wall clock.
double cpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) * 1e-6;
}

int writePage(const char* path, int height)
{
    const std::vector<unsigned char> page = makeReceiptPage(pageWidth, height);
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        std::perror(path);
        return 1;
    }
    std::fprintf(file, "P6\n%d %d\n255\n", pageWidth, height);
    const std::size_t stride = receiptStride(pageWidth);
    for (int y = 0; y < height; ++y) {
        std::fwrite(page.data() + stride * static_cast<std::size_t>(y), 1, static_cast<std::size_t>(pageWidth) * 3,
                    file);
    }
    return std::fclose(file) == 0 ? 0 : 1;
}

int timeRoad(int setting, int height, int repetitions)
{
    const std::vector<unsigned char> page = makeReceiptPage(pageWidth, height);
    std::vector<unsigned char> image(page.size());
    setRoadSettings(setting);
    std::vector<double> times;
    for (int i = 0; i < repetitions; ++i) {
        std::memcpy(image.data(), page.data(), page.size());
        const double start = cpuMs();
        const int size = runColourRoad(image.data(), pageWidth, height);
        const double end = cpuMs();
        if (size == 0) {
            std::fprintf(stdout, "failed\n");
            return 1;
        }
        times.push_back(end - start);
    }
    std::sort(times.begin(), times.end());
    std::printf("%.3f %.3f\n", times.front(), times[times.size() / 2]);
    return 0;
}

int timeMemcpy(int height, int repetitions)
{
    const std::vector<unsigned char> page = makeReceiptPage(pageWidth, height);
    std::vector<unsigned char> copy(page.size());
    std::vector<double> times;
    for (int i = 0; i < repetitions; ++i) {
        const double start = cpuMs();
        std::memcpy(copy.data(), page.data(), page.size());
        const double end = cpuMs();
        times.push_back(end - start);
    }
    std::sort(times.begin(), times.end());
    // Keep the copy observable so that it is not optimised away.
    std::printf("%.3f %.3f %d\n", times.front(), times[times.size() / 2], copy[copy.size() / 2] & 1);
    return 0;
}

long peakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
#if defined(__APPLE__)
    return usage.ru_maxrss / 1024;  // bytes there
#else
    return usage.ru_maxrss;
#endif
}

int roadResident(int setting, int height)
{
    std::vector<unsigned char> page = makeReceiptPage(pageWidth, height);
    setRoadSettings(setting);
    if (runColourRoad(page.data(), pageWidth, height) == 0) {
        std::printf("failed\n");
        return 1;
    }
    std::printf("%ld\n", peakResidentKiB());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // The binarizers log every page on standard error.
    const bool quiet = std::getenv("ZORVAN_ROAD_VERBOSE") == nullptr;
    if (quiet && std::freopen("/dev/null", "w", stderr) == nullptr) {
        return 1;
    }
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "page" && argc == 4) {
        return writePage(argv[2], std::atoi(argv[3]));
    }
    if (mode == "time" && argc == 5) {
        return timeRoad(std::atoi(argv[2]), std::atoi(argv[3]), std::max(1, std::atoi(argv[4])));
    }
    if (mode == "memcpy" && argc == 4) {
        return timeMemcpy(std::atoi(argv[2]), std::max(1, std::atoi(argv[3])));
    }
    if (mode == "rss" && argc == 4) {
        return roadResident(std::atoi(argv[2]), std::atoi(argv[3]));
    }
    std::fprintf(stdout,
                 "usage: zorvan-road page FILE HEIGHT | time SETTING HEIGHT N | memcpy HEIGHT N | "
                 "rss SETTING HEIGHT\n");
    return 2;
}
