// Steps that the encrypt and decrypt commands share.
#include "command_steps.h"

#include "messages.h"
#include "password_bytes.h"

namespace jiajiemi {

CommandOutcome Report(CommandSurface& surface, CommandOutcome outcome, std::string_view message, MessageStyle style) {
    surface.ShowMessage(std::string(message), style);
    return outcome;
}

std::optional<std::string> ReadPassword(CommandSurface& surface) {
    std::optional<std::string> bytes = PasswordBytes(surface.PasswordText());
    if (!bytes) Report(surface, CommandOutcome::PasswordNotEncodable, messages::PasswordNotEncodable);
    return bytes;
}

}  // namespace jiajiemi
