// SPDX-License-Identifier: MIT
// MD5 as RFC 1321 defines it, and the text form of its digest.
#include "protect/digest_text.h"

#include <cstring>

namespace jiajiemi {
namespace {

inline std::uint32_t Rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// The four round functions; F and G in the forms that need one operation less.
inline std::uint32_t F(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return z ^ (x & (y ^ z)); }
inline std::uint32_t G(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return y ^ (z & (x ^ y)); }
inline std::uint32_t H(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return x ^ (y ^ z); }
inline std::uint32_t I(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return y ^ (x | ~z); }

// The word and the constant go into a first, while f waits for b, the step before's result.
#define MD5_STEP(f, a, b, c, d, x, s, ac) \
    (a) += (x) + std::uint32_t(ac); \
    (a) += f((b), (c), (d)); \
    (a) = Rotl((a), (s)) + (b)

// G's two halves have no bit in common, so they may be added one by one: the half without
// b goes in before b is known.
#define MD5_STEP_G(a, b, c, d, x, s, ac) \
    (a) += (x) + std::uint32_t(ac) + ((c) & ~(d)); \
    (a) += (b) & (d); \
    (a) = Rotl((a), (s)) + (b)

const char HexDigits[] = "0123456789abcdef";

}  // namespace

void DigestContext::Start() {
    std::memset(buffer_, 0, sizeof buffer_);
    bitCount_[0] = bitCount_[1] = 0;
    state_[0] = 0x67452301;
    state_[1] = 0xefcdab89;
    state_[2] = 0x98badcfe;
    state_[3] = 0x10325476;
}

void DigestContext::Transform(const std::uint8_t* block) { TransformBlocks(block, 1); }

void DigestContext::TransformBlocks(const std::uint8_t* blocks, std::size_t count) {
    std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (; count > 0; --count, blocks += 64) {
        std::uint32_t x[16];
        for (int k = 0; k < 16; ++k) x[k] = Load32Le(blocks + 4 * k);
        const std::uint32_t aa = a, bb = b, cc = c, dd = d;

        MD5_STEP(F, a, b, c, d, x[0], 7, 0xd76aa478);
        MD5_STEP(F, d, a, b, c, x[1], 12, 0xe8c7b756);
        MD5_STEP(F, c, d, a, b, x[2], 17, 0x242070db);
        MD5_STEP(F, b, c, d, a, x[3], 22, 0xc1bdceee);
        MD5_STEP(F, a, b, c, d, x[4], 7, 0xf57c0faf);
        MD5_STEP(F, d, a, b, c, x[5], 12, 0x4787c62a);
        MD5_STEP(F, c, d, a, b, x[6], 17, 0xa8304613);
        MD5_STEP(F, b, c, d, a, x[7], 22, 0xfd469501);
        MD5_STEP(F, a, b, c, d, x[8], 7, 0x698098d8);
        MD5_STEP(F, d, a, b, c, x[9], 12, 0x8b44f7af);
        MD5_STEP(F, c, d, a, b, x[10], 17, 0xffff5bb1);
        MD5_STEP(F, b, c, d, a, x[11], 22, 0x895cd7be);
        MD5_STEP(F, a, b, c, d, x[12], 7, 0x6b901122);
        MD5_STEP(F, d, a, b, c, x[13], 12, 0xfd987193);
        MD5_STEP(F, c, d, a, b, x[14], 17, 0xa679438e);
        MD5_STEP(F, b, c, d, a, x[15], 22, 0x49b40821);

        MD5_STEP_G(a, b, c, d, x[1], 5, 0xf61e2562);
        MD5_STEP_G(d, a, b, c, x[6], 9, 0xc040b340);
        MD5_STEP_G(c, d, a, b, x[11], 14, 0x265e5a51);
        MD5_STEP_G(b, c, d, a, x[0], 20, 0xe9b6c7aa);
        MD5_STEP_G(a, b, c, d, x[5], 5, 0xd62f105d);
        MD5_STEP_G(d, a, b, c, x[10], 9, 0x02441453);
        MD5_STEP_G(c, d, a, b, x[15], 14, 0xd8a1e681);
        MD5_STEP_G(b, c, d, a, x[4], 20, 0xe7d3fbc8);
        MD5_STEP_G(a, b, c, d, x[9], 5, 0x21e1cde6);
        MD5_STEP_G(d, a, b, c, x[14], 9, 0xc33707d6);
        MD5_STEP_G(c, d, a, b, x[3], 14, 0xf4d50d87);
        MD5_STEP_G(b, c, d, a, x[8], 20, 0x455a14ed);
        MD5_STEP_G(a, b, c, d, x[13], 5, 0xa9e3e905);
        MD5_STEP_G(d, a, b, c, x[2], 9, 0xfcefa3f8);
        MD5_STEP_G(c, d, a, b, x[7], 14, 0x676f02d9);
        MD5_STEP_G(b, c, d, a, x[12], 20, 0x8d2a4c8a);

        MD5_STEP(H, a, b, c, d, x[5], 4, 0xfffa3942);
        MD5_STEP(H, d, a, b, c, x[8], 11, 0x8771f681);
        MD5_STEP(H, c, d, a, b, x[11], 16, 0x6d9d6122);
        MD5_STEP(H, b, c, d, a, x[14], 23, 0xfde5380c);
        MD5_STEP(H, a, b, c, d, x[1], 4, 0xa4beea44);
        MD5_STEP(H, d, a, b, c, x[4], 11, 0x4bdecfa9);
        MD5_STEP(H, c, d, a, b, x[7], 16, 0xf6bb4b60);
        MD5_STEP(H, b, c, d, a, x[10], 23, 0xbebfbc70);
        MD5_STEP(H, a, b, c, d, x[13], 4, 0x289b7ec6);
        MD5_STEP(H, d, a, b, c, x[0], 11, 0xeaa127fa);
        MD5_STEP(H, c, d, a, b, x[3], 16, 0xd4ef3085);
        MD5_STEP(H, b, c, d, a, x[6], 23, 0x04881d05);
        MD5_STEP(H, a, b, c, d, x[9], 4, 0xd9d4d039);
        MD5_STEP(H, d, a, b, c, x[12], 11, 0xe6db99e5);
        MD5_STEP(H, c, d, a, b, x[15], 16, 0x1fa27cf8);
        MD5_STEP(H, b, c, d, a, x[2], 23, 0xc4ac5665);

        MD5_STEP(I, a, b, c, d, x[0], 6, 0xf4292244);
        MD5_STEP(I, d, a, b, c, x[7], 10, 0x432aff97);
        MD5_STEP(I, c, d, a, b, x[14], 15, 0xab9423a7);
        MD5_STEP(I, b, c, d, a, x[5], 21, 0xfc93a039);
        MD5_STEP(I, a, b, c, d, x[12], 6, 0x655b59c3);
        MD5_STEP(I, d, a, b, c, x[3], 10, 0x8f0ccc92);
        MD5_STEP(I, c, d, a, b, x[10], 15, 0xffeff47d);
        MD5_STEP(I, b, c, d, a, x[1], 21, 0x85845dd1);
        MD5_STEP(I, a, b, c, d, x[8], 6, 0x6fa87e4f);
        MD5_STEP(I, d, a, b, c, x[15], 10, 0xfe2ce6e0);
        MD5_STEP(I, c, d, a, b, x[6], 15, 0xa3014314);
        MD5_STEP(I, b, c, d, a, x[13], 21, 0x4e0811a1);
        MD5_STEP(I, a, b, c, d, x[4], 6, 0xf7537e82);
        MD5_STEP(I, d, a, b, c, x[11], 10, 0xbd3af235);
        MD5_STEP(I, c, d, a, b, x[2], 15, 0x2ad7d2bb);
        MD5_STEP(I, b, c, d, a, x[9], 21, 0xeb86d391);

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    state_[0] = a;
    state_[1] = b;
    state_[2] = c;
    state_[3] = d;
}

#undef MD5_STEP
#undef MD5_STEP_G

void DigestContext::Update(const std::uint8_t* bytes, std::size_t count) {
    std::size_t index = (bitCount_[0] >> 3) & 63;

    // The bit count is 64 bits wide, kept as two words, low first.
    const std::uint64_t bits = (std::uint64_t(bitCount_[1]) << 32 | bitCount_[0]) + std::uint64_t(count) * 8;
    bitCount_[0] = std::uint32_t(bits);
    bitCount_[1] = std::uint32_t(bits >> 32);

    std::size_t taken = 0;
    if (count >= 64 - index) {
        taken = 64 - index;
        std::memcpy(buffer_ + index, bytes, taken);
        Transform(buffer_);
        // Whole blocks go straight from the caller's bytes, without a copy.
        const std::size_t wholeBlocks = (count - taken) / 64;
        TransformBlocks(bytes + taken, wholeBlocks);
        taken += wholeBlocks * 64;
        index = 0;
    }
    if (count > taken) std::memcpy(buffer_ + index, bytes + taken, count - taken);
}

DigestText DigestContext::Finish() {
    std::uint8_t lengthBytes[8];
    Store32Le(lengthBytes, bitCount_[0]);
    Store32Le(lengthBytes + 4, bitCount_[1]);

    static const std::uint8_t padding[64] = {0x80};
    const std::size_t index = (bitCount_[0] >> 3) & 63;
    Update(padding, index < 56 ? 56 - index : 120 - index);
    Update(lengthBytes, 8);

    std::uint8_t digest[16];
    for (int k = 0; k < 4; ++k) Store32Le(digest + 4 * k, state_[k]);
    DigestText text(DigestTextLength, '0');
    for (int k = 0; k < 16; ++k) {
        text[2 * k] = HexDigits[digest[k] >> 4];
        text[2 * k + 1] = HexDigits[digest[k] & 15];
    }
    return text;
}

DigestText ComputeDigestText(std::span<const std::uint8_t> bytes) {
    DigestContext context;
    context.Start();
    context.Update(bytes.data(), bytes.size());
    return context.Finish();
}

ByteString TextToBytes(std::string_view text) {
    const std::size_t end = text.find('\0');
    if (end != std::string_view::npos) text = text.substr(0, end);
    return ByteString(text.begin(), text.end());
}

int CompareText(const char* first, const char* second) {
    const auto* a = reinterpret_cast<const unsigned char*>(first ? first : "");
    const auto* b = reinterpret_cast<const unsigned char*>(second ? second : "");
    for (;; ++a, ++b) {
        if (*a != *b) return *a < *b ? -1 : 1;
        if (*a == 0) return 0;
    }
}

}  // namespace jiajiemi
