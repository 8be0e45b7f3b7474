// SPDX-License-Identifier: MIT
// Byte strings and the format's little-endian 32-bit words, written out byte by byte, and
// the memory and random bytes they come from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <vector>

namespace jiajiemi {

// The whole pages of pageSize that lie inside [block, block + size): their first address
// and the end of the last; first is not below end when there are none.
struct WholePages {
    std::uintptr_t first;
    std::uintptr_t end;
};
inline WholePages WholePagesInside(const void* block, std::size_t size, std::size_t pageSize) {
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    return {(start + pageSize - 1) & ~(pageSize - 1), (start + size) & ~(pageSize - 1)};
}

// Fills bytes from the system's random source; false when it cannot.
bool FillRandom(std::span<std::uint8_t> bytes);

// The size of a large page, and the alignment of the blocks that may be backed by them.
inline constexpr std::size_t LargePage = std::size_t(2) << 20;

// Asks the system to back the whole large pages of a new, untouched block of memory with
// large pages. On a virtual machine every first touch of a fresh 4 KiB page costs a fault
// that the host takes part in: 8 MiB touched page by page took 23 ms here, in large pages
// under 1 ms. A system without large pages leaves the block as it is.
void PreferLargePages(void* block, std::size_t size);

// An allocator that leaves new elements unset when a vector grows without a value, as a
// plain array would. A content is read into its buffer right after the buffer grows;
// zeroing it first would touch every fresh page of a large content once more, alone and
// before any of the reading could start.
template <typename T>
struct UnsetOnGrowth : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UnsetOnGrowth<U>;
    };
    using std::allocator<T>::allocator;

    // A block of a large page or more (a content, a ring of pieces) starts on a large page
    // and is backed by large pages.
    T* allocate(std::size_t n) {
        if (n < LargePage / sizeof(T) || n > SIZE_MAX / sizeof(T)) return std::allocator<T>::allocate(n);
        T* block = static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t(LargePage)));
        PreferLargePages(block, n * sizeof(T));
        return block;
    }
    void deallocate(T* block, std::size_t n) {
        if (n < LargePage / sizeof(T) || n > SIZE_MAX / sizeof(T)) return std::allocator<T>::deallocate(block, n);
        ::operator delete(block, std::align_val_t(LargePage));
    }

    // Only growth without a value comes here; copies and fills construct as usual.
    template <typename U>
    void construct(U* at) {
        ::new (static_cast<void*>(at)) U;
    }
};

// ByteString(n) and resize(n) leave the new bytes unset; ByteString(n, 0) zeroes them.
using ByteString = std::vector<std::uint8_t, UnsetOnGrowth<std::uint8_t>>;

inline std::uint32_t Load32Le(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

inline void Store32Le(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}

}  // namespace jiajiemi
