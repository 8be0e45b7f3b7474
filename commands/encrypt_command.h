// SPDX-License-Identifier: MIT
// The encrypt command: turns the file named in the file-name box into a protected file at
// the path chosen in the save dialog.
#pragma once

#include "commands/command_surface.h"

#include <string>
#include <string_view>

namespace jiajiemi {

CommandOutcome RunEncryptCommand(CommandSurface& surface);

// The 1-based position of the first occurrence of sought in text, or -1. Occurrences
// begin only at the start of a UTF-8 character; case counts.
int FindText(std::string_view text, std::string_view sought);

// True when path names an existing entry, a file or a folder; with "*" or "?" in it,
// when at least one entry matches. "[" is taken literally.
bool PathExists(const std::string& path);

}  // namespace jiajiemi
