#include "core/printerCommands.h"

#include <cstring>

unsigned char lo(int value) { return static_cast<unsigned char>(static_cast<unsigned int>(value) & 0xFFu); }

unsigned char hi(int value) { return static_cast<unsigned char>((static_cast<unsigned int>(value) >> 8) & 0xFFu); }

namespace command {

namespace {

void three(OutputBuffer& out, unsigned char a, unsigned char b, unsigned char c)
{
    const unsigned char bytes[] = {a, b, c};
    out.append(bytes);
}

}  // namespace

void initialise(OutputBuffer& out)
{
    const unsigned char bytes[] = {0x1B, 0x40};
    out.append(bytes);
}

void density(OutputBuffer& out, int density) { three(out, 0x1D, 0x83, lo(density)); }

void justification(OutputBuffer& out, unsigned int alignment)
{
    three(out, 0x1B, 0x61, static_cast<unsigned char>(alignment <= 2 ? alignment : 1));
}

void paperMode(OutputBuffer& out, int paperMode)
{
    three(out, 0x1B, 0x01, paperMode == 4 ? 0x01 : paperMode == 3 ? 0x02 : 0x00);
}

void standbyTime(OutputBuffer& out, unsigned int standbyTime)
{
    three(out, 0x1B, 0x05, static_cast<unsigned char>(standbyTime <= 3 ? standbyTime : 0));
}

void selfTest(OutputBuffer& out) { three(out, 0x1B, 0x03, 0x01); }

void buttonPrint(OutputBuffer& out) { three(out, 0x1B, 0x06, 0x01); }

void feed(OutputBuffer& out, int n)
{
    // ESC J carries at most 255 dots: long feeds go out as full chunks of FF
    // (one per 256 dots requested) followed by the remainder.
    const long long dots = n > 0 ? 8LL * n : 0;
    for (long long chunk = dots / 256; chunk > 0; --chunk) {
        three(out, 0x1B, 0x4A, 0xFF);
    }
    three(out, 0x1B, 0x4A, static_cast<unsigned char>(dots & 0xFF));
}

void feedDots(OutputBuffer& out, int dots) { three(out, 0x1B, 0x4A, lo(dots)); }

void rasterHeader(OutputBuffer& out, int bytesPerRow, int rows)
{
    const unsigned char bytes[] = {0x1D, 0x76, 0x30, 0x00, lo(bytesPerRow), hi(bytesPerRow), lo(rows), hi(rows)};
    out.append(bytes);
}

void statusQuery(OutputBuffer& out) { three(out, 0x16, 0x04, 0x04); }

void statusTemplate(OutputBuffer& out) { three(out, 0x10, 0x04, 0x04); }

void batteryQuery(OutputBuffer& out) { three(out, 0x10, 0x04, 0x05); }

void cut(OutputBuffer& out, int cutSelector, int firstCutMode, int secondCutMode, int useGsV)
{
    int cutMode = 0;
    if (cutSelector == 1) {
        cutMode = firstCutMode;
    } else if (cutSelector == 2 && firstCutMode == 0) {
        cutMode = secondCutMode;
    }
    if (cutMode == 0) {
        return;
    }
    const bool partial = cutMode == 1;
    if (useGsV != 0) {
        const unsigned char bytes[] = {0x1D, 0x56, static_cast<unsigned char>(partial ? 0x42 : 0x41), 0x00};
        out.append(bytes);
    } else {
        const unsigned char bytes[] = {0x1B, static_cast<unsigned char>(partial ? 0x6D : 0x69)};
        out.append(bytes);
    }
}

void cancelSequence(OutputBuffer& out)
{
    for (int i = 0; i < 600; ++i) {
        out.appendByte(0x00);
    }
    initialise(out);
    initialise(out);
}

}  // namespace command

PrinterConditions decodePrinterReply(const unsigned char* reply, long count)
{
    PrinterConditions c;
    c.count = count;
    std::memcpy(c.reply, reply, sizeof c.reply);
    c.valid = count >= 3 && std::memcmp(reply, replyLeader, sizeof replyLeader) == 0;
    c.statusByte = count >= 4 ? reply[3] : 0x20;
    c.coverOpen = (c.statusByte & 0x04) != 0;
    c.paperOut = (c.statusByte & 0x20) == 0;
    c.overheating = (c.statusByte & 0x10) != 0;
    c.skewed = (c.statusByte & 0x80) != 0;
    return c;
}

unsigned char printerErrorCode(unsigned char statusByte)
{
    const unsigned char reply[replyBytes] = {0x10, 0x04, 0x04, statusByte, 0x00};
    return decodePrinterReply(reply, sizeof reply).errorCode();
}
