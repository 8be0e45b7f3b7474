// SPDX-License-Identifier: MIT
// Byte strings and the format's little-endian 32-bit words, written out byte by byte.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace jiajiemi {

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
