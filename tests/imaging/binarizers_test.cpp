// Every page binarizer held bit for bit to the literal transcriptions in
// reference_binarizers.h: random images of awkward sizes (1x1, 1xn, nx1,
// widths around the vector blocks and packed bytes, pages long enough to wrap
// the diffusion window), every gray selector, with and without extra rows.
// Buffers are sized exactly, so that the sanitized build sees any overrun.
// One table of binarizers also drives the refusal and allocation-failure checks.
#include "filter/settingsThermalSensitivityPara.h"
#include "imaging/24BitTo1Bit.h"
#include "imaging/AdaptiveThreshold.h"
#include "imaging/Dither.h"
#include "imaging/GrayAlgorithm.h"
#include "imaging/MonochromeConvert.h"
#include "imaging/TextAndPictures.h"
#include "imaging/freeimageHalftone.h"
#include "reference_binarizers.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <numeric>
#include <new>

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// Array allocations still allowed to succeed before one throws; negative: disarmed.
thread_local int arrayAllocationsBeforeFailure = -1;

void* operator new[](std::size_t size)
{
    if (arrayAllocationsBeforeFailure == 0) {
        arrayAllocationsBeforeFailure = -1;
        throw std::bad_alloc();
    }
    if (arrayAllocationsBeforeFailure > 0) {
        --arrayAllocationsBeforeFailure;
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

using namespace reference;

struct Binarizer {
    const char* name;
    bool (*withExtra)(int, int, int, const unsigned char*, unsigned int, unsigned char*, int*);  // white rows below
    bool (*plain)(int, int, const unsigned char*, unsigned int, unsigned char*, int*);
    Plane (*expected)(const Image&, int extra, unsigned int selector);
    int allocations;          // scratch buffers it allocates
    const char* failureLine;  // what it reports when one of them fails
    bool failureZeroesSize;
};

// The manual-threshold binarizer, whose selector is the manual setting too.
bool (*const manualThreshold)(int, int, int, const unsigned char*, unsigned int, unsigned char*, int*) = Threshold;

constexpr const char* kDiffusionFailure = "ErrorDiffusionFloydSteinberg7351 DibPixcel==NULL\r\n";
const Binarizer binarizers[] = {
    {"TrueCollorBitToOnebit", TrueCollorBitToOnebit, nullptr,
     [](const Image& i, int e, unsigned s) { return thresholdPlane(i, e, s, myotsu(i, s, 0), false); }, 1,
     "TrueCollorBitToOnebit GrayData==NULL\r\n", false},
    {"Threshold", Threshold, nullptr, [](const Image& i, int e, unsigned s) { return thresholdPlane(i, e, s, s & 0xFF, true); },
     1, "TrueCollorBitToOnebit GrayData==NULL\r\n", false},
    {"makeDitherBayer8", makeDitherBayer8, nullptr,
     [](const Image& i, int e, unsigned s) { return bayerPlane(i, e, s, bayer8()); }, 1, "makeDitherBayer8 GrayData==NULL\r\n", true},
    {"makeDitherBayer16", makeDitherBayer16, nullptr, [](const Image& i, int e, unsigned s) { return bayerPlane(i, e, s, bayer16()); },
     1, "InterlImageAdaptiveThreshold GrayData==NULL\r\n", true},
    {"FloydSteinberg7351", ErrorDiffusionFloydSteinberg7351, nullptr,
     [](const Image& i, int e, unsigned s) { return errorDiffusionPlane(i, e, s, monochromeOtsu(i, s), floydSteinberg7351(), 100); },
     2, "DEBUG: ErrorDiffusionFloydSteinberg7351 DibPixcel==NULL\r\n", true},
    {"Burkes", ErrorDiffusionBurkes, nullptr,
     [](const Image& i, int e, unsigned s) { return errorDiffusionPlane(i, e, s, 137, burkes(), 100); }, 2, kDiffusionFailure, true},
    {"Sierra", ErrorDiffusionSierra, nullptr,
     [](const Image& i, int e, unsigned s) { return errorDiffusionPlane(i, e, s, monochromeOtsu(i, s), sierra(), 100); }, 2,
     kDiffusionFailure, true},
    {"Stucki", ErrorDiffusionStucki, nullptr,
     [](const Image& i, int e, unsigned s) { return errorDiffusionPlane(i, e, s, monochromeOtsu(i, s), stucki(), 100); }, 2,
     kDiffusionFailure, true},
    {"TextAndPictures", TextAndPicturesToOnebit, nullptr,
     [](const Image& i, int e, unsigned s) { return textAndPicturesPlane(i, e, s); }, 1,
     "TextAndPicturesToOnebit GrayData==NULL\r\n", true},
    {"MonochromeConvert", nullptr, MonochromeConvert,
     [](const Image& i, int, unsigned s) { return thresholdPlane(i, 0, s, monochromeOtsu(i, s), false); }, 1,
     "MonochromeConvert GrayData==NULL\r\n", true},
    {"BytePlaneFloydSteinberg", nullptr, ErrorDiffusionFloydSteinberg,
     [](const Image& i, int, unsigned s) { return byteFloydSteinbergPlane(i, s, 100); }, 1,
     "ErrorDiffusionFloydSteinberg DibPixcel==NULL\r\n", true},
    {"FloydSteinberg", nullptr, FloydSteinberg, [](const Image& i, int, unsigned s) { return floydSteinbergHalftonePlane(i, s); },
     4, "FloydSteinberg GrayData==NULL\r\n", true},
    {"InterlImageAdaptiveThreshold", nullptr, InterlImageAdaptiveThreshold,
     [](const Image& i, int, unsigned s) { return adaptivePlane(i, s); }, 3, "", true},
};

bool run(const Binarizer& b, int w, int h, int e, const unsigned char* raster, unsigned int selector,
         unsigned char* bits, int* size)
{
    if (b.plain != nullptr) {
        return b.plain(w, h, raster, selector, bits, size);
    }
    // The page pipeline passes the manual setting as the selector too.
    settingsThermalSensitivity.Threshold = b.withExtra == manualThreshold ? static_cast<int>(selector) : 0;
    const bool ok = b.withExtra(w, h, e, raster, selector, bits, size);
    settingsThermalSensitivity.Threshold = 0;
    return ok;
}

// Runs on exactly sized heap copies of the raster and the bit raster.
reference::Bytes runExact(const Binarizer& b, const Image& image, int extra, unsigned int selector)
{
    reference::Bytes raster = image.raster;
    reference::Bytes bits(reference::witsStep(image.width) * (image.height + extra));
    int size = static_cast<int>(bits.size());
    CaptureStderr();
    EXPECT_TRUE(run(b, image.width, image.height, extra, raster.data(), selector, bits.data(), &size));
    GetCapturedStderr();
    EXPECT_EQ(size, static_cast<int>(bits.size()));
    EXPECT_EQ(raster, image.raster) << "the raster was modified";
    return bits;
}

// The colour road's way: the raster still in R,G,B order, read as such,
// must give the bits of the swapped raster.
reference::Bytes runUnswapped(const Binarizer& b, const Image& image, int extra, unsigned int selector)
{
    using Reading = bool (*)(int, int, int, const unsigned char*, unsigned int, unsigned char*, int*, const PageReading&);
    using Plain = decltype(b.withExtra);
    const std::pair<Plain, Reading> variants[] = {
        {TrueCollorBitToOnebit, TrueCollorBitToOnebit}, {Threshold, Threshold},
        {makeDitherBayer8, makeDitherBayer8}, {makeDitherBayer16, makeDitherBayer16},
        {ErrorDiffusionFloydSteinberg7351, ErrorDiffusionFloydSteinberg7351}, {ErrorDiffusionBurkes, ErrorDiffusionBurkes},
        {ErrorDiffusionSierra, ErrorDiffusionSierra}, {ErrorDiffusionStucki, ErrorDiffusionStucki},
        {TextAndPicturesToOnebit, TextAndPicturesToOnebit}};
    Reading variant = nullptr;
    for (const auto& [plain, reading] : variants) variant = plain == b.withExtra ? reading : variant;
    EXPECT_NE(variant, nullptr) << b.name;
    Image unswapped = image;
    TrueCollorRGBToBGR(image.width, image.height, unswapped.raster.data());
    reference::Bytes bits(reference::witsStep(image.width) * (image.height + extra));
    int size = static_cast<int>(bits.size());
    const PageReading reading{false, b.withExtra == manualThreshold ? selector : 0u};
    CaptureStderr();
    EXPECT_TRUE(variant(image.width, image.height, extra, unswapped.raster.data(), selector, bits.data(), &size, reading));
    GetCapturedStderr();
    return bits;
}

// Runs `check` once with each choice of vector units the processor offers
// the gray conversion, then leaves the best in use.
template <class Check>
void withEveryGrayVectorUnits(Check check)
{
    for (GrayVectorUnits units : {GrayVectorUnits::Baseline, GrayVectorUnits::Avx2}) {
        limitGrayVectorUnits(units);
        if (grayVectorUnits() == units) {
            SCOPED_TRACE(testing::Message() << "vector units " << static_cast<int>(units));
            check();
        }
    }
    limitGrayVectorUnits(GrayVectorUnits::Avx2);
}

}  // namespace

TEST(EveryBinarizer, MatchesTheLiteralDefinitionOnOddSizes)
{
    withEveryGrayVectorUnits([] {
        std::mt19937 random(20261206);
        // Selector 12 (the one pages use, vectorised) always, and one other each time,
        // settings above 255 for the manual threshold among them.
        const unsigned int others[] = {0, 4, 3, 6, 1, 13, 128, 261, 384, 2, 5, 10, 200, 77, 7};
        std::vector<std::pair<int, int>> sizes = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {3, 3}, {5, 4}, {6, 41}, {65, 41}, {577, 37}};
        for (int width : {1, 2, 3, 31, 33, 47, 61, 63, 65, 250 + int(random() % 52), 250 + int(random() % 52)}) {
            sizes.push_back({width, 1 + int(random() % 12)});
        }
        int index = 0;
        for (const auto& [width, height] : sizes) {
            const Image image = randomImage(width, height, random, Content(index % 4));
            const int extra = int(random() % 5);
            for (unsigned int selector : {12u, others[index++ % std::size(others)]}) {
                for (const Binarizer& b : binarizers) {
                    SCOPED_TRACE(testing::Message() << b.name << " " << width << "x" << height << " selector " << selector);
                    const int e = b.withExtra ? extra : 0;
                    reference::Bytes bits = runExact(b, image, e, selector);
                    reference::Bytes want = reference::pack(b.expected(image, e, selector), width);
                    ASSERT_EQ(bits, want);
                    if (b.withExtra != nullptr) {  // the colour road's binarizers
                        ASSERT_EQ(runUnswapped(b, image, e, selector), want);
                    }
                    // Inversion (the printer's dots) complements every byte, the padding included.
                    DoTurnOver(bits.data(), static_cast<int>(bits.size()) - 1);
                    for (std::size_t i = 0; i + 1 < bits.size(); ++i) {
                        want[i] = static_cast<unsigned char>(~want[i]);
                    }
                    ASSERT_EQ(bits, want);
                }
            }
        }
    });
}

