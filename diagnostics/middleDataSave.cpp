#include "diagnostics/middleDataSave.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "imaging/ImageBuffer.h"

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

// ---- Debug dumps ----

namespace {

// Owns a descriptor opened for a dump file.
class DumpFile {
public:
    // /tmp is world-writable: a planted symbolic link must not redirect the dump.
    explicit DumpFile(const char* name)
        : fd_(::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644))
    {
    }
    ~DumpFile()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    DumpFile(const DumpFile&) = delete;
    DumpFile& operator=(const DumpFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }

    void write(const unsigned char* bytes, std::size_t count)
    {
        while (count > 0) {
            const ssize_t n = ::write(fd_, bytes, count);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return;  // dumps are best effort
            }
            bytes += n;
            count -= static_cast<std::size_t>(n);
        }
    }

private:
    int fd_;
};

void putLe16(unsigned char* at, std::uint16_t v)
{
    at[0] = static_cast<unsigned char>(v & 0xFF);
    at[1] = static_cast<unsigned char>(v >> 8);
}

void putLe32(unsigned char* at, std::uint32_t v)
{
    at[0] = static_cast<unsigned char>(v & 0xFF);
    at[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
    at[2] = static_cast<unsigned char>((v >> 16) & 0xFF);
    at[3] = static_cast<unsigned char>(v >> 24);
}

// The 14-byte file header followed by the 40-byte info header.
void fillBmpHeaders(unsigned char* headers, std::uint32_t pixelOffset, std::uint32_t width, std::int32_t height,
                    std::uint16_t bitsPerPixel, std::uint32_t size)
{
    std::memset(headers, 0, 54);
    headers[0] = 'B';
    headers[1] = 'M';
    putLe32(headers + 2, pixelOffset + size);
    putLe32(headers + 10, pixelOffset);
    putLe32(headers + 14, 40);
    putLe32(headers + 18, width);
    putLe32(headers + 22, static_cast<std::uint32_t>(height));
    putLe16(headers + 26, 1);
    putLe16(headers + 28, bitsPerPixel);
    putLe32(headers + 34, size);
}

// The number that tells apart dumps of the same second: the generator's first
// value after seeding it with that second.
int dumpRandom(std::time_t now)
{
    std::srand(static_cast<unsigned int>(now));
    return std::rand();
}

// A cut name would write to some other file: such a dump is skipped instead.
bool nameFits(int length, std::size_t capacity) { return length >= 0 && static_cast<std::size_t>(length) < capacity; }

// Data and size a writer can use: a negative size, or bytes missing behind a
// positive size, write no file at all.
bool usableData(const unsigned char* data, int size) { return size >= 0 && (size == 0 || data != nullptr); }

void writeOneBitBmp(const unsigned char* data, unsigned int width, unsigned int height, int size, int index,
                    unsigned int turnOver, bool middle)
{
    if ((middle ? nSaveMiddleBmpData : nSaveMainBmpData) == 0) {
        return;
    }
    if (!usableData(data, size)) {
        return;
    }
    ensurePath();

    unsigned char headers[62];
    fillBmpHeaders(headers, 62, width, static_cast<std::int32_t>(height), 1, static_cast<std::uint32_t>(size));
    // Palette: entry 0 black, entry 1 white.
    const unsigned char palette[8] = {0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00};
    std::memcpy(headers + 54, palette, sizeof palette);

    const std::time_t now = std::time(nullptr);
    const int number = dumpRandom(now);
    char fileName[256];
    const char* slash = middle ? "/" : "//";
    const int length =
        index == -1 ? std::snprintf(fileName, sizeof fileName, "%s%sVbImageGrayedBinary_%ld_%d.bmp", path, slash,
                                    static_cast<long>(now), number)
                    : std::snprintf(fileName, sizeof fileName, "%s%sVbImageGrayedBinary_%ld_%d_%d.bmp", path,
                                    slash, static_cast<long>(now), number, index);
    if (!nameFits(length, sizeof fileName)) {
        return;
    }

    DumpFile file(fileName);
    if (!file.isOpen()) {
        if (middle) {
            TraceLog("saveOneBitBmpFile mageFile=NULL  Wr One Bit file failed path =%s \r\n", fileName);
        }
        return;
    }
    if (middle) {
        TraceLog("saveOneBitBmpFile mageFile!=NULL path =%s \r\n", fileName);
    }

    // Any nonzero turnOver asks for the inverted picture.
    ScratchBuffer<unsigned char> inverted;
    if (turnOver != 0 && size > 0) {
        inverted = allocateScratch<unsigned char>(size);
        if (!inverted) {
            // No half-written dump: drop the file just created.
            ::unlink(fileName);
            return;
        }
        for (int i = 0; i < size; ++i) {
            inverted[static_cast<std::size_t>(i)] = static_cast<unsigned char>(~data[i]);
        }
    }

    file.write(headers, 14);
    if (middle) {
        TraceLog("saveOneBitBmpFile wr FileHeader OK \r\n");
    }
    file.write(headers + 14, 40);
    if (middle) {
        TraceLog("saveOneBitBmpFile wr BmpInfoHeader OK \r\n");
    }
    file.write(headers + 54, 8);
    if (middle) {
        TraceLog("saveOneBitBmpFile wr RGBQuad OK \r\n");
    }

    if (turnOver != 0) {
        if (inverted) {
            file.write(inverted.get(), static_cast<std::size_t>(size));
        }
    } else {
        if (middle) {
            TraceLog("saveOneBitBmpFile begin Wr pdata\r\n");
        }
        if (size > 0) {
            file.write(data, static_cast<std::size_t>(size));
        }
        if (middle) {
            TraceLog("saveOneBitBmpFile turnOver == 0 size=%d\r\n", size);
        }
    }
}

void write24BitBmp(const char* fileName, const unsigned char* data, unsigned int width, std::int32_t height, int size)
{
    unsigned char headers[54];
    fillBmpHeaders(headers, 54, width, height, 24, static_cast<std::uint32_t>(size));
    DumpFile file(fileName);
    if (!file.isOpen()) {
        return;
    }
    file.write(headers, 14);
    file.write(headers + 14, 40);
    if (size > 0) {
        file.write(data, static_cast<std::size_t>(size));
    }
}

}  // namespace

