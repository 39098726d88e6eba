#include "core/printingCore.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "core/Functions.h"
#include "core/colourPageRoad.h"
#include "core/filterWait.h"
#include "core/statusMonitor.h"
#include "imaging/ImageBuffer.h"

PrinterConditions decodePrinterReply(const unsigned char* reply, long count)
{
    PrinterConditions c;
    c.count = count;
    std::memcpy(c.reply, reply, sizeof c.reply);
    c.valid = count >= 3 && reply[0] == 0x10 && reply[1] == 0x04 && reply[2] == 0x04;
    c.statusByte = count >= 4 ? reply[3] : 0x20;
    c.coverOpen = (c.statusByte & 0x04) != 0;
    c.paperOut = (c.statusByte & 0x20) == 0;
    c.overheating = (c.statusByte & 0x10) != 0;
    c.skewed = (c.statusByte & 0x80) != 0;
    return c;
}

namespace {

// Without a session: bytes to standard output, lines to standard error, no
// replies (a tool that builds a page without a printer).
class StandardStreams final : public PrinterDevice {
public:
    void write(std::span<const unsigned char> bytes) override
    {
        if (!bytes.empty()) {
            std::fwrite(bytes.data(), 1, bytes.size(), stdout);
        }
    }
    void flush() override { std::fflush(stdout); }
    long readReply(unsigned char*, std::size_t, double) override { return -1; }
    long drain() override { return 0; }
    bool cancelled() override { return isCancelRequested(); }
    void message(const char* line) override { std::fputs(line, stderr); }
    void condition(const PrinterConditions&) override {}
};

StandardStreams standardStreams;
PrinterDevice* sessionDevice = nullptr;

// The core's one lock: held by a session from its start to its end.
std::mutex coreLock;

}  // namespace

PrinterDevice& printerDevice() { return sessionDevice != nullptr ? *sessionDevice : standardStreams; }

bool jobCancelled() { return printerDevice().cancelled(); }

void coreLog(const char* format, ...)
{
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    printerDevice().message(line);
}

PageRowSizes pageRowSizes(unsigned width, unsigned bitsPerColor, unsigned bytesPerLine)
{
    PageRowSizes sizes;
    const long long w = width;
    if (bitsPerColor == 1) {
        sizes.tmpWidth = (w + 31) / 32 * 4;
    } else if (bitsPerColor == 8) {
        sizes.tmpWidth = (w * 24 + 31) / 32 * 4;
    }
    sizes.actualWidth = sizes.tmpWidth > bytesPerLine ? sizes.tmpWidth : bytesPerLine;
    return sizes;
}

struct PrintSession::State {
    std::unique_lock<std::mutex> lock{coreLock};
    StatusMonitor monitor;
};

PrintSession::PrintSession(PrinterDevice& device)
{
    // The lock first: the device and the shared state are this session's only
    // once the previous session has ended.
    std::unique_lock<std::mutex> lock(coreLock);
    sessionDevice = &device;
    // A cancel belongs to the job it was meant for: this job starts uncancelled,
    // before its monitor starts, which would otherwise stop at once and leave the
    // job waiting for a ready printer that nobody asks about.
    clearCancel();
    resetCopyReplyBuffer();
    curPagePos = 0;
    state_.reset(new State{std::move(lock), {}});
}

PrintSession::~PrintSession()
{
    state_->monitor.stop();
    sessionDevice = nullptr;
}

void PrintSession::useSettings(const settingsThermalSensitivityPara& settings) { settingsThermalSensitivity = settings; }

void PrintSession::stopMonitor() { state_->monitor.stop(); }

void PrintSession::sendCancelSequence()
{
    state_->monitor.stop();
    std::lock_guard<std::mutex> channel(printerChannelMutex);
    curPagePos = 0;
    cancelJob();
    SendDataToBackEnd(RawData, curPagePos);
    printerDevice().flush();
    curPagePos = 0;
}

