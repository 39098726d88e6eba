#include "filter/filterDevice.h"

#include <cups/sidechannel.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "core/filterWait.h"

long (*testPrinterReply)(unsigned char* buffer, std::size_t length) = nullptr;

namespace {

// The back channel from the printer, as CUPS sets it up for filters.
constexpr int backChannelFd = 3;

// The job's log is a pipe shared with this filter's other thread and the
// job's other programs: a line goes out in one write, so that no other
// line lands inside it.
void writeLogText(const char* text)
{
    std::size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, text, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        text += written;
        left -= static_cast<std::size_t>(written);
    }
}

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

// The monitor's lines for a reply that came: the raw bytes, and for a valid
// one its decoding, the condition lines and the ready count.
void writeMonitorReplyLines(const PrinterConditions& c)
{
    const unsigned char* r = c.reply;
    std::fprintf(stderr, "DEBUG: Status Process -- Printer Status: %X %X %X %X %X .\n", asSignedByte(r[0]),
                 asSignedByte(r[1]), asSignedByte(r[2]), asSignedByte(r[3]), asSignedByte(r[4]));
    if (!c.valid) {
        return;
    }
    const unsigned char tempStatus = c.statusByte;
    std::fprintf(stderr, "DEBUG: Status Process -- Printer Status: tempStatus %X.\n", tempStatus);
    std::fprintf(stderr, "DEBUG: Error and Warn -- temp: temp %X.\n", tempStatus & 0x04);
    std::fprintf(stderr, "DEBUG: Error and Warn -- temp&0x4 == 1 : -- %d.\n", 0);
    unsigned char printerStatus = 0;
    if (c.coverOpen) {
        printerStatus = 1;
        std::fprintf(stderr, "DEBUG: Error and Warn -- printerStatus1 -- %X.\n", 1);
    }
    if (c.paperOut) {
        printerStatus |= 2;
        std::fprintf(stderr, "DEBUG: Error and Warn -- printerStatus2 -- %X.\n", printerStatus);
    }
    if (c.overheating) {
        printerStatus |= 4;
        std::fprintf(stderr, "DEBUG: Error and Warn -- PrinterStatus3 -- %X.\n", printerStatus);
    }
    if (c.skewed) {
        std::fprintf(stderr, "DEBUG: Error and Warn -- paperStatus -- %X.\n", 0);
    }
    std::fprintf(stderr, "DEBUG: Status Process -- Printer Status: printerStatus %d .\n", printerStatus);
    writeConditionLines(printerStatus, c.skewed);
    std::fprintf(stderr, "DEBUG: Status Process Error -- delayTimeCount -- %d.\n", c.readyCount);
}

// One bit per keyword the filter owns; the three errors use the bits of
// the error code.
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

// A reply came from the printer: clears "no answer" and, when the reply is
// valid and carries a status byte, reports the printer's conditions.
void reportPrinterReply(const PrinterConditions& c)
{
    if (c.count <= 0) {
        return;
    }
    tellReasons(0, reasonNoAnswer);
    if (c.valid && c.count >= 4) {
        tellReasons(c.errorCode() | (c.skewed ? reasonSkewed : 0), printerConditions);
    }
}

}  // namespace

FilterDevice::FilterDevice() { reserveBackChannel(); }

void FilterDevice::write(std::span<const unsigned char> bytes)
{
    if (!bytes.empty()) {
        std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    }
}

void FilterDevice::flush() { std::fflush(stdout); }

bool FilterDevice::cancelled() { return isCancelRequested(); }

void FilterDevice::message(const char* line) { writeLogText(line); }

void FilterDevice::condition(const PrinterConditions& conditions)
{
    if (conditions.from == PrinterConditions::From::Monitor) {
        if (conditions.count <= 0) {
            if (!silenceReported_) {
                std::fputs("INFO: The printer does not answer; waiting for it.\n", stderr);
                silenceReported_ = true;
            }
            tellReasons(reasonNoAnswer, reasonNoAnswer);
            return;
        }
        silenceReported_ = false;
        writeMonitorReplyLines(conditions);
    }
    reportPrinterReply(conditions);
}

void FilterDevice::dropPending(std::size_t count)
{
    std::memmove(pendingReply_, pendingReply_ + count, pendingCount_ - count);
    pendingCount_ -= count;
}

// Lines the pending bytes up on a reply: bytes before the 10 04 04 leader are
// stray and dropped. A 10 with another leader stays in front (a reply with a
// wrong leader, which the callers log as such).
void FilterDevice::resynchronise()
{
    std::size_t start = 0;
    while (start < pendingCount_) {
        if (pendingReply_[start] == 0x10) {
            const bool leader = (start + 1 >= pendingCount_ || pendingReply_[start + 1] == 0x04) &&
                                (start + 2 >= pendingCount_ || pendingReply_[start + 2] == 0x04);
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
    if (pendingCount_ >= 3 && !(pendingReply_[1] == 0x04 && pendingReply_[2] == 0x04)) {
        for (std::size_t i = 1; i + 2 < pendingCount_ && i < 5; ++i) {
            if (pendingReply_[i] == 0x10 && pendingReply_[i + 1] == 0x04 && pendingReply_[i + 2] == 0x04) {
                std::fprintf(stderr, "DEBUG: Discarded %zu stray reply bytes.\n", i);
                dropPending(i);
                break;
            }
        }
    }
}

long FilterDevice::readReply(unsigned char* buffer, std::size_t length, double periods)
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
        if (pendingCount_ >= length) {
            std::memcpy(buffer, pendingReply_, length);
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
        ssize_t count = cupsBackChannelRead(reinterpret_cast<char*>(pendingReply_ + pendingCount_),
                                            sizeof pendingReply_ - pendingCount_, 0.0);
        if (count <= 0) {
            return 0;  // the end of the channel: nothing more will come
        }
        pendingCount_ += static_cast<std::size_t>(count);
    }
}

long FilterDevice::drain()
{
    if (testPrinterReply != nullptr) {
        return 0;
    }
    long total = static_cast<long>(pendingCount_);
    pendingCount_ = 0;
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
