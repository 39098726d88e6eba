#include "core/copySubmission.h"

#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "core/jobContext.h"
#include "core/paperHandling.h"
#include "core/printerCommands.h"
#include "core/replyReader.h"
#include "core/statusMonitor.h"

namespace {

unsigned int asSignedByte(unsigned char value)
{
    return static_cast<unsigned int>(static_cast<int>(static_cast<signed char>(value)));
}

void writeBytes(JobContext& job, const unsigned char* data, std::size_t length)
{
    if (length > 0) {
        job.device().write({data, length});
    }
}

void writeZeroBytes(JobContext& job, long long count)
{
    static const unsigned char zeros[4096] = {};
    while (count > 0) {
        std::size_t chunk = static_cast<std::size_t>(std::min<long long>(count, sizeof zeros));
        writeBytes(job, zeros, chunk);
        count -= static_cast<long long>(chunk);
    }
}

void writeStatusQuery(JobContext& job)
{
    CommandBytes<3> query;
    command::statusQuery(query.buffer);
    job.device().write(query.bytes());
    job.device().flush();
}

void logTimeDifference(JobContext& job, const char* format, const timeval& later, const timeval& earlier)
{
    job.log(LogLevel::Debug, format, static_cast<long>(later.tv_sec - earlier.tv_sec),
            static_cast<long>(later.tv_usec - earlier.tv_usec));
}

// Why a copy acknowledged with this status byte may be incomplete, or null.
const char* incompleteReason(unsigned char statusByte)
{
    switch (printerErrorCode(statusByte)) {
    case 0: return nullptr;
    case 1: return "the printer cover is open";
    case 2: return "the printer is out of paper";
    case 3: return "the printer cover is open and it is out of paper";
    case 4: return "the printer is overheating";
    case 5: return "the printer cover is open and it is overheating";
    case 6: return "the printer is overheating and out of paper";
    default: return "the printer cover is open, it is out of paper and overheating";
    }
}

enum class AckResult { Acknowledged, TimedOut, Cancelled };

// Reads printer replies until one begins 10 04 04, for at most `limitMs`.
// `statusByte` receives the acknowledgement's status byte (0x20, ready, when
// the reply was too short to carry one).
AckResult awaitAcknowledgement(JobContext& job, long long limitMs, unsigned char& statusByte)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    const int periodMs = job.waits.periodMs();
    unsigned char* reply = job.copyReply;
    // Every pass reads at least once, so a reply that is already there counts
    // even when the limit is (nearly) zero.
    for (;;) {
        if (job.cancelled()) {
            return AckResult::Cancelled;
        }
        long long leftMs = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (leftMs < 0) {
            leftMs = 0;
        }
        double leftPeriods = periodMs > 0 ? static_cast<double>(leftMs) / periodMs : 0.0;
        long count = readReply(job, reply, replyBytes, leftPeriods);
        PrinterConditions conditions = decodePrinterReply(reply, count);
        conditions.from = PrinterConditions::From::Copy;
        job.device().condition(conditions);
        if (count > 0) {
            if (conditions.valid) {
                statusByte = conditions.statusByte;
                return AckResult::Acknowledged;
            }
            job.log(LogLevel::Debug, "Status Process  -- Received reply data %X %X %X %X %X .",
                    asSignedByte(reply[0]), asSignedByte(reply[1]), asSignedByte(reply[2]), asSignedByte(reply[3]),
                    asSignedByte(reply[4]));
            // A garbled answer (a wrong leader, a byte lost on the line) is no
            // acknowledgement, and the printer answers each question once:
            // ask again while the time lasts.
            writeStatusQuery(job);
        } else if (leftMs > 0) {
            // Nothing came, or the back channel is closed or missing: do not spin.
            job.waits.pauseFor(std::min(0.05, leftPeriods));
        }
        if (Clock::now() >= deadline) {
            return AckResult::TimedOut;
        }
    }
}

}  // namespace

