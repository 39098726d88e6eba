#include "filter/rastertozorvan.h"
#include "zorvanVersion.h"

#include <cups/raster.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/Functions.h"
#include "core/printingCore.h"
#include "core/singleJob.h"
#include "diagnostics/jobLog.h"
#include "filter/filterDevice.h"
#include "filter/jobCancel.h"
#include "filter/settingsThermalSensitivityPara.h"
#include "imaging/ImageBuffer.h"

namespace {

// The raster input: standard input (never closed here) or the named file.
class InputDescriptor {
public:
    InputDescriptor() = default;
    ~InputDescriptor()
    {
        if (fd_ > 0) {
            ::close(fd_);
        }
    }
    InputDescriptor(const InputDescriptor&) = delete;
    InputDescriptor& operator=(const InputDescriptor&) = delete;
    bool open(const char* path)
    {
        fd_ = ::open(path, O_RDONLY);
        // A directory opens read-only but reads nothing: say so instead of
        // finding no pages in it.
        struct stat st {};
        if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd_);
            fd_ = -1;
            errno = EISDIR;
        }
        return fd_ >= 0;
    }
    int fd() const { return fd_ < 0 ? 0 : fd_; }

private:
    int fd_ = 0;
};

// The raster stream, read through libcups from the input descriptor. The
// reads go through this class (as libcups's own descriptor reads would) so
// that it learns the stream's encoding from its first four bytes, the sync
// word: libcups decodes a compressed row straight into the caller's row
// only when it is asked for one row at a time, while an uncompressed stream
// is read fastest a band of rows per call.
class RasterStream {
public:
    explicit RasterStream(int fd) : fd_(fd), raster_(cupsRasterOpenIO(readInput, this, CUPS_RASTER_READ)) {}
    ~RasterStream()
    {
        if (raster_ != nullptr) {
            cupsRasterClose(raster_);
        }
    }
    RasterStream(const RasterStream&) = delete;
    RasterStream& operator=(const RasterStream&) = delete;
    cups_raster_t* get() const { return raster_; }
    // Version 2 ("RaS2", in either byte order) is the compressed encoding.
    bool compressed() const
    {
        return syncBytes_ == 4 && (sync_[0] == '2' || sync_[3] == '2');
    }

private:
    static ssize_t readInput(void* context, unsigned char* buffer, size_t bytes)
    {
        auto* self = static_cast<RasterStream*>(context);
        ssize_t count;
        while ((count = ::read(self->fd_, buffer, bytes)) < 0) {
            if (errno != EINTR && errno != EAGAIN) {
                return -1;
            }
        }
        for (ssize_t i = 0; i < count && self->syncBytes_ < 4; ++i) {
            self->sync_[self->syncBytes_++] = buffer[i];
        }
        return count;
    }

    int fd_;
    unsigned char sync_[4] = {};
    int syncBytes_ = 0;
    cups_raster_t* raster_;
};

// The page buffer: kept from page to page while it is large enough. Every
// row is written before it is read, so it needs no clearing; a page-sized
// buffer is mapped on huge pages where the system has them (ImageBuffer.h).
struct PageBuffer {
    ScratchBuffer<unsigned char> buffer;
    unsigned char* data = nullptr;
    std::int64_t size = 0;

    bool ensure(std::int64_t bytes)
    {
        if (data != nullptr && size >= bytes) {
            return true;
        }
        buffer.reset();
        data = nullptr;
        size = 0;
        if (bytes <= 0 || static_cast<std::uint64_t>(bytes) > SIZE_MAX) {
            return false;
        }
        buffer = allocateScratch<unsigned char>(bytes);
        if (!buffer) {
            return false;
        }
        data = buffer.get();
        size = bytes;
        return true;
    }
};

// The largest raster row, in bytes, that the raster command's 16-bit width
// field can carry.
constexpr std::int64_t maxRasterRowBytes = 65535;

// The colour order and colour space of a header may carry any 32-bit value;
// read them as numbers, not through the enum types libcups declares them with.
template <class Enum>
unsigned headerNumber(const Enum& field)
{
    static_assert(sizeof(Enum) == sizeof(unsigned));
    unsigned value = 0;
    std::memcpy(&value, &field, sizeof value);
    return value;
}

unsigned colourOrder(const cups_page_header2_t& header) { return headerNumber(header.cupsColorOrder); }
unsigned colourSpace(const cups_page_header2_t& header) { return headerNumber(header.cupsColorSpace); }

