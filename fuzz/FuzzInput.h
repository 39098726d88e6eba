// Takes typed values off the front of a fuzz input. Running out of bytes yields zeros,
// so every input, however short, is a valid call.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data, size) {}

    std::uint8_t byte() { return pos_ < data_.size() ? data_[pos_++] : 0; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | (byte() << 8)); }
    std::uint32_t u32() { return u16() | (static_cast<std::uint32_t>(u16()) << 16); }

    // A value in lo..hi (inclusive), from as few bytes as the span needs.
    int range(int lo, int hi)
    {
        const std::uint32_t span = static_cast<std::uint32_t>(static_cast<std::int64_t>(hi) - lo) + 1u;
        const std::uint32_t raw = span <= 256 ? byte() : span <= 65536 ? u16() : u32();
        return static_cast<int>(static_cast<std::int64_t>(lo) + raw % span);
    }

    // Everything not consumed yet.
    std::span<const std::uint8_t> rest() const { return data_.subspan(std::min(pos_, data_.size())); }

private:
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
};

// Fills `out` with the pattern repeated (white when it is empty): a short input still paints a whole image.
inline void fillFrom(std::span<const std::uint8_t> pattern, std::uint8_t* out, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) out[i] = pattern.empty() ? 0xFF : pattern[i % pattern.size()];
}

// The bit raster handed to a binarizer or packer with a size claim: exactly the claim when
// it is not above what the image needs, so a write past a short buffer is caught; a larger
// claim must be refused anyway, so a little room past the right size is enough.
inline std::size_t bitBufferSize(int claimed, int expected)
{
    if (claimed <= 0) return 1;
    return static_cast<std::size_t>(std::min<long long>(claimed, static_cast<long long>(expected) + 64));
}
