#include "diagnostics/jobLog.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace {

class StandardErrorSink final : public LogSink {
public:
    void log(LogLevel level, std::string_view text) override { writeCupsLine(level, text); }
};

StandardErrorSink standardErrorSink;
thread_local LogSink* threadSink = nullptr;

}  // namespace

LogSink& threadLogSink() { return threadSink != nullptr ? *threadSink : standardErrorSink; }

LogScope::LogScope(LogSink& sink) : previous_(threadSink) { threadSink = &sink; }

LogScope::~LogScope() { threadSink = previous_; }

void jobLogTo(LogSink& sink, LogLevel level, const char* format, va_list args)
{
    char small[1024];
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(small, sizeof small, format, args);
    if (length < 0) {
        va_end(again);
        return;
    }
    if (static_cast<std::size_t>(length) < sizeof small) {
        va_end(again);
        sink.log(level, std::string_view(small, static_cast<std::size_t>(length)));
        return;
    }
    std::string large(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(large.data(), large.size(), format, again);
    va_end(again);
    large.pop_back();
    sink.log(level, large);
}

void jobLog(LogLevel level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    jobLogTo(threadLogSink(), level, format, args);
    va_end(args);
}

void cupsLog(LogLevel level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    jobLogTo(standardErrorSink, level, format, args);
    va_end(args);
}

void writeStandardError(std::string_view text)
{
    while (!text.empty()) {
        const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

void writeCupsLine(LogLevel level, std::string_view text)
{
    static constexpr std::string_view prefixes[] = {"DEBUG: ", "INFO: ", "ERROR: "};
    std::string line(prefixes[static_cast<int>(level)]);
    line.append(text);
    line.push_back('\n');
    writeStandardError(line);
}
