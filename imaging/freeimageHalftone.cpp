#include "imaging/freeimageHalftone.h"

#include "diagnostics/middleDataSave.h"
#include "settings/printSettings.h"
#include "imaging/24BitTo1Bit.h"
#include "imaging/FunctionAsistant.h"
#include "imaging/GrayAlgorithm.h"
#include "imaging/ImageBuffer.h"
#include "imaging/MonochromeConvert.h"
#include "imaging/otsu.h"
#include "diagnostics/jobLog.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <utility>

// ---------------------------------------------------------------------------
// Manual threshold

bool Threshold(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
               unsigned char* bits, int* DataBinSize)
{
    return Threshold(width, height, extra, raster, selector, bits, DataBinSize, settingsPageReading());
}

bool Threshold(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
               unsigned char* bits, int* DataBinSize, const PageReading& reading)
{
    if (raster == nullptr || DataBinSize == nullptr) {
        return false;
    }
    BinarizeGeometry geometry;
    if (!binarizeGeometry(width, height, extra, &geometry)) {
        *DataBinSize = 0;
        return false;
    }
    // Rows are binarized and packed one at a time instead of through a plane
    // of the page.
    ScratchBuffer<unsigned char> scratch = allocateScratch<unsigned char>(thresholdRowsScratch(width));
    if (!scratch) {
        TraceLog("TrueCollorBitToOnebit GrayData==NULL\r\n");
        return false;
    }

    const unsigned char threshold = static_cast<unsigned char>(reading.manualThreshold & 0xFF);
    jobLog(LogLevel::Debug, "ghold==%d\r", threshold);
    const bool packed = thresholdRows(geometry, raster, selector, threshold,
                                      readingOrder(ChannelOrder::ThirdByteBlue, reading), scratch.get(), bits,
                                      DataBinSize);
    if (!packed) {
        TraceLog("TrueCollorBitToOnebit:CreatDataBin failed \r\n");
    }
    return packed;
}

// ---------------------------------------------------------------------------
// Error diffusion

namespace {

// Strength of the diffusion from the dither-action setting, limited to 0..1.
double ditherStrength() { return std::min(1.0, std::max(0.0, GetnDitherAction() * 0.01)); }

struct KernelCell {
    int dx;
    int dy;
    int weight;
};

// The kernels as types, so that each member's weights, offsets and region are
// compile-time constants of its own diffusion loop. A cell's share is
// (e * weight) * scale, or (e * weight) / divisor where the divisor is not a
// power of two (Stucki).
struct FloydSteinbergKernel {
    static constexpr KernelCell cells[] = {{1, 0, 7}, {-1, 1, 3}, {0, 1, 5}, {1, 1, 1}};
    static constexpr bool divides = false;
    static constexpr double scale = 0.0625;
    static constexpr double divisor = 16.0;
    static constexpr int margin = 1;      // columns at each side that only threshold
    static constexpr int bottomRows = 1;  // rows at the bottom that only threshold; also the deepest dy
};

struct BurkesKernel {
    static constexpr KernelCell cells[] = {{1, 0, 8}, {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4},
                                           {0, 1, 8}, {1, 1, 4}, {2, 1, 2}};
    static constexpr bool divides = false;
    static constexpr double scale = 0.03125;
    static constexpr double divisor = 32.0;
    static constexpr int margin = 2;
    static constexpr int bottomRows = 1;
};

struct SierraKernel {
    static constexpr KernelCell cells[] = {{1, 0, 5}, {2, 0, 3}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 5},
                                           {1, 1, 4}, {2, 1, 2}, {-1, 2, 2}, {0, 2, 3},  {1, 2, 2}};
    static constexpr bool divides = false;
    static constexpr double scale = 0.03125;
    static constexpr double divisor = 32.0;
    static constexpr int margin = 2;
    static constexpr int bottomRows = 2;
};