namespace {

void writeInitialise()
{
    std::lock_guard<std::mutex> channel(printerChannelMutex);
    const unsigned char initialise[] = {0x1B, 0x40};
    printerDevice().write(initialise);
    printerDevice().flush();
}

// The 1-bit road: set-up commands and the page's rows as read, sent once.
PageResult oneBitRoad(const unsigned char* page, int actualWidth, int cupsHeight)
{
    curPagePos = 0;
    setPaperMode(GetPaperMode());
    setStartFeed(GetOpeningFeed());
    setDensity(GetDensity());
    setAlign(GetAlignment());
    const int setUpBytes = curPagePos;
    const std::int64_t pageBytes = static_cast<std::int64_t>(actualWidth) * cupsHeight;
    const bool oneCommand =
        cupsHeight <= 65535 && setUpBytes + 8 + pageBytes <= static_cast<std::int64_t>(MaxRawDataSize);
    if (oneCommand) {
        rasterheader(actualWidth, cupsHeight);
        outputarray(page, static_cast<int>(pageBytes));
    }

    std::unique_lock<std::mutex> channel;
    PageResult ready = waitForReadyPrinter(channel);
    if (ready != PageResult::Done) {
        return ready;
    }
    coreLog("INFO:  开始发送数据Gray.\n");
    if (oneCommand) {
        SendDataToBackEnd(RawData, setUpBytes + 8);
        sendRasterData(RawData + setUpBytes + 8, static_cast<std::size_t>(curPagePos - setUpBytes - 8));
        printerDevice().flush();
    } else {
        coreLog("DEBUG: The page of %d rows of %d bytes goes out in bands of at most %d rows.\n", cupsHeight,
                actualWidth, maxRowsPerRasterCommand(actualWidth));
        SendDataToBackEnd(RawData, setUpBytes);
        sendRasterBands(page, actualWidth, cupsHeight, 0);
    }
    channel.unlock();
    pauseFor(1.0);
    curPagePos = 0;
    return PageResult::Done;
}

}  // namespace

PageResult PrintSession::printPage(const PageFormat& page, const RowReader& readRow, unsigned char* pageBuffer)
{
    const BandReader oneRowAtATime = [&readRow](unsigned char* data, unsigned rows, unsigned bytes) {
        for (unsigned i = 0; i < rows; ++i) {
            if (!readRow(data + static_cast<std::size_t>(i) * bytes, bytes)) {
                return false;
            }
        }
        return true;
    };
    return printPage(page, oneRowAtATime, pageBuffer);
}

