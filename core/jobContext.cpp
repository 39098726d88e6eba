#include "core/jobContext.h"

#include <cstdio>

#include "core/jobWaits.h"

namespace {

// Without a session: bytes to standard output, lines to standard error in the
// CUPS form, no replies (a tool that builds a page without a printer).
class StandardStreams final : public PrinterDevice {
public:
    void write(std::span<const unsigned char> bytes) override
    {
        if (!bytes.empty()) {
            std::fwrite(bytes.data(), 1, bytes.size(), stdout);
        }
    }
    void flush() override { std::fflush(stdout); }
    long read(std::span<unsigned char>, int) override { return -1; }
    void log(LogLevel level, std::string_view text) override { writeCupsLine(level, text); }
    void condition(const PrinterConditions&) override {}
};

// It holds no state of its own.
StandardStreams standardStreams;

}  // namespace

JobContext::JobContext()
    : ownStorage_(allocateScratch<unsigned char>(MaxRawDataSize)),
      device_(&standardStreams),
      output(ownStorage_.get(), ownStorage_ ? MaxRawDataSize : 0, ownPosition_)
{
}

JobContext::JobContext(unsigned char* data, int& position)
    : device_(&standardStreams), output(data, MaxRawDataSize, position)
{
}

void JobContext::attach(PrinterDevice* device) { device_ = device != nullptr ? device : &standardStreams; }

void JobContext::log(LogLevel level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    jobLogTo(*device_, level, format, args);
    va_end(args);
}

bool JobContext::cancelled()
{
    if (waits.cancelRequested()) {
        return true;
    }
    if (device_->cancelled()) {
        // Every wait of the job ends early on the request.
        waits.requestCancel();
        return true;
    }
    return false;
}
