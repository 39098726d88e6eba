#include "core/copySubmission.h"

#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "core/Functions.h"
#include "core/filterWait.h"
#include "core/printingCore.h"
#include "core/statusMonitor.h"

namespace {

// The reply buffer of the copies: zeroed when the job starts (see
// resetCopyReplyBuffer) and otherwise only written by reads.
unsigned char copyReply[5] = {};

constexpr int rasterHeaderBytes = 8;

unsigned int asSignedByte(unsigned char value)
{
    return static_cast<unsigned int>(static_cast<int>(static_cast<signed char>(value)));
}

void writeBytes(const unsigned char* data, std::size_t length)
{
    if (length > 0) {
        printerDevice().write({data, length});
    }
}

void writeZeroBytes(long long count)
{
    static const unsigned char zeros[4096] = {};
    while (count > 0) {
        std::size_t chunk = static_cast<std::size_t>(std::min<long long>(count, sizeof zeros));
        writeBytes(zeros, chunk);
        count -= static_cast<long long>(chunk);
    }
}

void writeStatusQuery()
{
    const unsigned char query[] = {0x16, 0x04, 0x04};
    writeBytes(query, sizeof query);
    printerDevice().flush();
}

}  // namespace

void sendRasterData(const unsigned char* data, std::size_t length)
{
    // In slices, so that a cancel is noticed while a long image goes out.
    constexpr std::size_t slice = 64 * 1024;
    std::size_t sent = 0;
    while (sent < length && !jobCancelled()) {
        const std::size_t chunk = std::min(slice, length - sent);
        writeBytes(data + sent, chunk);
        sent += chunk;
    }
    if (sent < length) {
        coreLog("DEBUG: Job cancelled inside a raster command: the last %zu bytes go as blank rows.\n",
                length - sent);
        writeZeroBytes(static_cast<long long>(length - sent));
    }
}

