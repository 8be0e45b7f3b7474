// SPDX-License-Identifier: MIT
// The run directory from the executable's path. "/" is ASCII, so a byte search never
// stops inside a multi-byte UTF-8 character.
#include "app/run_directory.h"

#include <filesystem>
#include <system_error>

namespace jiajiemi {

std::string RunDirectoryOf(std::string_view executablePath) {
    const std::size_t slash = executablePath.rfind('/');
    if (slash == std::string_view::npos) return ".";
    if (slash == 0) return "/";
    return std::string(executablePath.substr(0, slash));
}

std::string RunDirectory() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return RunDirectoryOf(executable.native());
}

std::string StartingFileName(const std::vector<std::string>& arguments, const std::string& startFolder) {
    if (arguments.size() != 1 || arguments.front().empty()) return {};
    const std::string& path = arguments.front();
    if (path.front() == '/' || startFolder.empty()) return path;
    return startFolder + (startFolder.back() == '/' ? "" : "/") + path;
}

}  // namespace jiajiemi
