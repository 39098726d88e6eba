// A job's output buffer: printer commands and raster bytes gathered before
// they go to the printer. Bytes are appended under one rule: what does not
// fit is dropped, each dropped byte with a line in the trace log.
#pragma once

#include <span>

class OutputBuffer {
public:
    // Over `capacity` bytes at `data`, filled up to `position`, which the
    // buffer keeps up to date (the filter's RawData and curPagePos).
    OutputBuffer(unsigned char* data, int capacity, int& position) : data_(data), capacity_(capacity), position_(&position) {}

    unsigned char* data() const { return data_; }
    int capacity() const { return capacity_; }
    int position() const { return *position_; }
    void setPosition(int position) { *position_ = position; }
    // What has been appended so far.
    std::span<const unsigned char> bytes() const { return {data_, static_cast<std::size_t>(*position_)}; }

    void append(std::span<const unsigned char> bytes);
    void appendByte(unsigned char byte);
    void appendZeros(long long count);

private:
    unsigned char* data_;
    int capacity_;
    int* position_;
};

// A few bytes of commands on the stack, written straight to the printer.
template <int N>
struct CommandBytes {
    CommandBytes() = default;
    CommandBytes(const CommandBytes&) = delete;  // the buffer points into this object
    CommandBytes& operator=(const CommandBytes&) = delete;
    unsigned char data[N] = {};
    int length = 0;
    OutputBuffer buffer{data, N, length};
    std::span<const unsigned char> bytes() const { return {data, static_cast<std::size_t>(length)}; }
};
