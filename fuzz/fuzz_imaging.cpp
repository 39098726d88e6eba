// The image operations of the library with fuzzed sizes, parameters and
// pixels: colour-order helpers, packing, brightness/contrast, offset, zoom,
// rotation, the sharpening filters and both blurs. Sizes are bounded so that
// one input runs in well under a millisecond; every buffer is exactly as large
// as the operation's contract says, so AddressSanitizer flags any overrun.
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

constexpr int maxWidth = 200;
constexpr int maxHeight = 40;

// A parameter mostly from a small range, now and then an extreme value.
int parameter(FuzzInput& in, int lo, int hi)
{
    switch (in.byte() % 16) {
    case 0:
        return INT_MIN;
    case 1:
        return INT_MAX;
    case 2:
        return -1;
    default:
        return in.range(lo, hi);
    }
}

int steps(int p) { return p >= -300 && p <= 300 ? p * 24 : p; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    const int op = in.byte() % 14;
    const int width = in.range(1, maxWidth);
    const int height = in.range(1, maxHeight);
    const int stride = trueColourStride(width);

    // The true-colour raster, rows padded to 4 bytes.
    std::vector<std::uint8_t> raster(static_cast<std::size_t>(stride) * height);
    // A packed image for the filters that take a row size: at least 3 bytes per pixel.
    const int rowBytes = width * 3 + in.range(0, 7);
    std::vector<std::uint8_t> packed(static_cast<std::size_t>(rowBytes) * height);

    // Parameters first, pixels from whatever is left.
    const int p1 = parameter(in, -300, 300);
    const int p2 = parameter(in, -300, 300);
    const int p3 = in.range(0, 255);
    fillFrom(in.rest(), raster.data(), raster.size());
    fillFrom(in.rest(), packed.data(), packed.size());

    switch (op) {
    case 0:
        TrueCollorRGBToBGR(width, height, raster.data());
        DoTurnOver(raster.data(), static_cast<int>(raster.size()));
        break;
    case 1: {
        // Packing a two-level plane, with a size claim that may be wrong:
        // the packer must refuse any claim but the right one.
        const int rows = height + (p3 % 4 == 0 ? 0 : p3);
        std::vector<std::uint8_t> plane(static_cast<std::size_t>(width) * rows);
        fillFrom(in.rest(), plane.data(), plane.size());
        const int expected = bitRasterStride(width) * rows;
        int claim = expected;
        if (p1 % 3 == 0) {
            claim = p2;
        }
        std::vector<std::uint8_t> bits(bitBufferSize(claim, expected));
        CreatDataBin(plane.data(), width, rows, bits.data(), &claim);
        break;
    }
    case 2:
        f_BrightContrastPS(raster.data(), width, height, static_cast<unsigned>(width * 3), p1, p2);
        break;
    case 3:
        // The filter hands over setting steps times 24; the extremes come as they are.
        f_XYOfffset(raster.data(), width, height, static_cast<unsigned>(width * 3), steps(p1), steps(p2));
        break;
    case 4: {
        unsigned int outWidth = 0;
        unsigned int outHeight = 0;
        unsigned int outRowBytes = 0;
        const float xFactor = static_cast<float>(p3) / 64.0f;
        const float yFactor = static_cast<float>(in.byte()) / 64.0f;
        auto zoomed = f_Zoom(raster.data(), width, height, static_cast<unsigned>(stride), &outWidth, &outHeight,
                             &outRowBytes, p1 & 1, xFactor, yFactor);
        if (zoomed) {
            // The result must hold what it claims: touch its last byte.
            volatile std::uint8_t last = zoomed[static_cast<std::size_t>(outRowBytes) * outHeight - 1];
            (void)last;
        }
        float fx = 0.0f;
        float fy = 0.0f;
        zoomFactor(width, height, &fx, &fy);
        (void)XzoomFactor(p1, p2);
        (void)YzoomFactor(p2, p1);
        break;
    }
    case 5: {
        unsigned int outWidth = 0;
        unsigned int outHeight = 0;
        unsigned int outRowBytes = 0;
        auto rotated = f_Rotate(packed.data(), width, height, rowBytes, in.range(-10, 100), &outWidth, &outHeight,
                                &outRowBytes, p1 & 1);
        if (rotated) {
            volatile std::uint8_t last = rotated[static_cast<std::size_t>(outRowBytes) * outHeight - 1];
            (void)last;
        }
        break;
    }
    case 6:
        f_ImageSharpen_Laplace(packed.data(), width, height, rowBytes, p1);
        break;
    case 7:
        f_SpatialGaussFiter(packed.data(), width, height, rowBytes, in.range(-2, 5));
        break;
    case 8:
        f_ImageSharpen_USM(packed.data(), width, height, rowBytes, in.range(-3, 5), p1, p2);
        break;
    case 9:
        GaussianBlur(width, height, raster.data());
        break;
    case 10:
        GaussianBlurFast(width, height, raster.data());
        break;
    case 11: {
        std::vector<std::uint8_t> out(raster.size());
        windowAverage(in.range(-2, maxHeight + 2), in.range(-2, maxWidth + 2), width, height, raster.data(), out.data());
        break;
    }
    case 12: {
        int histogram[256];
        grayHistogram(width, height, raster.data(), static_cast<unsigned>(p1), histogram);
        (void)myotsu(width, height, raster.data(), static_cast<unsigned>(p2));
        break;
    }
    default:
        // Operations handed sizes that do not fit the buffer's shape must refuse, not overrun.
        f_BrightContrastPS(raster.data(), -width, height, 0, p1, p2);
        f_XYOfffset(raster.data(), width, -height, 0, p1, p2);
        f_ImageSharpen_Laplace(packed.data(), width, height, width * 3 - 1, p1);
        f_SpatialGaussFiter(packed.data(), width, height, width * 3 - 1, 2);
        f_ImageSharpen_USM(packed.data(), width, height, width * 3 - 1, 2, p1, p2);
        GaussianBlur(-width, height, raster.data());
        GaussianBlurFast(width, -height, raster.data());
        break;
    }
    return 0;
}
