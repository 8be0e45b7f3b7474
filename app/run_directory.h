// The run directory: the folder of the program's own executable.
#pragma once

#include <string>
#include <string_view>

namespace jiajiemi {

// The executable's path cut before its last "/"; the root folder gives "/". A path
// without any "/" gives ".".
std::string RunDirectoryOf(std::string_view executablePath);

// The run directory of this process, from /proc/self/exe; empty when it cannot be read.
std::string RunDirectory();

}  // namespace jiajiemi
