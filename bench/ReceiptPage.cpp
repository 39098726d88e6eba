#include "ReceiptPage.h"

#include <algorithm>
#include <cstdint>

namespace {

// A small linear congruential generator: the same page on every machine.
struct Lcg {
    std::uint32_t state;
    std::uint32_t next()
    {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
};

void setPixel(unsigned char* row, int x, unsigned char r, unsigned char g, unsigned char b)
{
    row[3 * x] = r;
    row[3 * x + 1] = g;
    row[3 * x + 2] = b;
}

// One band of 1000 rows; `y` is the row within the band.
void fillRow(unsigned char* row, int width, int y, Lcg& noise)
{
    for (int x = 0; x < width; ++x) {
        setPixel(row, x, 255, 255, 255);
    }
    const int margin = std::min(16, width / 8);
    if (y < 300) {
        // Text: lines of 24 rows, glyphs 12 pixels wide with vertical and
        // horizontal strokes, slightly gray like anti-aliased print.
        const int line = y / 24, inLine = y % 24;
        if (inLine >= 4 && inLine < 20) {
            for (int x = margin; x < width - margin; ++x) {
                const int glyph = (x - margin) / 12, inGlyph = (x - margin) % 12;
                const std::uint32_t shape = (static_cast<std::uint32_t>(glyph) * 2654435761u) ^
                                            (static_cast<std::uint32_t>(line) * 40503u);
                if ((shape & 7) == 0 || inGlyph >= 10) {
                    continue;  // a space, or the gap between glyphs
                }
                const bool stem = inGlyph == static_cast<int>(shape >> 3) % 8 || inGlyph == static_cast<int>(shape >> 6) % 8 + 1;
                const bool bar = inLine == 4 + static_cast<int>(shape >> 9) % 3 * 6 || inLine == 19;
                if (stem || (bar && (shape >> 12) & 1)) {
                    const unsigned char level = static_cast<unsigned char>(20 + noise.next() % 40);
                    setPixel(row, x, level, level, level);
                }
            }
        }
    } else if (y < 310) {
        // A double rule.
        if (y == 302 || y == 303 || y == 307) {
            for (int x = margin; x < width - margin; ++x) {
                setPixel(row, x, 0, 0, 0);
            }
        }
    } else if (y < 470) {
        // A barcode of bars 2 to 8 pixels wide.
        if (y >= 320 && y < 460) {
            Lcg bars{0x5eedu};
            int x = margin * 2;
            bool black = true;
            while (x < width - margin * 2) {
                const int bar = 2 + static_cast<int>(bars.next() % 4) * 2;
                for (int i = 0; i < bar && x < width - margin * 2; ++i, ++x) {
                    if (black) {
                        setPixel(row, x, 0, 0, 0);
                    }
                }
                black = !black;
            }
        }
    } else if (y < 900) {
        // A photograph: smooth colour gradients with a soft disc and grain.
        const int py = y - 470;
        for (int x = margin; x < width - margin; ++x) {
            const int dx = x - width / 2, dy = py - 215;
            const int disc = dx * dx + dy * dy < 150 * 150 ? 60 : 0;
            const int grain = static_cast<int>(noise.next() % 17) - 8;
            const int r = std::clamp(40 + (x * 180) / std::max(1, width) + disc + grain, 0, 255);
            const int g = std::clamp(30 + (py * 200) / 430 + grain, 0, 255);
            const int b = std::clamp(200 - (x * 120) / std::max(1, width) - disc / 2 + grain, 0, 255);
            setPixel(row, x, static_cast<unsigned char>(r), static_cast<unsigned char>(g),
                     static_cast<unsigned char>(b));
        }
    } else if (y < 960) {
        // A gray ramp across the page.
        if (y >= 910 && y < 950) {
            for (int x = margin; x < width - margin; ++x) {
                const unsigned char level = static_cast<unsigned char>(((x - margin) * 255) / std::max(1, width - 2 * margin));
                setPixel(row, x, level, level, level);
            }
        }
    }
    // The rest of the band is white paper.
}

}  // namespace

std::size_t receiptStride(int width) { return static_cast<std::size_t>((width * 24 + 31) / 32 * 4); }

std::vector<unsigned char> makeReceiptPage(int width, int height)
{
    const std::size_t stride = receiptStride(width);
    std::vector<unsigned char> page(stride * static_cast<std::size_t>(height), 0);
    Lcg noise{12345u};
    for (int y = 0; y < height; ++y) {
        fillRow(page.data() + stride * static_cast<std::size_t>(y), width, y % 1000, noise);
    }
    return page;
}