struct StuckiKernel {
    static constexpr KernelCell cells[] = {{1, 0, 8}, {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 8},  {1, 1, 4},
                                           {2, 1, 2}, {-2, 2, 1}, {-1, 2, 2}, {0, 2, 4},  {1, 2, 2},  {2, 2, 1}};
    static constexpr bool divides = true;
    static constexpr double scale = 0.0;
    static constexpr double divisor = 42.0;
    static constexpr int margin = 2;
    static constexpr int bottomRows = 2;
};

enum class DiffusionMember { FloydSteinberg7351, Burkes, Sierra, Stucki };

// Rows one diffusing row works on: itself and the two below it that receive
// its error.
constexpr int windowRows = 3;

// Diffusing rows that run together, each a few pixels behind the one above
// (see diffuseRowGroup).
constexpr int groupRows = 4;

// Only the rows within reach are held, in a ring: a row enters with its gray
// values when it comes into reach of the kernel and leaves, final, when it
// has been thresholded. The lowest row of a group reaches two rows further
// down.
constexpr int ringRows = windowRows + groupRows - 1;

// Floats per window row: the row and the padding diffuseRow reads past it.
inline std::int64_t windowStride(int width) { return static_cast<std::int64_t>(width) + 4; }

// Thresholds one working row in place; a pixel whose new value is kept is
// final. Used for the columns and rows outside the diffusing region, whose
// error is dropped.
inline void thresholdOnly(float* row, int from, int to, float threshold)
{
    for (int x = from; x < to; ++x) {
        row[x] = threshold < row[x] ? 255.0f : 0.0f;
    }
}

// One share of an error: (e * weight) * scale, or (e * weight) / divisor.
// e * weight is exact in double (a float times a small integer), so with a
// power-of-two scale the product equals e * (weight * scale), one
// multiplication by a constant; and a quotient by 42 of e times a power of
// two is that power of two times the quotient of e, so one division per
// pixel serves every cell.
template <class Kernel>
constexpr double cellFactor(int weight)
{
    return Kernel::divides ? static_cast<double>(weight) : static_cast<double>(weight) * Kernel::scale;
}

template <class Kernel>
constexpr bool weightsArePowersOfTwo()
{
    for (const KernelCell& cell : Kernel::cells) {
        if ((cell.weight & (cell.weight - 1)) != 0) {
            return false;
        }
    }
    return true;
}
static_assert(weightsArePowersOfTwo<StuckiKernel>(), "one quotient per pixel needs power-of-two weights");

template <bool FullStrength>
inline float received(float neighbour, double share, double strength)
{
    if constexpr (FullStrength) {
        // (x) * 1.0 is x: the multiplication by a full strength changes nothing.
        return static_cast<float>(static_cast<double>(neighbour) + share);
    } else {
        return static_cast<float>((static_cast<double>(neighbour) + share) * strength);
    }
}

// 255 when the threshold is below the value, else 0. (A branch-free select
// measured slower: on receipts most runs are white and predict well.)
inline float thresholded(float value, float threshold)
{
    return threshold < value ? 255.0f : 0.0f;
}

// One kernel cell, unrolled at compile time: the neighbours on the row
// itself are the two carried in registers, the others are in memory.
template <class Kernel, bool FullStrength, std::size_t Cell>
inline void spreadToCell(double unit, double strength, float* const* rows, int x, float& right1,
                         float& right2)
{
    constexpr KernelCell cell = Kernel::cells[Cell];
    const double share = unit * cellFactor<Kernel>(cell.weight);
    if constexpr (cell.dy == 0 && cell.dx == 1) {
        right1 = received<FullStrength>(right1, share, strength);
    } else if constexpr (cell.dy == 0 && cell.dx == 2) {
        right2 = received<FullStrength>(right2, share, strength);
    } else {
        static_assert(cell.dy > 0, "only the two pixels to the right receive on the same row");
        float& neighbour = rows[cell.dy][x + cell.dx];
        neighbour = received<FullStrength>(neighbour, share, strength);
    }
}

template <class Kernel, bool FullStrength, std::size_t... Cells>
inline void spreadError(double unit, double strength, float* const* rows, int x, float& right1,
                        float& right2, std::index_sequence<Cells...>)
{
    (spreadToCell<Kernel, FullStrength, Cells>(unit, strength, rows, x, right1, right2), ...);
}

