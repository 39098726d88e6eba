#include "diagnostics/middleDataSave.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

int nSaveLogData = 0;
int nSaveMiddleBmpData = 0;
int nSaveMainBmpData = 0;
int nSaveRawData = 0;
char path[256] = "";

namespace {

void ensurePath()
{
    if (path[0] == '\0') {
        std::snprintf(path, sizeof path, "%s", "/tmp");
    }
}

}  // namespace

bool GetPath()
{
    ensurePath();
    return true;
}

void TraceLog(const char* format, ...)
{
    if (nSaveLogData == 0) {
        return;
    }
    ensurePath();

    char message[1024] = {};
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);

    char fileName[1000];
    std::snprintf(fileName, sizeof fileName, "%s//Print.log", path);

    // /tmp is world-writable: never follow a planted link to another file.
    int fd = ::open(fileName, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        return;
    }
    FILE* file = ::fdopen(fd, "a");
    if (file == nullptr) {
        ::close(fd);
        return;
    }
    std::fwrite(message, 1, std::strlen(message), file);
    std::fclose(file);
}

void TraceLogDebug() {}

void SetSaveLogDataFalg(int flag) { nSaveLogData = flag; }
void SetSaveMiddleBmpDataFalg(int flag) { nSaveMiddleBmpData = flag; }
void SetSaveMainBmpDataFalg(int flag) { nSaveMainBmpData = flag; }
void SetSaveRawDataFalg(int flag) { nSaveRawData = flag; }

// The getters report 0 whatever the stored flag holds.
int GetSaveLogDataFalg() { return 0; }
int GetSaveMiddleBmpDataFalg() { return 0; }
int GetSaveMainBmpDataFalg() { return 0; }
int GetSaveRawDataFalg() { return 0; }