namespace {

// The data of an announced raster command: `length` bytes of `data`, then
// `zeros` bytes of 00, in slices so that a cancel is noticed while a long
// image goes out; after a cancel the rest goes as 00 bytes (blank rows).
void sendRasterStream(JobContext& job, const unsigned char* data, std::size_t length, std::size_t zeros)
{
    constexpr std::size_t slice = 64 * 1024;
    const std::size_t total = length + zeros;
    std::size_t sent = 0;
    while (sent < total && !job.cancelled()) {
        const std::size_t end = std::min(sent + slice, total);
        if (sent < length) {
            writeBytes(job, data + sent, std::min(end, length) - sent);
        }
        if (end > length) {
            writeZeroBytes(job, static_cast<long long>(end - std::max(sent, length)));
        }
        sent = end;
    }
    if (sent < total) {
        job.log(LogLevel::Debug, "Job cancelled inside a raster command: the last %zu bytes go as blank rows.",
                total - sent);
        writeZeroBytes(job, static_cast<long long>(total - sent));
    }
}

}  // namespace

void sendRasterData(JobContext& job, const unsigned char* data, std::size_t length)
{
    sendRasterStream(job, data, length, 0);
}

int maxRowsPerRasterCommand(int rowBytes)
{
    if (rowBytes <= 0) {
        return 65535;
    }
    return std::min(65535, (MaxRawDataSize - command::rasterHeaderBytes) / rowBytes);
}

PageResult waitForReadyPrinter(JobContext& job, std::unique_lock<std::mutex>& channel)
{
    for (;;) {
        // A cancelled job starts nothing new, however ready the printer.
        if (job.cancelled()) {
            return PageResult::Cancelled;
        }
        while (!job.printerReady.load()) {
            if (job.cancelled()) {
                return PageResult::Cancelled;
            }
            job.waits.pauseFor(1.0, [&job] { return job.printerReady.load(); });
        }
        channel = std::unique_lock<std::mutex>(job.channel);
        // The monitor may have seen an error while this thread waited for the channel.
        if (job.printerReady.load()) {
            return PageResult::Done;
        }
        channel.unlock();
    }
}

void sendRasterBands(JobContext& job, const unsigned char* image, int rowBytes, int imageRows, int blankRows)
{
    const int bandLimit = maxRowsPerRasterCommand(rowBytes);
    const long long totalRows = static_cast<long long>(imageRows) + blankRows;
    // A cancel ends the band in flight with blank rows and starts no other.
    for (long long first = 0; first < totalRows && !job.cancelled();) {
        const int bandRows = static_cast<int>(std::min<long long>(bandLimit, totalRows - first));
        const long long imagePart = std::clamp<long long>(imageRows - first, 0, bandRows);
        CommandBytes<command::rasterHeaderBytes> header;
        command::rasterHeader(header.buffer, rowBytes, bandRows);
        job.device().write(header.bytes());
        const std::size_t imageBytes = static_cast<std::size_t>(imagePart) * static_cast<std::size_t>(rowBytes);
        const std::size_t blankBytes = static_cast<std::size_t>(bandRows - imagePart) * static_cast<std::size_t>(rowBytes);
        sendRasterStream(job, imagePart > 0 ? image + first * rowBytes : image, imageBytes, blankBytes);
        first += bandRows;
    }
    job.device().flush();
}

