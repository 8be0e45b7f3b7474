// The decrypt command, and verify: its checks without writing anything.
#include "decrypt_command.h"

#include "command_steps.h"
#include "messages.h"
#include "protected_file.h"

namespace jiajiemi {
namespace {

// Opens and checks the protected file; on a failed check, says which and gives nothing.
std::optional<ByteString> CheckedContent(CommandSurface& surface, CommandOutcome& outcome) {
    const std::optional<std::string> password = ReadPassword(surface);
    if (!password) {
        outcome = CommandOutcome::PasswordNotEncodable;
        return std::nullopt;
    }
    const std::string source = surface.FileNameText();
    RecordReading reading;
    surface.DoWork([&] { reading = ReadProtectedFile(source, *password); });
    switch (reading.check) {
    case RecordCheck::Passed: return std::move(reading.content);
    case RecordCheck::OpenFailed:
        outcome = Report(surface, CommandOutcome::SourceMissing, messages::ProtectedOpenFailed);
        break;
    case RecordCheck::NotProtected:
        outcome = Report(surface, CommandOutcome::NotProtected, messages::NotProtected);
        break;
    case RecordCheck::WrongPassword:
        outcome = Report(surface, CommandOutcome::WrongPassword, messages::WrongPassword);
        break;
    case RecordCheck::Tampered:
        outcome = Report(surface, CommandOutcome::Tampered, messages::Tampered);
        break;
    }
    return std::nullopt;
}

}  // namespace

CommandOutcome RunDecryptCommand(CommandSurface& surface) {
    CommandOutcome outcome = CommandOutcome::Succeeded;
    std::optional<ByteString> content = CheckedContent(surface, outcome);
    if (!content) return outcome;

    // The protected file is closed by now, so it may be chosen as the destination itself.
    if (!surface.OpenSaveDialog()) return CommandOutcome::Cancelled;
    const std::string destination = surface.SaveDialog().fileName;
    WriteOutcome written;
    surface.DoWork([&] { written = WriteAndReleaseWholeFile(destination, std::move(*content)); });
    return ReportWrite(surface, written, destination,
                       {messages::DecryptedCreateFailed, messages::DecryptedWriteFailed, messages::DecryptedBefore});
}

CommandOutcome RunVerifyCommand(CommandSurface& surface) {
    CommandOutcome outcome = CommandOutcome::Succeeded;
    if (!CheckedContent(surface, outcome)) return outcome;
    const std::string verified =
        std::string(messages::VerifiedBefore) + surface.FileNameText() + std::string(messages::VerifiedAfter);
    return Report(surface, CommandOutcome::Succeeded, verified, MessageStyle::Information);
}

}  // namespace jiajiemi
