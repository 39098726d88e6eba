#include "tools/zorvan-app/appJob.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "core/filterWait.h"
#include "core/printingCore.h"
#include "tools/zorvan-app/appDevice.h"
#include "tools/zorvan-app/appDrivers.h"
#include "tools/zorvan-app/appSettings.h"

namespace {

// A page as PAPPL hands it over.
struct PageInHand {
    unsigned width = 0;
    unsigned height = 0;
    unsigned channels = 1;      // 1 (gray or black) or 3 (RGB)
    bool inkBytes = false;      // one channel: 255 is black (device black) instead of white
    unsigned bytesPerLine = 0;  // as PAPPL writes the rows
    std::vector<unsigned char> rows;
    unsigned rowsWritten = 0;
    int pageNumber = 0;
};

// What a printer's running job holds: its device, its printing-core session
// (one per job, as in the filter: the printer's readiness is awaited once,
// not before every page) and the page being received.
struct JobInHand {
    AppDevice device;
    PrintSession session;
    PageInHand page;

    JobInHand(pappl_printer_t* printer, pappl_job_t* job, pappl_device_t* output)
        : device(printer, job, output), session(device)
    {
    }
};

// The printers' running jobs. A session holds the core's one lock, so it is
// made and ended outside jobsMutex: a job waiting for another printer's job
// to end must not stop that job from reaching its pages.
std::mutex jobsMutex;
std::map<pappl_printer_t*, std::unique_ptr<JobInHand>> jobs;

JobInHand* jobOf(pappl_job_t* job)
{
    std::lock_guard<std::mutex> lock(jobsMutex);
    auto found = jobs.find(papplJobGetPrinter(job));
    return found == jobs.end() ? nullptr : found->second.get();
}

std::unique_ptr<JobInHand> takeJob(pappl_printer_t* printer)
{
    std::lock_guard<std::mutex> lock(jobsMutex);
    auto found = jobs.find(printer);
    if (found == jobs.end()) {
        return nullptr;
    }
    std::unique_ptr<JobInHand> taken = std::move(found->second);
    jobs.erase(found);
    return taken;
}

PageInHand* pageOf(pappl_job_t* job)
{
    JobInHand* running = jobOf(job);
    return running == nullptr ? nullptr : &running->page;
}

// A page is at most this large in memory (a 3 m receipt in colour is 10 MB).
constexpr std::uint64_t maxPageBytes = 256ull << 20;

// Scales a page wider than the head down to the head's width, keeping its
// proportions: each new pixel is the mean of the pixels it covers.
void fitToHead(PageInHand& page, unsigned headDots)
{
    if (page.width <= headDots) {
        return;
    }
    const unsigned newWidth = headDots;
    const unsigned newHeight =
        std::max<unsigned>(1, static_cast<unsigned>(static_cast<std::uint64_t>(page.height) * headDots / page.width));
    const unsigned newBytesPerLine = newWidth * page.channels;
    std::vector<unsigned char> scaled(static_cast<std::size_t>(newBytesPerLine) * newHeight);
    for (unsigned y = 0; y < newHeight; ++y) {
        const unsigned y0 = static_cast<unsigned>(static_cast<std::uint64_t>(y) * page.height / newHeight);
        const unsigned y1 = std::max(y0 + 1, static_cast<unsigned>(static_cast<std::uint64_t>(y + 1) * page.height / newHeight));
        for (unsigned x = 0; x < newWidth; ++x) {
            const unsigned x0 = static_cast<unsigned>(static_cast<std::uint64_t>(x) * page.width / newWidth);
            const unsigned x1 = std::max(x0 + 1, static_cast<unsigned>(static_cast<std::uint64_t>(x + 1) * page.width / newWidth));
            for (unsigned c = 0; c < page.channels; ++c) {
                std::uint64_t sum = 0;
                for (unsigned sy = y0; sy < y1; ++sy) {
                    const unsigned char* row = page.rows.data() + static_cast<std::size_t>(sy) * page.bytesPerLine;
                    for (unsigned sx = x0; sx < x1; ++sx) {
                        sum += row[sx * page.channels + c];
                    }
                }
                scaled[static_cast<std::size_t>(y) * newBytesPerLine + x * page.channels + c] =
                    static_cast<unsigned char>(sum / ((y1 - y0) * (x1 - x0)));
            }
        }
    }
    page.rows = std::move(scaled);
    page.width = newWidth;
    page.height = newHeight;
    page.bytesPerLine = newBytesPerLine;
    page.rowsWritten = newHeight;
}

}  // namespace

bool appStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device)
{
    pappl_printer_t* printer = papplJobGetPrinter(job);
    // A job PAPPL ended without its end callback would still hold the lock.
    takeJob(printer).reset();
    auto running = std::make_unique<JobInHand>(printer, job, device);
    running->session.useSettings(jobSettings(*options, printer));
    std::lock_guard<std::mutex> lock(jobsMutex);
    jobs[printer] = std::move(running);
    return true;
}

