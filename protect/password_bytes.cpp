// SPDX-License-Identifier: MIT
// Converting a typed password to its CP936 bytes with iconv.
#include "protect/password_bytes.h"

#include <algorithm>
#include <iconv.h>

namespace jiajiemi {

std::optional<std::string> PasswordBytes(std::string_view utf8) {
    // ASCII is the same in both; most passwords need no converter at all.
    if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::string(utf8);
    const iconv_t converter = ::iconv_open("CP936", "UTF-8");
    if (converter == iconv_t(-1)) return std::nullopt;

    std::string in(utf8);
    std::string out(in.size() * 2 + 8, '\0');  // CP936 never needs more than 2 bytes per UTF-8 byte
    char* inPointer = in.data();
    std::size_t inLeft = in.size();
    char* outPointer = out.data();
    std::size_t outLeft = out.size();
    const std::size_t result = ::iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft);
    ::iconv_close(converter);
    // A nonzero result counts substitutions, which a password must never get.
    if (result != 0 || inLeft != 0) return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace jiajiemi