void logHeader(const cups_page_header2_t& header)
{
    cupsLog(LogLevel::Debug, "header cupsWidth -- %d.", static_cast<int>(header.cupsWidth));
    cupsLog(LogLevel::Debug, "header cupsHeight -- %d.", static_cast<int>(header.cupsHeight));
    cupsLog(LogLevel::Debug, "header pageSize[0] -- %d.", static_cast<int>(header.PageSize[0]));
    cupsLog(LogLevel::Debug, "header pageSize[1] -- %d.", static_cast<int>(header.PageSize[1]));
    cupsLog(LogLevel::Debug, "header cupsBitsPerPixel -- %d.", static_cast<int>(header.cupsBitsPerPixel));
    cupsLog(LogLevel::Debug, "header NumCopies -- %d.", header.NumCopies);
    cupsLog(LogLevel::Debug, "header cupsBitsPerColor -- %d.", static_cast<int>(header.cupsBitsPerColor));
    cupsLog(LogLevel::Debug, "header cupsColorOrder -- %d.", static_cast<int>(colourOrder(header)));
    cupsLog(LogLevel::Debug, "header cupsColorSpace -- %d.", static_cast<int>(colourSpace(header)));
    cupsLog(LogLevel::Debug, "header cupsRowCount -- %d.", static_cast<int>(header.cupsRowCount));
    cupsLog(LogLevel::Debug, "header cupsCompression -- %d.", static_cast<int>(header.cupsCompression));
}

struct RowSizes {
    std::int64_t tmpWidth = 0;     // 4-byte padded row for the page's depth
    std::int64_t actualWidth = 0;  // stride of the page buffer
};

RowSizes rowSizes(const cups_page_header2_t& header)
{
    const PageRowSizes sizes = pageRowSizes(header.cupsWidth, header.cupsBitsPerColor, header.cupsBytesPerLine);
    return {sizes.tmpWidth, sizes.actualWidth};
}

// Checks every size the page will need before anything is allocated or sent.
// Writes the "ERROR: " line and returns false when a size cannot be handled.
bool pageSizesAreSound(const cups_page_header2_t& header, const RowSizes& sizes)
{
    // An 8-bit page is read as three bytes (RGB) or one byte (black) per pixel.
    const unsigned expectedBitsPerPixel = colourSpace(header) == 3 ? 8u : 24u;
    if (header.cupsBitsPerColor == 8 && header.cupsBitsPerPixel != expectedBitsPerPixel) {
        cupsLog(LogLevel::Error, "Unsupported pixel layout: %u bits per pixel in colour space %u.",
                     header.cupsBitsPerPixel, colourSpace(header));
        return false;
    }
    const std::int64_t pageBytes = sizes.actualWidth * static_cast<std::int64_t>(header.cupsHeight);
    if (sizes.actualWidth > INT32_MAX || pageBytes > INT32_MAX) {
        cupsLog(LogLevel::Error, "Page of %u x %u pixels (%u bytes per line) is too large to print (%lld bytes).",
                     header.cupsWidth, header.cupsHeight, header.cupsBytesPerLine, static_cast<long long>(pageBytes));
        return false;
    }
    if (header.cupsBitsPerColor == 8) {
        const std::int64_t witsStep = (static_cast<std::int64_t>(header.cupsWidth) + 31) / 32 * 4;
        const std::int64_t bitRaster = witsStep * (static_cast<std::int64_t>(header.cupsHeight) + 560);
        if (witsStep > maxRasterRowBytes) {
            cupsLog(LogLevel::Error, "Page width of %u pixels does not fit the printer's raster command (at most %lld bytes "
                         "per row).",
                         header.cupsWidth, static_cast<long long>(maxRasterRowBytes));
            return false;
        }
        if (bitRaster > INT32_MAX) {
            cupsLog(LogLevel::Error, "Page of %u x %u pixels is too large to print.", header.cupsWidth,
                         header.cupsHeight);
            return false;
        }
    } else if (header.cupsBitsPerColor == 1 && sizes.actualWidth > maxRasterRowBytes) {
        cupsLog(LogLevel::Error, "Page rows of %lld bytes do not fit the printer's raster command (at most %lld bytes per "
                     "row).",
                     static_cast<long long>(sizes.actualWidth), static_cast<long long>(maxRasterRowBytes));
        return false;
    }
    return true;
}

}  // namespace

int rastertozorvanMain(int argc, char* argv[])
{
    FilterDevice device;
    return rastertozorvanMain(argc, argv, device);
}