bool appStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned page)
{
    PageInHand* current = pageOf(job);
    if (current == nullptr) {
        return false;
    }
    const auto& h = options->header;
    const unsigned space = h.cupsColorSpace;
    const bool rgb = space == CUPS_CSPACE_RGB || space == CUPS_CSPACE_SRGB || space == CUPS_CSPACE_ADOBERGB;
    const bool gray = space == CUPS_CSPACE_W || space == CUPS_CSPACE_SW || space == CUPS_CSPACE_K;
    if (h.cupsBitsPerColor != 8 || !(rgb || gray) || h.cupsBitsPerPixel != (rgb ? 24u : 8u)) {
        papplJobSetMessage(job, "Unsupported raster: %u bits per colour, %u bits per pixel, colour space %u; "
                                "8-bit gray or RGB can be printed.",
                           h.cupsBitsPerColor, h.cupsBitsPerPixel, space);
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", papplJobGetMessage(job));
        return false;
    }
    const std::uint64_t bytes = static_cast<std::uint64_t>(h.cupsBytesPerLine) * h.cupsHeight;
    if (h.cupsWidth == 0 || h.cupsHeight == 0 || h.cupsBytesPerLine < h.cupsWidth * (rgb ? 3 : 1) ||
        bytes > maxPageBytes) {
        papplJobSetMessage(job, "Page %u of %u x %u pixels (%u bytes per line) is too large or empty.", page,
                           h.cupsWidth, h.cupsHeight, h.cupsBytesPerLine);
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", papplJobGetMessage(job));
        return false;
    }
    current->width = h.cupsWidth;
    current->height = h.cupsHeight;
    current->channels = rgb ? 3 : 1;
    current->inkBytes = space == CUPS_CSPACE_K;
    current->bytesPerLine = h.cupsWidth * current->channels;
    current->rows.assign(static_cast<std::size_t>(current->bytesPerLine) * h.cupsHeight, 0);
    current->rowsWritten = 0;
    current->pageNumber = std::max(1, static_cast<int>(page));  // PAPPL counts from 1
    return true;
}

bool appWriteLine(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned y, const unsigned char* line)
{
    PageInHand* current = pageOf(job);
    if (current == nullptr || y >= current->height) {
        return false;
    }
    std::memcpy(current->rows.data() + static_cast<std::size_t>(y) * current->bytesPerLine, line,
                current->bytesPerLine);
    current->rowsWritten = std::max(current->rowsWritten, y + 1);
    return true;
}

bool appEndPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned)
{
    JobInHand* running = jobOf(job);
    if (running == nullptr) {
        return false;
    }
    PageInHand* current = &running->page;
    if (current->rowsWritten < current->height) {
        papplJobSetMessage(job, "The document ended inside page %d (%u of %u lines); the page was not printed.",
                           current->pageNumber, current->rowsWritten, current->height);
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", papplJobGetMessage(job));
        return false;
    }
    pappl_printer_t* printer = papplJobGetPrinter(job);
    fitToHead(*current, static_cast<unsigned>(printerModel(printer).headDots));

    // The core's page as the filter describes a raster page: one byte per
    // pixel for gray (ink for device black, light for sGray), three bytes of
    // light for RGB.
    PageFormat page;
    page.width = static_cast<int>(current->width);
    page.height = static_cast<int>(current->height);
    page.bitsPerColor = 8;
    page.bytesPerLine = static_cast<int>(current->bytesPerLine);
    page.gray = current->channels == 1;
    page.grayLight = page.gray && !current->inkBytes;
    page.copies = 1;  // PAPPL repeats the pages of each copy
    page.actualWidth = static_cast<int>(pageRowSizes(current->width, 8, current->bytesPerLine).actualWidth);
    page.pageNumber = current->pageNumber;
    std::vector<unsigned char> pageBuffer(static_cast<std::size_t>(page.actualWidth) * current->height);

    unsigned next = 0;
    const RowReader readRow = [current, &next](unsigned char* row, unsigned bytes) {
        if (next >= current->height || bytes != current->bytesPerLine) {
            return false;
        }
        std::memcpy(row, current->rows.data() + static_cast<std::size_t>(next++) * bytes, bytes);
        return true;
    };

    PrintSession& session = running->session;
    const PageResult result = session.printPage(page, readRow, pageBuffer.data());
    switch (result) {
    case PageResult::Done:
        return true;
    case PageResult::Cancelled:
        session.sendCancelSequence();
        papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Job cancelled.");
        return true;
    case PageResult::Abandoned:
    case PageResult::Failed:
        break;
    }
    papplJobSetMessage(job, "%s",
                       running->device.lastError().empty() ? "The page could not be printed."
                                                           : running->device.lastError().c_str());
    return false;
}

bool appEndJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*)
{
    takeJob(papplJobGetPrinter(job)).reset();
    return true;
}