// The diffusion of one row: thresholds every pixel and spreads the error of
// those inside the region over the row itself and `rows[dy]`, the rows
// below. Every neighbour receives its shares in the order of the source
// pixels, as in a pass over the whole buffer, so each stored value is the
// same float. The two pixels to the right travel in registers, which keeps
// the chain from one pixel to the next short; the rows below are updated in
// memory. Window rows carry a few floats of padding past `width`. Used as
// begin(), step() for x = first..last in order, end().
template <class Kernel, bool FullStrength>
struct RowDiffusion {
    static constexpr int first = Kernel::margin;

    float* const* rows;
    int width;
    float threshold;
    double strength;
    float value = 0.0f;
    float right1 = 0.0f;
    float right2 = 0.0f;

    int last() const { return width - 1 - Kernel::margin; }  // inclusive; below first: nothing diffuses

    void begin()
    {
        float* row = rows[0];
        thresholdOnly(row, 0, first, threshold);
        value = row[first];
        right1 = row[first + 1];
        right2 = row[first + 2];
    }

    void step(int x)
    {
        float* row = rows[0];
        const float newValue = thresholded(value, threshold);
        row[x] = newValue;
        const double error = static_cast<double>(value - newValue);
        // Paper white and solid black land exactly on 255 or 0. Their error
        // is +0, and at full strength adding a +0 share leaves every
        // neighbour as it is (no value here is ever -0: they start as gray
        // levels and a sum is -0 only from two -0 terms), so such pixels
        // skip the kernel.
        if (!FullStrength || error != 0.0) {
            const double unit = Kernel::divides ? error / Kernel::divisor : error;
            spreadError<Kernel, FullStrength>(unit, strength, rows, x, right1, right2,
                                              std::make_index_sequence<std::size(Kernel::cells)>{});
        }
        value = right1;
        right1 = right2;
        right2 = row[x + 3];  // padding past the row is read but never used
    }

    void end()
    {
        float* row = rows[0];
        // Pixels last + 1 and last + 2 may have received shares: store them.
        row[last() + 1] = value;
        if (last() + 2 < width) {
            row[last() + 2] = right1;
        }
        thresholdOnly(row, last() + 1, width, threshold);
    }
};

template <class Kernel, bool FullStrength>
void diffuseRow(float* const (&rows)[windowRows], int width, float threshold, double strength)
{
    RowDiffusion<Kernel, FullStrength> row{rows, width, threshold, strength};
    if (row.last() < row.first) {
        thresholdOnly(rows[0], 0, width, threshold);
        return;
    }
    row.begin();
    for (int x = row.first; x <= row.last(); ++x) {
        row.step(x);
    }
    row.end();
}

// How far each of the rows diffused together runs ahead of the next. A
// pixel of the lower row is read into its registers at x + 3 and receives
// from the upper row's pixels up to two columns to its right, and a cell two
// rows down must get all the upper row's shares before the lower row's:
// five columns cover both for every kernel here.
constexpr int rowLead = 5;

// Row `row` at pixel x, if x is one of its diffusing pixels: begins before
// its first pixel and ends after its last.
template <class Row>
inline void stepIfDiffusing(Row& row, int x)
{
    if (x < Row::first || x > row.last()) {
        return;
    }
    if (x == Row::first) {
        row.begin();
    }
    row.step(x);
    if (x == row.last()) {
        row.end();
    }
}

