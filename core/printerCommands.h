// The printer's command language, in one place: every command the driver
// sends, appended to an output buffer by the encoders below, and the status
// reply it reads back. The encoders keep no state.
#pragma once

#include "core/outputBuffer.h"

// Bits 0-7 and 8-15 of a value: the little-endian 16-bit fields of commands.
unsigned char lo(int value);
unsigned char hi(int value);

namespace command {

// ESC @.
void initialise(OutputBuffer& out);
// GS 83 d, d the low byte of `density`.
void density(OutputBuffer& out, int density);
// ESC a n: 0, 1 or 2; any other value centres (1).
void justification(OutputBuffer& out, unsigned int alignment);
// ESC 01 p: paper mode 4 gives 01, 3 gives 02, any other 00.
void paperMode(OutputBuffer& out, int paperMode);
// ESC 05 s: 0 to 3, any other 00.
void standbyTime(OutputBuffer& out, unsigned int standbyTime);
void selfTest(OutputBuffer& out);     // ESC 03 01
void buttonPrint(OutputBuffer& out);  // ESC 06 01
// ESC J commands feeding 8 x n dots: one ESC J FF per full 256 dots, then the
// rest. A negative length feeds nothing.
void feed(OutputBuffer& out, int n);
// ESC J with the low byte of `dots`.
void feedDots(OutputBuffer& out, int dots);
// GS v 0 announcing `rows` rows of `bytesPerRow` bytes (low 16 bits of each).
void rasterHeader(OutputBuffer& out, int bytesPerRow, int rows);
inline constexpr int rasterHeaderBytes = 8;
// The query the driver sends, 16 04 04.
void statusQuery(OutputBuffer& out);
// DLE EOT 4 and 5 as the command set names them (10 04 04, 10 04 05).
void statusTemplate(OutputBuffer& out);
void batteryQuery(OutputBuffer& out);
// A cut chosen as CutPaper chooses it: ESC m / ESC i, or GS V 66 0 / GS V 65 0
// with `useGsV`; nothing when the selection gives no cut.
void cut(OutputBuffer& out, int cutSelector, int firstCutMode, int secondCutMode, int useGsV);
// 600 bytes of 00, then initialise twice: ends whatever command the printer
// was left inside.
void cancelSequence(OutputBuffer& out);

}  // namespace command

// A printer reply as data: the one decoding of the status reply, used by the
// monitor, the copies' acknowledgements and the Printer Application alike.
struct PrinterConditions {
    enum class From { Monitor, Copy };
    From from = From::Monitor;
    long count = 0;                // bytes read; 0 or less: nothing came
    unsigned char reply[5] = {};   // the reply buffer as it stands after the read
    bool valid = false;            // bytes came and they begin 10 04 04
    unsigned char statusByte = 0;  // reply byte 3; 0x20 (ready) when the reply is too short to carry one
    bool coverOpen = false;
    bool paperOut = false;
    bool overheating = false;
    bool skewed = false;  // a warning: the printer still prints
    int readyCount = 0;   // monitor only: clean replies in a row, after this one (reset to 0 on reaching 3)

    // 1 cover open, 2 out of paper, 4 overheating, ORed.
    unsigned char errorCode() const
    {
        return static_cast<unsigned char>((coverOpen ? 1 : 0) | (paperOut ? 2 : 0) | (overheating ? 4 : 0));
    }
};

// The reply's length, and its leader.
inline constexpr int replyBytes = 5;
inline constexpr unsigned char replyLeader[3] = {0x10, 0x04, 0x04};

// Decodes the first `count` bytes read into a 5-byte reply buffer.
PrinterConditions decodePrinterReply(const unsigned char* reply, long count);

// The error code of a status byte (PrinterConditions::errorCode).
unsigned char printerErrorCode(unsigned char statusByte);
