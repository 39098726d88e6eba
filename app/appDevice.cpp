#include "app/appDevice.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "app/appShutdown.h"

namespace {

// PAPPL reads a device with a limit of its own (ten seconds on a socket);
// the core's shorter limits need the connection itself. PAPPL's socket
// device keeps it as the first field of its data; it is used only when it
// is a connected socket.
int deviceSocket(pappl_device_t* device, pappl_printer_t* printer)
{
    const char* uri = papplPrinterGetDeviceURI(printer);
    if (uri == nullptr || std::strncmp(uri, "socket://", 9) != 0) {
        return -1;
    }
    const int* data = static_cast<const int*>(papplDeviceGetData(device));
    if (data == nullptr) {
        return -1;
    }
    struct stat st {};
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    if (::fstat(*data, &st) != 0 || !S_ISSOCK(st.st_mode) ||
        ::getpeername(*data, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) {
        return -1;
    }
    // And it must lead to the printer's port, not to some other connection
    // of this process (should PAPPL ever lay its data out differently).
    const char* colon = std::strrchr(uri + 9, ':');
    const int port = colon != nullptr ? std::atoi(colon + 1) : 9100;
    int peerPort = -1;
    if (peer.ss_family == AF_INET) {
        peerPort = ntohs(reinterpret_cast<const sockaddr_in*>(&peer)->sin_port);
    } else if (peer.ss_family == AF_INET6) {
        peerPort = ntohs(reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_port);
    }
    return peerPort == port ? *data : -1;
}

// The reasons last told per printer. Not read back from PAPPL: its getter
// calls the status callback, which reports here.
std::mutex toldMutex;
std::map<pappl_printer_t*, pappl_preason_t> toldReasons;

}  // namespace

AppDevice::AppDevice(pappl_printer_t* printer, pappl_job_t* job, pappl_device_t* device)
    : printer_(printer), job_(job), device_(device), socket_(deviceSocket(device, printer))
{
}

void AppDevice::write(std::span<const unsigned char> bytes)
{
    if (!bytes.empty()) {
        papplDeviceWrite(device_, bytes.data(), bytes.size());
    }
}

void AppDevice::flush() { papplDeviceFlush(device_); }

long AppDevice::read(std::span<unsigned char> buffer, int timeoutMs)
{
    if (socket_ < 0) {
        // PAPPL's own read waits with a limit of its own: nothing can be read
        // without waiting.
        if (timeoutMs <= 0) {
            return 0;
        }
        const ssize_t count = papplDeviceRead(device_, buffer.data(), buffer.size());
        return count > 0 ? static_cast<long>(count) : 0;
    }
    pollfd p{socket_, POLLIN, 0};
    const int ready = ::poll(&p, 1, timeoutMs);
    if (ready <= 0) {
        return ready < 0 && errno != EINTR ? -1 : 0;
    }
    const ssize_t count = papplDeviceRead(device_, buffer.data(), buffer.size());
    // Readable with nothing to read: the printer closed the connection.
    return count > 0 ? static_cast<long>(count) : -1;
}

bool AppDevice::cancelled() { return serverStopping() || (job_ != nullptr && papplJobIsCanceled(job_)); }

void AppDevice::log(LogLevel level, std::string_view text)
{
    static constexpr pappl_loglevel_t levels[] = {PAPPL_LOGLEVEL_DEBUG, PAPPL_LOGLEVEL_INFO, PAPPL_LOGLEVEL_ERROR};
    const pappl_loglevel_t papplLevel = levels[static_cast<int>(level)];
    // A text may carry more than one line.
    std::string trimmed(text);
    while (!trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == '\r')) {
        trimmed.pop_back();
    }
    if (level == LogLevel::Error) {
        lastError_ = trimmed;
    }
    if (job_ != nullptr) {
        papplLogJob(job_, papplLevel, "%s", trimmed.c_str());
        if (level == LogLevel::Error) {
            papplJobSetMessage(job_, "%s", trimmed.c_str());
        }
    } else {
        papplLogPrinter(printer_, papplLevel, "%s", trimmed.c_str());
    }
}

void AppDevice::condition(const PrinterConditions& conditions) { reportConditions(printer_, job_, conditions); }

void reportConditions(pappl_printer_t* printer, pappl_job_t* job, const PrinterConditions& c)
{
    constexpr pappl_preason_t owned =
        PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_COVER_OPEN | PAPPL_PREASON_OFFLINE | PAPPL_PREASON_OTHER;
    pappl_preason_t present = PAPPL_PREASON_NONE;
    const char* why = nullptr;
    if (c.count <= 0) {
        if (c.from == PrinterConditions::From::Copy) {
            return;  // a copy's acknowledgement still to come says nothing yet
        }
        present = PAPPL_PREASON_OFFLINE;
        why = "The printer does not answer; check that it is on and connected.";
    } else if (c.valid && c.count >= 4) {
        present |= c.paperOut ? PAPPL_PREASON_MEDIA_EMPTY : 0;
        present |= c.coverOpen ? PAPPL_PREASON_COVER_OPEN : 0;
        present |= (c.overheating || c.skewed) ? PAPPL_PREASON_OTHER : 0;
        if (c.overheating) {
            why = "The print head is too hot; printing resumes once it has cooled down.";
        } else if (c.skewed) {
            why = "The paper is skewed; straighten the roll.";
        } else if (c.paperOut) {
            why = "The printer is out of paper.";
        } else if (c.coverOpen) {
            why = "The printer cover is open.";
        }
    } else {
        return;  // a reply that does not carry a status byte
    }
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(toldMutex);
        auto told = toldReasons.find(printer);
        changed = told == toldReasons.end() || told->second != present;
        toldReasons[printer] = present;
    }
    if (changed) {
        papplPrinterSetReasons(printer, present, owned & ~present);
        // PAPPL 1.3 has no printer-state-message of the app's own: the log and
        // the waiting job's message say which condition 'other' stands for.
        if (why != nullptr) {
            papplLogPrinter(printer, PAPPL_LOGLEVEL_WARN, "%s", why);
        }
        pappl_supply_t roll{};
        roll.color = PAPPL_SUPPLY_COLOR_NO_COLOR;
        std::strncpy(roll.description, "Paper roll", sizeof roll.description - 1);
        roll.is_consumed = true;
        roll.level = c.count > 0 ? (c.paperOut ? 0 : 100) : -1;
        roll.type = PAPPL_SUPPLY_TYPE_OTHER;
        papplPrinterSetSupplies(printer, 1, &roll);
    }
    if (job != nullptr) {
        if (why != nullptr) {
            papplJobSetMessage(job, "%s", why);
        } else if (changed) {
            papplJobSetMessage(job, "Printing.");
        }
    }
}
