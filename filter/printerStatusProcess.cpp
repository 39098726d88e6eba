#include "filter/printerStatusProcess.h"

#include <cups/sidechannel.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "filter/filterWait.h"

std::atomic<bool> isPrinterStatusOK{false};
std::atomic<bool> isPrinting{false};
std::mutex printerChannelMutex;
unsigned char status[5] = {};

namespace {

// The back channel from the printer, as CUPS sets it up for filters.
constexpr int backChannelFd = 3;

std::atomic<bool> monitorStopRequested{false};

// Consecutive clean replies; the printer counts as ready after three.
int delayTimeCount = 0;
// Whether the user has been told that the printer does not answer; said once
// per stretch of silence.
bool silenceReported = false;

unsigned int asSignedByte(unsigned char value)
{
    return static_cast<unsigned int>(static_cast<int>(static_cast<signed char>(value)));
}

// CUPS gives a filter the printer's back channel on descriptor 3. A filter run
// by hand may have none; then keep the number taken (by /dev/null), so that a
// file the filter opens later (its PPD, the raster file) cannot land on it and
// be read as printer replies.
void reserveBackChannel()
{
    if (::fcntl(backChannelFd, F_GETFD) != -1 || errno != EBADF) {
        return;
    }
    const int fd = ::open("/dev/null", O_RDONLY);
    if (fd >= 0 && fd != backChannelFd) {
        ::dup2(fd, backChannelFd);
        ::close(fd);
    }
}

void setPrinterReady(bool ready)
{
    isPrinterStatusOK.exchange(ready);
    notifyWaiters();
}

// Waits until the back channel has something to read. 1: readable, 0: time is
// up, -1: there is no back channel.
int waitReadable(long long timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        long long left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left < 0) {
            left = 0;
        }
        // Short slices, so that a cancel is noticed while waiting.
        long long slice = left < 20 ? left : 20;
        pollfd p{backChannelFd, POLLIN, 0};
        int ready = ::poll(&p, 1, static_cast<int>(slice));
        if (ready < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return -1;
        }
        if (ready > 0) {
            if ((p.revents & POLLNVAL) != 0) {
                return -1;
            }
            return 1;
        }
        if (left == 0 || isCancelRequested()) {
            return 0;
        }
    }
}

void writeStatusQuery()
{
    std::putchar(0x16);
    std::putchar(0x04);
    std::putchar(0x04);
    std::fflush(stdout);
}

void writeConditionLines(unsigned char printerStatus, bool skewed)
{
    const char* first = nullptr;
    const char* second = nullptr;
    switch (printerStatus) {
    case 0:
        first = skewed ? "INFO: Status Process Error -- The paper is skewed.\n" : "INFO: Status Process OK -- Normal.\n";
        break;
    case 1:
        first = skewed ? "INFO: Status Process Error -- Open the Printer cover, the paper is skewed.\n"
                       : "INFO: Status Process Error -- Open the printer cover.\n";
        break;
    case 2:
        first = skewed ? "INFO: Status Process Error -- Out of paper, the paper is skewed.\n"
                       : "INFO: Status Process Error -- Out of paper.\n";
        break;
    case 3:
        first = skewed ? "INFO: Status Process Error -- Open the printer cover, out of paper, the paper is skewed.\n"
                       : "INFO: Status Process Error -- Open the printer cover, out of paper.\n";
        break;
    case 4:
        first = "INFO: Status Process Error -- Printer is overheating.\n";
        if (skewed) {
            second = "INFO: Status Process Error -- Printer is overheating, the paper is skewed.\n";
        }
        break;
    case 5:
        first = "INFO: Status Process Error -- Open the printer cover, Printer is overheating.\n";
        if (skewed) {
            second = "INFO: Status Process Error -- Open the printer cover, Printer is overheating, the paper is "
                     "skewed.\n";
        }
        break;
    case 6:
        first = skewed ? "INFO: Status Process Error -- Printer is overheating, the paper is skewed.\n"
                       : "INFO: Status Process Error -- Printer is overheating, out of paper.\n";
        break;
    default:
        break;
    }
    if (first != nullptr) {
        std::fputs(first, stderr);
    }
    if (second != nullptr) {
        std::fputs(second, stderr);
    }
}

