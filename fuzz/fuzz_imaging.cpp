// The image operations of the library with fuzzed sizes, parameters and pixels:
// colour-order helpers, packing, brightness/contrast, offset, zoom, rotation, the
// sharpening filters and both blurs. Sizes are bounded so that one input runs in well
// under a millisecond; every buffer is exactly as large as the operation's contract
// says, so AddressSanitizer flags any overrun.
#include <climits>
#include <cstdint>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "imaging/24BitTo1Bit.h"
#include "imaging/FunctionAsistant.h"
#include "imaging/GaussianBlur.h"
#include "imaging/ImageBuffer.h"
#include "imaging/otsu.h"

namespace {

constexpr int maxWidth = 200, maxHeight = 40;

// A parameter mostly from a small range, now and then an extreme value.
int parameter(FuzzInput& in, int lo, int hi)
{
    static const int extremes[] = {INT_MIN, INT_MAX, -1};
    const int kind = in.byte() % 16;
    return kind < 3 ? extremes[kind] : in.range(lo, hi);
}

// The result must hold what it claims: read its last byte.
template <class Image>
void touchLast(const Image& image, const unsigned& rowBytes, const unsigned& rows)  // read once the image is made
{
    if (image) static_cast<void>(*static_cast<const volatile std::uint8_t*>(&image[std::size_t{rowBytes} * rows - 1]));
}

void operate(FuzzInput& in, int op)
{
    const int width = in.range(1, maxWidth), height = in.range(1, maxHeight), stride = trueColourStride(width);
    std::vector<std::uint8_t> raster(static_cast<std::size_t>(stride) * height);  // rows padded to 4 bytes
    // A packed image for the filters that take a row size: at least 3 bytes per pixel.
    const int rowBytes = width * 3 + in.range(0, 7);
    std::vector<std::uint8_t> packed(static_cast<std::size_t>(rowBytes) * height);
    const int p1 = parameter(in, -300, 300), p2 = parameter(in, -300, 300), p3 = in.range(0, 255);
    fillFrom(in.rest(), raster.data(), raster.size());
    fillFrom(in.rest(), packed.data(), packed.size());
    unsigned outWidth = 0, outHeight = 0, outRowBytes = 0;
    switch (op) {
    case 0:
        TrueCollorRGBToBGR(width, height, raster.data());
        return DoTurnOver(raster.data(), static_cast<int>(raster.size()));
    case 1: {
        // Packing a two-level plane under a size claim that may be wrong: only the right one is taken.
        const int rows = height + (p3 % 4 == 0 ? 0 : p3), expected = bitRasterStride(width) * rows;
        std::vector<std::uint8_t> plane(static_cast<std::size_t>(width) * rows);
        fillFrom(in.rest(), plane.data(), plane.size());
        int claim = p1 % 3 == 0 ? p2 : expected;
        std::vector<std::uint8_t> bits(bitBufferSize(claim, expected));
        return static_cast<void>(CreatDataBin(plane.data(), width, rows, bits.data(), &claim));
    }
    case 2: return static_cast<void>(f_BrightContrastPS(raster.data(), width, height, width * 3u, p1, p2));
    // The filter hands over setting steps times 24; the extremes come as they are.
    case 3:
        return static_cast<void>(f_XYOfffset(raster.data(), width, height, width * 3u, p1 >= -300 && p1 <= 300 ? p1 * 24 : p1,
                                             p2 >= -300 && p2 <= 300 ? p2 * 24 : p2));
    case 4: {
        const float yFactor = static_cast<float>(in.byte()) / 64.0f;
        touchLast(f_Zoom(raster.data(), width, height, stride, &outWidth, &outHeight, &outRowBytes, p1 & 1, p3 / 64.0f, yFactor),
                  outRowBytes, outHeight);
        float fx = 0, fy = 0;
        zoomFactor(width, height, &fx, &fy);
        return static_cast<void>(XzoomFactor(p1, p2) + YzoomFactor(p2, p1));
    }
    case 5:
        return touchLast(f_Rotate(packed.data(), width, height, rowBytes, in.range(-10, 100), &outWidth, &outHeight, &outRowBytes, p1 & 1),
                         outRowBytes, outHeight);
    case 6: return static_cast<void>(f_ImageSharpen_Laplace(packed.data(), width, height, rowBytes, p1));
    case 7: return static_cast<void>(f_SpatialGaussFiter(packed.data(), width, height, rowBytes, in.range(-2, 5)));
    case 8: return static_cast<void>(f_ImageSharpen_USM(packed.data(), width, height, rowBytes, in.range(-3, 5), p1, p2));
    case 9: return static_cast<void>(GaussianBlur(width, height, raster.data()));
    case 10: return static_cast<void>(GaussianBlurFast(width, height, raster.data()));
    case 11: {
        std::vector<std::uint8_t> out(raster.size());
        return static_cast<void>(windowAverage(in.range(-2, maxHeight + 2), in.range(-2, maxWidth + 2), width, height, raster.data(), out.data()));
    }
    case 12: {
        int histogram[256];
        grayHistogram(width, height, raster.data(), static_cast<unsigned>(p1), histogram);
        return static_cast<void>(myotsu(width, height, raster.data(), static_cast<unsigned>(p2)));
    }
    }
    // Sizes that do not fit the buffer's shape must be refused, not overrun.
    f_BrightContrastPS(raster.data(), -width, height, 0, p1, p2);
    f_XYOfffset(raster.data(), width, -height, 0, p1, p2);
    f_ImageSharpen_Laplace(packed.data(), width, height, width * 3 - 1, p1);
    f_SpatialGaussFiter(packed.data(), width, height, width * 3 - 1, 2);
    f_ImageSharpen_USM(packed.data(), width, height, width * 3 - 1, 2, p1, p2);
    GaussianBlur(-width, height, raster.data());
    GaussianBlurFast(width, -height, raster.data());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    operate(in, in.byte() % 14);
    return 0;
}
