#include "core/printingCore.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "core/blankLines.h"
#include "core/colourPageRoad.h"
#include "core/paperHandling.h"
#include "core/printerCommands.h"
#include "core/replyReader.h"
#include "diagnostics/jobLog.h"
#include "imaging/ImageBuffer.h"

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

namespace {

// Attaches the device before the monitor starts to use it.
JobContext& attached(JobContext& job, PrinterDevice& device)
{
    job.attach(&device);
    // A cancel belongs to the job it was meant for: this one starts uncancelled.
    job.waits.clearCancel();
    std::memset(job.copyReply, 0, sizeof job.copyReply);
    job.pendingCount = 0;
    job.output.setPosition(0);
    job.settingsKnown.store(false);
    return job;
}

}  // namespace

PrintSession::PrintSession(PrinterDevice& device)
    : own_(std::make_unique<JobContext>()), job_(attached(*own_, device)), monitor_(job_)
{
}

PrintSession::PrintSession(JobContext& context, PrinterDevice& device)
    : job_(attached(context, device)), monitor_(job_)
{
}

PrintSession::~PrintSession()
{
    monitor_.stop();
    job_.attach(nullptr);
}

PageResult PrintSession::endJob()
{
    CommandBytes<cutBytes> cut;
    jobEndCut(cut.buffer, job_.settings);
    if (cut.length == 0) {
        return PageResult::Done;
    }
    std::unique_lock<std::mutex> channel;
    const PageResult ready = waitForReadyPrinter(job_, channel);
    if (ready != PageResult::Done) {
        return ready;
    }
    job_.log(LogLevel::Debug, "The job has ended: the paper is cut.");
    job_.device().write(cut.bytes());
    job_.device().flush();
    return PageResult::Done;
}

void PrintSession::useSettings(const settingsThermalSensitivityPara& settings)
{
    job_.settings = settings;
    if (GetPrinterCheck(settings) == PrinterCheck::Off) {
        job_.log(LogLevel::Info, "The printer is not asked for its condition (Printer check: Off): paper out, an open "
                                 "cover or overheating cannot be reported.");
    }
    job_.settingsKnown.store(true);
    job_.waits.notify();
}

void PrintSession::sendCancelSequence()
{
    monitor_.stop();
    std::lock_guard<std::mutex> channel(job_.channel);
    job_.output.setPosition(0);
    command::cancelSequence(job_.output);
    job_.device().write(job_.output.bytes());
    job_.device().flush();
    job_.output.setPosition(0);
}

PrinterConditions askPrinterStatus(PrinterDevice& device)
{
    JobContext job;
    job.attach(&device);
    std::lock_guard<std::mutex> channel(job.channel);
    CommandBytes<3> query;
    command::statusQuery(query.buffer);
    device.write(query.bytes());
    device.flush();
    unsigned char reply[replyBytes] = {};
    return decodePrinterReply(reply, readReply(job, reply, sizeof reply, 1.0));
}

namespace {

void writeInitialise(JobContext& job)
{
    std::lock_guard<std::mutex> channel(job.channel);
    CommandBytes<2> initialise;
    command::initialise(initialise.buffer);
    job.device().write(initialise.bytes());
    job.device().flush();
}

// The 1-bit road: set-up commands and the page's rows as read, sent once.
PageResult oneBitRoad(JobContext& job, const unsigned char* page, int actualWidth, int cupsHeight)
{
    OutputBuffer& out = job.output;
    out.setPosition(0);
    command::paperMode(out, GetPaperMode(job.settings));
    command::feed(out, GetOpeningFeed(job.settings));
    command::density(out, GetDensity(job.settings));
    command::justification(out, static_cast<unsigned int>(GetAlignment()));
    const int setUpBytes = out.position();
    const std::int64_t pageBytes = static_cast<std::int64_t>(actualWidth) * cupsHeight;
    const bool oneCommand = cupsHeight <= 65535 &&
                            setUpBytes + command::rasterHeaderBytes + pageBytes <= static_cast<std::int64_t>(out.capacity());
    if (oneCommand) {
        command::rasterHeader(out, actualWidth, cupsHeight);
        out.append({page, static_cast<std::size_t>(pageBytes)});
    }

    std::unique_lock<std::mutex> channel;
    PageResult ready = waitForReadyPrinter(job, channel);
    if (ready != PageResult::Done) {
        return ready;
    }
    job.log(LogLevel::Info, " 开始发送数据Gray.");
    const std::span<const unsigned char> bytes = out.bytes();
    const std::size_t headerEnd = static_cast<std::size_t>(setUpBytes + command::rasterHeaderBytes);
    if (oneCommand) {
        job.device().write(bytes.first(headerEnd));
        sendRasterData(job, bytes.data() + headerEnd, bytes.size() - headerEnd);
        job.device().flush();
    } else {
        job.log(LogLevel::Debug, "The page of %d rows of %d bytes goes out in bands of at most %d rows.", cupsHeight,
                actualWidth, maxRowsPerRasterCommand(actualWidth));
        job.device().write(bytes.first(static_cast<std::size_t>(setUpBytes)));
        sendRasterBands(job, page, actualWidth, cupsHeight, 0);
    }
    CommandBytes<cutBytes> cut;
    copyCut(cut.buffer, job.settings);
    if (cut.length > 0 && !job.cancelled()) {
        job.device().write(cut.bytes());
        job.device().flush();
    }
    channel.unlock();
    job.waits.pauseFor(1.0);
    out.setPosition(0);
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
    // What the imaging library logs while it works on the page is the job's.
    const LogScope logScope(job_.device());
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
        job_.log(LogLevel::Error, "Page %d: a line of %d bytes does not fit the page buffer row of %d bytes.", pageNumber,
                rowBytes, actualWidth);
        return PageResult::Failed;
    }

