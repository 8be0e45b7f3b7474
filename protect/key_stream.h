// SPDX-License-Identifier: MIT
// The password-keyed stream over absolute file positions: z(p) depends only on the
// password and p. Each 4096-byte block has its own RC4 key, made from four bytes of the
// password's own RC4 stream, the password's text key and the block number.
#pragma once

#include "protect/rc4.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace jiajiemi {

inline constexpr std::int64_t StreamBlockSize = 4096;
// Outputs of every block key that are drawn and never used.
inline constexpr std::size_t BlockKeyDiscard = 36;

// The password's text key: the bytes of its MD5 digest, last byte first, each as two
// lowercase hexadecimal digits.
using TextKey = std::array<char, 32>;
TextKey MakeTextKey(std::string_view password);

// Enciphers (or deciphers: it only XORs) the count bytes of data that lie in the file from
// position blockStart + offset on, all inside block number block, whose block word is word.
void XorBlock(const TextKey& textKey, const std::uint8_t word[4], std::int64_t block, std::size_t offset,
              std::uint8_t* data, std::size_t count);

// The keys of one password. The password stream's block words are drawn once and kept,
// so a call far into a file does not draw the stream again from its start.
class PasswordKeys {
public:
    explicit PasswordKeys(std::string_view password);  // password not empty

    const TextKey& textKey() const { return textKey_; }

    // Enciphers the bytes of data[0, count), which lie in the file at pos onwards;
    // bytes before plainPrefix are left as they are.
    void EncipherSpan(std::int64_t plainPrefix, std::int64_t pos, std::uint8_t* data, std::size_t count);

    // The block word of block b: password stream bytes 4b to 4b+3.
    const std::uint8_t* BlockWord(std::int64_t block);

private:
    // Spans shorter than this take their keystream from a window of whole blocks drawn
    // ahead: a file read or written in small calls then costs about what one large call
    // costs, instead of keying one or two blocks for every call.
    static constexpr std::size_t SmallSpanLimit = 16 * StreamBlockSize;
    static constexpr std::size_t MinWindowBlocks = 4;
    static constexpr std::size_t MaxWindowBlocks = 64;

    void XorFromWindow(std::int64_t pos, std::uint8_t* data, std::size_t count);
    void XorBlocks(std::int64_t pos, std::uint8_t* data, std::size_t count);

    TextKey textKey_;
    Rc4 passwordStream_;                   // positioned after the last word drawn
    std::vector<std::uint8_t> blockWords_;  // password stream bytes drawn so far
    std::vector<std::uint8_t> window_;      // the keystream of whole blocks from windowFirstBlock_ on
    std::int64_t windowFirstBlock_ = -1;  // no window yet, and none that a first span would continue
    std::size_t windowBlocks_ = MinWindowBlocks;
};

}  // namespace jiajiemi
