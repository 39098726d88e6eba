#include "filter/rastertozorvan.h"

#include <cups/raster.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "filter/Functions.h"
#include "filter/colourPageRoad.h"
#include "filter/copySubmission.h"
#include "filter/filterWait.h"
#include "filter/jobCancel.h"
#include "filter/printerStatusProcess.h"
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

class RasterStream {
public:
    explicit RasterStream(int fd) : raster_(cupsRasterOpen(fd, CUPS_RASTER_READ)) {}
    ~RasterStream()
    {
        if (raster_ != nullptr) {
            cupsRasterClose(raster_);
        }
    }
    RasterStream(const RasterStream&) = delete;
    RasterStream& operator=(const RasterStream&) = delete;
    cups_raster_t* get() const { return raster_; }

private:
    cups_raster_t* raster_;
};

// The page buffer: kept from page to page while it is large enough.
struct PageBuffer {
    ScratchBuffer<unsigned char> data;
    std::int64_t size = 0;

    bool ensure(std::int64_t bytes)
    {
        if (data && size >= bytes) {
            return true;
        }
        data.reset();
        size = 0;
        data = allocateScratch<unsigned char>(bytes, true);
        if (!data) {
            return false;
        }
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
    std::fprintf(stderr, "DEBUG: header cupsWidth -- %d.\n", static_cast<int>(header.cupsWidth));
    std::fprintf(stderr, "DEBUG: header cupsHeight -- %d.\n", static_cast<int>(header.cupsHeight));
    std::fprintf(stderr, "DEBUG: header pageSize[0] -- %d.\n", static_cast<int>(header.PageSize[0]));
    std::fprintf(stderr, "DEBUG: header pageSize[1] -- %d.\n", static_cast<int>(header.PageSize[1]));
    std::fprintf(stderr, "DEBUG: header cupsBitsPerPixel -- %d.\n", static_cast<int>(header.cupsBitsPerPixel));
    std::fprintf(stderr, "DEBUG: header NumCopies -- %d.\n", header.NumCopies);
    std::fprintf(stderr, "DEBUG: header cupsBitsPerColor -- %d.\n", static_cast<int>(header.cupsBitsPerColor));
    std::fprintf(stderr, "DEBUG: header cupsColorOrder -- %d.\n", static_cast<int>(colourOrder(header)));
    std::fprintf(stderr, "DEBUG: header cupsColorSpace -- %d.\n", static_cast<int>(colourSpace(header)));
    std::fprintf(stderr, "DEBUG: header cupsRowCount -- %d.\n", static_cast<int>(header.cupsRowCount));
    std::fprintf(stderr, "DEBUG: header cupsCompression -- %d.\n", static_cast<int>(header.cupsCompression));
}

// Row sizes of a page, computed without overflow.
struct RowSizes {
    std::int64_t tmpWidth = 0;     // 4-byte padded row for the page's depth
    std::int64_t actualWidth = 0;  // stride of the page buffer
};

RowSizes rowSizes(const cups_page_header2_t& header)
{
    RowSizes sizes;
    const std::int64_t width = header.cupsWidth;
    if (header.cupsBitsPerColor == 1) {
        sizes.tmpWidth = (width + 31) / 32 * 4;
    } else if (header.cupsBitsPerColor == 8) {
        sizes.tmpWidth = (width * 24 + 31) / 32 * 4;
    }
    sizes.actualWidth = sizes.tmpWidth > header.cupsBytesPerLine ? sizes.tmpWidth : header.cupsBytesPerLine;
    return sizes;
}

// Checks every size the page will need before anything is allocated or sent.
// Writes the "ERROR: " line and returns false when a size cannot be handled.
bool pageSizesAreSound(const cups_page_header2_t& header, const RowSizes& sizes)
{
    // An 8-bit page is read as three bytes (RGB) or one byte (black) per pixel.
    const unsigned expectedBitsPerPixel = colourSpace(header) == 3 ? 8u : 24u;
    if (header.cupsBitsPerColor == 8 && header.cupsBitsPerPixel != expectedBitsPerPixel) {
        std::fprintf(stderr, "ERROR: Unsupported pixel layout: %u bits per pixel in colour space %u.\n",
                     header.cupsBitsPerPixel, colourSpace(header));
        return false;
    }
    const std::int64_t pageBytes = sizes.actualWidth * static_cast<std::int64_t>(header.cupsHeight);
    if (sizes.actualWidth > INT32_MAX || pageBytes > INT32_MAX) {
        std::fprintf(stderr,
                     "ERROR: Page of %u x %u pixels (%u bytes per line) is too large to print (%lld bytes).\n",
                     header.cupsWidth, header.cupsHeight, header.cupsBytesPerLine, static_cast<long long>(pageBytes));
        return false;
    }
    if (header.cupsBitsPerColor == 8) {
        const std::int64_t witsStep = (static_cast<std::int64_t>(header.cupsWidth) + 31) / 32 * 4;
        const std::int64_t bitRaster = witsStep * (static_cast<std::int64_t>(header.cupsHeight) + 560);
        if (witsStep > maxRasterRowBytes) {
            std::fprintf(stderr,
                         "ERROR: Page width of %u pixels does not fit the printer's raster command (at most %lld bytes "
                         "per row).\n",
                         header.cupsWidth, static_cast<long long>(maxRasterRowBytes));
            return false;
        }
        if (bitRaster > INT32_MAX) {
            std::fprintf(stderr, "ERROR: Page of %u x %u pixels is too large to print.\n", header.cupsWidth,
                         header.cupsHeight);
            return false;
        }
    } else if (header.cupsBitsPerColor == 1 && sizes.actualWidth > maxRasterRowBytes) {
        std::fprintf(stderr,
                     "ERROR: Page rows of %lld bytes do not fit the printer's raster command (at most %lld bytes per "
                     "row).\n",
                     static_cast<long long>(sizes.actualWidth), static_cast<long long>(maxRasterRowBytes));
        return false;
    }
    return true;
}

void writeInitialise()
{
    std::lock_guard<std::mutex> channel(printerChannelMutex);
    std::putchar(0x1B);
    std::putchar(0x40);
    std::fflush(stdout);
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
    std::fflush(stderr);
    std::fputs("INFO:  开始发送数据Gray.\n", stderr);
    if (oneCommand) {
        SendDataToBackEnd(RawData, setUpBytes + 8);
        sendRasterData(RawData + setUpBytes + 8, static_cast<std::size_t>(curPagePos - setUpBytes - 8));
        std::fflush(stdout);
    } else {
        std::fprintf(stderr, "DEBUG: The page of %d rows of %d bytes goes out in bands of at most %d rows.\n",
                     cupsHeight, actualWidth, maxRowsPerRasterCommand(actualWidth));
        SendDataToBackEnd(RawData, setUpBytes);
        sendRasterBands(page, actualWidth, cupsHeight, 0);
    }
    channel.unlock();
    pauseFor(1.0);
    curPagePos = 0;
    return PageResult::Done;
}

// Reads, classifies, trims and prints one accepted page.
PageResult runPage(cups_raster_t* raster, const cups_page_header2_t& header, unsigned char* pageBuffer,
                   int actualWidth, int pageNumber)
{
    const int cupsHeight = static_cast<int>(header.cupsHeight);
    const int bytesPerLine = static_cast<int>(header.cupsBytesPerLine);
    // Gray (black ink) 8-bit rows carry one byte per pixel; they are widened to
    // the three bytes of a true-colour pixel as they are read.
    const bool widenGray = header.cupsBitsPerColor == 8 && colourSpace(header) == 3;
    const int rowBytes = widenGray ? bytesPerLine * 3 : bytesPerLine;
    if (rowBytes > actualWidth) {
        std::fprintf(stderr, "ERROR: Page %d: a line of %d bytes does not fit the page buffer row of %d bytes.\n",
                     pageNumber, rowBytes, actualWidth);
        return PageResult::Failed;
    }

    writeInitialise();

    ScratchBuffer<unsigned char> lineMap = allocateScratch<unsigned char>(cupsHeight);
    ScratchBuffer<unsigned char> grayLine = widenGray ? allocateScratch<unsigned char>(bytesPerLine) : nullptr;
    if (!lineMap || (widenGray && !grayLine)) {
        std::fprintf(stderr, "ERROR: Unable to allocate the line map of page %d.\n", pageNumber);
        return PageResult::Failed;
    }
    std::fprintf(stderr, "DEBUG: y -- %d.\n", 0);
    for (int y = 0; y < cupsHeight; ++y) {
        unsigned char* row = pageBuffer + static_cast<std::int64_t>(y) * actualWidth;
        unsigned char* target = widenGray ? grayLine.get() : row;
        if (cupsRasterReadPixels(raster, target, header.cupsBytesPerLine) == 0) {
            std::fprintf(stderr, "ERROR: The raster stream ended inside page %d (%d of %d lines read); the page was "
                         "not printed.\n", pageNumber, y, cupsHeight);
            return PageResult::Abandoned;
        }
        if (widenGray) {
            for (int x = 0; x < bytesPerLine; ++x) {
                const unsigned char level = static_cast<unsigned char>(255 - grayLine[x]);
                row[3 * x] = level;
                row[3 * x + 1] = level;
                row[3 * x + 2] = level;
            }
        }
        // Bytes past the line's data are never read from the stream; keep them 0.
        std::memset(row + rowBytes, 0, static_cast<std::size_t>(actualWidth - rowBytes));
        const int temp = isNullDataLine(row, rowBytes);
        if (temp < 0) {
            std::fprintf(stderr, "DEBUG: isNullDataLine error. temp -- %d.\n", temp);
            std::fprintf(stderr, "ERROR: Page %d: the blank-line test failed on line %d.\n", pageNumber, y);
            return PageResult::Failed;
        }
        lineMap[y] = static_cast<unsigned char>(temp);
    }

    // Paper saving.
    const int paperSaveMode = GetPaperSaveMode();
    int startLine = 0;
    int endLine = 0;
    std::fprintf(stderr, "DEBUG: 1 startLine -- %d.endLine -- %d.\n", 0, 0);
    int actualHeight = cupsHeight;
    unsigned char* actualRasterDataPtr = pageBuffer;
    ScratchBuffer<unsigned char> trimmed;
    if (paperSaveMode > 0) {
        const int pageHeaderBlank = GetpageHeaderBlank() * 8;
        const int endBlank = GetEndBlank() * 8;
        DataNullLine(lineMap.get(), cupsHeight, &startLine, &endLine, paperSaveMode);
        std::fprintf(stderr, "DEBUG: 2 pageHeaderBlank -- %d.endBlank -- %d.\n", pageHeaderBlank, endBlank);
        std::fprintf(stderr, "DEBUG: 3 startLine -- %d.endLine -- %d.\n", startLine, endLine);
        const int keptTop = pageHeaderBlank <= startLine ? pageHeaderBlank : 0;
        const int keptBottom = endBlank <= endLine ? endBlank : 0;
        int actualStartLine = 0;
        if (startLine > 0 && endLine > 0) {
            actualStartLine = startLine - keptTop;
            const int actualEndLine = endLine - keptBottom;
            actualHeight = cupsHeight - (actualStartLine + actualEndLine) + 1;
            std::fprintf(stderr, "DEBUG: 1 actualHeight -- %d,actualStartLine -- %d, actualEndLine -- %d.\n",
                         actualHeight, actualStartLine, actualEndLine);
        } else if (startLine == 0 && endLine > 0) {
            actualHeight = cupsHeight - (endLine - keptBottom) + 1;
            std::fprintf(stderr, "DEBUG: 2 actualHeight -- %d.\n", actualHeight);
        } else if (startLine > 0 && endLine == 0) {
            actualStartLine = startLine - keptTop;
            actualHeight = cupsHeight - actualStartLine + 1;
            std::fprintf(stderr, "DEBUG: 3 actualHeight -- %d.\n", actualHeight);
        } else if (startLine == 0 && endLine == 0) {
            std::fprintf(stderr, "DEBUG: 4 actualHeight -- %d.\n", actualHeight);
        }
        if (actualHeight > cupsHeight - actualStartLine) {
            actualHeight = cupsHeight - actualStartLine;
        }
        std::fprintf(stderr, "DEBUG: 5 actualHeight -- %d.\n", actualHeight);
        trimmed = allocateScratch<unsigned char>(static_cast<std::int64_t>(actualHeight) * actualWidth);
        if (!trimmed) {
            std::fprintf(stderr, "ERROR: Unable to allocate the trimmed copy of page %d (%d rows of %d bytes).\n",
                         pageNumber, actualHeight, actualWidth);
            return PageResult::Failed;
        }
        std::memcpy(trimmed.get(), pageBuffer + static_cast<std::int64_t>(actualStartLine) * actualWidth,
                    static_cast<std::size_t>(actualHeight) * static_cast<std::size_t>(actualWidth));
        actualRasterDataPtr = trimmed.get();
        std::fputs("DEBUG: Ptr 1 actualRasterDataPtr -- notNullData; notNullData -- NULL .\n", stderr);
    }

    switch (header.cupsBitsPerColor) {
    case 8:
        return colourPageRoad(actualRasterDataPtr, static_cast<int>(header.cupsWidth), actualHeight,
                              header.NumCopies, pageNumber);
    case 1:
        return oneBitRoad(pageBuffer, actualWidth, cupsHeight);
    default:
        std::fprintf(stderr, "ERROR: Page %d has %u bits per colour; only 1 and 8 can be printed.\n", pageNumber,
                     header.cupsBitsPerColor);
        return PageResult::Failed;
    }
}

}  // namespace

