// The diagnostics: the private trace log and the bitmap and raw dumps, their
// file names, contents, and the safety of the files they open.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "diagnostics/middleDataSave.h"
#include "support/CappedChild.h"
#include "support/Process.h"

namespace {

std::vector<unsigned char> sampleBytes(int count)
{
    std::vector<unsigned char> bytes(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        bytes[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i * 37 + 11);
    }
    return bytes;
}

std::set<std::string> listDirectory(const std::string& directory)
{
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(directory)) {
        names.insert(e.path().filename().string());
    }
    return names;
}

// The number a dump of second `t` carries in its name.
std::string randomFor(std::time_t t)
{
    std::srand(static_cast<unsigned int>(t));
    return std::to_string(std::rand());
}

std::uint32_t le(const std::string& s, std::size_t at, int bytes)
{
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        v = v << 8 | static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)]);
    }
    return v;
}

// A dumped bitmap's header fields, palette and pixels.
struct Bmp {
    std::uint32_t fileSize, pixelOffset, infoSize, width, height, planes, bits, compression, imageSize;
    std::string palette, pixels, trailing;
};

Bmp readBmp(const std::string& file)
{
    const std::string s = testsupport::readFile(file);
    if (s.size() < 54 || s.compare(0, 2, "BM") != 0 || le(s, 6, 4) != 0) {
        ADD_FAILURE() << file << " is no bitmap";
        return {};
    }
    Bmp b{le(s, 2, 4), le(s, 10, 4), le(s, 14, 4), le(s, 18, 4), le(s, 22, 4), le(s, 26, 2), le(s, 28, 2),
          le(s, 30, 4), le(s, 34, 4), s.substr(54, le(s, 10, 4) - 54), s.substr(le(s, 10, 4)), s.substr(38, 16)};
    EXPECT_EQ(b.fileSize, s.size());
    EXPECT_EQ(b.infoSize, 40u);
    EXPECT_EQ(b.imageSize, b.pixels.size());
    EXPECT_EQ(b.trailing, std::string(16, '\0'));
    return b;
}

// Every flag off, and the output directory pointed at a private temporary
// directory; the module's globals restored afterwards.
class Diagnostics : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memcpy(savedPath_, path, sizeof path);
        allFlags(0);
        std::snprintf(path, sizeof path, "%s", dir_.path().c_str());
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

    // Every dump writer once, into the current directory.
    static void dumpAll(const std::vector<unsigned char>& data)
    {
        saveOneBitBmpFileMain(data.data(), 32, 2, 8, -1, 1);
        saveOneBitBmpFile(data.data(), 32, 2, 8, 2, 1);
        save24BitBmpFile(data.data(), 1, 2, 8, 2);
        save24BitBmpFile2(data.data(), 1, 2, 8);
        SaveDataRaw(data.data(), 8, 2);
    }

    std::set<std::string> entries() const { return listDirectory(dir_.path()); }

    std::string logText() const
    {
        const std::string log = dir_.file("Print.log");
        return std::filesystem::exists(log) ? testsupport::readFile(log) : std::string();
    }

    // Runs `dump` and returns the single file it created, checking that its
    // name is prefix + second + ("_" + random number) + suffix for a second
    // the call may have run in.
    template <class Dump>
    std::string dumpOne(Dump dump, const std::string& prefix, bool random, const std::string& suffix)
    {
        const auto before = entries();
        const std::time_t t0 = std::time(nullptr);
        dump();
        const std::time_t t1 = std::time(nullptr);
        std::vector<std::string> created;
        for (const auto& name : entries()) {
            if (before.count(name) == 0 && name != "Print.log") {
                created.push_back(name);
            }
        }
        if (created.size() != 1) {
            ADD_FAILURE() << "expected one new file, got " << created.size();
            return {};
        }
        bool matched = false;
        for (std::time_t t = t0; t <= t1; ++t) {
            matched = matched ||
                      created[0] == prefix + std::to_string(static_cast<long>(t)) +
                                        (random ? "_" + randomFor(t) : std::string()) + suffix;
        }
        EXPECT_TRUE(matched) << created[0];
        return dir_.file(created[0]);
    }

    testsupport::TempDir dir_;