int rastertozorvanMain(int argc, char* argv[], PrinterDevice& device)
{
    writeCupsLine(LogLevel::Debug, "rastertozorvan " ZORVAN_VERSION);
    clearCancel();
    resetWaitPeriod();
    // Before the session's monitor, so that the monitor has stopped by the
    // time the job's last state line is written.
    JobStateReasons stateReasons;
    // The session's monitor runs from the very start so the printer's
    // condition is known by the time the first page is ready.
    PrintSession session(singleJob(), device);
    CancelWatch cancelWatch;

    if (argc != 6 && argc != 7) {
        writeCupsLine(LogLevel::Error, "rastertozorvan job-id user title copies options [file]");
        return 1;
    }
    InputDescriptor input;
    if (argc == 7 && !input.open(argv[6])) {
        std::perror("ERROR: Unable to open raster file - ");
        pauseFor(1.0);
        return 1;
    }
    initializeSettings(argv[5]);
    session.useSettings(settingsThermalSensitivity);

    RasterStream raster(input.fd());
    if (raster.get() == nullptr) {
        writeCupsLine(LogLevel::Error, "The input is empty or not a CUPS raster stream.");
    }
    curPagePos = 0;
    PageBuffer pageBuffer;
    int pageCount = 0;
    cups_page_header2_t header;
    std::memset(&header, 0, sizeof header);

    while (raster.get() != nullptr && cupsRasterReadHeader2(raster.get(), &header) != 0) {
        logHeader(header);
        curPagePos = 0;
        const RowSizes sizes = rowSizes(header);
        cupsLog(LogLevel::Debug, "cupsWidth -- %d.", static_cast<int>(header.cupsWidth));
        cupsLog(LogLevel::Debug, "header cupsBytesPerLine -- %d.", static_cast<int>(header.cupsBytesPerLine));
        cupsLog(LogLevel::Debug, "page tmpWidth -- %lld.", static_cast<long long>(sizes.tmpWidth));
        cupsLog(LogLevel::Debug, "page actualWidth -- %lld.", static_cast<long long>(sizes.actualWidth));
        if (header.cupsHeight == 0 || header.cupsBytesPerLine == 0) {
            break;
        }
        if (colourOrder(header) != 0) {
            cupsLog(LogLevel::Error, "Unsupported colour order %u; only chunky pixels (0) can be printed.",
                         colourOrder(header));
            return 1;
        }
        if ((colourSpace(header) & ~2u) != 1) {
            cupsLog(LogLevel::Error, "Unsupported colour space %u; only RGB (1) and black (3) can be printed.",
                         colourSpace(header));
            return 1;
        }
        if (!pageSizesAreSound(header, sizes)) {
            return 1;
        }
        const int actualWidth = static_cast<int>(sizes.actualWidth);
        if (!pageBuffer.ensure(sizes.actualWidth * header.cupsHeight)) {
            cupsLog(LogLevel::Error, "Unable to allocate the page buffer (%lld bytes).",
                         static_cast<long long>(sizes.actualWidth * header.cupsHeight));
            return 1;
        }
        cupsLog(LogLevel::Debug, "actualWidth -- %d.", actualWidth);
        ++pageCount;
        char pageLine[64];
        std::snprintf(pageLine, sizeof pageLine, "PAGE: %d %d\n", pageCount, header.NumCopies);
        writeStandardError(pageLine);

        PageFormat page;
        page.width = static_cast<int>(header.cupsWidth);
        page.height = static_cast<int>(header.cupsHeight);
        page.bitsPerColor = static_cast<int>(header.cupsBitsPerColor);
        page.bytesPerLine = static_cast<int>(header.cupsBytesPerLine);
        page.gray = colourSpace(header) == 3;
        page.copies = header.NumCopies;
        page.actualWidth = actualWidth;
        page.pageNumber = pageCount;
        // An uncompressed stream is read a band of rows per call, one read()
        // per band instead of one per row; a compressed one a row per call,
        // which libcups decodes straight into the page buffer.
        const RowReader readRow = [&raster](unsigned char* row, unsigned bytes) {
            return cupsRasterReadPixels(raster.get(), row, bytes) != 0;
        };
        const BandReader readRows = [&raster](unsigned char* data, unsigned rows, unsigned bytes) {
            return cupsRasterReadPixels(raster.get(), data, rows * bytes) != 0;
        };
        const PageResult result = raster.compressed() ? session.printPage(page, readRow, pageBuffer.data)
                                                      : session.printPage(page, readRows, pageBuffer.data);
        curPagePos = 0;
        if (result == PageResult::Failed) {
            session.stopMonitor();
            return 1;
        }
        if (result == PageResult::Cancelled || isCancelRequested()) {
            break;
        }
    }
    // The raster stream has ended: the job's last page is out. A cut chosen
    // for the end of the job goes now.
    if (pageCount > 0 && !isCancelRequested() && session.endJob() == PageResult::Cancelled) {
        requestCancel();
    }
    if (isCancelRequested()) {
        // Stopped at a safe point: no command is open at the printer.
        session.sendCancelSequence();
        cancelWatch.closingDone();
        writeCupsLine(LogLevel::Info, "Job cancelled.");
        return 0;
    }

    curPagePos = 0;
    SendDataToBackEnd(RawData, 0);
    session.stopMonitor();
    if (pageCount == 0) {
        writeCupsLine(LogLevel::Error, "No pages found!");
        return 1;
    }
    writeCupsLine(LogLevel::Info, "Ready to print.");
    return 0;
}
