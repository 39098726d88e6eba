#include "SimHelpers.h"

#include <png.h>

#include <cstdio>
#include <memory>
#include <sstream>

namespace simtest {

std::map<std::string, std::string> readSummary(const std::string& path) {
    std::map<std::string, std::string> m;
    std::istringstream in(testsupport::readFile(path));
    std::string line;
    while (std::getline(in, line)) {
        auto eq = line.find('=');
        if (eq != std::string::npos) m[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return m;
}

SimRun runSim(const testsupport::TempDir& dir, const std::vector<std::string>& args, const std::string& script,
              const std::string& sub) {
    SimRun r;
    r.outDir = dir.file(sub);
    std::vector<std::string> argv = {testsupport::builtProgram("zorvan-printer"), "--out", r.outDir};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.end(), {"--", "/bin/bash", "-c", script});
    testsupport::ProcessOptions po;
    po.timeoutSeconds = 30;
    r.proc = testsupport::runProcess(argv, po);
    r.listing = testsupport::readFile(r.outDir + "/listing.txt");
    r.summary = readSummary(r.outDir + "/summary.txt");
    return r;
}

SimRun decodeBytes(const testsupport::TempDir& dir, const std::string& bytes, const std::vector<std::string>& args) {
    SimRun r;
    r.outDir = dir.file("decode");
    std::vector<std::string> argv = {testsupport::builtProgram("zorvan-printer"), "--out", r.outDir};
    argv.insert(argv.end(), args.begin(), args.end());
    testsupport::ProcessOptions po;
    po.stdinData = bytes;
    po.timeoutSeconds = 30;
    r.proc = testsupport::runProcess(argv, po);
    r.listing = testsupport::readFile(r.outDir + "/listing.txt");
    r.summary = readSummary(r.outDir + "/summary.txt");
    return r;
}

bool readPng(const std::string& path, Gray& out) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, f.get());
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_rgb_to_gray_fixed(png, 1, -1, -1);
    png_read_update_info(png, info);
    out.width = static_cast<int>(png_get_image_width(png, info));
    out.height = static_cast<int>(png_get_image_height(png, info));
    if (png_get_rowbytes(png, info) != static_cast<std::size_t>(out.width)) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    out.pixels.assign(static_cast<std::size_t>(out.width) * out.height, 0);
    std::vector<png_bytep> rows(static_cast<std::size_t>(out.height));
    for (int y = 0; y < out.height; ++y) rows[y] = out.pixels.data() + static_cast<std::size_t>(y) * out.width;
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

std::string rasterCommand(int bytesPerRow, int rows, const std::string& data, int mode) {
    std::string s = {'\x1d', '\x76', '\x30', static_cast<char>(mode), static_cast<char>(bytesPerRow & 0xFF),
                     static_cast<char>(bytesPerRow >> 8), static_cast<char>(rows & 0xFF), static_cast<char>(rows >> 8)};
    return s + data;
}

std::string printfEscaped(const std::string& bytes) {
    std::string s;
    char buf[8];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof buf, "\\x%02x", c);
        s += buf;
    }
    return s;
}

}  // namespace simtest