void saveOneBitBmpFileMain(const unsigned char* data, unsigned int width, unsigned int height, int size, int index,
                           unsigned int turnOver)
{
    writeOneBitBmp(data, width, height, size, index, turnOver, false);
}

void saveOneBitBmpFile(const unsigned char* data, unsigned int width, unsigned int height, int size, int index,
                       unsigned int turnOver)
{
    writeOneBitBmp(data, width, height, size, index, turnOver, true);
}

void save24BitBmpFile(const unsigned char* data, unsigned int width, unsigned int height, int size, int index)
{
    if (nSaveMainBmpData == 0 || !usableData(data, size)) {
        return;
    }
    ensurePath();
    char fileName[256];
    const int length = std::snprintf(fileName, sizeof fileName, "%s//VbImage24Bit_%ld_%d.bmp", path,
                                     static_cast<long>(std::time(nullptr)), index);
    if (!nameFits(length, sizeof fileName)) {
        return;
    }
    write24BitBmp(fileName, data, width, static_cast<std::int32_t>(height), size);
}

void save24BitBmpFile2(const unsigned char* data, unsigned int width, unsigned int height, int size)
{
    if (nSaveMainBmpData == 0 || !usableData(data, size)) {
        return;
    }
    ensurePath();
    char fileName[256];
    const int length = std::snprintf(fileName, sizeof fileName, "%s//VbImage24Bit_%ldtrue.bmp", path,
                                     static_cast<long>(std::time(nullptr)));
    if (!nameFits(length, sizeof fileName)) {
        return;
    }
    // A negative height marks the rows as stored top-down.
    write24BitBmp(fileName, data, width, -static_cast<std::int32_t>(height), size);
}

