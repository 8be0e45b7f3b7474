// SPDX-License-Identifier: MIT
// The starting file and the run directory. "/" is ASCII, so a byte search never stops
// inside a multi-byte UTF-8 character.
#include "app/run_directory.h"

namespace jiajiemi {

std::string StartingFileName(const std::vector<std::string>& arguments, const std::string& startFolder) {
    if (arguments.size() != 1 || arguments.front().empty()) return {};
    const std::string& path = arguments.front();
    if (path.front() == '/' || startFolder.empty()) return path;
    return startFolder + (startFolder.back() == '/' ? "" : "/") + path;
}

std::string RunDirectory(const std::string& startingFile, const std::string& startFolder) {
    const std::size_t slash = startingFile.rfind('/');
    if (slash == std::string::npos) return startFolder;
    return slash == 0 ? "/" : startingFile.substr(0, slash);
}

}  // namespace jiajiemi
