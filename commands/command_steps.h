// SPDX-License-Identifier: MIT
// Steps that the encrypt and decrypt commands share.
#pragma once

#include "commands/command_surface.h"
#include "protect/replace_file.h"

#include <optional>
#include <string>
#include <string_view>

namespace jiajiemi {

// Shows one message and returns the outcome it stands for.
CommandOutcome Report(CommandSurface& surface, CommandOutcome outcome, std::string_view message,
                      MessageStyle style = MessageStyle::Error);

// The messages of a command that writes a destination.
struct WriteMessages {
    std::string_view refused;        // the destination cannot be created or written
    std::string_view failed;         // writing failed part way
    std::string_view successBefore;  // "创建…文件“", then the path and "”成功！"
};

// Tells how the destination was written, in one message.
CommandOutcome ReportWrite(CommandSurface& surface, WriteOutcome written, const std::string& destination,
                           const WriteMessages& messages);

// Whether the destination may be replaced: when it exists now, just after the save dialog
// confirmed it (or DestinationKnownAhead told of it), or when the user asked ahead.
Replacing ReplacingFor(CommandSurface& surface, const std::string& destination);

// The password's bytes, or nothing after telling the user it cannot be used.
std::optional<std::string> PasswordBytesOrReport(CommandSurface& surface);

}  // namespace jiajiemi
