// Bitmap and raw dumps: file names, headers, pixels, and the safety of the
// files they open.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "diagnostics_fixture.h"
#include "support/CappedChild.h"

namespace {

std::vector<unsigned char> sampleBytes(int count)
{
    std::vector<unsigned char> bytes(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        bytes[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i * 37 + 11);
    }
    return bytes;
}

}  // namespace

class DumpTest : public DiagnosticsTest {
protected:
    // Runs `dump` and returns the single file it created, checking that its
    // name is one of the names `nameFor(second)` gives for the seconds the
    // call may have run in.
    template <class Dump, class NameFor>
    std::string dumpOne(Dump dump, NameFor nameFor)
    {
        const auto before = entries();
        const std::time_t t0 = std::time(nullptr);
        dump();
        const std::time_t t1 = std::time(nullptr);
        const auto after = entries();
        std::vector<std::string> created;
        for (const auto& name : after) {
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
            matched = matched || created[0] == nameFor(t);
        }
        EXPECT_TRUE(matched) << created[0];
        return dir_.file(created[0]);
    }
};

TEST_F(DumpTest, NothingIsWrittenWhileTheFlagsAreOff)
{
    const auto data = sampleBytes(16);
    saveOneBitBmpFileMain(data.data(), 32, 2, 8, -1, 0);
    saveOneBitBmpFile(data.data(), 32, 2, 8, 3, 1);
    save24BitBmpFile(data.data(), 1, 4, 16, 0);
    save24BitBmpFile2(data.data(), 1, 4, 16);
    SaveDataRaw(data.data(), 16, 1);
    EXPECT_TRUE(entries().empty());

    // With the default directory unset it stays unset.
    path[0] = '\0';
    saveOneBitBmpFile(data.data(), 32, 2, 8, 3, 1);
    SaveDataRaw(data.data(), 16, 1);
    EXPECT_EQ(path[0], '\0');
}

TEST_F(DumpTest, OneBitBitmapHeadersAndPixels)
{
    SetSaveMainBmpDataFalg(1);
    const auto data = sampleBytes(8);
    const auto copy = data;
    const std::string file = dumpOne([&] { saveOneBitBmpFileMain(data.data(), 32, 2, 8, -1, 0); },
                                     [](std::time_t t) {
                                         return "VbImageGrayedBinary_" + std::to_string(static_cast<long>(t)) + "_" +
                                                std::to_string(randomFor(t)) + ".bmp";
                                     });
    ASSERT_FALSE(file.empty());

    const std::string raw = testsupport::readFile(file);
    ASSERT_EQ(raw.size(), 70u);
    EXPECT_EQ(le32(raw, 2), 70u);
    EXPECT_EQ(le32(raw, 10), 62u);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777 & ~0022u, 0644u & ~0022u);

    const BmpFile bmp = readBmp(file);
    ASSERT_TRUE(bmp.valid);
    EXPECT_EQ(bmp.width, 32);
    EXPECT_EQ(bmp.height, 2);
    EXPECT_EQ(bmp.planes, 1);
    EXPECT_EQ(bmp.bitsPerPixel, 1);
    EXPECT_EQ(bmp.compression, 0u);
    EXPECT_EQ(bmp.imageSize, 8u);
    for (auto v : bmp.trailing) {
        EXPECT_EQ(v, 0u);
    }
    EXPECT_EQ(bmp.palette, (std::vector<unsigned char>{0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0}));
    EXPECT_EQ(bmp.pixels, data);
    EXPECT_EQ(data, copy);
}

TEST_F(DumpTest, OneBitBitmapInvertedOnRequest)
{
    SetSaveMainBmpDataFalg(1);
    const auto data = sampleBytes(12);  // width 20, 3 rows of 4 bytes
    const auto copy = data;
    const std::string file = dumpOne([&] { saveOneBitBmpFileMain(data.data(), 20, 3, 12, 4, 1); },
                                     [](std::time_t t) {
                                         return "VbImageGrayedBinary_" + std::to_string(static_cast<long>(t)) + "_" +
                                                std::to_string(randomFor(t)) + "_4.bmp";
                                     });
    ASSERT_FALSE(file.empty());
    const BmpFile bmp = readBmp(file);
    ASSERT_TRUE(bmp.valid);
    EXPECT_EQ(bmp.width, 20);
    EXPECT_EQ(bmp.height, 3);
    ASSERT_EQ(bmp.pixels.size(), data.size());
    for (std::size_t i = 0; i < data.size(); ++i) {
        EXPECT_EQ(bmp.pixels[i], static_cast<unsigned char>(~data[i]));
    }
    EXPECT_EQ(data, copy);  // the caller's bytes are not inverted
}

