// The private trace log: off by default, appends exactly the formatted text.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "diagnostics_fixture.h"

using TraceLogTest = DiagnosticsTest;

TEST_F(TraceLogTest, OffByDefaultWritesNothingAndLeavesPathEmpty)
{
    path[0] = '\0';
    struct stat before {};
    const bool existed = ::stat("/tmp//Print.log", &before) == 0;

    TraceLog("a %d\r\n", 5);
    TraceLogDebug();

    EXPECT_EQ(path[0], '\0');
    struct stat after {};
    const bool exists = ::stat("/tmp//Print.log", &after) == 0;
    EXPECT_EQ(existed, exists);
    if (existed && exists) {
        EXPECT_EQ(before.st_size, after.st_size);
    }
}

TEST_F(TraceLogTest, AppendsExactlyTheTextToTheDefaultLog)
{
    path[0] = '\0';
    const std::string logName = "/tmp//Print.log";
    struct stat before {};
    const bool existed = ::stat(logName.c_str(), &before) == 0;

    SetSaveLogDataFalg(1);
    EXPECT_EQ(GetSaveLogDataFalg(), 0);
    TraceLog("a %d\r\n", 5);

    EXPECT_STREQ(path, "/tmp");
    const std::string content = testsupport::readFile(logName);
    const std::size_t oldSize = existed ? static_cast<std::size_t>(before.st_size) : 0;
    ASSERT_EQ(content.size(), oldSize + 5);
    EXPECT_EQ(content.substr(oldSize), "a 5\r\n");

    // Leave /tmp as it was.
    if (existed) {
        ASSERT_EQ(::truncate(logName.c_str(), before.st_size), 0);
    } else {
        ::unlink(logName.c_str());
    }
}

TEST_F(TraceLogTest, AppendsWithoutAddingAnythingAndCutsLongTexts)
{
    SetSaveLogDataFalg(1);
    TraceLog("first\r\n");
    TraceLog("%s", "no line end");
    TraceLog("%s|%d\r\n", "second", -7);
    EXPECT_EQ(logText(), "first\r\nno line end" "second|-7\r\n");

    const std::string longText(5000, 'x');
    ASSERT_TRUE(std::filesystem::remove(dir_.file("Print.log")));
    TraceLog("%s", longText.c_str());
    EXPECT_EQ(logText(), std::string(1023, 'x'));
}

TEST_F(TraceLogTest, FlagsAndGetters)
{
    SetSaveLogDataFalg(3);
    SetSaveMiddleBmpDataFalg(1);
    SetSaveMainBmpDataFalg(1);
    SetSaveRawDataFalg(1);
    EXPECT_EQ(nSaveLogData, 3);
    EXPECT_EQ(nSaveMiddleBmpData, 1);
    EXPECT_EQ(nSaveMainBmpData, 1);
    EXPECT_EQ(nSaveRawData, 1);
    // The getters report 0 whatever is stored.
    EXPECT_EQ(GetSaveLogDataFalg(), 0);
    EXPECT_EQ(GetSaveMiddleBmpDataFalg(), 0);
    EXPECT_EQ(GetSaveMainBmpDataFalg(), 0);
    EXPECT_EQ(GetSaveRawDataFalg(), 0);

    path[0] = '\0';
    EXPECT_TRUE(GetPath());
    EXPECT_STREQ(path, "/tmp");
    std::snprintf(path, sizeof path, "%s", "/elsewhere");
    EXPECT_TRUE(GetPath());
    EXPECT_STREQ(path, "/elsewhere");
}

TEST_F(TraceLogTest, DoesNotFollowAPlantedLink)
{
    const std::string victim = dir_.file("victim.txt");
    testsupport::writeFile(victim, "precious");
    ASSERT_EQ(::symlink(victim.c_str(), dir_.file("Print.log").c_str()), 0);

    SetSaveLogDataFalg(1);
    TraceLog("attack\r\n");
    EXPECT_EQ(testsupport::readFile(victim), "precious");
}

TEST_F(TraceLogTest, UnwritableDirectoryIsSkippedSilently)
{
    std::snprintf(path, sizeof path, "%s", dir_.file("missing/dir").c_str());
    SetSaveLogDataFalg(1);
    TraceLog("lost\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir_.file("missing")));
}

TEST_F(TraceLogTest, PageHeaderLines)
{
    cups_page_header2_t h{};
    h.Duplex = CUPS_TRUE;
    h.HWResolution[0] = 203;
    h.HWResolution[1] = 204;
    h.ImagingBoundingBox[0] = 1;
    h.ImagingBoundingBox[1] = 2;
    h.ImagingBoundingBox[2] = 3;
    h.ImagingBoundingBox[3] = 4;
    h.Margins[0] = 5;
    h.Margins[1] = 6;
    h.ManualFeed = CUPS_FALSE;
    h.MediaPosition = 7;
    h.NumCopies = 2;
    h.Orientation = CUPS_ORIENT_90;
    h.PageSize[0] = 227;
    h.PageSize[1] = 842;
    h.cupsWidth = 576;
    h.cupsHeight = 1000;
    h.cupsMediaType = 3;
    h.cupsBitsPerColor = 8;
    h.cupsBitsPerPixel = 24;
    h.cupsBytesPerLine = 1728;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = CUPS_CSPACE_RGB;
    h.cupsCompression = 0;

    SaveCupsPageHeader2Info(&h);
    EXPECT_EQ(logText(), "");  // log off: nothing

    SetSaveLogDataFalg(1);
    SaveCupsPageHeader2Info(&h);
    SaveCupsPageHeader2Info(nullptr);
    EXPECT_EQ(logText(),
              "SaveCupsPageHeader2Info:StartPage\r\n"
              "SaveCupsPageHeader2Info: Duplex = 1\r\n"
              "SaveCupsPageHeader2Info: HWResolution = [ 203 204 ]\r\n"
              "SaveCupsPageHeader2Info: ImagingBoundingBox = [ 1 2 3 4 ]\r\n"
              "SaveCupsPageHeader2Info: Margins = [ 5 6 ]\r\n"
              "SaveCupsPageHeader2Info: ManualFeed = 0\r\n"
              "SaveCupsPageHeader2Info: MediaPosition = 7\r\n"
              "SaveCupsPageHeader2Info: NumCopies = 2\r\n"
              "SaveCupsPageHeader2Info: Orientation = 1\r\n"
              "SaveCupsPageHeader2Info: PageSize = [ 227 842 ]\r\n"
              "SaveCupsPageHeader2Info: cupsWidth = 576\r\n"
              "SaveCupsPageHeader2Info: cupsHeight = 1000\r\n"
              "SaveCupsPageHeader2Info: cupsMediaType = 3\r\n"
              "SaveCupsPageHeader2Info: cupsBitsPerColor = 8\r\n"
              "SaveCupsPageHeader2Info: cupsBitsPerPixel = 24\r\n"
              "SaveCupsPageHeader2Info: cupsBytesPerLine = 1728\r\n"
              "SaveCupsPageHeader2Info: cupsColorOrder = 0\r\n"
              "SaveCupsPageHeader2Info: cupsColorSpace = 1\r\n"
              "SaveCupsPageHeader2Info: cupsCompression = 0\r\n");
}
