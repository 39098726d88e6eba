// zorvan-raster: turns PNG pictures into a CUPS raster stream (one page per picture), the
// way CUPS's own converters would hand a job to the filter.
#include <cups/raster.h>
#include <png.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "Usage: zorvan-raster [OPTIONS] in.png [in2.png ...] out.ras\n"
    "Writes a CUPS raster stream (libcups writer), one page per PNG.\n"
    "  --bits 1|8      bits per colour (default 8)\n"
    "  --gray          8 bits: one byte per pixel, colour space 3 (black, 0 = white paper)\n"
    "                  instead of RGB (colour space 1)\n"
    "  --copies N      NumCopies in every page header (default 1)\n"
    "  --width W       scale each picture to W pixels wide, keeping its aspect\n"
    "  --pad W         pad each picture with white on the right to W pixels (no scaling)\n"
    "  --threshold T   1 bit: pixels darker than T (0..255, default 128) are black dots\n"
    "  --dpi D         resolution in the header (default 203)\n"
    "  --compressed    write the compressed (version 2) stream instead of version 3\n"
    "  out.ras may be '-' for standard output. 1-bit pages: a set bit is black (colour space 3).\n";

struct Image {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;  // 3 bytes per pixel, alpha composed over white
};

bool readPng(const std::string& path, Image& img, std::string& error) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    unsigned char sig[8];
    if (std::fread(sig, 1, 8, f.get()) != 8 || png_sig_cmp(sig, 0, 8) != 0) {
        error = path + ": not a PNG file";
        return false;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        error = "out of memory";
        return false;
    }
    std::vector<std::uint8_t> rgba;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        error = path + ": damaged PNG";
        return false;
    }
    png_init_io(png, f.get());
    png_set_sig_bytes(png, 8);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    if (w == 0 || h == 0 || w > 20000 || h > 1000000 || png_get_rowbytes(png, info) != w * 4) {
        png_destroy_read_struct(&png, &info, nullptr);
        error = path + ": unsupported picture size or layout";
        return false;
    }
    rgba.resize(static_cast<std::size_t>(w) * h * 4);
    std::vector<png_bytep> rows(h);
    for (png_uint_32 y = 0; y < h; ++y) rows[y] = rgba.data() + static_cast<std::size_t>(y) * w * 4;
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    img.width = static_cast<int>(w);
    img.height = static_cast<int>(h);
    img.rgb.resize(static_cast<std::size_t>(w) * h * 3);
    for (std::size_t i = 0, n = static_cast<std::size_t>(w) * h; i < n; ++i) {
        unsigned a = rgba[i * 4 + 3];
        for (int c = 0; c < 3; ++c)
            img.rgb[i * 3 + c] = static_cast<std::uint8_t>((rgba[i * 4 + c] * a + 255 * (255 - a) + 127) / 255);
    }
    return true;
}

// Area-average scaling to `width`, keeping the aspect ratio.
Image scaleTo(const Image& in, int width) {
    Image out;
    out.width = width;
    out.height = std::max(1, static_cast<int>((static_cast<long long>(in.height) * width + in.width / 2) / in.width));
    out.rgb.assign(static_cast<std::size_t>(out.width) * out.height * 3, 255);
    const double sx = static_cast<double>(in.width) / out.width, sy = static_cast<double>(in.height) / out.height;
    for (int y = 0; y < out.height; ++y) {
        int y0 = static_cast<int>(y * sy), y1 = std::max(y0 + 1, std::min(in.height, static_cast<int>((y + 1) * sy)));
        for (int x = 0; x < out.width; ++x) {
            int x0 = static_cast<int>(x * sx), x1 = std::max(x0 + 1, std::min(in.width, static_cast<int>((x + 1) * sx)));
            unsigned sum[3] = {0, 0, 0};
            unsigned n = 0;
            for (int yy = y0; yy < y1; ++yy)
                for (int xx = x0; xx < x1; ++xx, ++n)
                    for (int c = 0; c < 3; ++c) sum[c] += in.rgb[(static_cast<std::size_t>(yy) * in.width + xx) * 3 + c];
            for (int c = 0; c < 3; ++c)
                out.rgb[(static_cast<std::size_t>(y) * width + x) * 3 + c] = static_cast<std::uint8_t>((sum[c] + n / 2) / n);
        }
    }
    return out;
}

Image padTo(const Image& in, int width) {
    if (width <= in.width) return in;
    Image out;
    out.width = width;
    out.height = in.height;
    out.rgb.assign(static_cast<std::size_t>(width) * in.height * 3, 255);
    for (int y = 0; y < in.height; ++y)
        std::memcpy(&out.rgb[static_cast<std::size_t>(y) * width * 3], &in.rgb[static_cast<std::size_t>(y) * in.width * 3],
                    static_cast<std::size_t>(in.width) * 3);
    return out;
}

unsigned luminance(const std::uint8_t* p) { return (299u * p[0] + 587u * p[1] + 114u * p[2] + 500u) / 1000u; }

[[noreturn]] void fail(const std::string& msg) {
    std::fprintf(stderr, "zorvan-raster: ERROR: %s\n", msg.c_str());
    std::exit(1);
}