TEST_F(DumpTest, MiddleWriterNamesAndTraceLines)
{
    SetSaveMiddleBmpDataFalg(1);
    SetSaveLogDataFalg(1);
    const auto data = sampleBytes(8);
    const std::string plain = dumpOne([&] { saveOneBitBmpFile(data.data(), 32, 2, 8, -1, 0); },
                                      [](std::time_t t) {
                                          return "VbImageGrayedBinary_" + std::to_string(static_cast<long>(t)) +
                                                 "_" + std::to_string(randomFor(t)) + ".bmp";
                                      });
    ASSERT_FALSE(plain.empty());
    EXPECT_EQ(readBmp(plain).pixels, data);
    // The trace names the file with a single slash after the directory.
    const std::string name = plain.substr(dir_.path().size() + 1);
    EXPECT_EQ(logText(), "saveOneBitBmpFile mageFile!=NULL path =" + dir_.path() + "/" + name +
                             " \r\n"
                             "saveOneBitBmpFile wr FileHeader OK \r\n"
                             "saveOneBitBmpFile wr BmpInfoHeader OK \r\n"
                             "saveOneBitBmpFile wr RGBQuad OK \r\n"
                             "saveOneBitBmpFile begin Wr pdata\r\n"
                             "saveOneBitBmpFile turnOver == 0 size=8\r\n");

    std::filesystem::remove(dir_.file("Print.log"));
    const std::string numbered = dumpOne([&] { saveOneBitBmpFile(data.data(), 32, 2, 8, 7, 1); },
                                         [](std::time_t t) {
                                             return "VbImageGrayedBinary_" + std::to_string(static_cast<long>(t)) +
                                                    "_" + std::to_string(randomFor(t)) + "_7.bmp";
                                         });
    ASSERT_FALSE(numbered.empty());
    EXPECT_EQ(numbered.substr(numbered.size() - 6), "_7.bmp");
    const std::string log = logText();
    EXPECT_NE(log.find("saveOneBitBmpFile wr RGBQuad OK \r\n"), std::string::npos);
    EXPECT_EQ(log.find("begin Wr pdata"), std::string::npos);  // the inverted path has no data lines
}

TEST_F(DumpTest, TwentyFourBitBitmaps)
{
    SetSaveMainBmpDataFalg(1);
    const auto data = sampleBytes(12);  // 1 x 3 pixels... as 4-byte rows: width 1, height 3
    const std::string bottomUp = dumpOne([&] { save24BitBmpFile(data.data(), 1, 3, 12, 9); },
                                         [](std::time_t t) {
                                             return "VbImage24Bit_" + std::to_string(static_cast<long>(t)) + "_9.bmp";
                                         });
    ASSERT_FALSE(bottomUp.empty());
    BmpFile bmp = readBmp(bottomUp);
    ASSERT_TRUE(bmp.valid);
    EXPECT_EQ(bmp.fileSize, 66u);
    EXPECT_EQ(bmp.pixelOffset, 54u);
    EXPECT_EQ(bmp.width, 1);
    EXPECT_EQ(bmp.height, 3);
    EXPECT_EQ(bmp.bitsPerPixel, 24);
    EXPECT_EQ(bmp.imageSize, 12u);
    EXPECT_TRUE(bmp.palette.empty());
    EXPECT_EQ(bmp.pixels, data);
    std::filesystem::remove(bottomUp);

    const std::string topDown = dumpOne([&] { save24BitBmpFile2(data.data(), 1, 3, 12); },
                                        [](std::time_t t) {
                                            return "VbImage24Bit_" + std::to_string(static_cast<long>(t)) + "true.bmp";
                                        });
    ASSERT_FALSE(topDown.empty());
    bmp = readBmp(topDown);
    ASSERT_TRUE(bmp.valid);
    EXPECT_EQ(bmp.fileSize, 66u);
    EXPECT_EQ(bmp.height, -3);
    EXPECT_EQ(bmp.pixels, data);
}

