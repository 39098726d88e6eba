#include "core/outputBuffer.h"

#include <algorithm>
#include <cstring>

#include "diagnostics/middleDataSave.h"

namespace {

void traceDroppedBytes(int capacity, long long count)
{
    // Every byte that does not fit gets its own line; with the trace log off
    // there is nothing to write, so the loop is skipped.
    if (nSaveLogData == 0) {
        return;
    }
    for (long long i = 0; i < count; ++i) {
        TraceLog(" MaxRawDataSize=%d Is  too small \r\n", capacity);
    }
}

}  // namespace

void OutputBuffer::append(std::span<const unsigned char> bytes)
{
    if (bytes.empty() || bytes.data() == nullptr) {
        return;
    }
    const long long length = static_cast<long long>(bytes.size());
    const long long room = std::max(capacity_ - *position_, 0);
    const int stored = static_cast<int>(std::min(length, room));
    if (stored > 0) {
        std::memcpy(data_ + *position_, bytes.data(), static_cast<std::size_t>(stored));
        *position_ += stored;
    }
    traceDroppedBytes(capacity_, length - stored);
}

void OutputBuffer::appendByte(unsigned char byte)
{
    if (*position_ <= capacity_ - 1) {
        data_[*position_] = byte;
        ++*position_;
    } else {
        traceDroppedBytes(capacity_, 1);
    }
}

void OutputBuffer::appendZeros(long long count)
{
    if (count <= 0) {
        return;
    }
    const long long room = std::max(capacity_ - *position_, 0);
    const int stored = static_cast<int>(std::min(count, room));
    std::memset(data_ + *position_, 0, static_cast<std::size_t>(stored));
    *position_ += stored;
    traceDroppedBytes(capacity_, count - stored);
}
