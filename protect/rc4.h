// The RC4 stream cipher, exactly as published: key schedule and output bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jiajiemi {

class Rc4 {
public:
    // Keys a fresh state; a key longer than 256 bytes contributes only its first 256.
    Rc4(const std::uint8_t* key, std::size_t keyLength) {
        for (std::uint32_t k = 0; k < 256; ++k) s_[k] = k;
        std::uint32_t j = 0;
        for (std::uint32_t k = 0; k < 256; ++k) {
            const std::uint32_t t = s_[k];
            j = (j + t + key[k % keyLength]) & 0xff;
            s_[k] = s_[j];
            s_[j] = t;
        }
    }

    std::uint8_t Next() {
        // The state is kept as 32-bit words: it saves the byte loads and masks of the hot loop.
        i_ = (i_ + 1) & 0xff;
        const std::uint32_t si = s_[i_];
        j_ = (j_ + si) & 0xff;
        const std::uint32_t sj = s_[j_];
        s_[i_] = sj;
        s_[j_] = si;
        return std::uint8_t(s_[(si + sj) & 0xff]);
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

}  // namespace jiajiemi
