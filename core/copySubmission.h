// Sending a bit raster to the printer: copy by copy with the printer's
// acknowledgement in between (colour pages), and raster bands for images
// beyond what one raster command carries.
#pragma once

#include <cstddef>
#include <mutex>

#include "imaging/ImageBuffer.h"

class JobContext;

// How a page (or one of its steps) ended.
enum class PageResult {
    Done,       // sent (or nothing to send)
    Abandoned,  // the raster stream ended inside the page; the job goes on
    Failed,     // an error line has been logged; the job ends with status 1
    Cancelled,  // a cancel was requested while waiting
};

// A page's bit raster: `rows` rows of `stride` bytes (witsStep), a set bit a
// printed dot. `bits` points into the job's output buffer or into `storage`.
struct BitRaster {
    const unsigned char* bits = nullptr;
    int stride = 0;
    int rows = 0;
    ScratchBuffer<unsigned char> storage;
};

// Rows one raster command may carry at `rowBytes` bytes per row: at most
// 65,535, and no more than fit an output buffer with their 8-byte header.
int maxRowsPerRasterCommand(int rowBytes);

// Waits until the job's monitor reports the printer ready, then takes the
// printer channel: on Done the caller holds the job's channel through the
// returned lock. There is no deadline (paper may be loaded much later); only a
// cancel ends the wait.
PageResult waitForReadyPrinter(JobContext& job, std::unique_lock<std::mutex>& channel);

// Writes the image data of a raster command already announced to the printer.
// A cancel arriving meanwhile turns the rest into 00 bytes (blank rows): the
// printer still gets exactly the announced bytes, and prints nothing more.
void sendRasterData(JobContext& job, const unsigned char* data, std::size_t length);

// Writes `imageRows` rows of `rowBytes` bytes from `image`, followed by
// `blankRows` rows of 00 bytes, as consecutive raster commands; each command
// announces exactly the rows that follow it. The caller holds the channel.
void sendRasterBands(JobContext& job, const unsigned char* image, int rowBytes, int imageRows, int blankRows);

// Sends `copies` copies of the bit raster, each a self-contained print
// acknowledged by the printer before the next. `pageNumber` names the page in
// messages.
PageResult sendCopies(JobContext& job, int copies, const BitRaster& raster, int pageNumber);