// Consecutive diffusing rows at once, each `rowLead` pixels behind the one
// above: independent chains from pixel to pixel that the processor can
// overlap. Each neighbour still receives its shares in raster order of the
// source pixels (all of an upper row's before any of a lower row's), so the
// floats are those of the row-by-row pass. rows[k] is row y + k of the group,
// with its window of rows y + k, y + k + 1 and y + k + 2.
template <class Kernel, bool FullStrength, std::size_t... K>
void diffuseRowGroup(RowDiffusion<Kernel, FullStrength> (&rows)[sizeof...(K)], std::index_sequence<K...>)
{
    using Row = RowDiffusion<Kernel, FullStrength>;
    constexpr int lastLag = static_cast<int>(sizeof...(K) - 1) * rowLead;
    const int first = Row::first;
    const int last = rows[0].last();
    int t = first;
    if (last - first >= lastLag) {
        // Until the lowest row starts, then every row steps unchecked until
        // the highest ends.
        for (; t < first + lastLag; ++t) {
            (stepIfDiffusing(rows[K], t - static_cast<int>(K) * rowLead), ...);
        }
        rows[sizeof...(K) - 1].begin();
        for (; t < last; ++t) {
            (rows[K].step(t - static_cast<int>(K) * rowLead), ...);
        }
        (rows[K].step(t - static_cast<int>(K) * rowLead), ...);
        rows[0].end();
        ++t;
    }
    for (; t <= last + lastLag; ++t) {
        (stepIfDiffusing(rows[K], t - static_cast<int>(K) * rowLead), ...);
    }
}

// The group's rows, each with its window: row y + k and the two below it.
template <class Kernel, bool FullStrength, class Slot, std::size_t... K>
void diffuseGroupAt(int y, Slot slot, int width, float threshold, double strength, std::index_sequence<K...> ks)
{
    float* const windows[sizeof...(K)][windowRows] = {
        {slot(y + static_cast<int>(K)), slot(y + static_cast<int>(K) + 1), slot(y + static_cast<int>(K) + 2)}...};
    RowDiffusion<Kernel, FullStrength> group[sizeof...(K)] = {{windows[K], width, threshold, strength}...};
    diffuseRowGroup(group, ks);
}

#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("tree-vectorize")))
#endif
void loadGrayRow(const unsigned char* __restrict gray, int width, float* __restrict row)
{
    for (int x = 0; x < width; ++x) {
        row[x] = static_cast<float>(gray[x]);
    }
}

#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("tree-vectorize")))
#endif
void whiteFlags(const float* __restrict row, int width, unsigned char* __restrict flags)
{
    // A thresholded value is 0.0 or 255.0; truncated to a byte, only 0 packs black.
    for (int x = 0; x < width; ++x) {
        flags[x] = row[x] != 0.0f ? 1 : 0;
    }
}

// Diffuses the image rows of `gray` (width bytes per row) at `threshold` and
// packs each finished row into the bit raster.
template <class Kernel, bool FullStrength>
void diffuseAndPack(const unsigned char* gray, const BinarizeGeometry& geometry, float threshold, double strength,
                    float* window, unsigned char* flags, unsigned char* bits)
{
    const int width = geometry.width;
    const int height = geometry.height;
    const std::size_t witsStep = static_cast<std::size_t>(geometry.witsStep);
    const auto slot = [&](int y) { return window + static_cast<std::ptrdiff_t>(y % ringRows) * windowStride(width); };
    int loaded = 0;  // rows 0..loaded - 1 have entered the window
    const auto loadThrough = [&](int y) {
        for (; loaded <= y && loaded < height; ++loaded) {
            loadGrayRow(gray + static_cast<std::ptrdiff_t>(width) * loaded, width, slot(loaded));
        }
    };
    const auto pack = [&](int y) {
        whiteFlags(slot(y), width, flags);
        packWhiteFlags(flags, width, bits + witsStep * static_cast<std::size_t>(y));
    };
    const int lastDiffusingRow = height - 1 - Kernel::bottomRows;
    const bool rowsDiffuse = width - 1 - Kernel::margin >= Kernel::margin;
    for (int y = 0; y < height;) {
        loadThrough(y + ringRows - 1);
        float* const rows[windowRows] = {slot(y), slot(y + 1), slot(y + 2)};
        if (rowsDiffuse && y + groupRows - 1 <= lastDiffusingRow) {
            diffuseGroupAt<Kernel, FullStrength>(y, slot, width, threshold, strength,
                                                 std::make_index_sequence<groupRows>{});
            for (int k = 0; k < groupRows; ++k) {
                pack(y + k);
            }
            y += groupRows;
            continue;
        }
        if (y <= lastDiffusingRow) {
            diffuseRow<Kernel, FullStrength>(rows, width, threshold, strength);
        } else {
            thresholdOnly(rows[0], 0, width, threshold);
        }
        pack(y);
        y += 1;
    }
    std::memset(bits + witsStep * static_cast<std::size_t>(height), 0xFF,
                witsStep * static_cast<std::size_t>(geometry.rows - height));
}