private:
    char savedPath_[sizeof path]{};
};

TEST_F(Diagnostics, NothingIsWrittenWhileTheFlagsAreOff)
{
    const auto data = sampleBytes(16);
    TraceLog("a %d\r\n", 5);
    dumpAll(data);
    EXPECT_TRUE(entries().empty());

    // With the default directory unset it stays unset: nothing went to /tmp.
    path[0] = '\0';
    TraceLog("a %d\r\n", 5);
    TraceLogDebug();
    dumpAll(data);
    EXPECT_EQ(path[0], '\0');
}

TEST_F(Diagnostics, TraceLogAppendsExactlyTheTextToTheDefaultLog)
{
    path[0] = '\0';
    const std::string logName = "/tmp//Print.log";
    struct stat before {};
    const bool existed = ::stat(logName.c_str(), &before) == 0;

    SetSaveLogDataFalg(1);
    TraceLog("a %d\r\n", 5);
    EXPECT_STREQ(path, "/tmp");
    const std::string content = testsupport::readFile(logName);
    const std::size_t oldSize = existed ? static_cast<std::size_t>(before.st_size) : 0;
    EXPECT_EQ(content.substr(std::min(oldSize, content.size())), "a 5\r\n");

    // Leave /tmp as it was.
    if (existed) {
        ASSERT_EQ(::truncate(logName.c_str(), before.st_size), 0);
    } else {
        ::unlink(logName.c_str());
    }
}

TEST_F(Diagnostics, TraceLogAddsNothingCutsLongTextsAndSkipsAMissingDirectory)
{
    SetSaveLogDataFalg(1);
    TraceLog("first\r\n");
    TraceLog("%s", "no line end");
    TraceLog("%s|%d\r\n", "second", -7);
    EXPECT_EQ(logText(), "first\r\nno line end" "second|-7\r\n");

    ASSERT_TRUE(std::filesystem::remove(dir_.file("Print.log")));
    TraceLog("%s", std::string(5000, 'x').c_str());
    EXPECT_EQ(logText(), std::string(1023, 'x'));

    std::snprintf(path, sizeof path, "%s", dir_.file("missing/dir").c_str());
    TraceLog("lost\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir_.file("missing")));
}

TEST_F(Diagnostics, TraceLogOfAPageHeader)
{
    cups_page_header2_t h{};
    h.HWResolution[0] = 203;
    h.HWResolution[1] = 204;
    h.NumCopies = 2;
    h.cupsWidth = 576;
    h.cupsColorSpace = CUPS_CSPACE_RGB;
    SetSaveLogDataFalg(1);
    SaveCupsPageHeader2Info(&h);
    SaveCupsPageHeader2Info(nullptr);
    const std::string log = logText();
    EXPECT_EQ(log.rfind("SaveCupsPageHeader2Info:StartPage\r\nSaveCupsPageHeader2Info: Duplex = 0\r\n"
                        "SaveCupsPageHeader2Info: HWResolution = [ 203 204 ]\r\n",
                        0),
              0u)
        << log;
    EXPECT_NE(log.find("SaveCupsPageHeader2Info: NumCopies = 2\r\n"), std::string::npos);
    EXPECT_NE(log.find("SaveCupsPageHeader2Info: cupsWidth = 576\r\n"), std::string::npos);
    const std::string end = "SaveCupsPageHeader2Info: cupsColorSpace = 1\r\nSaveCupsPageHeader2Info: cupsCompression = 0\r\n";
    ASSERT_GE(log.size(), end.size());
    EXPECT_EQ(log.substr(log.size() - end.size()), end);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 19) << "one header, each field once";
}