namespace {

void appendZeroBytes(long long count)
{
    static const unsigned char zeros[4096] = {};
    while (count > 0) {
        int chunk = static_cast<int>(std::min<long long>(count, sizeof zeros));
        outputarray(zeros, chunk);
        count -= chunk;
    }
}

void logTimeDifference(const char* format, const timeval& later, const timeval& earlier)
{
    coreLog(format, static_cast<long>(later.tv_sec - earlier.tv_sec),
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
AckResult awaitAcknowledgement(long long limitMs, unsigned char& statusByte)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    const int periodMs = waitPeriodMs();
    // Every pass reads at least once, so a reply that is already there counts
    // even when the limit is (nearly) zero.
    for (;;) {
        if (jobCancelled()) {
            return AckResult::Cancelled;
        }
        long long leftMs = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (leftMs < 0) {
            leftMs = 0;
        }
        double leftPeriods = periodMs > 0 ? static_cast<double>(leftMs) / periodMs : 0.0;
        long count = printerDevice().readReply(copyReply, sizeof copyReply, leftPeriods);
        PrinterConditions conditions = decodePrinterReply(copyReply, count);
        conditions.from = PrinterConditions::From::Copy;
        printerDevice().condition(conditions);
        if (count > 0) {
            if (conditions.valid) {
                statusByte = conditions.statusByte;
                return AckResult::Acknowledged;
            }
            coreLog("DEBUG: Status Process  -- Received reply data %X %X %X %X %X .\n",
                    asSignedByte(copyReply[0]), asSignedByte(copyReply[1]), asSignedByte(copyReply[2]),
                    asSignedByte(copyReply[3]), asSignedByte(copyReply[4]));
            // A garbled answer (a wrong leader, a byte lost on the line) is no
            // acknowledgement, and the printer answers each question once:
            // ask again while the time lasts.
            writeStatusQuery();
        } else if (leftMs > 0) {
            // Nothing came, or the back channel is closed or missing: do not spin.
            pauseFor(std::min(0.05, leftPeriods));
        }
        if (Clock::now() >= deadline) {
            return AckResult::TimedOut;
        }
    }
}

}  // namespace

void resetCopyReplyBuffer() { std::memset(copyReply, 0, sizeof copyReply); }

int maxRowsPerRasterCommand(int rowBytes)
{
    if (rowBytes <= 0) {
        return 65535;
    }
    return std::min(65535, (MaxRawDataSize - rasterHeaderBytes) / rowBytes);
}

PageResult waitForReadyPrinter(std::unique_lock<std::mutex>& channel)
{
    for (;;) {
        // A cancelled job starts nothing new, however ready the printer.
        if (jobCancelled()) {
            return PageResult::Cancelled;
        }
        while (!isPrinterStatusOK.load()) {
            if (jobCancelled()) {
                return PageResult::Cancelled;
            }
            pauseFor(1.0, [] { return isPrinterStatusOK.load(); });
        }
        channel = std::unique_lock<std::mutex>(printerChannelMutex);
        // The monitor may have seen an error while this thread waited for the channel.
        if (isPrinterStatusOK.load()) {
            return PageResult::Done;
        }
        channel.unlock();
    }
}

void sendRasterBands(const unsigned char* image, int rowBytes, int imageRows, int blankRows)
{
    const int bandLimit = maxRowsPerRasterCommand(rowBytes);
    const long long totalRows = static_cast<long long>(imageRows) + blankRows;
    // A cancel ends the band in flight with blank rows and starts no other.
    for (long long first = 0; first < totalRows && !jobCancelled();) {
        const int bandRows = static_cast<int>(std::min<long long>(bandLimit, totalRows - first));
        const long long imagePart = std::clamp<long long>(imageRows - first, 0, bandRows);
        curPagePos = 0;
        rasterheader(rowBytes, bandRows);
        outputarray(image + first * rowBytes, static_cast<int>(imagePart * rowBytes));
        appendZeroBytes((bandRows - imagePart) * rowBytes);
        SendDataToBackEnd(RawData, rasterHeaderBytes);
        sendRasterData(RawData + rasterHeaderBytes, static_cast<std::size_t>(curPagePos - rasterHeaderBytes));
        first += bandRows;
    }
    curPagePos = 0;
    printerDevice().flush();
}

PageResult sendCopies(int copies, const unsigned char* bits, int witsStep, int rows, int pageNumber)
{
    for (int i = 0; i < copies; ++i) {
        while (isPrinting.load()) {
            if (!pauseFor(1.0, [] { return !isPrinting.load(); }) && jobCancelled()) {
                return PageResult::Cancelled;
            }
            coreLog("DEBUG: Status Process : isPrinting = true.\n");
        }
        std::unique_lock<std::mutex> channel;
        PageResult ready = waitForReadyPrinter(channel);
        if (ready != PageResult::Done) {
            return ready;
        }

        timeval beforeCopy{};
        timeval afterData{};
        timeval afterReply{};
        gettimeofday(&beforeCopy, nullptr);
        isPrinting.exchange(true);
        coreLog("DEBUG: 710 i = %d.\n", i);
        coreLog("DEBUG:  654 -- OK.\n");

        const unsigned char setUp[] = {0x1B, 0x40, 0x1D, 0x83, lo(GetDensity()), 0x1B, 0x61, 0x01};
        writeBytes(setUp, sizeof setUp);

        const int afterFeed = GetAfterPrintFeed();
        coreLog("DEBUG: 710 GetAfterPrintFeed -- %d\n", afterFeed);
        const long long blankRows = 8LL * afterFeed;
        const long long lastHeight = rows + blankRows;
        coreLog("DEBUG: page lastHeight -- %lld\n", lastHeight);

        if (lastHeight <= maxRowsPerRasterCommand(witsStep)) {
            const unsigned char header[] = {0x1D, 0x76, 0x30, 0x00, lo(witsStep), hi(witsStep),
                                            lo(static_cast<int>(lastHeight)), hi(static_cast<int>(lastHeight))};
            writeBytes(header, sizeof header);
            printerDevice().flush();
            sendRasterData(bits, static_cast<std::size_t>(rows) * static_cast<std::size_t>(witsStep));
            // The announced AfterFeed rows arrive as blank rows, so the printer
            // takes exactly the announced bytes as image.
            writeZeroBytes(blankRows * witsStep);
            printerDevice().flush();
        } else {
            coreLog("DEBUG: Copy %d of page %d goes out in bands of at most %d rows.\n", i + 1,
                    pageNumber, maxRowsPerRasterCommand(witsStep));
            sendRasterBands(bits, witsStep, rows, static_cast<int>(blankRows));
        }
        gettimeofday(&afterData, nullptr);

        // A monitor reply that came after its time limit must not pass for
        // this copy's acknowledgement.
        long stale = printerDevice().drain();
        if (stale > 0) {
            coreLog("DEBUG: Discarded %ld stale reply bytes before copy %d.\n", stale, i + 1);
        }
        writeStatusQuery();

        // A long copy is still printing: allow 10 periods plus 2 ms per row.
        const double limitPeriods = 10.0 + 0.002 * static_cast<double>(lastHeight);
        unsigned char statusByte = 0;
        AckResult ack = awaitAcknowledgement(periodsToMs(limitPeriods), statusByte);
        if (ack == AckResult::Cancelled) {
            isPrinting.exchange(false);
            return PageResult::Cancelled;
        }
        if (ack == AckResult::TimedOut) {
            isPrinting.exchange(false);
            coreLog("ERROR: The printer did not acknowledge copy %d of page %d within %.1f seconds; the copy "
               "may be incomplete.\n",
               i + 1, pageNumber, static_cast<double>(periodsToMs(limitPeriods)) / 1000.0);
            return PageResult::Failed;
        }
        isPrinting.exchange(false);
        notifyWaiters();
        coreLog("DEBUG: Status Process  -- Received reply.\n");
        if (const char* reason = incompleteReason(statusByte)) {
            coreLog("INFO: Copy %d of page %d may be incomplete: %s.\n", i + 1, pageNumber, reason);
        }
        if (printerErrorCode(statusByte) != 0) {
            holdPrintingAfterErrorReply();
        }
        channel.unlock();

        gettimeofday(&afterReply, nullptr);
                coreLog("INFO: Printer Status OK.\n");
        logTimeDifference("DEBUG: Status Process Time -- Time2 -- %ld.%06ld seconds.\n", afterData, beforeCopy);
        logTimeDifference("DEBUG: Status Process Time -- Time3 -- %ld.%06ld seconds.\n", afterReply, afterData);
    }
    return PageResult::Done;
}
