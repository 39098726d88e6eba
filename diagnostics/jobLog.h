// The operational log of a job: lines with a level, handed to a sink. The
// filter's sink writes them as CUPS reads them ("DEBUG: ", "INFO: ",
// "ERROR: " lines on standard error); the Printer Application's puts them in
// the job's log at their level. Code that works on a job's page (the printing
// core, the imaging library) logs through the sink of the thread it runs on,
// which the job's session sets for its threads; without one, lines go to
// standard error in the CUPS form.
#pragma once

#include <cstdarg>
#include <string_view>

enum class LogLevel { Debug, Info, Error };

class LogSink {
public:
    virtual ~LogSink() = default;
    // One line, without its level prefix and without the newline that ends it.
    virtual void log(LogLevel level, std::string_view text) = 0;
};

// The sink of the calling thread.
LogSink& threadLogSink();

// Makes `sink` the calling thread's sink while it lives.
class LogScope {
public:
    explicit LogScope(LogSink& sink);
    ~LogScope();
    LogScope(const LogScope&) = delete;
    LogScope& operator=(const LogScope&) = delete;

private:
    LogSink* previous_;
};

// Formats a line and hands it to a sink (the calling thread's, or `sink`).
void jobLog(LogLevel level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void jobLogTo(LogSink& sink, LogLevel level, const char* format, va_list args) __attribute__((format(printf, 3, 0)));

// Writes `text` to standard error in one write: standard error is the job's
// status pipe, shared with the filter's other thread and the job's other
// programs, so that no other line can land inside this one.
void writeStandardError(std::string_view text);

// The CUPS form of a line: its prefix, the text and a newline, in one write.
void writeCupsLine(LogLevel level, std::string_view text);
// The same, formatted.
void cupsLog(LogLevel level, const char* format, ...) __attribute__((format(printf, 2, 3)));