TEST_F(Diagnostics, OneBitBitmapsPlainAndInverted)
{
    SetSaveMainBmpDataFalg(1);
    const auto data = sampleBytes(8);
    const std::string file = dumpOne([&] { saveOneBitBmpFileMain(data.data(), 32, 2, 8, -1, 0); },
                                     "VbImageGrayedBinary_", true, ".bmp");
    ASSERT_FALSE(file.empty());
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777 & ~0022u, 0644u & ~0022u);
    Bmp bmp = readBmp(file);
    EXPECT_EQ(bmp.fileSize, 70u);
    EXPECT_EQ(bmp.pixelOffset, 62u);
    EXPECT_EQ(bmp.width, 32u);
    EXPECT_EQ(bmp.height, 2u);
    EXPECT_EQ(bmp.planes, 1u);
    EXPECT_EQ(bmp.bits, 1u);
    EXPECT_EQ(bmp.compression, 0u);
    EXPECT_EQ(bmp.palette, std::string("\0\0\0\0\xFF\xFF\xFF\0", 8));
    EXPECT_EQ(bmp.pixels, std::string(data.begin(), data.end()));

    const auto wide = sampleBytes(12);  // width 20, 3 rows of 4 bytes
    const auto copy = wide;
    const std::string inverted = dumpOne([&] { saveOneBitBmpFileMain(wide.data(), 20, 3, 12, 4, 1); },
                                         "VbImageGrayedBinary_", true, "_4.bmp");
    ASSERT_FALSE(inverted.empty());
    bmp = readBmp(inverted);
    EXPECT_EQ(bmp.width, 20u);
    EXPECT_EQ(bmp.height, 3u);
    ASSERT_EQ(bmp.pixels.size(), wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        EXPECT_EQ(static_cast<unsigned char>(bmp.pixels[i]), static_cast<unsigned char>(~wide[i]));
    }
    EXPECT_EQ(wide, copy);  // the caller's bytes are not inverted
}

TEST_F(Diagnostics, MiddleWriterNamesAndTraceLines)
{
    SetSaveMiddleBmpDataFalg(1);
    SetSaveLogDataFalg(1);
    const auto data = sampleBytes(8);
    const std::string plain = dumpOne([&] { saveOneBitBmpFile(data.data(), 32, 2, 8, -1, 0); },
                                      "VbImageGrayedBinary_", true, ".bmp");
    ASSERT_FALSE(plain.empty());
    EXPECT_EQ(readBmp(plain).pixels, std::string(data.begin(), data.end()));
    // The trace names the file with a single slash after the directory.
    EXPECT_EQ(logText(), "saveOneBitBmpFile mageFile!=NULL path =" + plain +
                             " \r\n"
                             "saveOneBitBmpFile wr FileHeader OK \r\n"
                             "saveOneBitBmpFile wr BmpInfoHeader OK \r\n"
                             "saveOneBitBmpFile wr RGBQuad OK \r\n"
                             "saveOneBitBmpFile begin Wr pdata\r\n"
                             "saveOneBitBmpFile turnOver == 0 size=8\r\n");

    std::filesystem::remove(dir_.file("Print.log"));
    EXPECT_FALSE(dumpOne([&] { saveOneBitBmpFile(data.data(), 32, 2, 8, 7, 1); }, "VbImageGrayedBinary_", true,
                         "_7.bmp")
                     .empty());
    EXPECT_EQ(logText().find("begin Wr pdata"), std::string::npos);  // the inverted path has no data lines
}

TEST_F(Diagnostics, TwentyFourBitBitmapsAndRawData)
{
    SetSaveMainBmpDataFalg(1);
    SetSaveRawDataFalg(1);
    const auto data = sampleBytes(12);  // width 1, height 3, rows of 4 bytes
    const std::string bytes(data.begin(), data.end());
    Bmp bmp = readBmp(dumpOne([&] { save24BitBmpFile(data.data(), 1, 3, 12, 9); }, "VbImage24Bit_", false, "_9.bmp"));
    EXPECT_EQ(bmp.fileSize, 66u);
    EXPECT_EQ(bmp.pixelOffset, 54u);
    EXPECT_EQ(bmp.width, 1u);
    EXPECT_EQ(bmp.height, 3u);
    EXPECT_EQ(bmp.bits, 24u);
    EXPECT_EQ(bmp.pixels, bytes);

    bmp = readBmp(dumpOne([&] { save24BitBmpFile2(data.data(), 1, 3, 12); }, "VbImage24Bit_", false, "true.bmp"));
    EXPECT_EQ(bmp.fileSize, 66u);
    EXPECT_EQ(static_cast<std::int32_t>(bmp.height), -3);  // top-down
    EXPECT_EQ(bmp.pixels, bytes);

    SaveDataRaw(data.data(), 0, 1);  // nothing to save: no file
    const std::string raw = dumpOne([&] { SaveDataRaw(data.data(), 5, 12); }, "PrintData_", true, "_12.raw");
    EXPECT_EQ(testsupport::readFile(raw), bytes.substr(0, 5));
}