template <class Kernel>
void diffuseMember(const unsigned char* gray, const BinarizeGeometry& geometry, float threshold, double strength,
                   float* window, unsigned char* flags, unsigned char* bits)
{
    if (strength == 1.0) {
        diffuseAndPack<Kernel, true>(gray, geometry, threshold, strength, window, flags, bits);
    } else {
        diffuseAndPack<Kernel, false>(gray, geometry, threshold, strength, window, flags, bits);
    }
}

bool errorDiffusion(DiffusionMember member, int width, int height, int extra, const unsigned char* raster,
                    unsigned int selector, unsigned char* bits, int* DataBinSize, const PageReading& reading)
{
    const bool reportsOnStderr = member == DiffusionMember::FloydSteinberg7351;
    if (reportsOnStderr) {
        // Wrapping sum, as the 32-bit count was always printed.
        const int actualHeight = static_cast<int>(static_cast<unsigned int>(height) + static_cast<unsigned int>(extra));
        jobLog(LogLevel::Debug, "actualHeight = %d,height = %d,height0 = %d.", actualHeight, height, extra);
    }
    if (DataBinSize == nullptr) {
        return false;
    }
    if (raster == nullptr) {
        *DataBinSize = 0;
        if (reportsOnStderr) {
            jobLog(LogLevel::Debug, "TrueCollorBitData==NULL.");
        }
        return false;
    }
    BinarizeGeometry geometry;
    if (!binarizeGeometry(width, height, extra, &geometry)) {
        *DataBinSize = 0;
        return false;
    }

    const auto allocationFailed = [&]() {
        if (reportsOnStderr) {
            jobLog(LogLevel::Debug, "ErrorDiffusionFloydSteinberg7351 DibPixcel==NULL\r");
        } else {
            TraceLog("ErrorDiffusionFloydSteinberg7351 DibPixcel==NULL\r\n");
        }
        *DataBinSize = 0;
        return false;
    };
    // The working buffer is a window of rows rather than the whole page, and
    // the output is packed row by row instead of through a plane; the sizes
    // reported are still those of the page.
    const int pixels = static_cast<int>(geometry.imagePixels);
    ScratchBuffer<float> window = allocateScratch<float>(windowStride(width) * ringRows, true);
    if (reportsOnStderr) {
        jobLog(LogLevel::Debug, "DibPixcel = %d,width = %d,height = %d.", pixels, width, height);
    }
    if (!window) {
        return allocationFailed();
    }
    // The gray plane of the page, made once for the histogram and the
    // diffusion both, and one row of white flags.
    ScratchBuffer<unsigned char> plane = allocateScratch<unsigned char>(geometry.imagePixels + width);
    if (reportsOnStderr) {
        jobLog(LogLevel::Debug, "DibPixcelInt = %d,width = %d,actualWidth = %d,height = %d.actualHeight = %d.",
                     pixels, width, width, height, geometry.rows);
    }
    if (!plane) {
        return allocationFailed();
    }

    const double strength = ditherStrength();
    int histogram[256];
    grayPlaneHistogram(width, height, raster, selector, plane.get(), histogram, reading.swapped);

    unsigned char threshold;
    switch (member) {
    case DiffusionMember::FloydSteinberg7351:
        threshold = monochromeOtsuOfHistogram(histogram, pixels);
        jobLog(LogLevel::Debug, "threshhold = %d.", threshold);
        break;
    case DiffusionMember::Burkes:
        threshold = 137;
        jobLog(LogLevel::Debug, "ErrorDiffusionBurkes:threshhold = %d.", threshold);
        break;
    case DiffusionMember::Sierra:
    case DiffusionMember::Stucki:
    default:
        threshold = monochromeOtsuOfHistogram(histogram, pixels);
        break;
    }

    const bool packed = beginPackedRows(width, geometry.rows, bits, DataBinSize);
    if (packed) {
        const float t = static_cast<float>(threshold);
        unsigned char* flags = plane.get() + geometry.imagePixels;
        switch (member) {
        case DiffusionMember::FloydSteinberg7351:
            diffuseMember<FloydSteinbergKernel>(plane.get(), geometry, t, strength, window.get(), flags, bits);
            break;
        case DiffusionMember::Burkes:
            diffuseMember<BurkesKernel>(plane.get(), geometry, t, strength, window.get(), flags, bits);
            break;
        case DiffusionMember::Sierra:
            diffuseMember<SierraKernel>(plane.get(), geometry, t, strength, window.get(), flags, bits);
            break;
        case DiffusionMember::Stucki:
        default:
            diffuseMember<StuckiKernel>(plane.get(), geometry, t, strength, window.get(), flags, bits);
            break;
        }
        endPackedRows(width, geometry.rows, DataBinSize);
    }

    if (reportsOnStderr) {
        jobLog(LogLevel::Debug, "ErrorDiffusionFloydStein7351:after CreatDataBin\r");
        if (packed) {
            jobLog(LogLevel::Debug, "ErrorDiffusionFloydStein7351:CreatDataBin sucess DataBinSize==%d\r",
                         *DataBinSize);
        } else {
            jobLog(LogLevel::Debug, "ErrorDiffusionFloydStein7351:CreatDataBin failed \r");
        }
        jobLog(LogLevel::Debug, "ErrorDiffusionFloydStein7351:after GrayData\r");
    } else {
        TraceLog("ErrorDiffusionFloydSteinberg:after CreatDataBin\r\n");
        if (!packed) {
            TraceLog("ErrorDiffusionFloydSteinberg:CreatDataBin failed \r\n");
        }
        TraceLog("ErrorDiffusionFloydSteinberg:after GrayData\r\n");
    }
    return packed;
}

}  // namespace

