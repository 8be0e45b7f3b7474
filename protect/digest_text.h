// The digest text: the MD5 message digest (RFC 1321) of a byte string, written as
// 32 lowercase hexadecimal characters, and the helpers that feed and compare it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
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

// Exactly 32 characters, 0-9 and a-f.
using DigestText = std::string;

inline constexpr std::size_t DigestTextLength = 32;

// The running state of one digest: Start, then Update once or more, then Finish.
class DigestContext {
public:
    void Start();
    void Update(const std::uint8_t* bytes, std::size_t count);
    // Writes the 32 characters and a terminating zero into out (at least 33 bytes).
    void Finish(char* out);

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

// Writes 32 characters and a terminating zero into out, which holds at least 33 bytes.
void ComputeDigestTextInto(const std::uint8_t* bytes, std::uint32_t count, char* out);

// The bytes of a text up to, not including, its first zero byte. Nothing is converted.
ByteString TextToBytes(std::string_view text);

// Byte-by-byte order of two zero-terminated texts as unsigned values; nullptr counts as
// the empty text. 0 when equal, -1 when first sorts before second, +1 otherwise.
int CompareText(const char* first, const char* second);

}  // namespace jiajiemi
