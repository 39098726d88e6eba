// The diagnostics' dumps and trace log: every dump file byte for byte against a bitmap
// layout written out here field by field, the file names, and the safety of the files
// they open.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>

#include "diagnostics/middleDataSave.h"
#include "support/Process.h"

namespace {

namespace fs = std::filesystem;

const std::string kData = "\x0b\x30\x55\x7a\x9f\xc4\xe9\x0e\x33\x58\x7d\xa2";
const auto* kBytes = reinterpret_cast<const unsigned char*>(kData.data());

// The number a dump of second `t` carries in its name.
std::string randomFor(std::time_t t)
{
    std::srand(static_cast<unsigned>(t));
    return std::to_string(std::rand());
}

// File header, 40-byte info header (one plane, no compression, no resolution or palette
// counts), palette and pixels; fields little-endian.
std::string bmp(int width, int height, int bits, const std::string& palette, const std::string& pixels)
{
    std::string s = "BM";
    auto put = [&s](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) s += static_cast<char>(v >> (8 * i));
    };
    const auto offset = static_cast<std::uint32_t>(54 + palette.size()), size = static_cast<std::uint32_t>(pixels.size());
    for (std::uint32_t v : {offset + size, 0u, offset, 40u, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)})
        put(v, 4);
    put(1, 2);
    put(bits, 2);
    for (std::uint32_t v : {0u, size, 0u, 0u, 0u, 0u}) put(v, 4);
    return s + palette + pixels;
}

const std::string kPalette("\0\0\0\0\xFF\xFF\xFF\0", 8);

const std::string kInverted = "\xf4\xcf\xaa\x85\x60\x3b\x16\xf1\xcc\xa7\x82\x5d";

// Every flag off, the dumps pointed at a private directory; the globals restored afterwards.
class Diagnostics : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memcpy(saved_, path, sizeof path);
        flags(0);
        std::snprintf(path, sizeof path, "%s", dir_.path().c_str());
    }
    void TearDown() override
    {
        flags(0);
        std::memcpy(path, saved_, sizeof path);
    }
    static void flags(int on)
    {
        SetSaveLogDataFalg(on);
        SetSaveMiddleBmpDataFalg(on);
        SetSaveMainBmpDataFalg(on);
        SetSaveRawDataFalg(on);
    }
    static void dumpAll()
    {
        saveOneBitBmpFileMain(kBytes, 32, 2, 8, -1, 1);
        saveOneBitBmpFile(kBytes, 32, 2, 8, 2, 1);
        save24BitBmpFile(kBytes, 1, 2, 8, 2);
        save24BitBmpFile2(kBytes, 1, 2, 8);
        SaveDataRaw(kBytes, 8, 2);
    }
    std::vector<std::string> entries(const std::string& d = "") const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(d.empty() ? dir_.path() : d)) names.push_back(e.path().filename());
        return names;
    }
    testsupport::TempDir dir_;
    char saved_[sizeof path]{};
};

