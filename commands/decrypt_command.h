// SPDX-License-Identifier: MIT
// The decrypt command: checks the protected file named in the file-name box and writes its
// content to the path chosen in the save dialog.
#pragma once

#include "commands/command_surface.h"

namespace jiajiemi {

CommandOutcome RunDecryptCommand(CommandSurface& surface);

// Every check of decrypt with nothing written: no save dialog, and a message on success.
CommandOutcome RunVerifyCommand(CommandSurface& surface);

}  // namespace jiajiemi
