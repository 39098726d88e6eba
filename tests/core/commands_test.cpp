// The printer's command set as the filter's one job writes it: each encoder's
// bytes in the output buffer, the commands written straight to the printer,
// the buffer at its capacity, and the byte helpers.
#include <gtest/gtest.h>

#include <functional>

#include "core/Functions.h"
#include "core/singleJob.h"

namespace {

// The direct writes and the log lines of the job.
class Capture final : public PrinterDevice {
public:
    std::string bytes, lines;
    void write(std::span<const unsigned char> b) override { bytes.append(b.begin(), b.end()); }
    void flush() override {}
    long read(std::span<unsigned char>, int) override { return -1; }
    void log(LogLevel, std::string_view text) override { lines += std::string(text) + "\n"; }
    void condition(const PrinterConditions&) override {}
};

std::string appended(const std::function<void()>& encode)
{
    curPagePos = 0;
    encode();
    return std::string(RawData, RawData + curPagePos);
}

}  // namespace

TEST(Commands, EachEncoderAppendsItsBytes)
{
    using namespace std::string_literals;
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[] { setAlign(2); }, "\x1B\x61\x02"}, {[] { setAlign(3); }, "\x1B\x61\x01"},
        {[] { setAlign(static_cast<unsigned>(-1)); }, "\x1B\x61\x01"}, {[] { setPaperMode(4); }, "\x1B\x01\x01"},
        {[] { setPaperMode(3); }, "\x1B\x01\x02"}, {[] { setPaperMode(2); }, "\x1B\x01\x00"s},
        {[] { setDensity(0x107); }, "\x1D\x83\x07"}, {[] { setPrinterStandbyTimeCommand(3); }, "\x1B\x05\x03"},
        {[] { setPrinterStandbyTimeCommand(4); }, "\x1B\x05\x00"s}, {[] { setStartFeed(0); }, "\x1B\x4A\x00"s},
        {[] { setStartFeed(31); }, "\x1B\x4A\xF8"}, {[] { setStartFeed(32); }, "\x1B\x4A\xFF\x1B\x4A\x00"s},
        {[] { setStartFeed(100); }, "\x1B\x4A\xFF\x1B\x4A\xFF\x1B\x4A\xFF\x1B\x4A\x20"},
        {[] { rasterheader(72, 1000); }, "\x1D\x76\x30\x00\x48\x00\xE8\x03"s},
        {[] { CutPaper(1, 1, 0, 0); }, "\x1B\x6D"}, {[] { CutPaper(1, 2, 0, 0); }, "\x1B\x69"},
        {[] { CutPaper(1, 1, 0, 1); }, "\x1D\x56\x42\x00"s}, {[] { CutPaper(2, 0, 2, 1); }, "\x1D\x56\x41\x00"s},
        {[] { CutPaper(2, 1, 1, 1); }, ""}, {[] { CutPaper(3, 1, 1, 1); }, ""}, {[] { CutPaper(1, 0, 1, 1); }, ""},
        {[] { queryPrinterStatus(); }, "\x10\x04\x04"}, {[] { jobSetup(); }, "\x1B\x40"},
        {[] { triggerPrinterSelfTest(); }, "\x1B\x03\x01"}, {[] { triggerButtonPrint(); }, "\x1B\x06\x01"},
        {[] { skiplines(0x1FF); }, "\x1B\x4A\xFF"}, {[] { mputchar(0x1AB); }, "\xAB"},
        {[] { cancelJob(); }, std::string(600, '\0') + "\x1B\x40\x1B\x40"}};
    for (const auto& [encode, bytes] : cases) EXPECT_EQ(appended(encode), bytes) << testing::PrintToString(bytes);
}

TEST(Commands, DirectCommandsGoStraightToThePrinterAndTheBufferStopsAtItsCapacity)
{
    Capture printer;
    singleJob().attach(&printer);
    curPagePos = 0;
    setEndFeed(20);
    setEndFeed(40);
    setEndFeed(32);  // 256 dots: one full chunk and none left
    queryPrinterQuantityOfElectricity();
    SendDataToBackEnd(RawData, 0);
    EXPECT_EQ(curPagePos, 0);
    EXPECT_EQ(printer.bytes, std::string("\x1B\x4A\xA0\x1B\x4A\xFF\x1B\x4A\x40\x1B\x4A\xFF\x1B\x4A\x00\x10\x04\x05", 18));
    EXPECT_EQ(printer.lines, "EndFeed -- 20.\nEndFeed -- 3 length20. -- 345\nEndFeed -- 3 length0. -- 346\n"
                             "EndFeed -- 3 length160. -- 347\nEndFeed -- 3 length160. -- 347\n"
                             "EndFeed -- 3 length-96. -- 347\nEndFeed -- 40.\nEndFeed -- 1 length-1. -- 331\n"
                             "EndFeed -- 2 length64. -- 338\nEndFeed -- 32.\nEndFeed -- 1 length-1. -- 331\n"
                             "EndFeed -- 2 length0. -- 338\n");
    // A line longer than the formatting buffer reaches the log whole.
    const std::string longText(3000, 'x');
    printer.lines.clear();
    {
        const LogScope scope(printer);
        jobLog(LogLevel::Info, "%s", longText.c_str());
    }
    EXPECT_EQ(printer.lines, longText + "\n");
    singleJob().attach(nullptr);

    const unsigned char ten[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    curPagePos = MaxRawDataSize - 4;  // 4 bytes of room: the first 4 stay, the rest is dropped
    outputarray(ten, 10);
    outputarray(ten, -1);
    EXPECT_EQ(curPagePos, MaxRawDataSize);
    EXPECT_EQ(std::string(RawData + MaxRawDataSize - 4, RawData + MaxRawDataSize), "\x01\x02\x03\x04");
    curPagePos = 0;
    EXPECT_EQ((std::vector<int>{lo(0x1234), hi(0x1234), lo(-1), hi(-1), BitSwat(0x01), BitSwat(0x12), BitSwat(0xF0)}),
              (std::vector<int>{0x34, 0x12, 0xFF, 0xFF, 0x80, 0x48, 0x0F}));
    unsigned char out = 0;
    intToHex(0x1A5, &out);
    EXPECT_EQ(out, 0xA5);
}
