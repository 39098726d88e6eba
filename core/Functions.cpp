#include "core/Functions.h"

#include "core/singleJob.h"

// On Linux the output buffer starts on a huge page, so that a page's bit
// raster can be made in it without a page fault per 4 KiB (see the colour
// page road).
#if defined(__linux__)
alignas(2 * 1024 * 1024)
#endif
unsigned char RawData[MaxRawDataSize] = {};
int curPagePos = 0;

namespace {

OutputBuffer& output() { return singleJob().output; }

// A command written straight to the printer.
template <int N, class Encode>
void writeDirect(Encode encode)
{
    CommandBytes<N> bytes;
    encode(bytes.buffer);
    singleJob().device().write(bytes.bytes());
}

int asSignedByte(unsigned char byte) { return static_cast<signed char>(byte); }

}  // namespace

void mputchar(int ch) { output().appendByte(static_cast<unsigned char>(ch & 0xFF)); }

void outputarray(const unsigned char* data, int length)
{
    if (length > 0) {
        output().append({data, static_cast<std::size_t>(length)});
    }
}

void outputCommand(int length, const unsigned char* command) { outputarray(command, length); }

void SendDataToBackEnd(const unsigned char* data, int length)
{
    if (length <= 0 || data == nullptr) {
        return;
    }
    // Flushing is left to the caller.
    singleJob().device().write({data, static_cast<std::size_t>(length)});
}

void intToHex(unsigned int value, unsigned char* out)
{
    if (out == nullptr) {
        return;
    }
    const unsigned int high = (value >> 4) & 0x0Fu;
    const unsigned int low = value & 0x0Fu;
    *out = static_cast<unsigned char>((high << 4) | low);
}

unsigned char BitSwat(unsigned char value)
{
    unsigned char result = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if ((value & (1u << bit)) != 0) {
            result = static_cast<unsigned char>(result | (0x80u >> bit));
        }
    }
    return result;
}

void jobSetup() { command::initialise(output()); }
void Do1b40() { command::initialise(output()); }
void ShutDown() { command::initialise(output()); }
void EndPage() { command::initialise(output()); }
void pageSetup() { command::initialise(output()); }
void printerInitialize() { command::initialise(output()); }
void cancelJob() { command::cancelSequence(output()); }
void setDensity(int density) { command::density(output(), density); }
void queryPrinterStatus() { command::statusTemplate(output()); }
void setAlign(unsigned int alignment) { command::justification(output(), alignment); }
void setPaperMode(int paperMode) { command::paperMode(output(), paperMode); }
void setPrinterStandbyTimeCommand(unsigned int standbyTime) { command::standbyTime(output(), standbyTime); }
void triggerPrinterSelfTest() { command::selfTest(output()); }
void triggerButtonPrint() { command::buttonPrint(output()); }
void setStartFeed(int n) { command::feed(output(), n); }
void skiplines(int dots) { command::feedDots(output(), dots); }
void rasterheader(int bytesPerRow, int rows) { command::rasterHeader(output(), bytesPerRow, rows); }

void CutPaper(int cutSelector, int firstCutMode, int secondCutMode, int useGsV)
{
    command::cut(output(), cutSelector, firstCutMode, secondCutMode, useGsV);
}

void queryPrinterQuantityOfElectricity()
{
    writeDirect<3>([](OutputBuffer& out) { command::batteryQuery(out); });
}

void setEndFeed(int n)
{
    // The same feed as setStartFeed, written straight to the printer, with a
    // trace of the command's parameter byte (printed as a signed byte).
    JobContext& job = singleJob();
    const long long dots = n > 0 ? 8LL * n : 0;
    const int f = static_cast<int>(dots);
    const auto feed = [](unsigned char parameter) {
        writeDirect<3>([parameter](OutputBuffer& out) { command::feedDots(out, parameter); });
    };
    job.log(LogLevel::Debug, "EndFeed -- %d.", n);
    unsigned char parameter = 0x00;
    if (dots < 256) {
        job.log(LogLevel::Debug, "EndFeed -- 3 length%d. -- 345", n);
        job.log(LogLevel::Debug, "EndFeed -- 3 length%d. -- 346", asSignedByte(parameter));
        parameter = static_cast<unsigned char>(f & 0xFF);
        job.log(LogLevel::Debug, "EndFeed -- 3 length%d. -- 347", f);
        job.log(LogLevel::Debug, "EndFeed -- 3 length%d. -- 347", f & 0xF8);
        feed(parameter);
        job.log(LogLevel::Debug, "EndFeed -- 3 length%d. -- 347", asSignedByte(parameter));
    } else {
        for (long long chunk = dots / 256; chunk > 0; --chunk) {
            parameter = 0xFF;
            feed(parameter);
            job.log(LogLevel::Debug, "EndFeed -- 1 length%d. -- 331", asSignedByte(parameter));
        }
        parameter = static_cast<unsigned char>(dots & 0xFF);
        feed(parameter);
        job.log(LogLevel::Debug, "EndFeed -- 2 length%d. -- 338", asSignedByte(parameter));
    }
}