int rastertozorvanMain(int argc, char* argv[])
{
    clearCancel();
    resetWaitPeriod();
    resetCopyReplyBuffer();
    // Before the monitor, so that the monitor has stopped by the time the
    // job's last state line is written.
    JobStateReasons stateReasons;
    // The monitor runs from the very start so the printer's condition is
    // known by the time the first page is ready.
    StatusMonitor monitor;
    CancelWatch cancelWatch;

    if (argc != 6 && argc != 7) {
        std::fputs("ERROR: rastertozorvan job-id user title copies options [file]\n", stderr);
        return 1;
    }
    InputDescriptor input;
    if (argc == 7 && !input.open(argv[6])) {
        std::perror("ERROR: Unable to open raster file - ");
        pauseFor(1.0);
        return 1;
    }
    initializeSettings(argv[5]);

    RasterStream raster(input.fd());
    if (raster.get() == nullptr) {
        std::fputs("ERROR: The input is empty or not a CUPS raster stream.\n", stderr);
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
        std::fprintf(stderr, "DEBUG: cupsWidth -- %d.\n", static_cast<int>(header.cupsWidth));
        std::fprintf(stderr, "DEBUG: header cupsBytesPerLine -- %d.\n", static_cast<int>(header.cupsBytesPerLine));
        std::fprintf(stderr, "DEBUG: page tmpWidth -- %lld.\n", static_cast<long long>(sizes.tmpWidth));
        std::fprintf(stderr, "DEBUG: page actualWidth -- %lld.\n", static_cast<long long>(sizes.actualWidth));
        if (header.cupsHeight == 0 || header.cupsBytesPerLine == 0) {
            break;
        }
        if (colourOrder(header) != 0) {
            std::fprintf(stderr, "ERROR: Unsupported colour order %u; only chunky pixels (0) can be printed.\n",
                         colourOrder(header));
            return 1;
        }
        if ((colourSpace(header) & ~2u) != 1) {
            std::fprintf(stderr, "ERROR: Unsupported colour space %u; only RGB (1) and black (3) can be printed.\n",
                         colourSpace(header));
            return 1;
        }
        if (!pageSizesAreSound(header, sizes)) {
            return 1;
        }
        const int actualWidth = static_cast<int>(sizes.actualWidth);
        if (!pageBuffer.ensure(sizes.actualWidth * header.cupsHeight)) {
            std::fprintf(stderr, "ERROR: Unable to allocate the page buffer (%lld bytes).\n",
                         static_cast<long long>(sizes.actualWidth * header.cupsHeight));
            return 1;
        }
        std::fprintf(stderr, "DEBUG: actualWidth -- %d.\n", actualWidth);
        ++pageCount;
        std::fprintf(stderr, "PAGE: %d %d\n", pageCount, header.NumCopies);

        const PageResult result = runPage(raster.get(), header, pageBuffer.data.get(), actualWidth, pageCount);
        curPagePos = 0;
        if (result == PageResult::Failed) {
            monitor.stop();
            return 1;
        }
        if (result == PageResult::Cancelled || isCancelRequested()) {
            break;
        }
    }
    if (isCancelRequested()) {
        // Stopped at a safe point: no command is open at the printer.
        monitor.stop();
        sendCancelSequence();
        cancelWatch.closingDone();
        std::fputs("INFO: Job cancelled.\n", stderr);
        return 0;
    }

    curPagePos = 0;
    SendDataToBackEnd(RawData, 0);
    monitor.stop();
    if (pageCount == 0) {
        std::fputs("ERROR: No pages found!\n", stderr);
        return 1;
    }
    std::fputs("INFO: Ready to print.\n", stderr);
    return 0;
}
