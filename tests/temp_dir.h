// SPDX-License-Identifier: MIT
// A fresh folder per test, removed with everything in it afterwards.
#pragma once

#include "protect/digest_text.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace jiajiemi::test {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "jiajiemi-test-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

    // Names in the folder that mark our temporary files: none may stay behind.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path_))
            if (entry.path().filename().string().find(".jiajiemi-") != std::string::npos)
                names.push_back(entry.path().filename().string());
        return names;
    }

private:
    std::filesystem::path path_;
};

inline ByteString Bytes(std::string_view text) { return ByteString(text.begin(), text.end()); }

inline ByteString ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return ByteString(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const ByteString& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

inline void WriteBytes(const std::string& path, const std::string& text) {
    WriteBytes(path, ByteString(text.begin(), text.end()));
}

}  // namespace jiajiemi::test
