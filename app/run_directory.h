// SPDX-License-Identifier: MIT
// The run directory, the folder of the program's own executable, and the file the
// program was asked to open.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace jiajiemi {

// The executable's path cut before its last "/"; the root folder gives "/". A path
// without any "/" gives ".".
std::string RunDirectoryOf(std::string_view executablePath);

// The run directory of this process, from /proc/self/exe; empty when it cannot be read.
std::string RunDirectory();

// The file a file manager asked the window to open ("Open with", or %f of the desktop
// entry): the one argument, made absolute against the folder the program was started
// in, since start-up then moves to the run directory. Empty unless there is exactly one.
std::string StartingFileName(const std::vector<std::string>& arguments, const std::string& startFolder);

}  // namespace jiajiemi