// Steps 5 to 8 of a cycle: a reply of `count` bytes is in `status`.
void decodeReply()
{
    std::fprintf(stderr, "DEBUG: Status Process -- Printer Status: %X %X %X %X %X .\n", asSignedByte(status[0]),
                 asSignedByte(status[1]), asSignedByte(status[2]), asSignedByte(status[3]), asSignedByte(status[4]));
    if (status[0] != 0x10 || status[1] != 0x04 || status[2] != 0x04) {
        return;
    }
    const unsigned char tempStatus = status[3];
    std::fprintf(stderr, "DEBUG: Status Process -- Printer Status: tempStatus %X.\n", tempStatus);
    std::fprintf(stderr, "DEBUG: Error and Warn -- temp: temp %X.\n", tempStatus & 0x04);
    std::fprintf(stderr, "DEBUG: Error and Warn -- temp&0x4 == 1 : -- %d.\n", 0);
    unsigned char printerStatus = 0;
    if ((tempStatus & 0x04) != 0) {
        setPrinterReady(false);
        printerStatus = 1;
        delayTimeCount = 0;
        std::fprintf(stderr, "DEBUG: Error and Warn -- printerStatus1 -- %X.\n", 1);
    }
    if ((tempStatus & 0x20) == 0) {
        setPrinterReady(false);
        printerStatus |= 2;
        delayTimeCount = 0;
        std::fprintf(stderr, "DEBUG: Error and Warn -- printerStatus2 -- %X.\n", printerStatus);
    }
    if ((tempStatus & 0x10) != 0) {
        setPrinterReady(false);
        printerStatus |= 4;
        delayTimeCount = 0;
        std::fprintf(stderr, "DEBUG: Error and Warn -- PrinterStatus3 -- %X.\n", printerStatus);
    }
    const bool skewed = (tempStatus & 0x80) != 0;
    if (skewed) {
        std::fprintf(stderr, "DEBUG: Error and Warn -- paperStatus -- %X.\n", 0);
    }
    std::fprintf(stderr, "DEBUG: Status Process -- Printer Status: printerStatus %d .\n", printerStatus);
    writeConditionLines(printerStatus, skewed);
    if (printerStatus == 0) {
        ++delayTimeCount;
    }
    if (delayTimeCount >= 3) {
        setPrinterReady(true);
        delayTimeCount = 0;
    }
    std::fprintf(stderr, "DEBUG: Status Process Error -- delayTimeCount -- %d.\n", delayTimeCount);
}

// One query/reply exchange, under the channel lock.
void pollPrinterOnce()
{
    std::lock_guard<std::mutex> channel(printerChannelMutex);
    // A copy that started while this thread waited for the lock owns the
    // back channel until its acknowledgement.
    if (isPrinting.load()) {
        return;
    }
    writeStatusQuery();
    long count = backChannelReadFor(status, sizeof status, 1.0);
    if (count <= 0) {
        if (!silenceReported) {
            std::fputs("INFO: The printer does not answer; waiting for it.\n", stderr);
            silenceReported = true;
        }
        reportPrinterSilent();
        return;
    }
    silenceReported = false;
    decodeReply();
    reportPrinterReply(status, count);
}

}  // namespace

long (*testPrinterReply)(unsigned char* buffer, std::size_t length) = nullptr;

