// SPDX-License-Identifier: MIT
// Where the window starts: the file it was asked to open, and the run directory.
#pragma once

#include <string>
#include <vector>

namespace jiajiemi {

// The file a file manager asked the window to open ("Open with", or %f of the desktop
// entry): the one argument, made absolute against the folder the program was started in.
// Empty unless there is exactly one.
std::string StartingFileName(const std::vector<std::string>& arguments, const std::string& startFolder);

// The run directory: the folder of the starting file when there is one, else the folder
// the program was started in. The user's files are there, never beside the program.
std::string RunDirectory(const std::string& startingFile, const std::string& startFolder);

}  // namespace jiajiemi
