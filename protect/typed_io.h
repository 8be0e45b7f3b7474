// SPDX-License-Identifier: MIT
// The typed operations: 32-bit integers, texts and byte strings written and read at a
// file's position, in binary or in text form.
#pragma once

#include "protect/bytes.h"
#include "protect/open_files.h"
#include "protect/plain_file.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace jiajiemi {

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

// The same operations on a file object, for the library's own use.
bool WriteData(PlainFile& file, std::initializer_list<DataValue> values);
bool WriteText(PlainFile& file, std::initializer_list<DataValue> values);
bool ReadData(PlainFile& file, std::initializer_list<DataVariable> variables);
std::string ReadText(PlainFile& file, std::optional<std::int32_t> maxBytes = std::nullopt);

// Reads a byte string's stored length; nothing when it cannot be read or when the file
// does not hold that many bytes after it. Refusing a length beyond the end of the file
// keeps a crafted one from reserving gigabytes. Throws FileError on a read error.
std::optional<std::uint32_t> ReadStoredLength(PlainFile& file);

// size as a 32-bit count; FileError EFBIG for more than 2^31 - 1.
std::int32_t Size32(std::size_t size);

}  // namespace jiajiemi