    writeInitialise(job_);

    ScratchBuffer<unsigned char> lineMap = allocateScratch<unsigned char>(cupsHeight);
    ScratchBuffer<unsigned char> grayLine = widenGray ? allocateScratch<unsigned char>(bytesPerLine) : nullptr;
    if (!lineMap || (widenGray && !grayLine)) {
        job_.log(LogLevel::Error, "Unable to allocate the line map of page %d.", pageNumber);
        return PageResult::Failed;
    }
    job_.log(LogLevel::Debug, "y -- %d.", 0);
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
                job_.log(LogLevel::Error, "The raster stream ended inside page %d (%d of %d lines read); the page was "
                        "not printed.", pageNumber, y, cupsHeight);
            } else {
                job_.log(LogLevel::Error, "The raster stream ended inside page %d (within lines %d to %d of %d); the page "
                        "was not printed.", pageNumber, y + 1, y + rows, cupsHeight);
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
                job_.log(LogLevel::Debug, "isNullDataLine error. temp -- %d.", temp);
                job_.log(LogLevel::Error, "Page %d: the blank-line test failed on line %d.", pageNumber, y);
                return PageResult::Failed;
            }
            lineMap[y] = static_cast<unsigned char>(temp);
        }
    }

    // Paper saving.
    const int paperSaveMode = GetPaperSaveMode(job_.settings);
    int startLine = 0;
    int endLine = 0;
    job_.log(LogLevel::Debug, "1 startLine -- %d.endLine -- %d.", 0, 0);
    int actualHeight = cupsHeight;
    unsigned char* actualRasterDataPtr = pageBuffer;
    if (paperSaveMode > 0) {
        const int pageHeaderBlank = GetpageHeaderBlank(job_.settings) * 8;
        const int endBlank = GetEndBlank(job_.settings) * 8;
        DataNullLine(lineMap.get(), cupsHeight, &startLine, &endLine, paperSaveMode);
        job_.log(LogLevel::Debug, "2 pageHeaderBlank -- %d.endBlank -- %d.", pageHeaderBlank, endBlank);
        job_.log(LogLevel::Debug, "3 startLine -- %d.endLine -- %d.", startLine, endLine);
        const int keptTop = pageHeaderBlank <= startLine ? pageHeaderBlank : 0;
        const int keptBottom = endBlank <= endLine ? endBlank : 0;
        int actualStartLine = 0;
        if (startLine > 0 && endLine > 0) {
            actualStartLine = startLine - keptTop;
            const int actualEndLine = endLine - keptBottom;
            actualHeight = cupsHeight - (actualStartLine + actualEndLine) + 1;
            job_.log(LogLevel::Debug, "1 actualHeight -- %d,actualStartLine -- %d, actualEndLine -- %d.", actualHeight,
                    actualStartLine, actualEndLine);
        } else if (startLine == 0 && endLine > 0) {
            actualHeight = cupsHeight - (endLine - keptBottom) + 1;
            job_.log(LogLevel::Debug, "2 actualHeight -- %d.", actualHeight);
        } else if (startLine > 0 && endLine == 0) {
            actualStartLine = startLine - keptTop;
            actualHeight = cupsHeight - actualStartLine + 1;
            job_.log(LogLevel::Debug, "3 actualHeight -- %d.", actualHeight);
        } else if (startLine == 0 && endLine == 0) {
            job_.log(LogLevel::Debug, "4 actualHeight -- %d.", actualHeight);
        }
        if (actualHeight > cupsHeight - actualStartLine) {
            actualHeight = cupsHeight - actualStartLine;
        }
        job_.log(LogLevel::Debug, "5 actualHeight -- %d.", actualHeight);
        // The kept rows are selected in place: the road works on them where
        // they were read, and the page buffer is read afresh for every page.
        actualRasterDataPtr = pageBuffer + static_cast<std::int64_t>(actualStartLine) * actualWidth;
        job_.log(LogLevel::Debug, "Ptr 1 actualRasterDataPtr -- notNullData; notNullData -- NULL .");
    }

    switch (page.bitsPerColor) {
    case 8:
        return colourPageRoad(job_, actualRasterDataPtr, page.width, actualHeight, page.copies, pageNumber);
    case 1:
        return oneBitRoad(job_, pageBuffer, actualWidth, cupsHeight);
    default:
        job_.log(LogLevel::Error, "Page %d has %u bits per colour; only 1 and 8 can be printed.", pageNumber,
                static_cast<unsigned>(page.bitsPerColor));
        return PageResult::Failed;
    }
}
