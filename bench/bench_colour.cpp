// Benchmarks of the colour road and its steps on 576-pixel receipt pages of
// 4000 and 40000 rows. Each iteration is one page; besides the time per page
// every benchmark reports the time per pixel and the pixels per second.
#include "ColourRoad.h"
#include "ReceiptPage.h"

#include "core/Functions.h"
#include "filter/settingsThermalSensitivityPara.h"
#include "imaging/24BitTo1Bit.h"
#include "imaging/Dither.h"
#include "imaging/FunctionAsistant.h"
#include "imaging/GrayAlgorithm.h"
#include "imaging/ImageBuffer.h"
#include "imaging/TextAndPictures.h"
#include "imaging/freeimageHalftone.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

namespace {

constexpr int pageWidth = 576;
constexpr int extraRows = 120;

// Pages are built once per length and shared by every benchmark: the R,G,B
// page as read and the B,G,R page the binarizers see.
struct Pages {
    std::vector<unsigned char> rgb;
    std::vector<unsigned char> bgr;
};

const Pages& pagesOf(int height)
{
    static std::map<int, Pages> cache;
    auto found = cache.find(height);
    if (found == cache.end()) {
        Pages pages;
        pages.rgb = makeReceiptPage(pageWidth, height);
        pages.bgr = pages.rgb;
        TrueCollorRGBToBGR(pageWidth, height, pages.bgr.data());
        found = cache.emplace(height, std::move(pages)).first;
    }
    return found->second;
}

void setCounters(benchmark::State& state, int height)
{
    const double pixels = static_cast<double>(pageWidth) * height;
    // Inverted rates print as times with their unit (e.g. "3.2ms", "1.4ns").
    // All three follow the CPU column, the benchmark's own CPU time, which
    // other work on a shared machine disturbs least.
    state.counters["per_page"] =
        benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["per_pixel"] =
        benchmark::Counter(pixels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["pixels"] = benchmark::Counter(pixels, benchmark::Counter::kIsIterationInvariantRate);
}

int bitRasterSize(int height, int extra) { return bitRasterStride(pageWidth) * (height + extra); }

// ---- Baseline ----

void BM_MemcpyPage(benchmark::State& state)
{
    const int height = static_cast<int>(state.range(0));
    const Pages& pages = pagesOf(height);
    std::vector<unsigned char> copy(pages.rgb.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), pages.rgb.data(), copy.size());
        benchmark::ClobberMemory();
    }
    setCounters(state, height);
}

// ---- Steps of the road ----

void BM_GrayConversion(benchmark::State& state)
{
    const int height = static_cast<int>(state.range(0));
    const Pages& pages = pagesOf(height);
    std::vector<unsigned char> plane(static_cast<std::size_t>(pageWidth) * height);
    for (auto _ : state) {
        RGB2GrayPlane(pages.bgr.data(), pageWidth, height, trueColourStride(pageWidth), 12, plane.data());
        benchmark::ClobberMemory();
    }
    setCounters(state, height);
}

void BM_BrightnessContrast(benchmark::State& state)
{
    const int height = static_cast<int>(state.range(0));
    std::vector<unsigned char> image = pagesOf(height).rgb;
    for (auto _ : state) {
        f_BrightContrastPS(image.data(), pageWidth, height, pageWidth * 3, 20, 30);
        benchmark::ClobberMemory();
    }
    setCounters(state, height);
}

void BM_Offset(benchmark::State& state)
{
    const int height = static_cast<int>(state.range(0));
    std::vector<unsigned char> image = pagesOf(height).rgb;
    for (auto _ : state) {
        f_XYOfffset(image.data(), pageWidth, height, pageWidth * 3, 24, 24);
        benchmark::ClobberMemory();
    }
    setCounters(state, height);
}

void BM_SwapRGBToBGR(benchmark::State& state)
{
    const int height = static_cast<int>(state.range(0));
    std::vector<unsigned char> image = pagesOf(height).rgb;
    for (auto _ : state) {
        TrueCollorRGBToBGR(pageWidth, height, image.data());
        benchmark::ClobberMemory();
    }
    setCounters(state, height);
}

