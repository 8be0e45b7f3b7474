// SPDX-License-Identifier: MIT
// A file of the fuzzer's bytes: the layer under test reads files by path.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace jiajiemi::fuzz {

// The same path for the whole run, one per process, removed at exit.
inline const std::string& InputPath() {
    static const std::string path = [] {
        std::string pattern = "/tmp/jiajiemi-fuzz-XXXXXX";
        const int fd = mkstemp(pattern.data());
        if (fd < 0) std::abort();
        close(fd);
        static std::string removeAtExit;
        removeAtExit = pattern;
        std::atexit([] { std::remove(removeAtExit.c_str()); });
        return pattern;
    }();
    return path;
}

inline const std::string& WriteInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = InputPath();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || (size > 0 && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) std::abort();
    return path;
}

// A broken promise of the code under test: stop here, so the fuzzer keeps the input.
inline void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace jiajiemi::fuzz
