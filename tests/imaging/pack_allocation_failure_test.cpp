// Scratch-buffer allocation failures in every page binarizer: the operation
// reports, releases what it already holds (LeakSanitizer watches the
// sanitized build) and leaves the caller's bit raster alone.
//
// The failure is injected by this test binary's array operator new, which
// throws for the Nth array allocation once armed and behaves normally
// otherwise.
#include "filter/settingsThermalSensitivityPara.h"
#include "imaging/24BitTo1Bit.h"
#include "imaging/Dither.h"
#include "imaging/MonochromeConvert.h"
#include "imaging/freeimageHalftone.h"
#include "reference_binarizers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>

namespace {

// Number of array allocations still allowed to succeed; negative: disarmed.
thread_local int arrayAllocationsBeforeFailure = -1;

}  // namespace

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

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

struct Case {
    const char* name;
    int allocations;             // scratch buffers the operation allocates
    const char* traceLine;       // what the trace log says on failure (nullptr: nothing)
    bool zeroesSize;             // *DataBinSize becomes 0
    std::function<bool(const unsigned char*, unsigned char*, int*)> run;
};

constexpr int width = 11, height = 5, extra = 2;

std::vector<Case> cases()
{
    const int w = width, h = height, e = extra;
    return {
        {"TrueCollorBitToOnebit", 1, "TrueCollorBitToOnebit GrayData==NULL\r\n", false,
         [=](const unsigned char* r, unsigned char* b, int* s) { return TrueCollorBitToOnebit(w, h, e, r, 12, b, s); }},
        {"Threshold", 1, "TrueCollorBitToOnebit GrayData==NULL\r\n", false,
         [=](const unsigned char* r, unsigned char* b, int* s) { return Threshold(w, h, e, r, 12, b, s); }},
        {"makeDitherBayer8", 1, "makeDitherBayer8 GrayData==NULL\r\n", true,
         [=](const unsigned char* r, unsigned char* b, int* s) { return makeDitherBayer8(w, h, e, r, 12, b, s); }},
        {"makeDitherBayer16", 1, "InterlImageAdaptiveThreshold GrayData==NULL\r\n", true,
         [=](const unsigned char* r, unsigned char* b, int* s) { return makeDitherBayer16(w, h, e, r, 12, b, s); }},
        {"ErrorDiffusionFloydSteinberg7351", 2, nullptr, true,
         [=](const unsigned char* r, unsigned char* b, int* s) {
             return ErrorDiffusionFloydSteinberg7351(w, h, e, r, 12, b, s);
         }},
        {"ErrorDiffusionBurkes", 2, "ErrorDiffusionFloydSteinberg7351 DibPixcel==NULL\r\n", true,
         [=](const unsigned char* r, unsigned char* b, int* s) { return ErrorDiffusionBurkes(w, h, e, r, 12, b, s); }},
        {"ErrorDiffusionSierra", 2, "ErrorDiffusionFloydSteinberg7351 DibPixcel==NULL\r\n", true,
         [=](const unsigned char* r, unsigned char* b, int* s) { return ErrorDiffusionSierra(w, h, e, r, 12, b, s); }},
        {"ErrorDiffusionStucki", 2, "ErrorDiffusionFloydSteinberg7351 DibPixcel==NULL\r\n", true,
         [=](const unsigned char* r, unsigned char* b, int* s) { return ErrorDiffusionStucki(w, h, e, r, 12, b, s); }},
        {"MonochromeConvert", 1, "MonochromeConvert GrayData==NULL\r\n", true,
         [=](const unsigned char* r, unsigned char* b, int* s) { return MonochromeConvert(w, h + e, r, 12, b, s); }},
        {"ErrorDiffusionFloydSteinberg", 1, "ErrorDiffusionFloydSteinberg DibPixcel==NULL\r\n", true,
         [=](const unsigned char* r, unsigned char* b, int* s) {
             return ErrorDiffusionFloydSteinberg(w, h + e, r, 12, b, s);
         }},
        {"FloydSteinberg", 4, "FloydSteinberg GrayData==NULL\r\n", true,
         [=](const unsigned char* r, unsigned char* b, int* s) { return FloydSteinberg(w, h + e, r, 12, b, s); }},
    };
}

}  // namespace

TEST(BinarizerAllocationFailure, EveryBinarizerFailsCleanly)
{
    settingsThermalSensitivity.Threshold = 0;
    std::mt19937 random(8);
    // Seven rows, so that the operations without extra rows use the same bit raster size.
    const reference::Image image = reference::randomImage(width, height + extra, random);
    const int size = reference::witsStep(width) * (height + extra);
    for (const Case& c : cases()) {
        for (int failing = 0; failing < c.allocations; ++failing) {
            SCOPED_TRACE(testing::Message() << c.name << ", allocation " << failing);
            reference::TraceCapture trace;
            reference::Bytes bits(size, 0x5A);
            int dataBinSize = size;
            CaptureStderr();
            arrayAllocationsBeforeFailure = failing;
            const bool ok = c.run(image.raster.data(), bits.data(), &dataBinSize);
            arrayAllocationsBeforeFailure = -1;
            const std::string err = GetCapturedStderr();
            EXPECT_FALSE(ok);
            EXPECT_EQ(dataBinSize, c.zeroesSize ? 0 : size);
            EXPECT_EQ(bits, reference::Bytes(size, 0x5A));
            EXPECT_EQ(trace.text(), c.traceLine ? c.traceLine : "");
            if (c.traceLine == nullptr) {
                EXPECT_NE(err.find("DEBUG: ErrorDiffusionFloydSteinberg7351 DibPixcel==NULL\r\n"), std::string::npos)
                    << err;
            }
        }
        // Armed beyond the operation's own allocations, nothing fails.
        reference::Bytes bits(size);
        int dataBinSize = size;
        CaptureStderr();
        arrayAllocationsBeforeFailure = c.allocations;
        EXPECT_TRUE(c.run(image.raster.data(), bits.data(), &dataBinSize)) << c.name;
        arrayAllocationsBeforeFailure = -1;
        GetCapturedStderr();
    }
}

TEST(BinarizerAllocationFailure, DiffusionReportsBothBufferSizesBeforeFailingOnThePlane)
{
    std::mt19937 random(9);
    const reference::Image image = reference::randomImage(6, 3, random);
    reference::Bytes bits(12, 0x5A);
    int size = 12;
    CaptureStderr();
    arrayAllocationsBeforeFailure = 1;
    EXPECT_FALSE(ErrorDiffusionFloydSteinberg7351(6, 3, 0, image.raster.data(), 12, bits.data(), &size));
    arrayAllocationsBeforeFailure = -1;
    EXPECT_EQ(GetCapturedStderr(), "DEBUG: actualHeight = 3,height = 3,height0 = 0.\n"
                                   "DEBUG: DibPixcel = 18,width = 6,height = 3.\n"
                                   "DEBUG: DibPixcelInt = 18,width = 6,actualWidth = 6,height = 3.actualHeight = 3.\n"
                                   "DEBUG: ErrorDiffusionFloydSteinberg7351 DibPixcel==NULL\r\n");
    EXPECT_EQ(size, 0);
}
