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

#include "diagnostics/jobLog.h"

namespace {

// The back channel from the printer, as CUPS sets it up for filters.
constexpr int backChannelFd = 3;

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
int waitReadable(int timeoutMs)
{
    for (;;) {
        pollfd p{backChannelFd, POLLIN, 0};
        const int ready = ::poll(&p, 1, timeoutMs);
        if (ready < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return -1;
        }
        if (ready > 0 && (p.revents & POLLNVAL) != 0) {
            return -1;
        }
        return ready > 0 ? 1 : 0;
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
        writeStandardError(first);
    }
    if (second != nullptr) {
        writeStandardError(second);
    }
}

// The monitor's lines for a reply that came: the raw bytes, and for a valid
// one its decoding, the condition lines and the ready count.
void writeMonitorReplyLines(const PrinterConditions& c)
{
    const unsigned char* r = c.reply;
    cupsLog(LogLevel::Debug, "Status Process -- Printer Status: %X %X %X %X %X .", asSignedByte(r[0]),
                 asSignedByte(r[1]), asSignedByte(r[2]), asSignedByte(r[3]), asSignedByte(r[4]));
    if (!c.valid) {
        return;
    }
    const unsigned char tempStatus = c.statusByte;
    cupsLog(LogLevel::Debug, "Status Process -- Printer Status: tempStatus %X.", tempStatus);
    cupsLog(LogLevel::Debug, "Error and Warn -- temp: temp %X.", tempStatus & 0x04);
    cupsLog(LogLevel::Debug, "Error and Warn -- temp&0x4 == 1 : -- %d.", 0);
    unsigned char printerStatus = 0;
    if (c.coverOpen) {
        printerStatus = 1;
        cupsLog(LogLevel::Debug, "Error and Warn -- printerStatus1 -- %X.", 1);
    }
    if (c.paperOut) {
        printerStatus |= 2;
        cupsLog(LogLevel::Debug, "Error and Warn -- printerStatus2 -- %X.", printerStatus);
    }
    if (c.overheating) {
        printerStatus |= 4;
        cupsLog(LogLevel::Debug, "Error and Warn -- PrinterStatus3 -- %X.", printerStatus);
    }
    if (c.skewed) {
        cupsLog(LogLevel::Debug, "Error and Warn -- paperStatus -- %X.", 0);
    }
    cupsLog(LogLevel::Debug, "Status Process -- Printer Status: printerStatus %d .", printerStatus);
    writeConditionLines(printerStatus, c.skewed);
    cupsLog(LogLevel::Debug, "Status Process Error -- delayTimeCount -- %d.", c.readyCount);
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
        writeStandardError(line);
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

void FilterDevice::log(LogLevel level, std::string_view text) { writeCupsLine(level, text); }

void FilterDevice::condition(const PrinterConditions& conditions)
{
    if (conditions.from == PrinterConditions::From::Monitor) {
        if (conditions.count <= 0) {
            if (!silenceReported_) {
                writeCupsLine(LogLevel::Info, "The printer does not answer; waiting for it.");
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

long FilterDevice::read(std::span<unsigned char> buffer, int timeoutMs)
{
    const int ready = waitReadable(timeoutMs);
    if (ready <= 0) {
        return ready;
    }
    // Data (or the end of the channel) is there: libcups reads without waiting.
    const ssize_t count = cupsBackChannelRead(reinterpret_cast<char*>(buffer.data()), buffer.size(), 0.0);
    // At the end of the channel nothing more will come.
    return count > 0 ? static_cast<long>(count) : -1;
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
