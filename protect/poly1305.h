// SPDX-License-Identifier: MIT
// Poly1305 (RFC 8439, section 2.5): a 16-byte tag of a byte string under a 32-byte key.
// Two strings of the same length that differ get the same tag with a chance below
// 2^-100 per 16 bytes for a key drawn at random and kept secret; it is that, and its
// speed, that it is here for, not a message authentication between parties.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace jiajiemi {

using Poly1305Key = std::array<std::uint8_t, 32>;
using Poly1305Tag = std::array<std::uint8_t, 16>;

// The running state of one tag: construct with the key, Update once or more, then Finish.
class Poly1305 {
public:
    explicit Poly1305(const Poly1305Key& key);
    void Update(const std::uint8_t* bytes, std::size_t count);
    Poly1305Tag Finish();

private:
    void Blocks(const std::uint8_t* blocks, std::size_t count, std::uint64_t lastBit);

    // The accumulator and r in limbs of 44, 44 and 42 bits; pad is the key's second half.
    std::uint64_t h_[3] = {};
    std::uint64_t r_[3] = {};
    std::uint64_t pad_[2] = {};
    std::uint8_t buffer_[16] = {};
    std::size_t buffered_ = 0;
};

Poly1305Tag ComputePoly1305(const Poly1305Key& key, std::span<const std::uint8_t> bytes);

}  // namespace jiajiemi
