// The output buffer, its full-buffer rule and the byte helpers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "buffer_test_helpers.h"
#include "diagnostics/middleDataSave.h"
#include "filter/Functions.h"
#include "support/Process.h"

namespace {

using bytetest::Bytes;
using bytetest::buffered;

const std::string kDropLine = " MaxRawDataSize=3145728 Is  too small \r\n";

// Turns the trace log on and points it at a private directory, so parallel
// tests do not share /tmp//Print.log; restores both afterwards.
class TracedBufferTest : public bytetest::BufferTest {
protected:
    void SetUp() override
    {
        BufferTest::SetUp();
        std::memcpy(savedPath_, path, sizeof savedPath_);
        std::snprintf(path, sizeof path, "%s", dir_.path().c_str());
        SetSaveLogDataFalg(1);
    }
    void TearDown() override
    {
        SetSaveLogDataFalg(0);
        std::memcpy(path, savedPath_, sizeof savedPath_);
        BufferTest::TearDown();
    }
    std::string traceLog() const
    {
        std::string name = dir_.path() + "//Print.log";
        FILE* f = std::fopen(name.c_str(), "rb");
        if (f == nullptr) {
            return {};
        }
        std::fclose(f);
        return testsupport::readFile(name);
    }
    static std::string repeated(const std::string& s, int n)
    {
        std::string r;
        for (int i = 0; i < n; ++i) {
            r += s;
        }
        return r;
    }

    testsupport::TempDir dir_;
    char savedPath_[256] = {};
};

using OutputBuffer = bytetest::BufferTest;

TEST_F(OutputBuffer, AppendsInOrderAndIgnoresEmptyRanges)
{
    const unsigned char a[] = {0x01, 0x02, 0x03};
    const unsigned char b[] = {0xAA, 0xBB};
    outputarray(a, 3);
    outputCommand(2, b);
    mputchar(0x1FE);  // only the low byte counts
    outputarray(a, 0);
    outputarray(a, -5);
    outputCommand(0, b);
    outputCommand(-1, b);
    EXPECT_EQ(buffered(), (Bytes{0x01, 0x02, 0x03, 0xAA, 0xBB, 0xFE}));
}

TEST_F(TracedBufferTest, FillsExactlyAndDropsEachOverflowingByteWithATraceLine)
{
    std::vector<unsigned char> page(MaxRawDataSize);
    for (std::size_t i = 0; i < page.size(); ++i) {
        page[i] = static_cast<unsigned char>(i * 7 + 3);
    }
    outputarray(page.data(), MaxRawDataSize);
    EXPECT_EQ(curPagePos, MaxRawDataSize);
    EXPECT_EQ(std::memcmp(RawData, page.data(), page.size()), 0);
    EXPECT_EQ(traceLog(), "");

    mputchar(0x55);
    EXPECT_EQ(curPagePos, MaxRawDataSize);
    EXPECT_EQ(RawData[MaxRawDataSize - 1], page.back());
    EXPECT_EQ(traceLog(), kDropLine);

    // Four bytes of room, ten offered: the first four stay, six lines.
    curPagePos = MaxRawDataSize - 4;
    const unsigned char ten[] = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19};
    outputCommand(10, ten);
    EXPECT_EQ(curPagePos, MaxRawDataSize);
    EXPECT_EQ(Bytes(RawData + MaxRawDataSize - 4, RawData + MaxRawDataSize), (Bytes{0x10, 0x11, 0x12, 0x13}));
    EXPECT_EQ(traceLog(), repeated(kDropLine, 7));

    // An encoder meeting the end of the buffer is stored in part.
    curPagePos = MaxRawDataSize - 1;
    setDensity(9);
    EXPECT_EQ(RawData[MaxRawDataSize - 1], 0x1D);
    EXPECT_EQ(traceLog(), repeated(kDropLine, 9));
    EXPECT_EQ(GetSaveLogDataFalg(), 0);
}

TEST_F(TracedBufferTest, OverflowIsSilentWithTheTraceLogOff)
{
    SetSaveLogDataFalg(0);
    curPagePos = MaxRawDataSize;
    mputchar(1);
    cancelJob();
    EXPECT_EQ(curPagePos, MaxRawDataSize);
    EXPECT_EQ(traceLog(), "");
}

TEST(ByteChannel, SendWritesExactlyTheRangeToStdout)
{
    const unsigned char data[] = {0x1B, 0x40, 0x00, 0xFF, 0x0A};
    EXPECT_EQ(bytetest::directBytes([&] { SendDataToBackEnd(data, 5); }), (Bytes{0x1B, 0x40, 0x00, 0xFF, 0x0A}));
    EXPECT_EQ(bytetest::directBytes([&] {
                  SendDataToBackEnd(RawData, 0);
                  SendDataToBackEnd(data, -3);
              }),
              Bytes{});
}

TEST(ByteHelpers, LoHiIntToHexBitSwat)
{
    EXPECT_EQ(lo(0x1234), 0x34);
    EXPECT_EQ(hi(0x1234), 0x12);
    EXPECT_EQ(lo(-1), 0xFF);
    EXPECT_EQ(hi(-1), 0xFF);
    EXPECT_EQ(hi(0x7FFF0000), 0x00);

    unsigned char out = 0;
    intToHex(0x1A5, &out);
    EXPECT_EQ(out, 0xA5);
    intToHex(0x0F, &out);
    EXPECT_EQ(out, 0x0F);

    EXPECT_EQ(BitSwat(0x01), 0x80);
    EXPECT_EQ(BitSwat(0x12), 0x48);
    EXPECT_EQ(BitSwat(0xF0), 0x0F);
    EXPECT_EQ(BitSwat(0x00), 0x00);
    for (int v = 0; v < 256; ++v) {
        EXPECT_EQ(BitSwat(BitSwat(static_cast<unsigned char>(v))), v);
    }
}

}  // namespace
