// Small helpers shared by the imaging units: row strides and scratch buffers
// whose allocation failure is reported instead of thrown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

// Row size of a true-colour raster: 3 bytes per pixel padded to 4 bytes.
inline int trueColourStride(int width) { return (width * 24 + 31) / 32 * 4; }

// Row size of a bit raster (witsStep): 1 bit per pixel padded to 4 bytes.
inline int bitRasterStride(int width) { return (width + 31) / 32 * 4; }

// An owned scratch buffer; empty (null) when the allocation failed or the
// requested count was not positive.
template <class T>
using ScratchBuffer = std::unique_ptr<T[]>;

template <class T>
ScratchBuffer<T> allocateScratch(std::int64_t count, bool zeroFill = false)
{
    if (count <= 0) {
        return nullptr;
    }
    try {
        return zeroFill ? std::make_unique<T[]>(static_cast<std::size_t>(count))
                        : std::make_unique_for_overwrite<T[]>(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
