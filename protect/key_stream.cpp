// SPDX-License-Identifier: MIT
// The password-keyed stream over absolute file positions.
#include "protect/key_stream.h"

#include "protect/digest_text.h"
#include "protect/parallel.h"

#include <algorithm>

namespace jiajiemi {

TextKey MakeTextKey(std::string_view password) {
    const DigestText digest = ComputeDigestText(password);
    // Swapping each pair of digits and then reversing all 32 characters gives the digest
    // bytes in reverse order, each still high digit first.
    TextKey key;
    for (std::size_t k = 0; k < 16; ++k) {
        key[2 * k] = digest[30 - 2 * k];
        key[2 * k + 1] = digest[31 - 2 * k];
    }
    return key;
}

namespace {

constexpr std::size_t BlockKeyLength = 40;

void MakeBlockKey(const TextKey& textKey, const std::uint8_t word[4], std::int64_t block,
                  std::uint8_t key[BlockKeyLength]) {
    std::copy(word, word + 4, key);
    std::copy(textKey.begin(), textKey.end(), key + 4);
    // The word read as a little-endian number, XORed with the block number, written back.
    Store32Le(key + 36, Load32Le(word) ^ std::uint32_t(block));
}

// Enciphers the four whole blocks from block on, which lie in data one after another.
void XorFourBlocks(const TextKey& textKey, const std::uint8_t* words, std::int64_t block, std::uint8_t* data) {
    std::uint8_t keys[4][BlockKeyLength];
    const std::uint8_t* keyStarts[4];
    std::uint8_t* blockStarts[4];
    for (int n = 0; n < 4; ++n) {
        MakeBlockKey(textKey, words + 4 * (block + n), block + n, keys[n]);
        keyStarts[n] = keys[n];
        blockStarts[n] = data + n * StreamBlockSize;
    }
    Rc4Quad cipher(keyStarts, BlockKeyLength);
    cipher.Discard(BlockKeyDiscard);
    cipher.XorInto(blockStarts, StreamBlockSize);
}

}  // namespace

void XorBlock(const TextKey& textKey, const std::uint8_t word[4], std::int64_t block, std::size_t offset,
              std::uint8_t* data, std::size_t count) {
    std::uint8_t key[BlockKeyLength];
    MakeBlockKey(textKey, word, block, key);
    Rc4 cipher(key, sizeof key);  // a local: the compiler can see that data never aliases it
    cipher.Discard(BlockKeyDiscard + offset);
    cipher.XorInto(data, count);
}

PasswordKeys::PasswordKeys(std::string_view password)
    : textKey_(MakeTextKey(password)),
      passwordStream_(reinterpret_cast<const std::uint8_t*>(password.data()), password.size()) {}

const std::uint8_t* PasswordKeys::BlockWord(std::int64_t block) {
    const std::size_t needed = std::size_t(block + 1) * 4;
    if (blockWords_.size() < needed) {
        const std::size_t have = blockWords_.size();
        blockWords_.resize(needed);
        passwordStream_.Generate(blockWords_.data() + have, needed - have);
    }
    return blockWords_.data() + block * 4;
}

void PasswordKeys::EncipherSpan(std::int64_t plainPrefix, std::int64_t pos, std::uint8_t* data, std::size_t count) {
    if (plainPrefix < 0) plainPrefix = 0;
    if (pos < plainPrefix) {
        const std::int64_t plain = plainPrefix - pos;
        if (std::int64_t(count) <= plain) return;
        data += plain;
        count -= std::size_t(plain);
        pos = plainPrefix;
    }
    if (count == 0) return;
    if (count < SmallSpanLimit) {
        XorFromWindow(pos, data, count);
        return;
    }
    XorBlocks(pos, data, count);
}

void PasswordKeys::XorFromWindow(std::int64_t pos, std::uint8_t* data, std::size_t count) {
    while (count > 0) {
        const std::int64_t block = pos / StreamBlockSize;
        const std::int64_t windowStart = windowFirstBlock_ * StreamBlockSize;
        const std::int64_t windowEnd = windowStart + std::int64_t(window_.size());
        if (pos < windowStart || pos >= windowEnd) {
            // A walk onwards in small steps gets ever longer windows; a jump starts short.
            windowBlocks_ = block * StreamBlockSize == windowEnd ? std::min(2 * windowBlocks_, MaxWindowBlocks)
                                                                  : MinWindowBlocks;
            window_.assign(windowBlocks_ * StreamBlockSize, 0);
            windowFirstBlock_ = block;
            XorBlocks(block * StreamBlockSize, window_.data(), window_.size());
            continue;
        }
        const std::size_t at = std::size_t(pos - windowStart);
        const std::size_t n = std::min(count, window_.size() - at);
        const std::uint8_t* keystream = window_.data() + at;  // a local: data's bytes may alias anything else
        for (std::size_t k = 0; k < n; ++k) data[k] ^= keystream[k];
        pos += std::int64_t(n);
        data += n;
        count -= n;
    }
}

void PasswordKeys::XorBlocks(std::int64_t pos, std::uint8_t* data, std::size_t count) {
    const std::int64_t firstBlock = pos / StreamBlockSize;
    const std::int64_t end = pos + std::int64_t(count);
    const std::int64_t lastBlock = (end - 1) / StreamBlockSize;
    BlockWord(lastBlock);  // draws every word up to the last block, once, before the threads start
    const std::uint8_t* words = blockWords_.data();

    // Every block has its own key, so blocks are independent units of work.
    constexpr std::size_t BlocksPerThreadAtLeast = 64;
    ParallelFor(std::size_t(lastBlock - firstBlock + 1), BlocksPerThreadAtLeast, [&](std::size_t from, std::size_t to) {
        for (std::size_t k = from; k < to;) {
            const std::int64_t block = firstBlock + std::int64_t(k);
            const std::int64_t blockStart = block * StreamBlockSize;
            if (k + 4 <= to && blockStart >= pos && blockStart + 4 * StreamBlockSize <= end) {
                XorFourBlocks(textKey_, words, block, data + (blockStart - pos));
                k += 4;
                continue;
            }
            const std::int64_t begin = std::max(pos, blockStart);
            const std::int64_t stop = std::min(end, blockStart + StreamBlockSize);
            XorBlock(textKey_, words + block * 4, block, std::size_t(begin - blockStart), data + (begin - pos),
                     std::size_t(stop - begin));
            ++k;
        }
    });
}

}  // namespace jiajiemi