TEST_F(Diagnostics, MeaninglessSizesAndNamesThatDoNotFitWriteNoFile)
{
    allFlags(1);
    SetSaveLogDataFalg(0);
    const auto data = sampleBytes(8);
    saveOneBitBmpFileMain(data.data(), 32, 2, -8, -1, 0);
    saveOneBitBmpFile(nullptr, 32, 2, 8, -1, 1);
    save24BitBmpFile(data.data(), 1, 1, -1, 0);
    save24BitBmpFile2(nullptr, 1, 1, 4);
    SaveDataRaw(data.data(), -5, 0);
    SaveDataRaw(nullptr, 5, 0);
    EXPECT_TRUE(entries().empty());

    // A directory whose name leaves no room for the file name: a cut name
    // would create some other file, so no dump is written there.
    const std::string longDir = dir_.path() + "/" + std::string(250 - dir_.path().size() - 1, 'd');
    ASSERT_TRUE(std::filesystem::create_directory(longDir));
    std::snprintf(path, sizeof path, "%s", longDir.c_str());
    dumpAll(data);
    EXPECT_TRUE(listDirectory(longDir).empty());
}

TEST_F(Diagnostics, PlantedLinksAreNotFollowed)
{
    const std::string victim = dir_.file("victim.txt");
    testsupport::writeFile(victim, "precious");
    ASSERT_EQ(::symlink(victim.c_str(), dir_.file("Print.log").c_str()), 0);
    // Plant links under every name the dumps of the next few seconds would use.
    const std::time_t now = std::time(nullptr);
    for (std::time_t t = now; t <= now + 3; ++t) {
        const std::string tt = std::to_string(static_cast<long>(t)), rr = randomFor(t);
        for (const std::string& name : {"VbImageGrayedBinary_" + tt + "_" + rr + ".bmp",
                                        "VbImageGrayedBinary_" + tt + "_" + rr + "_2.bmp",
                                        "VbImage24Bit_" + tt + "_2.bmp", "VbImage24Bit_" + tt + "true.bmp",
                                        "PrintData_" + tt + "_" + rr + "_2.raw"}) {
            ASSERT_EQ(::symlink(victim.c_str(), dir_.file(name).c_str()), 0);
        }
    }
    allFlags(1);
    TraceLog("attack\r\n");
    dumpAll(sampleBytes(8));
    EXPECT_EQ(testsupport::readFile(victim), "precious");
    for (const auto& name : entries()) {
        if (name != "victim.txt") {
            EXPECT_TRUE(std::filesystem::is_symlink(dir_.file(name))) << name;
        }
    }
}

TEST_F(Diagnostics, InvertedCopyThatCannotBeMadeLeavesNoFile)
{
    if (!testsupport::kCanCapMemory) {
        GTEST_SKIP() << "address-space cap not usable in this build";
    }
    const std::vector<unsigned char> data(40u << 20, 0x0F);  // 40 MB to invert
    SetSaveMainBmpDataFalg(1);
    EXPECT_EQ(testsupport::runCapped(8L << 20,
                                     [&] {
                                         saveOneBitBmpFileMain(data.data(), 32, 2, static_cast<int>(data.size()), 5, 1);
                                         return 0;
                                     }),
              0);
    EXPECT_TRUE(entries().empty());
}

}  // namespace
