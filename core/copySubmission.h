// Sending a bit raster to the printer: copy by copy with the printer's
// acknowledgement in between (colour pages), and raster bands for images
// beyond the raster command's 16-bit row count or the output buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

// How a page (or one of its steps) ended.
enum class PageResult {
    Done,       // sent (or nothing to send)
    Abandoned,  // the raster stream ended inside the page; the job goes on
    Failed,     // an "ERROR: " line has been written; the job ends with status 1
    Cancelled,  // a cancel was requested while waiting
};

// Rows one raster command may carry at `rowBytes` bytes per row: at most
// 65,535, and no more than fit the output buffer with their 8-byte header.
int maxRowsPerRasterCommand(int rowBytes);

// Waits until the status monitor reports the printer ready, then takes the
// printer channel: on Done the caller holds `printerChannelMutex` through the
// returned lock. There is no deadline (paper may be loaded much later); only a
// cancel ends the wait.
PageResult waitForReadyPrinter(std::unique_lock<std::mutex>& channel);

// Writes the image data of a raster command already announced to the printer.
// A cancel arriving meanwhile turns the rest into 00 bytes (blank rows): the
// printer still gets exactly the announced bytes, and prints nothing more.
void sendRasterData(const unsigned char* data, std::size_t length);

// Writes `imageRows` rows of `rowBytes` bytes from `image`, followed by
// `blankRows` rows of 00 bytes, as consecutive raster commands staged in the
// output buffer; each command announces exactly the rows that follow it.
// Leaves curPagePos at 0. The caller holds the printer channel.
void sendRasterBands(const unsigned char* image, int rowBytes, int imageRows, int blankRows);

// Zeroes the copies' reply buffer; done once when a job starts.
void resetCopyReplyBuffer();

// Sends `copies` copies of a bit raster of `rows` rows of `witsStep` bytes,
// each a self-contained print acknowledged by the printer before the next.
// `pageNumber` names the page in messages.
PageResult sendCopies(int copies, const unsigned char* bits, int witsStep, int rows, int pageNumber);