bool ErrorDiffusionFloydSteinberg7351(int width, int height, int extra, const unsigned char* raster,
                                      unsigned int selector, unsigned char* bits, int* DataBinSize,
                                      const PageReading& reading)
{
    return errorDiffusion(DiffusionMember::FloydSteinberg7351, width, height, extra, raster, selector, bits,
                          DataBinSize, reading);
}

bool ErrorDiffusionBurkes(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                          unsigned char* bits, int* DataBinSize, const PageReading& reading)
{
    return errorDiffusion(DiffusionMember::Burkes, width, height, extra, raster, selector, bits, DataBinSize,
                          reading);
}

bool ErrorDiffusionSierra(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                          unsigned char* bits, int* DataBinSize, const PageReading& reading)
{
    return errorDiffusion(DiffusionMember::Sierra, width, height, extra, raster, selector, bits, DataBinSize,
                          reading);
}

bool ErrorDiffusionStucki(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                          unsigned char* bits, int* DataBinSize, const PageReading& reading)
{
    return errorDiffusion(DiffusionMember::Stucki, width, height, extra, raster, selector, bits, DataBinSize,
                          reading);
}

bool ErrorDiffusionFloydSteinberg7351(int width, int height, int extra, const unsigned char* raster,
                                      unsigned int selector, unsigned char* bits, int* DataBinSize)
{
    return ErrorDiffusionFloydSteinberg7351(width, height, extra, raster, selector, bits, DataBinSize, PageReading{});
}

bool ErrorDiffusionBurkes(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                          unsigned char* bits, int* DataBinSize)
{
    return ErrorDiffusionBurkes(width, height, extra, raster, selector, bits, DataBinSize, PageReading{});
}

