// SPDX-License-Identifier: MIT
// KeyedFile: enciphering on the way out, deciphering on the way in.
#include "protect/keyed_file.h"

#include "protect/parallel.h"

#include <algorithm>

namespace jiajiemi {
namespace {

// Bytes enciphered at a time: large enough to keep every core busy, small enough that the
// copy a write needs stays small.
constexpr std::size_t CipherPiece = std::size_t(1) << 20;
constexpr std::size_t WriteRingPieces = 3;

}  // namespace

KeyedFile::KeyedFile(std::string_view password, std::int32_t plainPrefix)
    : plainPrefix_(plainPrefix < 0 ? 0 : plainPrefix), keys_(password) {}

std::int32_t KeyedFile::read(void* buffer, std::int32_t count) {
    if (count <= 0) return 0;
    const std::int32_t pos = position();
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    // Each piece is deciphered right after it was read, while it is still in the cache.
    std::int32_t done = 0;
    while (done < count) {
        const std::int32_t want = std::min<std::int32_t>(count - done, std::int32_t(CipherPiece));
        const std::int32_t got = readPlain(bytes + done, want);
        if (got > 0) keys_.EncipherSpan(plainPrefix_, pos + std::int64_t(done), bytes + done, std::size_t(got));
        done += got;
        if (got < want) break;
    }
    return done;
}

void KeyedFile::write(const void* buffer, std::int32_t count) {
    if (count <= 0) return;
    const std::int32_t pos = position();
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    // The caller's bytes stay as they are, so they are enciphered in a copy: a ring of a
    // few pieces, each written on another thread while the next is enciphered.
    // Kept from call to call, so that its fresh pages are touched once.
    ByteString& ring = writeRing_;
    const std::size_t ringSize = std::min<std::size_t>(std::size_t(count), WriteRingPieces * CipherPiece);
    if (ring.size() < ringSize) ring.resize(ringSize);
    const auto encipher = [&](std::span<std::uint8_t> slot, std::size_t first) {
        std::copy_n(bytes + first, slot.size(), slot.data());
        keys_.EncipherSpan(plainPrefix_, pos + std::int64_t(first), slot.data(), slot.size());
        return slot.size();
    };
    const auto writeOut = [&](std::span<const std::uint8_t> slot, std::size_t) {
        writePlain(slot.data(), std::int32_t(slot.size()));
    };
    if (std::size_t(count) <= CipherPiece) {  // one piece: no pipeline to set up for it
        const std::span<std::uint8_t> slot(ring.data(), std::size_t(count));
        encipher(slot, 0);
        writeOut(slot, 0);
        return;
    }
    // A failed write stops the enciphering; the bytes before it stay written.
    ProduceAndFollow(std::size_t(count), CipherPiece, std::span(ring.data(), ringSize), encipher, {writeOut});
}

std::unique_ptr<PlainFile> MakeFile(std::string_view password, std::int32_t plainPrefix) {
    if (password.empty()) return std::make_unique<PlainFile>();
    return std::make_unique<KeyedFile>(password, plainPrefix);
}

}  // namespace jiajiemi