void SaveDataRaw(const unsigned char* data, int size, int index)
{
    if (size == 0 || nSaveRawData == 0 || !usableData(data, size)) {
        return;
    }
    ensurePath();
    const std::time_t now = std::time(nullptr);
    const int number = dumpRandom(now);
    char fileName[256];
    const int length = std::snprintf(fileName, sizeof fileName, "%s/PrintData_%ld_%d_%d.raw", path,
                                     static_cast<long>(now), number, index);
    if (!nameFits(length, sizeof fileName)) {
        return;
    }
    DumpFile file(fileName);
    if (!file.isOpen()) {
        return;
    }
    file.write(data, static_cast<std::size_t>(size));
}

void SaveCupsPageHeader2Info(const cups_page_header2_t* header)
{
    if (header == nullptr) {
        return;
    }
    const auto& h = *header;
    TraceLog("SaveCupsPageHeader2Info:StartPage\r\n");
    TraceLog("SaveCupsPageHeader2Info: Duplex = %d\r\n", static_cast<int>(h.Duplex));
    TraceLog("SaveCupsPageHeader2Info: HWResolution = [ %d %d ]\r\n", static_cast<int>(h.HWResolution[0]),
             static_cast<int>(h.HWResolution[1]));
    TraceLog("SaveCupsPageHeader2Info: ImagingBoundingBox = [ %d %d %d %d ]\r\n",
             static_cast<int>(h.ImagingBoundingBox[0]), static_cast<int>(h.ImagingBoundingBox[1]),
             static_cast<int>(h.ImagingBoundingBox[2]), static_cast<int>(h.ImagingBoundingBox[3]));
    TraceLog("SaveCupsPageHeader2Info: Margins = [ %d %d ]\r\n", static_cast<int>(h.Margins[0]),
             static_cast<int>(h.Margins[1]));
    TraceLog("SaveCupsPageHeader2Info: ManualFeed = %d\r\n", static_cast<int>(h.ManualFeed));
    TraceLog("SaveCupsPageHeader2Info: MediaPosition = %d\r\n", static_cast<int>(h.MediaPosition));
    TraceLog("SaveCupsPageHeader2Info: NumCopies = %d\r\n", static_cast<int>(h.NumCopies));
    TraceLog("SaveCupsPageHeader2Info: Orientation = %d\r\n", static_cast<int>(h.Orientation));
    TraceLog("SaveCupsPageHeader2Info: PageSize = [ %d %d ]\r\n", static_cast<int>(h.PageSize[0]),
             static_cast<int>(h.PageSize[1]));
    TraceLog("SaveCupsPageHeader2Info: cupsWidth = %d\r\n", static_cast<int>(h.cupsWidth));
    TraceLog("SaveCupsPageHeader2Info: cupsHeight = %d\r\n", static_cast<int>(h.cupsHeight));
    TraceLog("SaveCupsPageHeader2Info: cupsMediaType = %d\r\n", static_cast<int>(h.cupsMediaType));
    TraceLog("SaveCupsPageHeader2Info: cupsBitsPerColor = %d\r\n", static_cast<int>(h.cupsBitsPerColor));
    TraceLog("SaveCupsPageHeader2Info: cupsBitsPerPixel = %d\r\n", static_cast<int>(h.cupsBitsPerPixel));
    TraceLog("SaveCupsPageHeader2Info: cupsBytesPerLine = %d\r\n", static_cast<int>(h.cupsBytesPerLine));
    TraceLog("SaveCupsPageHeader2Info: cupsColorOrder = %d\r\n", static_cast<int>(h.cupsColorOrder));
    TraceLog("SaveCupsPageHeader2Info: cupsColorSpace = %d\r\n", static_cast<int>(h.cupsColorSpace));
    TraceLog("SaveCupsPageHeader2Info: cupsCompression = %d\r\n", static_cast<int>(h.cupsCompression));
}