long number(const char* what, const char* s, long lo, long hi) {
    char* end = nullptr;
    long v = std::strtol(s, &end, 10);
    if (*s == '\0' || *end != '\0' || v < lo || v > hi) {
        std::fprintf(stderr, "zorvan-raster: ERROR: bad value for %s: '%s'\n%s", what, s, kUsage);
        std::exit(2);
    }
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    int bits = 8, copies = 1, width = 0, pad = 0, threshold = 128, dpi = 203;
    bool gray = false, compressed = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "zorvan-raster: ERROR: %s needs a value\n", what);
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--bits") {
            bits = static_cast<int>(number("--bits", value("--bits"), 1, 8));
            if (bits != 1 && bits != 8) {
                std::fprintf(stderr, "zorvan-raster: ERROR: --bits must be 1 or 8\n");
                return 2;
            }
        } else if (a == "--gray") {
            gray = true;
        } else if (a == "--copies") {
            copies = static_cast<int>(number("--copies", value("--copies"), -1000, 1000));
        } else if (a == "--width") {
            width = static_cast<int>(number("--width", value("--width"), 1, 20000));
        } else if (a == "--pad") {
            pad = static_cast<int>(number("--pad", value("--pad"), 1, 20000));
        } else if (a == "--threshold") {
            threshold = static_cast<int>(number("--threshold", value("--threshold"), 0, 256));
        } else if (a == "--dpi") {
            dpi = static_cast<int>(number("--dpi", value("--dpi"), 1, 10000));
        } else if (a == "--compressed") {
            compressed = true;
        } else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "zorvan-raster: ERROR: unknown option '%s'\n%s", a.c_str(), kUsage);
            return 2;
        } else {
            files.push_back(a);
        }
    }
    if (files.size() < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string outPath = files.back();
    files.pop_back();

    std::vector<Image> pages;
    for (const auto& f : files) {
        Image img;
        std::string err;
        if (!readPng(f, img, err)) fail(err);
        if (width > 0 && width != img.width) img = scaleTo(img, width);
        if (pad > 0) img = padTo(img, pad);
        pages.push_back(std::move(img));
    }

    int fd = outPath == "-" ? 1 : ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) fail(outPath + ": " + std::strerror(errno));
    cups_raster_t* ras = cupsRasterOpen(fd, compressed ? CUPS_RASTER_WRITE_COMPRESSED : CUPS_RASTER_WRITE);
    if (!ras) fail("cannot open the raster stream");

    for (const auto& img : pages) {
        cups_page_header2_t h;
        std::memset(&h, 0, sizeof h);
        std::snprintf(h.MediaClass, sizeof h.MediaClass, "PwgRaster");
        h.HWResolution[0] = h.HWResolution[1] = static_cast<unsigned>(dpi);
        h.PageSize[0] = static_cast<unsigned>((img.width * 72LL + dpi / 2) / dpi);
        h.PageSize[1] = static_cast<unsigned>((img.height * 72LL + dpi / 2) / dpi);
        h.cupsPageSize[0] = static_cast<float>(h.PageSize[0]);
        h.cupsPageSize[1] = static_cast<float>(h.PageSize[1]);
        h.ImagingBoundingBox[2] = h.PageSize[0];
        h.ImagingBoundingBox[3] = h.PageSize[1];
        h.NumCopies = static_cast<unsigned>(copies);
        h.cupsWidth = static_cast<unsigned>(img.width);
        h.cupsHeight = static_cast<unsigned>(img.height);
        h.cupsMediaType = 0;
        h.cupsColorOrder = CUPS_ORDER_CHUNKED;
        h.cupsBitsPerColor = static_cast<unsigned>(bits);
        if (bits == 1) {
            h.cupsColorSpace = CUPS_CSPACE_K;
            h.cupsBitsPerPixel = 1;
            h.cupsBytesPerLine = static_cast<unsigned>((img.width + 7) / 8);
            h.cupsNumColors = 1;
        } else if (gray) {
            h.cupsColorSpace = CUPS_CSPACE_K;
            h.cupsBitsPerPixel = 8;
            h.cupsBytesPerLine = static_cast<unsigned>(img.width);
            h.cupsNumColors = 1;
        } else {
            h.cupsColorSpace = CUPS_CSPACE_RGB;
            h.cupsBitsPerPixel = 24;
            h.cupsBytesPerLine = static_cast<unsigned>(img.width) * 3;
            h.cupsNumColors = 3;
        }
        if (!cupsRasterWriteHeader2(ras, &h)) fail("cannot write a page header");
        std::vector<unsigned char> row(h.cupsBytesPerLine);
        for (int y = 0; y < img.height; ++y) {
            const std::uint8_t* src = &img.rgb[static_cast<std::size_t>(y) * img.width * 3];
            if (bits == 1) {
                std::fill(row.begin(), row.end(), 0);
                for (int x = 0; x < img.width; ++x)
                    if (static_cast<int>(luminance(src + x * 3)) < threshold) row[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
            } else if (gray) {
                for (int x = 0; x < img.width; ++x) row[x] = static_cast<unsigned char>(255 - luminance(src + x * 3));
            } else {
                std::memcpy(row.data(), src, row.size());
            }
            if (cupsRasterWritePixels(ras, row.data(), static_cast<unsigned>(row.size())) != row.size())
                fail("cannot write pixels");
        }
    }
    cupsRasterClose(ras);
    if (fd != 1 && ::close(fd) != 0) fail(outPath + ": " + std::strerror(errno));
    return 0;
}