// Bad sizes, a missing raster, bit raster size or count, and each scratch
// allocation failing in turn (LeakSanitizer watches that the others are
// released): false, and the bit raster untouched.
TEST(EveryBinarizer, RefusalsAndAllocationFailuresLeaveTheBits)
{
    std::mt19937 random(8);
    const Image image = randomImage(11, 7, random);
    const int size = witsStep(11) * 7;
    const std::array<int, 3> cases[] = {{0, 4, 0}, {4, 0, 0}, {-4, 4, 0}, {4, -4, 0}, {4, 4, -1}, {100000, 100000, 0}, {200000000, 4, 0}};
    for (const Binarizer& b : binarizers) {
        SCOPED_TRACE(b.name);
        Bytes bits(size, 0x5A);
        int dataBinSize = size;
        CaptureStderr();
        for (auto [w, h, e] : cases) {
            // The adaptive threshold packs zero rows, and would try a 10^10-pixel page.
            const bool adaptive = b.plain == InterlImageAdaptiveThreshold;
            if ((e == 0 || b.withExtra) && !(adaptive && (h == 0 || w == 100000))) {
                dataBinSize = size;
                EXPECT_FALSE(run(b, w, h, e, image.raster.data(), 12, bits.data(), &dataBinSize)) << w << "x" << h << "+" << e;
                EXPECT_EQ(dataBinSize, 0);
            }
        }
        EXPECT_FALSE(run(b, 11, 7, 0, nullptr, 12, bits.data(), &dataBinSize));
        dataBinSize = size + 1;
        EXPECT_FALSE(run(b, 11, 7, 0, image.raster.data(), 12, bits.data(), &dataBinSize));
        EXPECT_FALSE(run(b, 11, 7, 0, image.raster.data(), 12, bits.data(), nullptr));
        GetCapturedStderr();
        for (int failing = 0; failing <= b.allocations; ++failing) {
            reference::TraceCapture trace;
            dataBinSize = size;
            CaptureStderr();
            arrayAllocationsBeforeFailure = failing;
            const bool ok = run(b, 11, 7, 0, image.raster.data(), 12, bits.data(), &dataBinSize);
            arrayAllocationsBeforeFailure = -1;
            const std::string said = trace.text() + GetCapturedStderr();
            if (failing == b.allocations) {  // one more armed: nothing fails
                EXPECT_TRUE(ok);
                break;
            }
            EXPECT_FALSE(ok) << "allocation " << failing;
            EXPECT_EQ(dataBinSize, b.failureZeroesSize ? 0 : size);
            EXPECT_EQ(bits, Bytes(size, 0x5A));
            EXPECT_NE(said.find(b.failureLine), std::string::npos) << said;
        }
    }
}

