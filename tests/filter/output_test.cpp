// The output buffer with its full-buffer rule, and every byte the printer
// command encoders emit.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "diagnostics/middleDataSave.h"
#include "filter/Functions.h"
#include "support/Process.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes buffered() { return Bytes(RawData, RawData + curPagePos); }

// Runs `fn` with standard output captured and returns the bytes written.
Bytes directBytes(const std::function<void()>& fn)
{
    std::fflush(nullptr);
    testing::internal::CaptureStdout();
    fn();
    const std::string out = testing::internal::GetCapturedStdout();
    return Bytes(out.begin(), out.end());
}

// Empties the buffer before and after each test.
class Output : public ::testing::Test {
protected:
    void SetUp() override { curPagePos = 0; }
    void TearDown() override { curPagePos = 0; }

    // The bytes one encoder appends to an empty buffer.
    static Bytes appended(const std::function<void()>& encoder)
    {
        curPagePos = 0;
        encoder();
        return buffered();
    }
};

Bytes feed(std::initializer_list<unsigned char> params)
{
    Bytes b;
    for (unsigned char p : params) {
        b.insert(b.end(), {0x1B, 0x4A, p});
    }
    return b;
}

TEST_F(Output, AppendsInOrderAndIgnoresEmptyRanges)
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

    const unsigned char data[] = {0x1B, 0x40, 0x00, 0xFF, 0x0A};
    EXPECT_EQ(directBytes([&] { SendDataToBackEnd(data, 5); }), Bytes(data, data + 5));
    EXPECT_EQ(directBytes([&] {
                  SendDataToBackEnd(RawData, 0);
                  SendDataToBackEnd(data, -3);
              }),
              Bytes{});
}

TEST_F(Output, FullBufferKeepsWhatFitsAndDropsEachOverflowingByteWithATraceLine)
{
    testsupport::TempDir dir;
    char savedPath[sizeof path];
    std::memcpy(savedPath, path, sizeof path);
    std::snprintf(path, sizeof path, "%s", dir.path().c_str());
    auto traceLines = [&] {
        const std::string log = testsupport::readFile(dir.path() + "//Print.log");
        const std::string line = " MaxRawDataSize=3145728 Is  too small \r\n";
        std::size_t n = 0;
        for (std::size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + line.size())) {
            ++n;
        }
        EXPECT_EQ(log.size(), n * line.size()) << "only drop lines";
        return n;
    };

    // With the trace log off an overflow is silent.
    curPagePos = MaxRawDataSize;
    mputchar(1);
    cancelJob();
    EXPECT_EQ(curPagePos, MaxRawDataSize);
    EXPECT_EQ(traceLines(), 0u);

    SetSaveLogDataFalg(1);
    std::vector<unsigned char> page(MaxRawDataSize);
    for (std::size_t i = 0; i < page.size(); ++i) {
        page[i] = static_cast<unsigned char>(i * 7 + 3);
    }
    curPagePos = 0;
    outputarray(page.data(), MaxRawDataSize);
    EXPECT_EQ(curPagePos, MaxRawDataSize);
    EXPECT_EQ(std::memcmp(RawData, page.data(), page.size()), 0);
    EXPECT_EQ(traceLines(), 0u);

    mputchar(0x55);
    EXPECT_EQ(RawData[MaxRawDataSize - 1], page.back());
    EXPECT_EQ(traceLines(), 1u);

    // Four bytes of room, ten offered: the first four stay, six lines.
    curPagePos = MaxRawDataSize - 4;
    const unsigned char ten[] = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19};
    outputCommand(10, ten);
    EXPECT_EQ(curPagePos, MaxRawDataSize);
    EXPECT_EQ(Bytes(RawData + MaxRawDataSize - 4, RawData + MaxRawDataSize), (Bytes{0x10, 0x11, 0x12, 0x13}));
    EXPECT_EQ(traceLines(), 7u);

    // An encoder meeting the end of the buffer is stored in part.
    curPagePos = MaxRawDataSize - 1;
    setDensity(9);
    EXPECT_EQ(RawData[MaxRawDataSize - 1], 0x1D);
    EXPECT_EQ(traceLines(), 9u);

    SetSaveLogDataFalg(0);
    std::memcpy(path, savedPath, sizeof path);
}

TEST(ByteHelpers, LoHiIntToHexBitSwat)
{
    EXPECT_EQ(lo(-1), 0xFF);
    EXPECT_EQ(hi(0x7FFF0000), 0x00);
    unsigned char out = 0;
    intToHex(0x1A5, &out);
    EXPECT_EQ(out, 0xA5);
    EXPECT_EQ(BitSwat(0x01), 0x80);
    EXPECT_EQ(BitSwat(0x12), 0x48);
    for (int v = 0; v < 256; ++v) {
        EXPECT_EQ(BitSwat(BitSwat(static_cast<unsigned char>(v))), v);
    }
}

