// SPDX-License-Identifier: MIT
// KeyedFile: a PlainFile whose bytes from its plain prefix on pass through the password's
// position-keyed stream on their way in and out.
#pragma once

#include "protect/bytes.h"
#include "protect/key_stream.h"
#include "protect/plain_file.h"

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace jiajiemi {

// A file whose bytes at positions from plainPrefix on are XORed with the password's
// keystream z(p) on their way in and out.
class KeyedFile : public PlainFile {
public:
    KeyedFile(std::string_view password, std::int32_t plainPrefix);  // password not empty

    std::int32_t read(void* buffer, std::int32_t count) override;
    void write(const void* buffer, std::int32_t count) override;  // the caller's bytes stay unchanged

    std::int32_t plainPrefix() const { return plainPrefix_; }

private:
    std::int32_t plainPrefix_;
    PasswordKeys keys_;  // serves reads and writes alike: the two key sets are always equal
    ByteString writeRing_;  // the enciphered copies of a write's pieces
};

// A closed file that passes its bytes through password's keystream from plainPrefix on;
// an empty password gives a PlainFile.
std::unique_ptr<PlainFile> MakeFile(std::string_view password, std::int32_t plainPrefix);

}  // namespace jiajiemi
