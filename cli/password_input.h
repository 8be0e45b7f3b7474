// SPDX-License-Identifier: MIT
// Where jiajiemi-cli's password comes from: a password file, the terminal or standard input.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <string>

namespace jiajiemi {

// The longest password taken, in bytes, its line end not counted. Far beyond any typed
// password, and small enough that a file or pipe without line ends cannot fill memory.
inline constexpr std::size_t PasswordLimit = 64 * 1024;

enum class LineRead {
    Read,
    Nothing,  // not a single byte, not even a line end
    TooLong,
    Utf16,    // begins with a UTF-16 byte-order mark
};

struct PasswordLine {
    LineRead result = LineRead::Nothing;
    std::string text;
};

// The first line of in without its "\n" or "\r\n", reading no more than PasswordLimit + 2
// bytes of it. A file or standard input may begin with a byte-order mark (editors on other
// systems add one): a UTF-8 one is dropped, a UTF-16 one refuses the line.
PasswordLine ReadPasswordLine(std::istream& in, bool mayHaveByteOrderMark);

// The password: the first line of passwordFile when one is named, else asked on the
// terminal without echo (twice when confirm), else the first line of standard input.
// Nothing, after a message on err, when none can be had.
std::optional<std::string> ReadPassword(const std::string& passwordFile, bool confirm, std::ostream& err);

}  // namespace jiajiemi
