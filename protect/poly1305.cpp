// SPDX-License-Identifier: MIT
// Poly1305 with 64-bit limbs: the accumulator h and the key's r in three limbs each, so
// that a 16-byte block costs nine 64-by-64-bit multiplications modulo 2^130 - 5.
#include "protect/poly1305.h"

#include "protect/bytes.h"

#include <algorithm>

namespace jiajiemi {
namespace {

__extension__ using Wide = unsigned __int128;

constexpr std::uint64_t Mask44 = (std::uint64_t(1) << 44) - 1;
constexpr std::uint64_t Mask42 = (std::uint64_t(1) << 42) - 1;

std::uint64_t Load64Le(const std::uint8_t* bytes) {
    return std::uint64_t(Load32Le(bytes)) | std::uint64_t(Load32Le(bytes + 4)) << 32;
}

void Store64Le(std::uint64_t value, std::uint8_t* bytes) {
    Store32Le(bytes, std::uint32_t(value));
    Store32Le(bytes + 4, std::uint32_t(value >> 32));
}

}  // namespace

Poly1305::Poly1305(const Poly1305Key& key) {
    // r with the bits the algorithm requires clear ("clamped").
    const std::uint64_t low = Load64Le(key.data()) & 0x0ffffffc0fffffff;
    const std::uint64_t high = Load64Le(key.data() + 8) & 0x0ffffffc0ffffffc;
    r_[0] = low & Mask44;
    r_[1] = (low >> 44 | high << 20) & Mask44;
    r_[2] = high >> 24 & Mask42;
    pad_[0] = Load64Le(key.data() + 16);
    pad_[1] = Load64Le(key.data() + 24);
}

// Adds each 16-byte block, with lastBit (2^128 in the top limb's terms, or 0 for the
// padded last block) set above it, and multiplies by r.
void Poly1305::Blocks(const std::uint8_t* blocks, std::size_t count, std::uint64_t lastBit) {
    const std::uint64_t r0 = r_[0], r1 = r_[1], r2 = r_[2];
    // 2^132 = 4 * 2^130, which is 4 * 5 modulo 2^130 - 5: a product that lands at or above
    // limb 3 comes back, times 20, into the limb three below.
    const std::uint64_t s1 = r1 * 20, s2 = r2 * 20;
    std::uint64_t h0 = h_[0], h1 = h_[1], h2 = h_[2];
    for (std::size_t k = 0; k < count; ++k, blocks += 16) {
        const std::uint64_t low = Load64Le(blocks), high = Load64Le(blocks + 8);
        h0 += low & Mask44;
        h1 += (low >> 44 | high << 20) & Mask44;
        h2 += (high >> 24 & Mask42) | lastBit;

        const Wide d0 = Wide(h0) * r0 + Wide(h1) * s2 + Wide(h2) * s1;
        Wide d1 = Wide(h0) * r1 + Wide(h1) * r0 + Wide(h2) * s2;
        Wide d2 = Wide(h0) * r2 + Wide(h1) * r1 + Wide(h2) * r0;

        h0 = std::uint64_t(d0) & Mask44;
        d1 += std::uint64_t(d0 >> 44);
        h1 = std::uint64_t(d1) & Mask44;
        d2 += std::uint64_t(d1 >> 44);
        h2 = std::uint64_t(d2) & Mask42;
        h0 += std::uint64_t(d2 >> 42) * 5;  // 2^130 is 5
        h1 += h0 >> 44;
        h0 &= Mask44;
    }
    h_[0] = h0, h_[1] = h1, h_[2] = h2;
}

void Poly1305::Update(const std::uint8_t* bytes, std::size_t count) {
    constexpr std::uint64_t FullBlock = std::uint64_t(1) << 40;
    if (buffered_ > 0) {
        const std::size_t taken = std::min(count, 16 - buffered_);
        std::copy_n(bytes, taken, buffer_ + buffered_);
        buffered_ += taken, bytes += taken, count -= taken;
        if (buffered_ < 16) return;
        Blocks(buffer_, 1, FullBlock);
        buffered_ = 0;
    }
    Blocks(bytes, count / 16, FullBlock);
    bytes += count / 16 * 16;
    buffered_ = count % 16;
    std::copy_n(bytes, buffered_, buffer_);
}

Poly1305Tag Poly1305::Finish() {
    if (buffered_ > 0) {  // the last block, its length marked by a 1 byte after it
        buffer_[buffered_] = 1;
        std::fill(buffer_ + buffered_ + 1, buffer_ + 16, std::uint8_t(0));
        Blocks(buffer_, 1, 0);
        buffered_ = 0;
    }
    // h fully carried, then reduced below 2^130 - 5: h - p is taken when it does not go
    // below zero.
    std::uint64_t h0 = h_[0], h1 = h_[1], h2 = h_[2];
    h2 += h1 >> 44, h1 &= Mask44;
    h0 += (h2 >> 42) * 5, h2 &= Mask42;
    h1 += h0 >> 44, h0 &= Mask44;
    h2 += h1 >> 44, h1 &= Mask44;
    h0 += (h2 >> 42) * 5, h2 &= Mask42;
    h1 += h0 >> 44, h0 &= Mask44;

    std::uint64_t g0 = h0 + 5;
    std::uint64_t g1 = h1 + (g0 >> 44);
    g0 &= Mask44;
    const std::uint64_t g2 = h2 + (g1 >> 44) - (std::uint64_t(1) << 42);
    g1 &= Mask44;
    const std::uint64_t takeG = (g2 >> 63) - 1;  // all ones when h - p did not go below zero
    h0 = (h0 & ~takeG) | (g0 & takeG);
    h1 = (h1 & ~takeG) | (g1 & takeG);
    h2 = (h2 & ~takeG) | (g2 & takeG);

    // The tag is h + pad modulo 2^128.
    const Wide low = Wide(h0 | h1 << 44) + pad_[0];
    const std::uint64_t high = (h1 >> 20 | h2 << 24) + pad_[1] + std::uint64_t(low >> 64);
    Poly1305Tag tag;
    Store64Le(std::uint64_t(low), tag.data());
    Store64Le(high, tag.data() + 8);
    return tag;
}

Poly1305Tag ComputePoly1305(const Poly1305Key& key, std::span<const std::uint8_t> bytes) {
    Poly1305 poly(key);
    poly.Update(bytes.data(), bytes.size());
    return poly.Finish();
}

}  // namespace jiajiemi
