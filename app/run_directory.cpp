// SPDX-License-Identifier: MIT
// The starting file and the run directory.
#include "app/run_directory.h"

#include <filesystem>

namespace jiajiemi {

std::string StartingFileName(const std::vector<std::string>& arguments, const std::string& startFolder) {
    if (arguments.size() != 1 || arguments.front().empty()) return {};
    const std::string& path = arguments.front();
    if (path.front() == '/' || startFolder.empty()) return path;
    return startFolder + (startFolder.back() == '/' ? "" : "/") + path;
}

std::string RunDirectory(const std::string& startingFile, const std::string& startFolder) {
    const std::string folder = std::filesystem::path(startingFile).parent_path().string();
    return folder.empty() ? startFolder : folder;
}

}  // namespace jiajiemi