bool ErrorDiffusionSierra(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                          unsigned char* bits, int* DataBinSize)
{
    return ErrorDiffusionSierra(width, height, extra, raster, selector, bits, DataBinSize, PageReading{});
}

bool ErrorDiffusionStucki(int width, int height, int extra, const unsigned char* raster, unsigned int selector,
                          unsigned char* bits, int* DataBinSize)
{
    return ErrorDiffusionStucki(width, height, extra, raster, selector, bits, DataBinSize, PageReading{});
}

bool ErrorDiffusionFloydSteinberg(int width, int height, const unsigned char* raster, unsigned int selector,
                                  unsigned char* bits, int* DataBinSize)
{
    if (DataBinSize == nullptr) {
        return false;
    }
    BinarizeGeometry geometry;
    if (raster == nullptr || !binarizeGeometry(width, height, 0, &geometry)) {
        *DataBinSize = 0;
        return false;
    }
    ScratchBuffer<unsigned char> plane = allocateScratch<unsigned char>(geometry.planePixels);
    if (!plane) {
        TraceLog("ErrorDiffusionFloydSteinberg DibPixcel==NULL\r\n");
        *DataBinSize = 0;
        return false;
    }

    const double strength = ditherStrength();
    const unsigned char* row = raster;
    unsigned char* out = plane.get();
    for (int y = 0; y < height; ++y, row += geometry.rasterStride) {
        const unsigned char* pixel = row;
        for (int x = 0; x < width; ++x, pixel += 3) {
            RGB2Gray(out++, pixel[0], pixel[1], pixel[2], selector);
        }
    }
    const unsigned char threshold = MonochromeConvertOtsu(width, height, raster, selector);

    // A neighbour is kept a gray level: the sum of byte and share is clamped
    // to 0..255 instead of wrapping around.
    const auto addShare = [strength](unsigned char& neighbour, int weight, int error) {
        const int share = static_cast<int>(((weight * error) * 0.0625) * strength);
        neighbour = static_cast<unsigned char>(std::clamp(neighbour + share, 0, 255));
    };
    unsigned char* current = plane.get();
    for (int y = 0; y < height; ++y, current += width) {
        // Row 0 and column 0 never receive error.
        unsigned char* below = y + 1 < height ? current + width : nullptr;
        const bool rowReceives = y >= 1;
        for (int x = 0; x < width; ++x) {
            const int oldValue = current[x];
            const int newValue = oldValue > threshold ? 255 : 0;
            current[x] = static_cast<unsigned char>(newValue);
            const int error = oldValue - newValue;
            if (rowReceives && x + 1 < width) {
                addShare(current[x + 1], 7, error);
            }
            if (below != nullptr) {
                if (x - 1 >= 1) {
                    addShare(below[x - 1], 3, error);
                }
                if (x >= 1) {
                    addShare(below[x], 5, error);
                }
                if (x + 1 < width) {
                    addShare(below[x + 1], 1, error);
                }
            }
        }
    }
    out = plane.get();
    for (std::int64_t i = 0; i < geometry.planePixels; ++i) {
        out[i] = out[i] > threshold ? 255 : 0;
    }

    const bool packed = CreatDataBin(plane.get(), width, height, bits, DataBinSize);
    TraceLog("ErrorDiffusionFloydSteinberg:after CreatDataBin\r\n");
    if (!packed) {
        TraceLog("ErrorDiffusionFloydSteinberg:CreatDataBin failed \r\n");
    }
    TraceLog("ErrorDiffusionFloydSteinberg:after GrayData\r\n");
    return packed;
}

// ---------------------------------------------------------------------------
// Integer Floyd-Steinberg halftone with randomised borders

namespace {

// The border thresholds: a linear congruential generator restarted at 0 on
// every call, so the same image always gives the same halftone.
class BorderThresholds {
public:
    int next() { return FloydSteinbergBorderThreshold(&state_); }

private:
    unsigned int state_ = 0;
};

}  // namespace