PageResult sendCopies(JobContext& job, int copies, const BitRaster& raster, int pageNumber)
{
    const int witsStep = raster.stride;
    const int rows = raster.rows;
    for (int i = 0; i < copies; ++i) {
        while (job.printing.load()) {
            if (!job.waits.pauseFor(1.0, [&job] { return !job.printing.load(); }) && job.cancelled()) {
                return PageResult::Cancelled;
            }
            job.log(LogLevel::Debug, "Status Process : isPrinting = true.");
        }
        std::unique_lock<std::mutex> channel;
        PageResult ready = waitForReadyPrinter(job, channel);
        if (ready != PageResult::Done) {
            return ready;
        }

        timeval beforeCopy{};
        timeval afterData{};
        timeval afterReply{};
        gettimeofday(&beforeCopy, nullptr);
        job.printing.exchange(true);
        job.log(LogLevel::Debug, "710 i = %d.", i);
        job.log(LogLevel::Debug, " 654 -- OK.");

        const std::vector<unsigned char> setUp = copySetUp(job.settings);
        writeBytes(job, setUp.data(), setUp.size());

        const int afterFeed = GetAfterPrintFeed(job.settings);
        job.log(LogLevel::Debug, "710 GetAfterPrintFeed -- %d", afterFeed);
        const long long blankRows = 8LL * afterFeed;
        const long long lastHeight = rows + blankRows;
        job.log(LogLevel::Debug, "page lastHeight -- %lld", lastHeight);

        if (lastHeight <= maxRowsPerRasterCommand(witsStep)) {
            CommandBytes<command::rasterHeaderBytes> header;
            command::rasterHeader(header.buffer, witsStep, static_cast<int>(lastHeight));
            writeBytes(job, header.data, static_cast<std::size_t>(header.length));
            job.device().flush();
            sendRasterData(job, raster.bits, static_cast<std::size_t>(rows) * static_cast<std::size_t>(witsStep));
            // The announced AfterFeed rows arrive as blank rows, so the printer
            // takes exactly the announced bytes as image.
            writeZeroBytes(job, blankRows * witsStep);
            job.device().flush();
        } else {
            job.log(LogLevel::Debug, "Copy %d of page %d goes out in bands of at most %d rows.", i + 1, pageNumber,
                    maxRowsPerRasterCommand(witsStep));
            sendRasterBands(job, raster.bits, witsStep, rows, static_cast<int>(blankRows));
        }
        // The cut follows the tear-off rows, and the status query below
        // follows the cut: the acknowledgement covers it.
        CommandBytes<cutBytes> cut;
        copyCut(cut.buffer, job.settings);
        if (cut.length > 0 && !job.cancelled()) {
            writeBytes(job, cut.data, static_cast<std::size_t>(cut.length));
            job.device().flush();
        }
        gettimeofday(&afterData, nullptr);
        if (GetPrinterCheck(job.settings) == PrinterCheck::Off) {
            // Nobody to ask: the copy is done once its bytes are out.
            job.printing.exchange(false);
            job.waits.notify();
            channel.unlock();
            logTimeDifference(job, "Status Process Time -- Time2 -- %ld.%06ld seconds.", afterData, beforeCopy);
            continue;
        }

        // A monitor reply that came after its time limit must not pass for
        // this copy's acknowledgement.
        long stale = drainReplies(job);
        if (stale > 0) {
            job.log(LogLevel::Debug, "Discarded %ld stale reply bytes before copy %d.", stale, i + 1);
        }
        writeStatusQuery(job);

        // A long copy is still printing: allow 10 periods plus 2 ms per row.
        const double limitPeriods = 10.0 + 0.002 * static_cast<double>(lastHeight);
        unsigned char statusByte = 0;
        AckResult ack = awaitAcknowledgement(job, job.waits.periodsToMs(limitPeriods), statusByte);
        if (ack == AckResult::Cancelled) {
            job.printing.exchange(false);
            return PageResult::Cancelled;
        }
        if (ack == AckResult::TimedOut) {
            job.printing.exchange(false);
            job.log(LogLevel::Error,
                    "The printer did not acknowledge copy %d of page %d within %.1f seconds; the copy may be "
                    "incomplete.",
                    i + 1, pageNumber, static_cast<double>(job.waits.periodsToMs(limitPeriods)) / 1000.0);
            return PageResult::Failed;
        }
        job.printing.exchange(false);
        job.waits.notify();
        job.log(LogLevel::Debug, "Status Process  -- Received reply.");
        if (const char* reason = incompleteReason(statusByte)) {
            job.log(LogLevel::Info, "Copy %d of page %d may be incomplete: %s.", i + 1, pageNumber, reason);
        }
        if (printerErrorCode(statusByte) != 0) {
            holdPrintingAfterErrorReply(job);
        }
        channel.unlock();

        gettimeofday(&afterReply, nullptr);
        job.log(LogLevel::Info, "Printer Status OK.");
        logTimeDifference(job, "Status Process Time -- Time2 -- %ld.%06ld seconds.", afterData, beforeCopy);
        logTimeDifference(job, "Status Process Time -- Time3 -- %ld.%06ld seconds.", afterReply, afterData);
    }
    return PageResult::Done;
}
