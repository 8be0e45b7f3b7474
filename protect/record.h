// SPDX-License-Identifier: MIT
// The protected file record: its layout, its writer and its checker.
//
// Layout (all offsets absolute; the record is written and read through a KeyedFile with a
// plain prefix of 4, so only the magic is stored in plain):
//   0   4   magic 1164201993, little-endian: 09 50 64 45
//   4   32  digest text of the password's bytes
//   36  32  digest text of the content
//   68  4   content length L, little-endian
//   72  L   content
#pragma once

#include "protect/bytes.h"
#include "protect/digest_text.h"
#include "protect/plain_file.h"
#include "protect/poly1305.h"
#include "protect/replace_file.h"
#include "protect/whole_file.h"
#include "protect/work_progress.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace jiajiemi {

inline constexpr std::int32_t ProtectedFileMagic = 1164201993;
inline constexpr std::int32_t ProtectedFilePlainPrefix = 4;
inline constexpr std::int32_t PasswordDigestOffset = 4;
inline constexpr std::int32_t ContentDigestOffset = 36;
inline constexpr std::int32_t ContentLengthOffset = 68;
inline constexpr std::int32_t ContentOffset = 72;
// The longest content a record holds: the whole file must stay below 2^31 bytes.
inline constexpr std::size_t ContentLimit = std::size_t(INT32_MAX) - ContentOffset;

// The content moves in pieces through a ring, written and read alike: each piece is
// enciphered or deciphered while others are digested and written on other cores. A piece
// of 1 MiB is enciphered and written by one thread in one go; a small content uses
// smaller pieces, so that it costs little.
inline constexpr std::size_t ContentPiece = std::size_t(1) << 20;
inline constexpr std::size_t MinContentPiece = std::size_t(64) << 10;
inline constexpr std::size_t RingPieces = 8;

// Writes a protected file of content under password (the password's bytes, as digested).
WriteOutcome WriteProtectedFile(const std::string& path, std::string_view password,
                                std::span<const std::uint8_t> content, Replacing replacing = Replacing::Allowed);

struct FileEncryption {
    ReadFailure readFailure = ReadFailure::None;  // when not None, nothing was written
    WriteOutcome written = WriteOutcome::Written;
};

// Why the file at sourcePath cannot be encrypted, as far as can be told without reading
// it: None when it is a readable regular file of at most ContentLimit bytes. A FIFO is
// never waited on.
ReadFailure InspectSource(const std::string& sourcePath);

// Writes the regular file at sourcePath as a protected file at path. The source is read
// piece by piece and never held whole; the destination is replaced only at the end, so a
// source that is its own destination keeps its content until the new file is complete.
// Counts every byte read and written in progress, and stops with WorkCancelled on a cancel.
FileEncryption EncryptFile(const std::string& sourcePath, const std::string& path, std::string_view password,
                           WorkProgress& progress = Unwatched(), Replacing replacing = Replacing::Allowed);

enum class RecordCheck {
    Passed,
    OpenFailed,     // the file cannot be opened for reading
    NotProtected,   // the magic is not there
    WrongPassword,  // the stored password digest is not that of password
    Tampered,       // the stored content digest is not that of the content read
    Unreadable,     // a read error, or no memory for the content: nothing is known of it
};

struct RecordReading {
    RecordCheck check = RecordCheck::OpenFailed;
    ByteString content;  // only when check is Passed
};

// Reads and checks a protected file in the order magic, password, content.
// Counts every byte of the content read in progress (and, passing it on, written), and
// stops with WorkCancelled on a cancel.
RecordReading ReadProtectedFile(const std::string& path, std::string_view password,
                                WorkProgress& progress = Unwatched());

struct RecordPassing {
    RecordCheck check = RecordCheck::OpenFailed;
    bool written = true;  // false when writing to the destination failed
};

// What a check that passed saw of a protected file, so that a later reading can tell that
// the file still holds the same content without digesting it again (the digest costs
// three times what the tag costs): the stored content digest, the content's length and a
// Poly1305 tag of the content under a key drawn at random for this seal and never shown.
// Without the key nobody can make another content give the same tag, but by a chance
// below 2^-75 for the longest content.
struct RecordSeal {
    RecordSeal();  // draws the key; with no random bytes to be had, there is none

    std::optional<Poly1305Key> key;
    bool sealed = false;  // by a check that passed, using the key
    DigestText storedDigest;
    std::optional<std::size_t> contentLength;  // none when the content counted as empty
    Poly1305Tag tag{};
};

// Reads and checks a protected file as ReadProtectedFile does, but never holds the content
// whole: it goes piece by piece to destination (nowhere when null), written from its
// current position as it is read, whatever the checks decide in the end. A content that
// cannot be read whole leaves the destination empty, as it leaves the content of a
// reading empty.
// With a seal that has a key and is not sealed yet, a check that passes seals it. With a
// sealed seal, the content is not digested: the check passes when the file holds what the
// seal saw, and says Tampered when it holds anything else.
RecordPassing PassProtectedFile(const std::string& path, std::string_view password, PlainFile* destination = nullptr,
                                WorkProgress& progress = Unwatched(), RecordSeal* seal = nullptr);

}  // namespace jiajiemi
