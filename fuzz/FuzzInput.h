// Takes typed values off the front of a fuzz input. Running out of bytes
// yields zeros, so every input, however short, is a valid call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t byte()
    {
        if (pos_ >= size_) {
            return 0;
        }
        return data_[pos_++];
    }

    std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | (byte() << 8)); }

    std::uint32_t u32() { return static_cast<std::uint32_t>(u16()) | (static_cast<std::uint32_t>(u16()) << 16); }

    // A value in lo..hi (inclusive), from as few bytes as the span needs.
    int range(int lo, int hi)
    {
        const std::uint32_t span = static_cast<std::uint32_t>(static_cast<std::int64_t>(hi) - lo) + 1u;
        const std::uint32_t raw = span <= 256 ? byte() : span <= 65536 ? u16() : u32();
        return static_cast<int>(static_cast<std::int64_t>(lo) + raw % span);
    }

    bool flag() { return (byte() & 1) != 0; }

    // Everything not consumed yet.
    std::span<const std::uint8_t> rest() const
    {
        return pos_ >= size_ ? std::span<const std::uint8_t>() : std::span<const std::uint8_t>(data_ + pos_, size_ - pos_);
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Fills `out` with the pattern repeated (white when the pattern is empty), so
// a short input still paints a whole image.
inline void fillFrom(std::span<const std::uint8_t> pattern, std::uint8_t* out, std::size_t count)
{
    if (pattern.empty()) {
        std::memset(out, 0xFF, count);
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = pattern[i % pattern.size()];
    }
}

// The bit raster handed to a binarizer or packer with a size claim: exactly
// the claim when it is not above what the image needs, so any write past a
// short buffer is caught; a larger claim must be refused anyway, so a little
// room past the right size is enough to catch an operation that trusts it.
inline std::size_t bitBufferSize(int claimed, int expected)
{
    if (claimed <= 0) {
        return 1;
    }
    if (claimed <= expected) {
        return static_cast<std::size_t>(claimed);
    }
    const long long roomy = static_cast<long long>(expected) + 64;
    return static_cast<std::size_t>(claimed < roomy ? claimed : roomy);
}
