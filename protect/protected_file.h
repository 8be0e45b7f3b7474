// The protected file record and the typed operations from which it is written and read.
//
// Layout (all offsets absolute; the record is written and read through a KeyedFile with a
// plain prefix of 4, so only the magic is stored in plain):
//   0   4   magic 1164201993, little-endian: 09 50 64 45
//   4   32  digest text of the password's bytes
//   36  32  digest text of the content
//   68  4   content length L, little-endian
//   72  L   content
#pragma once

#include "digest_text.h"
#include "keyed_file.h"
#include "replace_file.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace jiajiemi {

inline constexpr std::int32_t ProtectedFileMagic = 1164201993;
inline constexpr std::int32_t ProtectedFilePlainPrefix = 4;

// A value to write: a 32-bit integer, a text or a byte string.
using DataValue = std::variant<std::int32_t, std::string_view, std::span<const std::uint8_t>>;
// A variable to read into: a 32-bit integer, a text or a byte string.
using DataVariable = std::variant<std::int32_t*, std::string*, ByteString*>;

// The typed operations do nothing and fail at once on a handle that is not registered.
// None of them throws. On failure WriteData, WriteText and ReadData put the position back
// where the call began; ReadText moves it to the end of the file.

// Binary forms: an integer as 4 bytes little-endian; a text as its bytes and a zero byte;
// a byte string as its length (4 bytes little-endian) and its bytes.
bool WriteData(FileHandle file, std::initializer_list<DataValue> values);
// Text forms: a text without its zero, a number in decimal; a byte string is skipped.
bool WriteText(FileHandle file, std::initializer_list<DataValue> values);
// On failure the variables before the failing one keep their new values, a failing
// integer keeps its old one, and a failing text or byte string is left empty. A byte
// string longer than what remains in the file fails before any memory is reserved for it.
bool ReadData(FileHandle file, std::initializer_list<DataVariable> variables);
// Reads a text of at most maxBytes bytes (the file's length when left out). A zero byte or
// 0x1A ends it, and the position is left on that byte; a byte of 0x80 or above takes the
// next byte with it unless that is zero.
std::string ReadText(FileHandle file, std::optional<std::int32_t> maxBytes = std::nullopt);

enum class ReadFailure {
    None,
    Unreadable,      // missing, vanished, no permission or a read error
    NotRegularFile,  // a directory, a FIFO, a device...
    TooLarge,        // 2^31 bytes or more, or more than memory holds
};

struct WholeFile {
    ByteString bytes;
    ReadFailure failure = ReadFailure::None;
};

// The whole content of a regular file (or a link to one). An empty file is a valid, empty
// content; every failure says which it was.
WholeFile ReadWholeFile(const std::string& path);

// Writes the byte strings one after another as the whole new content of path, replacing
// any existing file only once everything was written (see ReplaceFile).
WriteOutcome WriteWholeFile(const std::string& path, std::initializer_list<std::span<const std::uint8_t>> parts);

// Writes bytes as the whole new content of path, as WriteWholeFile does, and gives the
// memory of each piece back to the system as soon as the piece is written: the pages of a
// large content then become the new file's pages, instead of the file needing as much
// fresh memory again.
WriteOutcome WriteAndReleaseWholeFile(const std::string& path, ByteString bytes);

// Writes a protected file of content under password (the password's bytes, as digested).
WriteOutcome WriteProtectedFile(const std::string& path, std::string_view password,
                                std::span<const std::uint8_t> content);

// Reads up to count bytes of a content into buffer and returns how many, fewer only at
// its end; throws FileError when the content cannot be read.
using ContentReader = std::function<std::size_t(std::uint8_t* buffer, std::size_t count)>;

struct FileEncryption {
    ReadFailure readFailure = ReadFailure::None;  // when not None, nothing was written
    WriteOutcome written = WriteOutcome::Written;
};

// Writes the regular file at sourcePath as a protected file at path. The source is read
// piece by piece and never held whole; the destination is replaced only at the end, so a
// source that is its own destination keeps its content until the new file is complete.
FileEncryption EncryptFile(const std::string& sourcePath, const std::string& path, std::string_view password);

enum class RecordCheck {
    Passed,
    OpenFailed,     // the file cannot be opened for reading
    NotProtected,   // the magic is not there
    WrongPassword,  // the stored password digest is not that of password
    Tampered,       // the stored content digest is not that of the content read
};

struct RecordReading {
    RecordCheck check = RecordCheck::OpenFailed;
    ByteString content;  // only when check is Passed
};

// Reads and checks a protected file in the order magic, password, content.
RecordReading ReadProtectedFile(const std::string& path, std::string_view password);

struct RecordPassing {
    RecordCheck check = RecordCheck::OpenFailed;
    bool written = true;  // false when writing to the destination failed
};

// Reads and checks a protected file as ReadProtectedFile does, but never holds the content
// whole: it goes piece by piece to the file open as destination (none when 0), written
// from its current position as it is read, whatever the checks decide in the end. A
// content that cannot be read whole leaves the destination empty, as it leaves the content
// of a reading empty.
RecordPassing PassProtectedFile(const std::string& path, std::string_view password, FileHandle destination = 0);

}  // namespace jiajiemi