TEST_F(Diagnostics, EachDumpWritesOneFileOfTheExactLayoutUnderItsName)
{
    struct Case {
        void (*flag)(int);
        std::function<void()> dump;
        std::string prefix;
        bool random;
        std::string suffix, content;
    };
    const Case cases[] = {
        {SetSaveMainBmpDataFalg, [] { saveOneBitBmpFileMain(kBytes, 32, 2, 8, -1, 0); }, "VbImageGrayedBinary_", true,
         ".bmp", bmp(32, 2, 1, kPalette, kData.substr(0, 8))},
        {SetSaveMainBmpDataFalg, [] { saveOneBitBmpFileMain(kBytes, 20, 3, 12, 4, 1); }, "VbImageGrayedBinary_", true,
         "_4.bmp", bmp(20, 3, 1, kPalette, kInverted)},
        {SetSaveMiddleBmpDataFalg, [] { saveOneBitBmpFile(kBytes, 32, 2, 8, -1, 0); }, "VbImageGrayedBinary_", true,
         ".bmp", bmp(32, 2, 1, kPalette, kData.substr(0, 8))},
        {SetSaveMiddleBmpDataFalg, [] { saveOneBitBmpFile(kBytes, 20, 3, 12, 7, 1); }, "VbImageGrayedBinary_", true,
         "_7.bmp", bmp(20, 3, 1, kPalette, kInverted)},
        {SetSaveMainBmpDataFalg, [] { save24BitBmpFile(kBytes, 1, 3, 12, 9); }, "VbImage24Bit_", false, "_9.bmp",
         bmp(1, 3, 24, "", kData)},
        // Top-down: a negative height.
        {SetSaveMainBmpDataFalg, [] { save24BitBmpFile2(kBytes, 1, 3, 12); }, "VbImage24Bit_", false, "true.bmp",
         bmp(1, -3, 24, "", kData)},
        {SetSaveRawDataFalg, [] { SaveDataRaw(kBytes, 5, 12); }, "PrintData_", true, "_12.raw", kData.substr(0, 5)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.prefix + c.suffix);
        flags(0);
        c.flag(1);
        for (const auto& name : entries()) fs::remove(dir_.file(name));
        const std::time_t t0 = std::time(nullptr);
        c.dump();
        const std::time_t t1 = std::time(nullptr);
        const auto created = entries();
        ASSERT_EQ(created.size(), 1u);
        bool named = false;
        for (std::time_t t = t0; t <= t1; ++t)
            named = named || created[0] == c.prefix + std::to_string(t) + (c.random ? "_" + randomFor(t) : "") + c.suffix;
        EXPECT_TRUE(named) << created[0];
        EXPECT_EQ(testsupport::readFile(dir_.file(created[0])), c.content);
        struct stat st {};
        ASSERT_EQ(::stat(dir_.file(created[0]).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777 & ~0022u, 0644u);  // whatever the umask adds
    }
    EXPECT_EQ(kData[0], 11) << "the caller's bytes are not inverted";
}

TEST_F(Diagnostics, NothingIsWrittenWhileTheFlagsAreOffOrTheSizesMeanNothing)
{
    TraceLog("a %d\r\n", 5);
    dumpAll();
    path[0] = '\0';  // and the default directory stays unset: nothing went to /tmp
    TraceLog("a\r\n");
    dumpAll();
    EXPECT_EQ(path[0], '\0');
    std::snprintf(path, sizeof path, "%s", dir_.path().c_str());
    flags(1);
    SetSaveLogDataFalg(0);
    saveOneBitBmpFileMain(kBytes, 32, 2, -8, -1, 0);
    saveOneBitBmpFile(nullptr, 32, 2, 8, -1, 1);
    save24BitBmpFile(kBytes, 1, 1, -1, 0);
    save24BitBmpFile2(nullptr, 1, 1, 4);
    SaveDataRaw(kBytes, -5, 0);
    SaveDataRaw(kBytes, 0, 1);
    SaveDataRaw(nullptr, 5, 0);
    EXPECT_TRUE(entries().empty());
    // A directory name that leaves no room for the file name: a cut name would be some other file.
    const std::string longDir = dir_.path() + "/" + std::string(250 - dir_.path().size() - 1, 'd');
    ASSERT_TRUE(fs::create_directory(longDir));
    std::snprintf(path, sizeof path, "%s", longDir.c_str());
    dumpAll();
    EXPECT_TRUE(entries(longDir).empty());
}

TEST_F(Diagnostics, TraceLogAppendsExactlyTheText)
{
    SetSaveLogDataFalg(1);
    TraceLog("first\r\n");
    TraceLog("%s|%d", "no line end", -7);
    TraceLog("%s", std::string(5000, 'x').c_str());
    EXPECT_EQ(testsupport::readFile(dir_.file("Print.log")), "first\r\nno line end|-7" + std::string(1023, 'x'));
    std::snprintf(path, sizeof path, "%s", dir_.file("missing/dir").c_str());
    TraceLog("lost\r\n");
    EXPECT_FALSE(fs::exists(dir_.file("missing")));
}

TEST_F(Diagnostics, PlantedLinksAreNotFollowed)
{
    const std::string victim = dir_.file("victim.txt");
    testsupport::writeFile(victim, "precious");
    ASSERT_EQ(::symlink(victim.c_str(), dir_.file("Print.log").c_str()), 0);
    // Links under every name the dumps of the next few seconds would use.
    const std::time_t now = std::time(nullptr);
    for (std::time_t t = now; t <= now + 3; ++t) {
        const std::string tt = std::to_string(t), rr = randomFor(t);
        for (const std::string& name :
             {"VbImageGrayedBinary_" + tt + "_" + rr + ".bmp", "VbImageGrayedBinary_" + tt + "_" + rr + "_2.bmp",
              "VbImage24Bit_" + tt + "_2.bmp", "VbImage24Bit_" + tt + "true.bmp", "PrintData_" + tt + "_" + rr + "_2.raw"})
            ASSERT_EQ(::symlink(victim.c_str(), dir_.file(name).c_str()), 0);
    }
    flags(1);
    TraceLog("attack\r\n");
    dumpAll();
    EXPECT_EQ(testsupport::readFile(victim), "precious");
    for (const auto& name : entries())
        if (name != "victim.txt") {
            EXPECT_TRUE(fs::is_symlink(dir_.file(name))) << name;
        }
}

}  // namespace