PageResult PrintSession::printPage(const PageFormat& page, const BandReader& readRows, unsigned char* pageBuffer)
{
    const int cupsHeight = page.height;
    const int bytesPerLine = page.bytesPerLine;
    const int actualWidth = page.actualWidth;
    const int pageNumber = page.pageNumber;
    // Gray (black ink) 8-bit rows carry one byte per pixel; they are widened to
    // the three bytes of a true-colour pixel as they are read.
    const bool widenGray = page.bitsPerColor == 8 && page.gray;
    const int rowBytes = widenGray ? bytesPerLine * 3 : bytesPerLine;
    // Ink bytes become light as 255 - ink, which for a byte is ink ^ 255.
    const unsigned inkToLight = page.grayLight ? 0 : 255;
    if (rowBytes > actualWidth) {
        coreLog("ERROR: Page %d: a line of %d bytes does not fit the page buffer row of %d bytes.\n", pageNumber,
                rowBytes, actualWidth);
        return PageResult::Failed;
    }

    writeInitialise();

    ScratchBuffer<unsigned char> lineMap = allocateScratch<unsigned char>(cupsHeight);
    ScratchBuffer<unsigned char> grayLine = widenGray ? allocateScratch<unsigned char>(bytesPerLine) : nullptr;
    if (!lineMap || (widenGray && !grayLine)) {
        coreLog("ERROR: Unable to allocate the line map of page %d.\n", pageNumber);
        return PageResult::Failed;
    }
    coreLog("DEBUG: y -- %d.\n", 0);
    // Rows that lie back to back in the page buffer are read a band at a
    // time, a band small enough to be classified while it is still cached.
    const bool backToBack = !widenGray && rowBytes == actualWidth;
    const int bandRows = backToBack ? std::max(1, 128 * 1024 / actualWidth) : 1;
    for (int y = 0; y < cupsHeight;) {
        const int rows = std::min(bandRows, cupsHeight - y);
        unsigned char* band = pageBuffer + static_cast<std::int64_t>(y) * actualWidth;
        if (!readRows(widenGray ? grayLine.get() : band, static_cast<unsigned>(rows),
                      static_cast<unsigned>(bytesPerLine))) {
            if (rows == 1) {
                coreLog("ERROR: The raster stream ended inside page %d (%d of %d lines read); the page was "
                        "not printed.\n", pageNumber, y, cupsHeight);
            } else {
                coreLog("ERROR: The raster stream ended inside page %d (within lines %d to %d of %d); the page "
                        "was not printed.\n", pageNumber, y + 1, y + rows, cupsHeight);
            }
            return PageResult::Abandoned;
        }
        for (const int end = y + rows; y < end; ++y) {
            unsigned char* row = pageBuffer + static_cast<std::int64_t>(y) * actualWidth;
            if (widenGray) {
                for (int x = 0; x < bytesPerLine; ++x) {
                    const unsigned char level = static_cast<unsigned char>(grayLine[x] ^ inkToLight);
                    row[3 * x] = level;
                    row[3 * x + 1] = level;
                    row[3 * x + 2] = level;
                }
            }
            // Bytes past the line's data are never read from the stream; keep them 0.
            std::memset(row + rowBytes, 0, static_cast<std::size_t>(actualWidth - rowBytes));
            const int temp = isNullDataLine(row, rowBytes);
            if (temp < 0) {
                coreLog("DEBUG: isNullDataLine error. temp -- %d.\n", temp);
                coreLog("ERROR: Page %d: the blank-line test failed on line %d.\n", pageNumber, y);
                return PageResult::Failed;
            }
            lineMap[y] = static_cast<unsigned char>(temp);
        }
    }

    // Paper saving.
    const int paperSaveMode = GetPaperSaveMode();
    int startLine = 0;
    int endLine = 0;
    coreLog("DEBUG: 1 startLine -- %d.endLine -- %d.\n", 0, 0);
    int actualHeight = cupsHeight;
    unsigned char* actualRasterDataPtr = pageBuffer;
    if (paperSaveMode > 0) {
        const int pageHeaderBlank = GetpageHeaderBlank() * 8;
        const int endBlank = GetEndBlank() * 8;
        DataNullLine(lineMap.get(), cupsHeight, &startLine, &endLine, paperSaveMode);
        coreLog("DEBUG: 2 pageHeaderBlank -- %d.endBlank -- %d.\n", pageHeaderBlank, endBlank);
        coreLog("DEBUG: 3 startLine -- %d.endLine -- %d.\n", startLine, endLine);
        const int keptTop = pageHeaderBlank <= startLine ? pageHeaderBlank : 0;
        const int keptBottom = endBlank <= endLine ? endBlank : 0;
        int actualStartLine = 0;
        if (startLine > 0 && endLine > 0) {
            actualStartLine = startLine - keptTop;
            const int actualEndLine = endLine - keptBottom;
            actualHeight = cupsHeight - (actualStartLine + actualEndLine) + 1;
            coreLog("DEBUG: 1 actualHeight -- %d,actualStartLine -- %d, actualEndLine -- %d.\n", actualHeight,
                    actualStartLine, actualEndLine);
        } else if (startLine == 0 && endLine > 0) {
            actualHeight = cupsHeight - (endLine - keptBottom) + 1;
            coreLog("DEBUG: 2 actualHeight -- %d.\n", actualHeight);
        } else if (startLine > 0 && endLine == 0) {
            actualStartLine = startLine - keptTop;
            actualHeight = cupsHeight - actualStartLine + 1;
            coreLog("DEBUG: 3 actualHeight -- %d.\n", actualHeight);
        } else if (startLine == 0 && endLine == 0) {
            coreLog("DEBUG: 4 actualHeight -- %d.\n", actualHeight);
        }
        if (actualHeight > cupsHeight - actualStartLine) {
            actualHeight = cupsHeight - actualStartLine;
        }
        coreLog("DEBUG: 5 actualHeight -- %d.\n", actualHeight);
        // The kept rows are selected in place: the road works on them where
        // they were read, and the page buffer is read afresh for every page.
        actualRasterDataPtr = pageBuffer + static_cast<std::int64_t>(actualStartLine) * actualWidth;
        coreLog("DEBUG: Ptr 1 actualRasterDataPtr -- notNullData; notNullData -- NULL .\n");
    }

    switch (page.bitsPerColor) {
    case 8:
        return colourPageRoad(actualRasterDataPtr, page.width, actualHeight, page.copies, pageNumber);
    case 1:
        return oneBitRoad(pageBuffer, actualWidth, cupsHeight);
    default:
        coreLog("ERROR: Page %d has %u bits per colour; only 1 and 8 can be printed.\n", pageNumber,
                static_cast<unsigned>(page.bitsPerColor));
        return PageResult::Failed;
    }
}
