// SPDX-License-Identifier: MIT
// Reading the known-answer files under tests/data.
#pragma once

#include "protect/digest_text.h"

#include <cstdint>
#include <string>
#include <vector>

namespace jiajiemi::test {

std::string DataPath(const std::string& name);

// The lines of a data file, without blank lines and '#' comments, split at spaces.
std::vector<std::vector<std::string>> ReadVectorLines(const std::string& name);

// Lowercase or uppercase hex to bytes; "-" is the empty byte string.
ByteString FromHex(const std::string& hex);
std::string ToHex(const ByteString& bytes);

}  // namespace jiajiemi::test
