// Every binarizer with fuzzed sizes, gray selector and pixels. The bit raster
// is allocated exactly as large as the size claim handed in, and the claim is
// now and then wrong: a binarizer must refuse a claim that does not fit its
// image rather than write past the buffer.
#include <climits>
#include <cstdint>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "imaging/24BitTo1Bit.h"
#include "imaging/ImageBuffer.h"
#include "imaging/MonochromeConvert.h"
#include "imaging/otsu.h"
#include "imaging/Dither.h"
#include "imaging/freeimageHalftone.h"
#include "imaging/AdaptiveThreshold.h"
#include "imaging/minicut.h"

namespace {

constexpr int maxWidth = 320;
constexpr int maxHeight = 40;
constexpr int maxExtra = 600;

using PageBinarizer = bool (*)(int, int, int, const unsigned char*, unsigned int, unsigned char*, int*);
using PlainBinarizer = bool (*)(int, int, const unsigned char*, unsigned int, unsigned char*, int*);

// The page binarizers of the colour road: (width, height, extra white rows, ...).
const PageBinarizer pageBinarizers[] = {
    TrueCollorBitToOnebit,
    makeDitherBayer8,
    makeDitherBayer16,
    Threshold,
    ErrorDiffusionFloydSteinberg7351,
    ErrorDiffusionBurkes,
    ErrorDiffusionSierra,
    ErrorDiffusionStucki,
};

// The library binarizers without extra rows.
const PlainBinarizer plainBinarizers[] = {
    MonochromeConvert,
    ErrorDiffusionFloydSteinberg,
    FloydSteinberg,
    InterlImageAdaptiveThreshold,
};

constexpr int pageCount = sizeof pageBinarizers / sizeof pageBinarizers[0];
constexpr int plainCount = sizeof plainBinarizers / sizeof plainBinarizers[0];

unsigned int selector(FuzzInput& in)
{
    // Mostly the fourteen formulas and a few beyond; the manual threshold
    // doubles as a selector, so any 32-bit value can arrive (-1 included).
    const std::uint8_t kind = in.byte();
    if (kind < 200) {
        return kind % 20;
    }
    if (kind < 230) {
        return in.byte();
    }
    return in.u32();
}

// The size claim: mostly right, sometimes off by a little, sometimes anything.
int claim(FuzzInput& in, int expected)
{
    const std::uint8_t kind = in.byte();
    if (kind < 208) {
        return expected;
    }
    if (kind < 232) {
        return expected + in.range(-40, 40);
    }
    return static_cast<int>(in.u32());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    const int which = in.byte();
    const int width = in.range(1, maxWidth);
    const int height = in.range(1, maxHeight);
    const unsigned int gray = selector(in);
    const int total = pageCount + plainCount + 1;  // the last one: min-cut
    const int index = which % total;
    const int extra = index < pageCount ? in.range(0, maxExtra) : 0;
    const int expected = bitRasterStride(width) * (height + extra);
    const int claimed = claim(in, expected);
    int size0 = claimed;
    // A few extra parameters (used by min-cut).
    const int blockWidth = in.range(0, 40);
    const int blockHeight = in.range(0, 40);
    const int bias = in.range(-300, 300);
    const float balance = static_cast<float>(in.range(-20, 140)) / 100.0f;

    std::vector<std::uint8_t> raster(static_cast<std::size_t>(trueColourStride(width)) * height);
    fillFrom(in.rest(), raster.data(), raster.size());
    std::vector<std::uint8_t> bits(bitBufferSize(claimed, expected));

    bool ok;
    if (index < pageCount) {
        ok = pageBinarizers[index](width, height, extra, raster.data(), gray, bits.data(), &size0);
    } else if (index < pageCount + plainCount) {
        ok = plainBinarizers[index - pageCount](width, height, raster.data(), gray, bits.data(), &size0);
    } else {
        ok = minicut(raster.data(), gray, static_cast<unsigned>(width), static_cast<unsigned>(height), blockWidth,
                     blockHeight, bias, bits.data(), &size0, balance);
    }
    // Success means the whole expected raster was written under a right
    // claim; a wrong claim is refused.
    if (ok && (size0 != expected || claimed != expected)) {
        __builtin_trap();
    }
    return 0;
}