TEST_F(DumpTest, RawData)
{
    const auto data = sampleBytes(5);
    SetSaveRawDataFalg(1);
    SaveDataRaw(data.data(), 0, 1);
    EXPECT_TRUE(entries().empty());

    const std::string file = dumpOne([&] { SaveDataRaw(data.data(), 5, 12); },
                                     [](std::time_t t) {
                                         return "PrintData_" + std::to_string(static_cast<long>(t)) + "_" +
                                                std::to_string(randomFor(t)) + "_12.raw";
                                     });
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(testsupport::readFile(file), std::string(data.begin(), data.end()));
}

TEST_F(DumpTest, MeaninglessSizesWriteNoFile)
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
}

TEST_F(DumpTest, PlantedLinksAreNotFollowed)
{
    const std::string victim = dir_.file("victim.txt");
    testsupport::writeFile(victim, "precious");
    // Plant links under every name the dumps of the next few seconds would use.
    const std::time_t now = std::time(nullptr);
    for (std::time_t t = now; t <= now + 3; ++t) {
        const std::string tt = std::to_string(static_cast<long>(t));
        const std::string rr = std::to_string(randomFor(t));
        for (const std::string& name : {"VbImageGrayedBinary_" + tt + "_" + rr + ".bmp",
                                        "VbImageGrayedBinary_" + tt + "_" + rr + "_2.bmp",
                                        "VbImage24Bit_" + tt + "_2.bmp", "VbImage24Bit_" + tt + "true.bmp",
                                        "PrintData_" + tt + "_" + rr + "_2.raw"}) {
            ASSERT_EQ(::symlink(victim.c_str(), dir_.file(name).c_str()), 0);
        }
    }
    allFlags(1);
    const auto data = sampleBytes(8);
    saveOneBitBmpFileMain(data.data(), 32, 2, 8, -1, 1);
    saveOneBitBmpFile(data.data(), 32, 2, 8, 2, 1);
    save24BitBmpFile(data.data(), 1, 2, 8, 2);
    save24BitBmpFile2(data.data(), 1, 2, 8);
    SaveDataRaw(data.data(), 8, 2);
    EXPECT_EQ(testsupport::readFile(victim), "precious");
    EXPECT_NE(logText().find("saveOneBitBmpFile mageFile=NULL  Wr One Bit file failed path =" + dir_.path() +
                             "/VbImageGrayedBinary_"),
              std::string::npos);
    for (const auto& name : entries()) {
        if (name != "victim.txt" && name != "Print.log") {
            ASSERT_TRUE(std::filesystem::is_symlink(dir_.file(name))) << name;
        }
    }
}

TEST_F(DumpTest, DefaultDirectoryIsTmpAndTheTestCleansUp)
{
    path[0] = '\0';
    SetSaveRawDataFalg(1);
    const auto before = listDirectory("/tmp");
    const auto data = sampleBytes(3);
    SaveDataRaw(data.data(), 3, 424242);
    const auto after = listDirectory("/tmp");
    EXPECT_STREQ(path, "/tmp");

    int found = 0;
    for (const auto& name : after) {
        if (before.count(name) == 0 && name.rfind("PrintData_", 0) == 0 &&
            name.size() > 12 && name.substr(name.size() - 11) == "_424242.raw") {
            ++found;
            EXPECT_EQ(testsupport::readFile("/tmp/" + name), std::string(data.begin(), data.end()));
            std::filesystem::remove("/tmp/" + name);
        }
    }
    EXPECT_EQ(found, 1);
}

TEST_F(DumpTest, NamesThatDoNotFitAreNotCut)
{
    // A directory whose name leaves no room for the file name: a cut name
    // would create some other file, so no dump is written there.
    const std::string longDir = dir_.path() + "/" + std::string(250 - dir_.path().size() - 1, 'd');
    ASSERT_EQ(longDir.size(), 250u);
    ASSERT_TRUE(std::filesystem::create_directory(longDir));
    std::snprintf(path, sizeof path, "%s", longDir.c_str());
    allFlags(1);
    SetSaveLogDataFalg(0);
    const auto data = sampleBytes(8);
    saveOneBitBmpFileMain(data.data(), 32, 2, 8, -1, 0);
    saveOneBitBmpFile(data.data(), 32, 2, 8, 1, 0);
    save24BitBmpFile(data.data(), 1, 2, 8, 2);
    save24BitBmpFile2(data.data(), 1, 2, 8);
    SaveDataRaw(data.data(), 8, 2);
    EXPECT_TRUE(listDirectory(longDir).empty());
}

TEST_F(DumpTest, InvertedCopyThatCannotBeMadeLeavesNoFile)
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
