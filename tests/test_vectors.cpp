// SPDX-License-Identifier: MIT
// Reading the known-answer files under tests/data.
#include "tests/test_vectors.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace jiajiemi::test {

std::string DataPath(const std::string& name) { return std::string(JIAJIEMI_TEST_DATA) + "/" + name; }

std::vector<std::vector<std::string>> ReadVectorLines(const std::string& name) {
    std::ifstream in(DataPath(name));
    if (!in) throw std::runtime_error("cannot read test data " + name);
    std::vector<std::vector<std::string>> lines;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::vector<std::string> fields;
        for (std::string word; words >> word;) fields.push_back(word);
        if (!fields.empty()) lines.push_back(std::move(fields));
    }
    return lines;
}

ByteString FromHex(const std::string& hex) {
    if (hex == "-") return {};
    if (hex.size() % 2 != 0) throw std::runtime_error("odd hex: " + hex);
    ByteString bytes;
    for (std::size_t k = 0; k < hex.size(); k += 2) bytes.push_back(std::uint8_t(std::stoi(hex.substr(k, 2), nullptr, 16)));
    return bytes;
}

std::string ToHex(const ByteString& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (std::uint8_t b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

}  // namespace jiajiemi::test