TEST(GrayRows, Selector12RowEqualsTheFormulaForEveryColour)
{
    withEveryGrayVectorUnits([] {
        // All 2^24 colours, a row of 4096 at a time, in both channel orders.
        std::vector<unsigned char> row(3 * 4096), gray(4096), reversed(4096);
        int mismatches = 0;
        for (int block = 0; block < 4096; ++block) {
            for (int i = 0; i < 4096; ++i) {
                const int colour = block * 4096 + i;
                row[3 * i] = static_cast<unsigned char>(colour);
                row[3 * i + 1] = static_cast<unsigned char>(colour >> 8);
                row[3 * i + 2] = static_cast<unsigned char>(colour >> 16);
            }
            RGB2GrayRow(row.data(), 4096, 12, true, gray.data());
            RGB2GrayRow(row.data(), 4096, 12, false, reversed.data());
            for (int i = 0; i < 4096; ++i) {
                const unsigned char b = row[3 * i], g = row[3 * i + 1], r = row[3 * i + 2];
                mismatches += gray[i] != reference::gray(b, g, r, 12);
                mismatches += reversed[i] != reference::gray(r, g, b, 12);
            }
        }
        EXPECT_EQ(mismatches, 0);
    });
}

TEST(GrayRows, RowAndDispatcherEqualTheLiteralFormulas)
{
    std::mt19937 random(5);
    for (unsigned int selector : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 4294967295u}) {
        for (int width : {1, 2, 7, 8, 63, 64, 65, 129, 577, 3000}) {
            const Bytes pixels = randomImage(width, 1, random).raster;
            Bytes out(width + 1, 0xA5), reversed(width + 1, 0xA5);
            RGB2GrayRow(pixels.data(), width, selector, true, out.data());
            RGB2GrayRow(pixels.data(), width, selector, false, reversed.data());
            for (int x = 0; x < width; ++x) {
                const int b = pixels[3 * x], g = pixels[3 * x + 1], r = pixels[3 * x + 2];
                unsigned char single = 0;
                RGB2Gray(&single, b, g, r, selector);
                const int want = gray(b, g, r, selector);
                ASSERT_EQ((std::vector<int>{single, out[x], reversed[x]}), (std::vector<int>{want, want, gray(r, g, b, selector)}))
                    << "selector " << selector << " width " << width << " x " << x;
            }
            EXPECT_EQ(out[width], 0xA5) << "wrote past the row";
        }
    }
}

TEST(Packing, OnlyExactBlackClearsABitAndColourSwapSparesThePadding)
{
    const Bytes levels = {0, 1, 128, 254, 255, 0, 7, 0};
    Bytes bits(4);
    int size = 4;
    CaptureStderr();
    EXPECT_TRUE(CreatDataBin(levels.data(), 8, 1, bits.data(), &size));
    GetCapturedStderr();
    EXPECT_EQ(bits, (Bytes{0x7A, 0xFF, 0xFF, 0xFF}));  // 0111 1010, padding set
    // Width 3: 9 pixel bytes and 3 padding bytes per row.
    Bytes raster(24);
    std::iota(raster.begin(), raster.end(), 0);
    TrueCollorRGBToBGR(3, 2, raster.data());
    EXPECT_EQ(raster, (Bytes{2, 1, 0, 5, 4, 3, 8, 7, 6, 9, 10, 11, 14, 13, 12, 17, 16, 15, 20, 19, 18, 21, 22, 23}));
}
