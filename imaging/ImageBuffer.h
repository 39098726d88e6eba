// Small helpers shared by the imaging units: row strides and scratch buffers
// whose allocation failure is reported instead of thrown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>

// Row size of a true-colour raster: 3 bytes per pixel padded to 4 bytes.
inline int trueColourStride(int width) { return (width * 24 + 31) / 32 * 4; }

// Row size of a bit raster (witsStep): 1 bit per pixel padded to 4 bytes.
inline int bitRasterStride(int width) { return (width + 31) / 32 * 4; }

// Page-sized buffers. Where the system has transparent huge pages, a large
// buffer is mapped on its own, aligned to and rounded up to a huge page:
// first touching a page-sized buffer in small pages costs thousands of page
// faults, which on a virtual machine cost more than all the work done on the
// page. Elsewhere, and under AddressSanitizer (which must see overruns),
// such a request returns null and the heap serves it.
// adviseHugePages asks for huge pages over the whole huge pages inside
// [data, data + bytes), before they are first touched; a no-op where there
// are none.
#if defined(__SANITIZE_ADDRESS__)
#define ZORVAN_HEAP_ONLY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZORVAN_HEAP_ONLY 1
#endif
#endif

#if defined(__linux__) && !defined(ZORVAN_HEAP_ONLY)
#include <sys/mman.h>
#ifdef MADV_HUGEPAGE
#define ZORVAN_HUGE_PAGES 1
#endif
#endif

inline constexpr std::uintptr_t hugePageBytes = 2 * 1024 * 1024;

#ifdef ZORVAN_HUGE_PAGES

inline void* mapLargeBuffer(std::size_t bytes, std::size_t* mappedBytes)
{
    if (bytes == 0 || bytes > SIZE_MAX - 2 * hugePageBytes) {
        return nullptr;
    }
    const std::size_t length = (bytes + hugePageBytes - 1) / hugePageBytes * hugePageBytes;
    // Mapped one huge page larger, then trimmed to an aligned start.
    void* mapped = mmap(nullptr, length + hugePageBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        return nullptr;
    }
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + hugePageBytes - 1) / hugePageBytes * hugePageBytes;
    if (aligned > start) {
        munmap(mapped, aligned - start);
    }
    if (aligned + length < start + length + hugePageBytes) {
        munmap(reinterpret_cast<void*>(aligned + length), start + hugePageBytes - aligned);
    }
    void* data = reinterpret_cast<void*>(aligned);
    madvise(data, length, MADV_HUGEPAGE);
    *mappedBytes = length;
    return data;
}

inline void unmapLargeBuffer(void* data, std::size_t mappedBytes) { munmap(data, mappedBytes); }

inline void adviseHugePages(void* data, std::size_t bytes)
{
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (start + hugePageBytes - 1) / hugePageBytes * hugePageBytes;
    const std::uintptr_t end = (start + bytes) / hugePageBytes * hugePageBytes;
    if (end > first) {
        madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
    }
}

#else

inline void* mapLargeBuffer(std::size_t, std::size_t*) { return nullptr; }

inline void unmapLargeBuffer(void*, std::size_t) {}

inline void adviseHugePages(void*, std::size_t) {}

#endif

// From this size on a scratch buffer is mapped rather than taken from the heap.
inline constexpr std::size_t largeBufferBytes = 256 * 1024;

// Frees a scratch buffer the way it was allocated.
struct ScratchDeleter {
    std::size_t mappedBytes = 0;  // 0: from the heap
    template <class T>
    void operator()(T* data) const
    {
        if (mappedBytes != 0) {
            unmapLargeBuffer(data, mappedBytes);
        } else {
            delete[] data;
        }
    }
};

// An owned scratch buffer; empty (null) when the allocation failed or the
// requested count was not positive.
template <class T>
using ScratchBuffer = std::unique_ptr<T[], ScratchDeleter>;

// A mapped buffer comes zero-filled, so it serves zeroFill requests as well.
template <class T>
ScratchBuffer<T> allocateScratch(std::int64_t count, bool zeroFill = false)
{
    if (count <= 0 || static_cast<std::uint64_t>(count) > SIZE_MAX / sizeof(T)) {
        return nullptr;
    }
    const std::size_t bytes = static_cast<std::size_t>(count) * sizeof(T);
    if constexpr (std::is_trivially_default_constructible_v<T> && std::is_trivially_destructible_v<T>) {
        if (bytes >= largeBufferBytes) {
            std::size_t mapped = 0;
            if (void* data = mapLargeBuffer(bytes, &mapped)) {
                return ScratchBuffer<T>(static_cast<T*>(data), ScratchDeleter{mapped});
            }
        }
    }
    try {
        return ScratchBuffer<T>(zeroFill ? new T[static_cast<std::size_t>(count)]()
                                         : new T[static_cast<std::size_t>(count)]);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