TEST_F(Output, EncodersEmitExactBytes)
{
    const Bytes init{0x1B, 0x40};
    Bytes cancel(600, 0x00);
    cancel.insert(cancel.end(), {0x1B, 0x40, 0x1B, 0x40});
    const Bytes partialEsc{0x1B, 0x6D}, fullEsc{0x1B, 0x69};
    const Bytes partialGs{0x1D, 0x56, 0x42, 0x00}, fullGs{0x1D, 0x56, 0x41, 0x00};
    const std::vector<std::pair<std::function<void()>, Bytes>> rows = {
        {jobSetup, init}, {Do1b40, init}, {ShutDown, init}, {EndPage, init}, {pageSetup, init},
        {printerInitialize, init},
        {queryPrinterStatus, {0x10, 0x04, 0x04}},
        {triggerPrinterSelfTest, {0x1B, 0x03, 0x01}},
        {triggerButtonPrint, {0x1B, 0x06, 0x01}},
        {cancelJob, cancel},
        {[] { setDensity(7); }, {0x1D, 0x83, 0x07}},
        {[] { setDensity(0x107); }, {0x1D, 0x83, 0x07}},
        {[] { setDensity(-1); }, {0x1D, 0x83, 0xFF}},
        {[] { setAlign(0); }, {0x1B, 0x61, 0x00}},
        {[] { setAlign(2); }, {0x1B, 0x61, 0x02}},
        {[] { setAlign(3); }, {0x1B, 0x61, 0x01}},
        {[] { setAlign(static_cast<unsigned int>(-1)); }, {0x1B, 0x61, 0x01}},
        {[] { setPaperMode(4); }, {0x1B, 0x01, 0x01}},
        {[] { setPaperMode(3); }, {0x1B, 0x01, 0x02}},
        {[] { setPaperMode(1); }, {0x1B, 0x01, 0x00}},
        {[] { setPaperMode(2); }, {0x1B, 0x01, 0x00}},
        {[] { setPaperMode(-1); }, {0x1B, 0x01, 0x00}},
        {[] { setPrinterStandbyTimeCommand(3); }, {0x1B, 0x05, 0x03}},
        {[] { setPrinterStandbyTimeCommand(4); }, {0x1B, 0x05, 0x00}},
        {[] { skiplines(0x1A0); }, {0x1B, 0x4A, 0xA0}},
        {[] { rasterheader(72, 1000); }, {0x1D, 0x76, 0x30, 0x00, 0x48, 0x00, 0xE8, 0x03}},
        {[] { rasterheader(0x12345, -1); }, {0x1D, 0x76, 0x30, 0x00, 0x45, 0x23, 0xFF, 0xFF}},
        // Start feeds of more than 255 dots are split; a negative one feeds nothing.
        {[] { setStartFeed(0); }, feed({0x00})},
        {[] { setStartFeed(31); }, feed({0xF8})},
        {[] { setStartFeed(32); }, feed({0xFF, 0x00})},
        {[] { setStartFeed(100); }, feed({0xFF, 0xFF, 0xFF, 0x20})},
        {[] { setStartFeed(-40); }, feed({0x00})},
        // CutPaper(media type, cut mode, black-mark cut mode, command set).
        {[] { CutPaper(1, 1, 0, 0); }, partialEsc},
        {[] { CutPaper(1, 1, 7, 1); }, partialGs},
        {[] { CutPaper(1, 2, 0, 0); }, fullEsc},
        {[] { CutPaper(1, -1, 1, 5); }, fullGs},
        {[] { CutPaper(1, 0, 1, 0); }, {}},
        {[] { CutPaper(2, 0, 1, 0); }, partialEsc},
        {[] { CutPaper(2, 0, 1, 1); }, partialGs},
        {[] { CutPaper(2, 0, 2, 0); }, fullEsc},
        {[] { CutPaper(2, 0, 2, 1); }, fullGs},
        {[] { CutPaper(2, 0, 0, 1); }, {}},
        {[] { CutPaper(2, 1, 1, 1); }, {}},
        {[] { CutPaper(3, 1, 1, 1); }, {}},
        {[] { CutPaper(0, 1, 1, 0); }, {}},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(appended(rows[i].first), rows[i].second) << "row " << i;
    }
    // Written straight to stdout; the buffer is not touched.
    curPagePos = 0;
    EXPECT_EQ(directBytes(queryPrinterQuantityOfElectricity), (Bytes{0x10, 0x04, 0x05}));
    EXPECT_EQ(curPagePos, 0);
}

TEST_F(Output, EndFeedWritesDirectlyWithItsDebugLines)
{
    auto run = [](int n, std::string& err) {
        testing::internal::CaptureStderr();
        Bytes out = directBytes([n] { setEndFeed(n); });
        err = testing::internal::GetCapturedStderr();
        return out;
    };
    std::string err;
    for (auto [n, bytes] : std::vector<std::pair<int, Bytes>>{
             {20, feed({0xA0})}, {31, feed({0xF8})}, {32, feed({0xFF, 0x00})}, {-1, feed({0x00})}}) {
        EXPECT_EQ(run(n, err), bytes) << n;
    }
    EXPECT_EQ(curPagePos, 0);

    EXPECT_EQ(run(10, err), feed({0x50}));
    EXPECT_EQ(err,
              "DEBUG: EndFeed -- 10.\n"
              "DEBUG: EndFeed -- 3 length10. -- 345\n"
              "DEBUG: EndFeed -- 3 length0. -- 346\n"
              "DEBUG: EndFeed -- 3 length80. -- 347\n"
              "DEBUG: EndFeed -- 3 length80. -- 347\n"
              "DEBUG: EndFeed -- 3 length80. -- 347\n");
    EXPECT_EQ(run(72, err), feed({0xFF, 0xFF, 0x40}));
    EXPECT_EQ(err,
              "DEBUG: EndFeed -- 72.\n"
              "DEBUG: EndFeed -- 1 length-1. -- 331\n"
              "DEBUG: EndFeed -- 1 length-1. -- 331\n"
              "DEBUG: EndFeed -- 2 length64. -- 338\n");
}

}  // namespace
