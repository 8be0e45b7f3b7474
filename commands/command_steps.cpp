// SPDX-License-Identifier: MIT
// Steps that the encrypt and decrypt commands share.
#include "commands/command_steps.h"

#include "commands/messages.h"
#include "protect/password_bytes.h"

#include <sys/stat.h>

namespace jiajiemi {

CommandOutcome Report(CommandSurface& surface, CommandOutcome outcome, std::string_view message, MessageStyle style) {
    surface.ShowMessage(std::string(message), style);
    return outcome;
}

CommandOutcome ReportWrite(CommandSurface& surface, WriteOutcome written, const std::string& destination,
                           const WriteMessages& texts) {
    switch (written) {
    case WriteOutcome::OpenFailed: return Report(surface, CommandOutcome::DestinationRefused, texts.refused);
    case WriteOutcome::WriteFailed: return Report(surface, CommandOutcome::WriteFailed, texts.failed);
    case WriteOutcome::Written: break;
    }
    const std::string success = std::string(texts.successBefore) + destination + std::string(messages::SucceededAfter);
    return Report(surface, CommandOutcome::Succeeded, success, MessageStyle::Information);
}

Replacing ReplacingFor(CommandSurface& surface, const std::string& destination) {
    struct stat info {};
    const bool exists = ::lstat(destination.c_str(), &info) == 0;
    return exists || surface.ReplaceAsked() ? Replacing::Allowed : Replacing::Forbidden;
}

std::optional<std::string> PasswordBytesOrReport(CommandSurface& surface) {
    std::optional<std::string> bytes = PasswordBytes(surface.PasswordText());
    if (!bytes) Report(surface, CommandOutcome::PasswordNotEncodable, messages::PasswordNotEncodable);
    return bytes;
}

}  // namespace jiajiemi
