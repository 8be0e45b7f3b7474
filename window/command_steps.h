// Steps that the encrypt and decrypt commands share.
#pragma once

#include "command_surface.h"

#include <optional>
#include <string>
#include <string_view>

namespace jiajiemi {

// Shows one message and returns the outcome it stands for.
CommandOutcome Report(CommandSurface& surface, CommandOutcome outcome, std::string_view message,
                      MessageStyle style = MessageStyle::Error);

// The password's bytes, or nothing after telling the user it cannot be used.
std::optional<std::string> ReadPassword(CommandSurface& surface);

}  // namespace jiajiemi
