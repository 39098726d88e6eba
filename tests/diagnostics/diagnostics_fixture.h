// Shared fixture of the diagnostics tests: every flag off, and the output
// directory pointed at a private temporary directory unless a test wants the
// default one. Restores the module's globals afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "diagnostics/middleDataSave.h"
#include "support/Process.h"

class DiagnosticsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memcpy(savedPath_, path, sizeof path);
        allFlags(0);
        usePrivateDirectory();
    }
    void TearDown() override
    {
        allFlags(0);
        std::memcpy(path, savedPath_, sizeof path);
    }

    static void allFlags(int value)
    {
        SetSaveLogDataFalg(value);
        SetSaveMiddleBmpDataFalg(value);
        SetSaveMainBmpDataFalg(value);
        SetSaveRawDataFalg(value);
    }

    void usePrivateDirectory()
    {
        ASSERT_LT(dir_.path().size(), sizeof path);
        std::snprintf(path, sizeof path, "%s", dir_.path().c_str());
    }

    std::set<std::string> entries() const { return listDirectory(dir_.path()); }

    static std::set<std::string> listDirectory(const std::string& directory)
    {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(directory)) {
            names.insert(e.path().filename().string());
        }
        return names;
    }

    // The number a dump of second `t` carries in its name.
    static int randomFor(std::time_t t)
    {
        std::srand(static_cast<unsigned int>(t));
        return std::rand();
    }

    std::string logText() const
    {
        const std::string log = dir_.file("Print.log");
        return std::filesystem::exists(log) ? testsupport::readFile(log) : std::string();
    }

    testsupport::TempDir dir_;

private:
    char savedPath_[256]{};
};

// A small reader for the dumped bitmaps.
struct BmpFile {
    bool valid = false;
    std::uint32_t fileSize = 0;
    std::uint32_t pixelOffset = 0;
    std::uint32_t infoSize = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitsPerPixel = 0;
    std::uint32_t compression = 0;
    std::uint32_t imageSize = 0;
    std::uint32_t trailing[4] = {};
    std::vector<unsigned char> palette;
    std::vector<unsigned char> pixels;
};

inline std::uint32_t le32(const std::string& s, std::size_t at)
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(s[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 3])) << 24;
}

inline std::uint16_t le16(const std::string& s, std::size_t at)
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(s[at]) |
                                      static_cast<unsigned char>(s[at + 1]) << 8);
}

inline BmpFile readBmp(const std::string& fileName)
{
    BmpFile bmp;
    const std::string s = testsupport::readFile(fileName);
    if (s.size() < 54 || s[0] != 'B' || s[1] != 'M' || le16(s, 6) != 0 || le16(s, 8) != 0) {
        return bmp;
    }
    bmp.fileSize = le32(s, 2);
    bmp.pixelOffset = le32(s, 10);
    bmp.infoSize = le32(s, 14);
    bmp.width = static_cast<std::int32_t>(le32(s, 18));
    bmp.height = static_cast<std::int32_t>(le32(s, 22));
    bmp.planes = le16(s, 26);
    bmp.bitsPerPixel = le16(s, 28);
    bmp.compression = le32(s, 30);
    bmp.imageSize = le32(s, 34);
    for (int i = 0; i < 4; ++i) {
        bmp.trailing[i] = le32(s, 38 + 4 * static_cast<std::size_t>(i));
    }
    if (bmp.fileSize != s.size() || bmp.pixelOffset > s.size() || bmp.infoSize != 40 ||
        bmp.fileSize - bmp.pixelOffset != bmp.imageSize) {
        return bmp;
    }
    bmp.palette.assign(s.begin() + 54, s.begin() + bmp.pixelOffset);
    bmp.pixels.assign(s.begin() + bmp.pixelOffset, s.end());
    bmp.valid = true;
    return bmp;
}
