// Printer command encoders: every byte they emit, and the templates they
// leave behind.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "buffer_test_helpers.h"
#include "filter/Functions.h"

namespace {

using bytetest::Bytes;
using bytetest::buffered;
using bytetest::directBytes;

Bytes templateOf(CommandTemplate which)
{
    auto bytes = commandTemplateBytes(which);
    return Bytes(bytes.begin(), bytes.end());
}

class Commands : public bytetest::BufferTest {
protected:
    // The bytes one encoder appends to an empty buffer.
    Bytes appended(const std::function<void()>& encoder)
    {
        curPagePos = 0;
        encoder();
        return buffered();
    }
};

TEST_F(Commands, FixedCommands)
{
    for (auto encoder : {jobSetup, Do1b40, ShutDown, EndPage, pageSetup, printerInitialize}) {
        EXPECT_EQ(appended(encoder), (Bytes{0x1B, 0x40}));
    }
    EXPECT_EQ(appended(queryPrinterStatus), (Bytes{0x10, 0x04, 0x04}));
    EXPECT_EQ(appended(triggerPrinterSelfTest), (Bytes{0x1B, 0x03, 0x01}));
    EXPECT_EQ(appended(triggerButtonPrint), (Bytes{0x1B, 0x06, 0x01}));

    Bytes cancel = appended(cancelJob);
    ASSERT_EQ(cancel.size(), 604u);
    EXPECT_EQ(Bytes(cancel.begin(), cancel.begin() + 600), Bytes(600, 0x00));
    EXPECT_EQ(Bytes(cancel.begin() + 600, cancel.end()), (Bytes{0x1B, 0x40, 0x1B, 0x40}));

    // Written straight to stdout; the buffer is not touched.
    curPagePos = 0;
    EXPECT_EQ(directBytes(queryPrinterQuantityOfElectricity), (Bytes{0x10, 0x04, 0x05}));
    EXPECT_EQ(curPagePos, 0);
}

TEST_F(Commands, ParameterMapping)
{
    EXPECT_EQ(appended([] { setDensity(7); }), (Bytes{0x1D, 0x83, 0x07}));
    EXPECT_EQ(appended([] { setDensity(0x107); }), (Bytes{0x1D, 0x83, 0x07}));
    EXPECT_EQ(appended([] { setDensity(-1); }), (Bytes{0x1D, 0x83, 0xFF}));

    EXPECT_EQ(appended([] { setAlign(0); }), (Bytes{0x1B, 0x61, 0x00}));
    EXPECT_EQ(appended([] { setAlign(2); }), (Bytes{0x1B, 0x61, 0x02}));
    EXPECT_EQ(appended([] { setAlign(3); }), (Bytes{0x1B, 0x61, 0x01}));
    EXPECT_EQ(appended([] { setAlign(static_cast<unsigned int>(-1)); }), (Bytes{0x1B, 0x61, 0x01}));

    EXPECT_EQ(appended([] { setPaperMode(4); }), (Bytes{0x1B, 0x01, 0x01}));
    EXPECT_EQ(appended([] { setPaperMode(3); }), (Bytes{0x1B, 0x01, 0x02}));
    EXPECT_EQ(appended([] { setPaperMode(1); }), (Bytes{0x1B, 0x01, 0x00}));
    EXPECT_EQ(appended([] { setPaperMode(2); }), (Bytes{0x1B, 0x01, 0x00}));
    EXPECT_EQ(appended([] { setPaperMode(-1); }), (Bytes{0x1B, 0x01, 0x00}));

    EXPECT_EQ(appended([] { setPrinterStandbyTimeCommand(3); }), (Bytes{0x1B, 0x05, 0x03}));
    EXPECT_EQ(appended([] { setPrinterStandbyTimeCommand(4); }), (Bytes{0x1B, 0x05, 0x00}));

    EXPECT_EQ(appended([] { skiplines(0x1A0); }), (Bytes{0x1B, 0x4A, 0xA0}));

    EXPECT_EQ(appended([] { rasterheader(72, 1000); }), (Bytes{0x1D, 0x76, 0x30, 0x00, 0x48, 0x00, 0xE8, 0x03}));
    EXPECT_EQ(appended([] { rasterheader(0x12345, -1); }), (Bytes{0x1D, 0x76, 0x30, 0x00, 0x45, 0x23, 0xFF, 0xFF}));
}

TEST_F(Commands, TemplatesAreRestoredAfterEachUse)
{
    setDensity(7);
    setAlign(2);
    setPaperMode(3);
    setStartFeed(40);
    testing::internal::CaptureStderr();
    directBytes([] { setEndFeed(100); });
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(templateOf(CommandTemplate::Density), (Bytes{0x1D, 0x83, 0x04}));
    EXPECT_EQ(templateOf(CommandTemplate::Align), (Bytes{0x1B, 0x61, 0x01}));
    EXPECT_EQ(templateOf(CommandTemplate::PaperMode), (Bytes{0x1B, 0x01, 0x00}));
    EXPECT_EQ(templateOf(CommandTemplate::StartFeed), (Bytes{0x1B, 0x4A, 0x00}));
    EXPECT_EQ(templateOf(CommandTemplate::EndFeed), (Bytes{0x1B, 0x4A, 0x00}));
    EXPECT_EQ(templateOf(CommandTemplate::RasterHeader), (Bytes{0x1D, 0x76, 0x30, 0x00}));
    EXPECT_EQ(templateOf(CommandTemplate::StatusQuery), (Bytes{0x10, 0x04, 0x04}));
    EXPECT_EQ(templateOf(CommandTemplate::BatteryQuery), (Bytes{0x10, 0x04, 0x05}));
    // The standby template keeps the last value written into it.
    setPrinterStandbyTimeCommand(2);
    EXPECT_EQ(templateOf(CommandTemplate::StandbyTime), (Bytes{0x1B, 0x05, 0x02}));
}

Bytes feed(std::initializer_list<unsigned char> params)
{
    Bytes b;
    for (unsigned char p : params) {
        b.insert(b.end(), {0x1B, 0x4A, p});
    }
    return b;
}

TEST_F(Commands, StartFeedSplitsLongFeeds)
{
    EXPECT_EQ(appended([] { setStartFeed(0); }), feed({0x00}));
    EXPECT_EQ(appended([] { setStartFeed(31); }), feed({0xF8}));
    EXPECT_EQ(appended([] { setStartFeed(32); }), feed({0xFF, 0x00}));
    EXPECT_EQ(appended([] { setStartFeed(40); }), feed({0xFF, 0x40}));
    EXPECT_EQ(appended([] { setStartFeed(100); }), feed({0xFF, 0xFF, 0xFF, 0x20}));
    // A negative length (a missing option reads -1) feeds nothing.
    EXPECT_EQ(appended([] { setStartFeed(-1); }), feed({0x00}));
    EXPECT_EQ(appended([] { setStartFeed(-40); }), feed({0x00}));
}

TEST_F(Commands, EndFeedWritesDirectlyWithItsDebugLines)
{
    auto run = [](int n, std::string& err) {
        testing::internal::CaptureStderr();
        Bytes out = directBytes([n] { setEndFeed(n); });
        err = testing::internal::GetCapturedStderr();
        return out;
    };
    std::string err;
    EXPECT_EQ(run(10, err), feed({0x50}));
    EXPECT_EQ(err,
              "DEBUG: EndFeed -- 10.\n"
              "DEBUG: EndFeed -- 3 length10. -- 345\n"
              "DEBUG: EndFeed -- 3 length0. -- 346\n"
              "DEBUG: EndFeed -- 3 length80. -- 347\n"
              "DEBUG: EndFeed -- 3 length80. -- 347\n"
              "DEBUG: EndFeed -- 3 length80. -- 347\n");

    EXPECT_EQ(run(20, err), feed({0xA0}));
    EXPECT_EQ(err,
              "DEBUG: EndFeed -- 20.\n"
              "DEBUG: EndFeed -- 3 length20. -- 345\n"
              "DEBUG: EndFeed -- 3 length0. -- 346\n"
              "DEBUG: EndFeed -- 3 length160. -- 347\n"
              "DEBUG: EndFeed -- 3 length160. -- 347\n"
              "DEBUG: EndFeed -- 3 length-96. -- 347\n");

    EXPECT_EQ(run(31, err), feed({0xF8}));
    EXPECT_NE(err.find("DEBUG: EndFeed -- 3 length248. -- 347\nDEBUG: EndFeed -- 3 length248. -- 347\n"
                       "DEBUG: EndFeed -- 3 length-8. -- 347\n"),
              std::string::npos)
        << err;

    EXPECT_EQ(run(72, err), feed({0xFF, 0xFF, 0x40}));
    EXPECT_EQ(err,
              "DEBUG: EndFeed -- 72.\n"
              "DEBUG: EndFeed -- 1 length-1. -- 331\n"
              "DEBUG: EndFeed -- 1 length-1. -- 331\n"
              "DEBUG: EndFeed -- 2 length64. -- 338\n");

    EXPECT_EQ(run(32, err), feed({0xFF, 0x00}));
    EXPECT_EQ(err,
              "DEBUG: EndFeed -- 32.\n"
              "DEBUG: EndFeed -- 1 length-1. -- 331\n"
              "DEBUG: EndFeed -- 2 length0. -- 338\n");

    curPagePos = 0;
    EXPECT_EQ(run(-1, err), feed({0x00}));
    EXPECT_EQ(curPagePos, 0);
}

TEST_F(Commands, CutPaperTable)
{
    const Bytes partialEsc{0x1B, 0x6D}, fullEsc{0x1B, 0x69};
    const Bytes partialGs{0x1D, 0x56, 0x42, 0x00}, fullGs{0x1D, 0x56, 0x41, 0x00};
    EXPECT_EQ(appended([] { CutPaper(1, 1, 0, 0); }), partialEsc);
    EXPECT_EQ(appended([] { CutPaper(1, 1, 7, 1); }), partialGs);
    EXPECT_EQ(appended([] { CutPaper(1, 2, 0, 0); }), fullEsc);
    EXPECT_EQ(appended([] { CutPaper(1, -1, 1, 5); }), fullGs);
    EXPECT_EQ(appended([] { CutPaper(1, 0, 1, 0); }), Bytes{});
    EXPECT_EQ(appended([] { CutPaper(2, 0, 1, 0); }), partialEsc);
    EXPECT_EQ(appended([] { CutPaper(2, 0, 1, 1); }), partialGs);
    EXPECT_EQ(appended([] { CutPaper(2, 0, 2, 0); }), fullEsc);
    EXPECT_EQ(appended([] { CutPaper(2, 0, 2, 1); }), fullGs);
    EXPECT_EQ(appended([] { CutPaper(2, 0, 0, 1); }), Bytes{});
    EXPECT_EQ(appended([] { CutPaper(2, 1, 1, 1); }), Bytes{});
    EXPECT_EQ(appended([] { CutPaper(3, 1, 1, 1); }), Bytes{});
    EXPECT_EQ(appended([] { CutPaper(0, 1, 1, 0); }), Bytes{});
}

}  // namespace