void BM_Pack(benchmark::State& state)
{
    const int height = static_cast<int>(state.range(0));
    const Pages& pages = pagesOf(height);
    // A two-level plane of the page (gray above 127 is white).
    std::vector<unsigned char> plane(static_cast<std::size_t>(pageWidth) * (height + extraRows), 255);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < pageWidth; ++x) {
            const unsigned char* p = pages.bgr.data() + static_cast<std::size_t>(y) * trueColourStride(pageWidth) + 3 * x;
            plane[static_cast<std::size_t>(y) * pageWidth + x] = p[1] > 127 ? 255 : 0;
        }
    }
    std::vector<unsigned char> bits(static_cast<std::size_t>(bitRasterSize(height, extraRows)));
    for (auto _ : state) {
        int size = bitRasterSize(height, extraRows);
        if (!CreatDataBin(plane.data(), pageWidth, height + extraRows, bits.data(), &size)) {
            state.SkipWithError("CreatDataBin failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    setCounters(state, height);
}

void BM_Invert(benchmark::State& state)
{
    const int height = static_cast<int>(state.range(0));
    std::vector<unsigned char> bits(static_cast<std::size_t>(bitRasterSize(height, extraRows)), 0x5A);
    for (auto _ : state) {
        DoTurnOver(bits.data(), static_cast<int>(bits.size()));
        benchmark::ClobberMemory();
    }
    setCounters(state, height);
}

void BM_OutputBuffer(benchmark::State& state)
{
    const int height = static_cast<int>(state.range(0));
    std::vector<unsigned char> bits(static_cast<std::size_t>(bitRasterSize(height, extraRows)), 0x5A);
    for (auto _ : state) {
        curPagePos = 0;
        outputarray(bits.data(), static_cast<int>(bits.size()));
        benchmark::ClobberMemory();
    }
    curPagePos = 0;
    setCounters(state, height);
}

// ---- Binarizers, by the road's setting number ----

using Binarizer = bool (*)(int, int, int, const unsigned char*, unsigned int, unsigned char*, int*);

template <int Setting>
void BM_Binarize(benchmark::State& state)
{
    const int height = static_cast<int>(state.range(0));
    const Pages& pages = pagesOf(height);
    setRoadSettings(Setting);
    Binarizer binarizer = nullptr;
    unsigned int selector = 12;
    switch (Setting) {
    case 0: binarizer = TrueCollorBitToOnebit; break;
    case 2: binarizer = makeDitherBayer8; break;
    case 3: binarizer = makeDitherBayer16; break;
    case 7: binarizer = ErrorDiffusionFloydSteinberg7351; break;
    case 8: binarizer = ErrorDiffusionBurkes; break;
    case 9: binarizer = ErrorDiffusionSierra; break;
    case 10: binarizer = Threshold; selector = static_cast<unsigned int>(GetThreshholdByManual()); break;
    case 11: binarizer = ErrorDiffusionStucki; break;
    case 12: binarizer = TextAndPicturesToOnebit; break;
    default: break;
    }
    std::vector<unsigned char> bits(static_cast<std::size_t>(bitRasterSize(height, extraRows)));
    for (auto _ : state) {
        int size = bitRasterSize(height, extraRows);
        if (!binarizer(pageWidth, height, extraRows, pages.bgr.data(), selector, bits.data(), &size)) {
            state.SkipWithError("binarizer failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    setCounters(state, height);
}

// ---- The whole road of one page ----

template <int Setting>
void BM_ColourRoad(benchmark::State& state)
{
    const int height = static_cast<int>(state.range(0));
    const Pages& pages = pagesOf(height);
    setRoadSettings(Setting);
    std::vector<unsigned char> image(pages.rgb.size());
    for (auto _ : state) {
        // Putting the page back stands for reading it; it is not timed.
        state.PauseTiming();
        std::memcpy(image.data(), pages.rgb.data(), image.size());
        state.ResumeTiming();
        if (runColourRoad(image.data(), pageWidth, height) == 0) {
            state.SkipWithError("colour road failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    setCounters(state, height);
}

#define PAGES ->Arg(4000)->Arg(40000)->Unit(benchmark::kMillisecond)

BENCHMARK(BM_MemcpyPage) PAGES;
BENCHMARK(BM_GrayConversion) PAGES;
BENCHMARK(BM_BrightnessContrast) PAGES;
BENCHMARK(BM_Offset) PAGES;
BENCHMARK(BM_SwapRGBToBGR) PAGES;
BENCHMARK(BM_Pack) PAGES;
BENCHMARK(BM_Invert) PAGES;
BENCHMARK(BM_OutputBuffer) PAGES;
BENCHMARK_TEMPLATE(BM_Binarize, 0) PAGES;
BENCHMARK_TEMPLATE(BM_Binarize, 2) PAGES;
BENCHMARK_TEMPLATE(BM_Binarize, 3) PAGES;
BENCHMARK_TEMPLATE(BM_Binarize, 7) PAGES;
BENCHMARK_TEMPLATE(BM_Binarize, 8) PAGES;
BENCHMARK_TEMPLATE(BM_Binarize, 9) PAGES;
BENCHMARK_TEMPLATE(BM_Binarize, 10) PAGES;
BENCHMARK_TEMPLATE(BM_Binarize, 11) PAGES;
BENCHMARK_TEMPLATE(BM_Binarize, 12) PAGES;
BENCHMARK_TEMPLATE(BM_ColourRoad, 0) PAGES;
BENCHMARK_TEMPLATE(BM_ColourRoad, 2) PAGES;
BENCHMARK_TEMPLATE(BM_ColourRoad, 3) PAGES;
BENCHMARK_TEMPLATE(BM_ColourRoad, 7) PAGES;
BENCHMARK_TEMPLATE(BM_ColourRoad, 8) PAGES;
BENCHMARK_TEMPLATE(BM_ColourRoad, 9) PAGES;
BENCHMARK_TEMPLATE(BM_ColourRoad, 10) PAGES;
BENCHMARK_TEMPLATE(BM_ColourRoad, 11) PAGES;
BENCHMARK_TEMPLATE(BM_ColourRoad, 12) PAGES;

}  // namespace

int main(int argc, char** argv)
{
    // The binarizers log every page on standard error; keep the table readable.
    if (std::freopen("/dev/null", "w", stderr) == nullptr) {
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
