// SPDX-License-Identifier: MIT
// The bytes of a password as they are digested and key the stream: the CP936 encoding of
// what the user typed, so that files stay interchangeable with those written on systems
// whose password boxes gave CP936 bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace jiajiemi {

// The CP936 bytes of a UTF-8 text, or nothing when the text is not valid UTF-8 or holds
// a character that CP936 cannot encode. Nothing is ever substituted.
std::optional<std::string> PasswordBytes(std::string_view utf8);

}  // namespace jiajiemi