namespace {

// Reply bytes read from the back channel but not handed out yet: the start of
// a reply split across reads, or what followed a reply in the same read. Used
// only under printerChannelMutex.
unsigned char pendingReply[64];
std::size_t pendingCount = 0;

void dropPending(std::size_t count)
{
    std::memmove(pendingReply, pendingReply + count, pendingCount - count);
    pendingCount -= count;
}

// Lines the pending bytes up on a reply: bytes before the 10 04 04 leader are
// stray and dropped. A 10 with another leader stays in front (a reply with a
// wrong leader, which the callers log as such).
void resynchronise()
{
    std::size_t start = 0;
    while (start < pendingCount) {
        if (pendingReply[start] == 0x10) {
            const bool leader = (start + 1 >= pendingCount || pendingReply[start + 1] == 0x04) &&
                                (start + 2 >= pendingCount || pendingReply[start + 2] == 0x04);
            if (leader || start == 0) {
                break;
            }
        }
        ++start;
    }
    if (start > 0) {
        std::fprintf(stderr, "DEBUG: Discarded %zu stray reply bytes.\n", start);
        dropPending(start);
    }
    // A 10 without its 04 04 is taken as a whole reply only once the leader
    // of a later reply does not start inside it.
    if (pendingCount >= 3 && !(pendingReply[1] == 0x04 && pendingReply[2] == 0x04)) {
        for (std::size_t i = 1; i + 2 < pendingCount && i < 5; ++i) {
            if (pendingReply[i] == 0x10 && pendingReply[i + 1] == 0x04 && pendingReply[i + 2] == 0x04) {
                std::fprintf(stderr, "DEBUG: Discarded %zu stray reply bytes.\n", i);
                dropPending(i);
                break;
            }
        }
    }
}

}  // namespace

long backChannelReadFor(unsigned char* buffer, std::size_t length, double periods)
{
    if (testPrinterReply != nullptr) {
        return testPrinterReply(buffer, length);
    }
    // One reply of `length` bytes, gathered across reads within the limit.
    // An incomplete reply at the limit stays pending for the next read.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(periodsToMs(periods));
    for (;;) {
        resynchronise();
        if (pendingCount >= length) {
            std::memcpy(buffer, pendingReply, length);
            dropPending(length);
            return static_cast<long>(length);
        }
        const long long leftMs =
            std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        int ready = waitReadable(leftMs);
        if (ready < 0) {
            return -1;
        }
        if (ready == 0) {
            return 0;
        }
        // Data (or the end of the channel) is there: libcups reads without waiting.
        ssize_t count = cupsBackChannelRead(reinterpret_cast<char*>(pendingReply + pendingCount),
                                            sizeof pendingReply - pendingCount, 0.0);
        if (count <= 0) {
            return 0;  // the end of the channel: nothing more will come
        }
        pendingCount += static_cast<std::size_t>(count);
    }
}

long drainBackChannel()
{
    if (testPrinterReply != nullptr) {
        return 0;
    }
    long total = static_cast<long>(pendingCount);
    pendingCount = 0;
    unsigned char scrap[64];
    for (;;) {
        pollfd p{backChannelFd, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0 || (p.revents & POLLNVAL) != 0) {
            return total;
        }
        ssize_t count = cupsBackChannelRead(reinterpret_cast<char*>(scrap), sizeof scrap, 0.0);
        if (count <= 0) {
            return total;  // end of the channel
        }
        total += count;
    }
}

unsigned char printerErrorCode(unsigned char statusByte)
{
    unsigned char code = 0;
    if ((statusByte & 0x04) != 0) {
        code |= 1;
    }
    if ((statusByte & 0x20) == 0) {
        code |= 2;
    }
    if ((statusByte & 0x10) != 0) {
        code |= 4;
    }
    return code;
}

