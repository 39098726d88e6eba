// Every binarizer with fuzzed sizes, gray selector and pixels. The bit raster
// is allocated exactly as large as the size claim handed in, and the claim is
// now and then wrong: a binarizer must refuse a claim that does not fit its
// image rather than write past the buffer.
#include <cstdint>
#include <iterator>
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
#include "imaging/TextAndPictures.h"

namespace {

constexpr int maxWidth = 320, maxHeight = 40, maxExtra = 600;

using PageBinarizer = bool (*)(int, int, int, const unsigned char*, unsigned int, unsigned char*, int*);
using PlainBinarizer = bool (*)(int, int, const unsigned char*, unsigned int, unsigned char*, int*);

// The page binarizers of the colour road: (width, height, extra white rows, ...).
const PageBinarizer pageBinarizers[] = {TrueCollorBitToOnebit, makeDitherBayer8, makeDitherBayer16, Threshold,
                                        ErrorDiffusionFloydSteinberg7351, ErrorDiffusionBurkes, ErrorDiffusionSierra,
                                        ErrorDiffusionStucki, TextAndPicturesToOnebit};

// The library binarizers without extra rows.
const PlainBinarizer plainBinarizers[] = {MonochromeConvert, ErrorDiffusionFloydSteinberg, FloydSteinberg,
                                          InterlImageAdaptiveThreshold};

constexpr int pageCount = std::size(pageBinarizers), plainCount = std::size(plainBinarizers);

unsigned int selector(FuzzInput& in)
{
    // Mostly the fourteen formulas and a few beyond; the manual threshold
    // doubles as a selector, so any 32-bit value can arrive (-1 included).
    const std::uint8_t kind = in.byte();
    return kind < 200 ? kind % 20 : kind < 230 ? in.byte() : in.u32();
}

// The size claim: mostly right, sometimes off by a little, sometimes anything.
int claim(FuzzInput& in, int expected)
{
    const std::uint8_t kind = in.byte();
    return kind < 208 ? expected : kind < 232 ? expected + in.range(-40, 40) : static_cast<int>(in.u32());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    const int index = in.byte() % (pageCount + plainCount + 1);  // the last one: min-cut
    const int width = in.range(1, maxWidth), height = in.range(1, maxHeight);
    const unsigned int gray = selector(in);
    const int extra = index < pageCount ? in.range(0, maxExtra) : 0;
    const int expected = bitRasterStride(width) * (height + extra), claimed = claim(in, expected);
    int size0 = claimed;
    // Min-cut's own parameters.
    const int blockWidth = in.range(0, 40), blockHeight = in.range(0, 40), bias = in.range(-300, 300);
    const float balance = static_cast<float>(in.range(-20, 140)) / 100.0f;
    std::vector<std::uint8_t> raster(static_cast<std::size_t>(trueColourStride(width)) * height);
    fillFrom(in.rest(), raster.data(), raster.size());
    std::vector<std::uint8_t> bits(bitBufferSize(claimed, expected));
    const bool ok = index < pageCount ? pageBinarizers[index](width, height, extra, raster.data(), gray, bits.data(), &size0)
                    : index < pageCount + plainCount
                        ? plainBinarizers[index - pageCount](width, height, raster.data(), gray, bits.data(), &size0)
                        : minicut(raster.data(), gray, static_cast<unsigned>(width), static_cast<unsigned>(height),
                                  blockWidth, blockHeight, bias, bits.data(), &size0, balance);
    // Success means the whole expected raster was written under a right claim; a wrong claim is refused.
    if (ok && (size0 != expected || claimed != expected)) __builtin_trap();
    return 0;
}