int FloydSteinbergBorderThreshold(unsigned int* state)
{
    *state = *state * 1103515245u + 12345u;
    const std::int32_t r = static_cast<std::int32_t>(*state) >> 12;  // arithmetic shift
    return r % 129 + 63;  // the remainder keeps the sign of r
}

int FloydSteinbergInitialError(int gray, int halftone) { return gray - (halftone == 255 ? 255 : 0) + (127 - gray) / 2; }

bool FloydSteinberg(int width, int height, const unsigned char* raster, unsigned int selector, unsigned char* bits,
                    int* DataBinSize)
{
    if (DataBinSize == nullptr) {
        return false;
    }
    BinarizeGeometry geometry;
    if (raster == nullptr || !binarizeGeometry(width, height, 0, &geometry)) {
        *DataBinSize = 0;
        return false;
    }
    ScratchBuffer<unsigned char> grayPlane = allocateScratch<unsigned char>(geometry.imagePixels);
    ScratchBuffer<unsigned char> halftone =
        grayPlane ? allocateScratch<unsigned char>(geometry.imagePixels, true) : nullptr;
    ScratchBuffer<int> previousErrors = halftone ? allocateScratch<int>(width, true) : nullptr;
    ScratchBuffer<int> currentErrors = previousErrors ? allocateScratch<int>(width, true) : nullptr;
    if (!currentErrors) {
        TraceLog("FloydSteinberg GrayData==NULL\r\n");
        *DataBinSize = 0;
        return false;
    }

    const unsigned char* row = raster;
    unsigned char* out = grayPlane.get();
    for (int y = 0; y < height; ++y, row += geometry.rasterStride) {
        const unsigned char* pixel = row;
        for (int x = 0; x < width; ++x, pixel += 3) {
            RGB2Gray(out++, pixel[2], pixel[1], pixel[0], selector);
        }
    }

    const unsigned char* g = grayPlane.get();
    unsigned char* h = halftone.get();
    const auto at = [width](int x, int y) { return static_cast<std::ptrdiff_t>(y) * width + x; };
    BorderThresholds thresholds;

    // Left, right and top borders against random thresholds; the error runs
    // down each side and then along the top row.
    int error = 0;
    for (int y = 0; y < height; ++y) {
        const int t = thresholds.next();
        const int p = g[at(0, y)] + error;
        h[at(0, y)] = p > t ? 255 : 0;
        error = p - h[at(0, y)];
    }
    error = 0;
    for (int y = 0; y < height; ++y) {
        const int t = thresholds.next();
        const int p = g[at(width - 1, y)] + error;
        h[at(width - 1, y)] = p > t ? 255 : 0;
        error = p - h[at(width - 1, y)];
    }
    int* previous = previousErrors.get();
    int* current = currentErrors.get();
    for (int x = 0; x < width; ++x) {
        const int t = thresholds.next();
        const int p = g[x] + error;
        h[x] = p > t ? 255 : 0;
        previous[x] = FloydSteinbergInitialError(g[x], h[x]);
        error = p - h[x];
    }

    // Interior against mid-gray.
    for (int y = 1; y < height; ++y) {
        const unsigned char* gRow = g + at(0, y);
        unsigned char* hRow = h + at(0, y);
        current[0] = FloydSteinbergInitialError(gRow[0], hRow[0]);
        for (int x = 1; x <= width - 2; ++x) {
            const int sum = previous[x - 1] + 5 * previous[x] + 3 * previous[x + 1] + 7 * current[x - 1];
            const int p = gRow[x] + sum / 16;
            if (p > 127) {
                hRow[x] = 255;
                current[x] = p - 255;
            } else {
                hRow[x] = 0;
                current[x] = p;
            }
        }
        current[0] = FloydSteinbergInitialError(gRow[0], hRow[0]);
        current[width - 1] = FloydSteinbergInitialError(gRow[width - 1], hRow[width - 1]);
        std::swap(previous, current);
    }

    const bool packed = CreatDataBin(h, width, height, bits, DataBinSize);
    if (!packed) {
        TraceLog("FloydSteinberg:CreatDataBin failed \r\n");
    }
    return packed;
}
