// SPDX-License-Identifier: MIT
// The RC4 stream cipher, exactly as published: key schedule and output bytes, for one
// stream or for four independent streams advanced in step.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jiajiemi {
namespace rc4 {

// The state is kept as 32-bit words: it saves the byte loads and masks of the hot loop.

// Step k of the key schedule.
inline void Mix(std::uint32_t* s, std::uint32_t k, std::uint32_t& j, std::uint8_t keyByte) {
    const std::uint32_t t = s[k];
    j = (j + t + keyByte) & 0xff;
    s[k] = s[j];
    s[j] = t;
}

// One output byte, with i already advanced.
inline std::uint8_t Step(std::uint32_t* s, std::uint32_t i, std::uint32_t& j) {
    const std::uint32_t si = s[i];
    j = (j + si) & 0xff;
    const std::uint32_t sj = s[j];
    s[i] = sj;
    s[j] = si;
    return std::uint8_t(s[(si + sj) & 0xff]);
}

}  // namespace rc4

class Rc4 {
public:
    // Keys a fresh state; a key longer than 256 bytes contributes only its first 256.
    Rc4(const std::uint8_t* key, std::size_t keyLength) {
        for (std::uint32_t k = 0; k < 256; ++k) s_[k] = k;
        std::uint32_t j = 0;
        for (std::uint32_t k = 0; k < 256; ++k) rc4::Mix(s_, k, j, key[k % keyLength]);
    }

    std::uint8_t Next() {
        i_ = (i_ + 1) & 0xff;
        return rc4::Step(s_, i_, j_);
    }

    void Discard(std::size_t count) {
        while (count-- > 0) Next();
    }

    void Generate(std::uint8_t* out, std::size_t count) {
        for (std::size_t k = 0; k < count; ++k) out[k] = Next();
    }

    void XorInto(std::uint8_t* data, std::size_t count) {
        for (std::size_t k = 0; k < count; ++k) data[k] ^= Next();
    }

private:
    std::uint32_t s_[256];
    std::uint32_t i_ = 0;
    std::uint32_t j_ = 0;
};

// Four RC4 streams with keys of one length, each giving exactly the bytes of its own Rc4.
// Within one stream every swap waits for the one before it; a core runs four streams side
// by side in not much more time than one, so four independent streams go twice as fast.
class Rc4Quad {
public:
    Rc4Quad(const std::uint8_t* const keys[4], std::size_t keyLength) {
        for (auto& s : s_)
            for (std::uint32_t k = 0; k < 256; ++k) s[k] = k;
        std::uint32_t j0 = 0, j1 = 0, j2 = 0, j3 = 0;
        for (std::uint32_t k = 0; k < 256; ++k) {
            const std::size_t at = k % keyLength;
            rc4::Mix(s_[0], k, j0, keys[0][at]);
            rc4::Mix(s_[1], k, j1, keys[1][at]);
            rc4::Mix(s_[2], k, j2, keys[2][at]);
            rc4::Mix(s_[3], k, j3, keys[3][at]);
        }
    }

    void Discard(std::size_t count) {
        // Lanes in locals: the compiler then keeps them in registers.
        std::uint32_t i = i_, j0 = j_[0], j1 = j_[1], j2 = j_[2], j3 = j_[3];
        for (std::size_t k = 0; k < count; ++k) {
            i = (i + 1) & 0xff;
            rc4::Step(s_[0], i, j0);
            rc4::Step(s_[1], i, j1);
            rc4::Step(s_[2], i, j2);
            rc4::Step(s_[3], i, j3);
        }
        i_ = i, j_[0] = j0, j_[1] = j1, j_[2] = j2, j_[3] = j3;
    }

    // XORs the next count bytes of stream n into data[n], for each of the four.
    void XorInto(std::uint8_t* const data[4], std::size_t count) {
        std::uint8_t *d0 = data[0], *d1 = data[1], *d2 = data[2], *d3 = data[3];
        std::uint32_t i = i_, j0 = j_[0], j1 = j_[1], j2 = j_[2], j3 = j_[3];
        for (std::size_t k = 0; k < count; ++k) {
            i = (i + 1) & 0xff;
            d0[k] ^= rc4::Step(s_[0], i, j0);
            d1[k] ^= rc4::Step(s_[1], i, j1);
            d2[k] ^= rc4::Step(s_[2], i, j2);
            d3[k] ^= rc4::Step(s_[3], i, j3);
        }
        i_ = i, j_[0] = j0, j_[1] = j1, j_[2] = j2, j_[3] = j3;
    }

private:
    alignas(64) std::uint32_t s_[4][256];
    std::uint32_t i_ = 0;
    std::uint32_t j_[4] = {};
};

}  // namespace jiajiemi
