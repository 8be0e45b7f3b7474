// SPDX-License-Identifier: MIT
// The digest text: the MD5 message digest (RFC 1321) of a byte string, written as
// 32 lowercase hexadecimal characters, and the helpers that feed and compare it.
#pragma once

#include "protect/bytes.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace jiajiemi {

// Exactly 32 characters, 0-9 and a-f.
using DigestText = std::string;

inline constexpr std::size_t DigestTextLength = 32;

// The running state of one digest: Start, then Update once or more, then Finish.
class DigestContext {
public:
    void Start();
    void Update(const std::uint8_t* bytes, std::size_t count);
    DigestText Finish();

private:
    void Transform(const std::uint8_t* block);
    void TransformBlocks(const std::uint8_t* blocks, std::size_t count);

    std::uint8_t buffer_[64] = {};
    std::uint32_t bitCount_[2] = {};  // low word first
    std::uint32_t state_[4] = {};     // A, B, C, D
};

DigestText ComputeDigestText(std::span<const std::uint8_t> bytes);
inline DigestText ComputeDigestText(std::string_view bytes) {
    return ComputeDigestText(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

// The bytes of a text up to, not including, its first zero byte. Nothing is converted.
ByteString TextToBytes(std::string_view text);

// Byte-by-byte order of two zero-terminated texts as unsigned values; nullptr counts as
// the empty text. 0 when equal, -1 when first sorts before second, +1 otherwise.
int CompareText(const char* first, const char* second);

}  // namespace jiajiemi