namespace {

// One bit per keyword the filter owns; the three errors use the bits of
// printerErrorCode.
constexpr unsigned reasonCoverOpen = 1;
constexpr unsigned reasonPaperOut = 2;
constexpr unsigned reasonOverheating = 4;
constexpr unsigned reasonSkewed = 8;
constexpr unsigned reasonNoAnswer = 16;
constexpr unsigned printerConditions = reasonCoverOpen | reasonPaperOut | reasonOverheating | reasonSkewed;

struct OwnedReason {
    unsigned bit;
    const char* keyword;
};

constexpr OwnedReason ownedReasons[] = {
    {reasonPaperOut, "media-empty-error"},
    {reasonCoverOpen, "cover-open-error"},
    {reasonOverheating, "com.zorvan-overheating-error"},
    {reasonSkewed, "com.zorvan-paper-skewed-warning"},
    {reasonNoAnswer, "com.zorvan-no-answer-report"},
};

std::mutex stateReasonsMutex;
unsigned toldReasons = 0;     // keywords CUPS has been told about in this job
unsigned presentReasons = 0;  // of those, the ones told as set
bool stateReasonsClosed = false;

// Tells CUPS the keywords of `which` that are new or changed: set when their
// bit is in `present`, cleared otherwise. `always` tells them even unchanged.
// The caller holds stateReasonsMutex.
void tellReasonsLocked(unsigned present, unsigned which, bool always)
{
    if (stateReasonsClosed) {
        return;
    }
    for (const OwnedReason& reason : ownedReasons) {
        if ((which & reason.bit) == 0) {
            continue;
        }
        const bool set = (present & reason.bit) != 0;
        const bool told = (toldReasons & reason.bit) != 0;
        if (!always && told && set == ((presentReasons & reason.bit) != 0)) {
            continue;
        }
        char line[80];
        std::snprintf(line, sizeof line, "STATE: %c%s\n", set ? '+' : '-', reason.keyword);
        std::fputs(line, stderr);
        toldReasons |= reason.bit;
        presentReasons = set ? (presentReasons | reason.bit) : (presentReasons & ~reason.bit);
    }
}

void tellReasons(unsigned present, unsigned which, bool always = false)
{
    std::lock_guard<std::mutex> lock(stateReasonsMutex);
    tellReasonsLocked(present, which, always);
}

}  // namespace

void reportPrinterReply(const unsigned char* reply, long count)
{
    if (count <= 0) {
        return;
    }
    tellReasons(0, reasonNoAnswer);
    if (count >= 4 && reply[0] == 0x10 && reply[1] == 0x04 && reply[2] == 0x04) {
        const unsigned char statusByte = reply[3];
        const unsigned skew = (statusByte & 0x80) != 0 ? reasonSkewed : 0;
        tellReasons(printerErrorCode(statusByte) | skew, printerConditions);
    }
}

void reportPrinterSilent() { tellReasons(reasonNoAnswer, reasonNoAnswer); }

JobStateReasons::JobStateReasons()
{
    std::lock_guard<std::mutex> lock(stateReasonsMutex);
    toldReasons = 0;
    presentReasons = 0;
    stateReasonsClosed = false;
    tellReasonsLocked(0, reasonNoAnswer, true);
}

JobStateReasons::~JobStateReasons() { endJobStateReasons(); }

void endJobStateReasons()
{
    std::lock_guard<std::mutex> lock(stateReasonsMutex);
    tellReasonsLocked(0, reasonNoAnswer, true);
    stateReasonsClosed = true;
}

void holdPrintingAfterErrorReply()
{
    // The caller holds printerChannelMutex, as the monitor does while it counts.
    delayTimeCount = 0;
    setPrinterReady(false);
}

void printerStatusProcess()
{
    while (!monitorStopRequested.load() && !isCancelRequested()) {
        timeval start{};
        timeval end{};
        gettimeofday(&start, nullptr);
        if (!isPrinting.load()) {
            pollPrinterOnce();
        }
        gettimeofday(&end, nullptr);
        std::fprintf(stderr, "DEBUG: Status Process Time -- time1 -- %ld.%06ld seconds\n",
                     static_cast<long>(end.tv_sec - start.tv_sec), static_cast<long>(end.tv_usec - start.tv_usec));
        pauseFor(1.0, [] { return monitorStopRequested.load(); });
        if (waitPeriodMs() == 0) {
            // A zero test period must not turn the poll into a busy loop.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

StatusMonitor::StatusMonitor()
{
    reserveBackChannel();
    monitorStopRequested.store(false);
    isPrinterStatusOK.store(false);
    isPrinting.store(false);
    delayTimeCount = 0;
    silenceReported = false;
    pendingCount = 0;
    for (unsigned char& b : status) {
        b = 0;
    }
    thread_ = std::thread(printerStatusProcess);
}

StatusMonitor::~StatusMonitor() { stop(); }

void StatusMonitor::stop()
{
    if (!thread_.joinable()) {
        return;
    }
    monitorStopRequested.store(true);
    notifyWaiters();
    thread_.join();
}
