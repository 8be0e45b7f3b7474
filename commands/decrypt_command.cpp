// SPDX-License-Identifier: MIT
// The decrypt command, and verify: its checks without writing anything.
#include "commands/decrypt_command.h"

#include "commands/command_steps.h"
#include "commands/messages.h"
#include "protect/record.h"
#include "protect/typed_io.h"

namespace jiajiemi {
namespace {

// Says which check failed; true when they all passed.
bool ReportCheck(CommandSurface& surface, RecordCheck check, CommandOutcome& outcome) {
    switch (check) {
    case RecordCheck::Passed: return true;
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
    return false;
}

constexpr WriteMessages DecryptWriteMessages{messages::DecryptedCreateFailed, messages::DecryptedWriteFailed,
                                             messages::DecryptedBefore};

// Decrypts with the content held in memory between the checks and the save dialog.
CommandOutcome DecryptInMemory(CommandSurface& surface, const std::string& password) {
    RecordReading reading;
    WorkProgress progress;
    const std::string source = surface.FileNameText();
    surface.RunInBackground([&] { reading = ReadProtectedFile(source, password); }, progress);
    CommandOutcome outcome = CommandOutcome::Succeeded;
    if (!ReportCheck(surface, reading.check, outcome)) return outcome;

    // The protected file is closed by now, so it may be chosen as the destination itself.
    if (!surface.OpenSaveDialog()) return CommandOutcome::Cancelled;
    const std::string destination = surface.SaveDialog().fileName;
    WriteOutcome written;
    surface.RunInBackground([&, replacing = ReplacingFor(surface, destination)] {
        written = WriteAndReleaseWholeFile(destination, std::move(reading.content), Unwatched(), replacing);
    }, progress);
    return ReportWrite(surface, written, destination, DecryptWriteMessages);
}

// Decrypts into a destination known ahead while reading: the content is never held whole,
// and the replacement waits for the checks and the save dialog.
CommandOutcome DecryptAhead(CommandSurface& surface, const std::string& password, const std::string& ahead,
                            PendingReplacement& replacement) {
    RecordPassing passing;
    WorkProgress progress;
    const std::string source = surface.FileNameText();
    surface.RunInBackground([&] { passing = PassProtectedFile(source, password, replacement.file()); }, progress);
    CommandOutcome outcome = CommandOutcome::Succeeded;
    if (!ReportCheck(surface, passing.check, outcome)) return outcome;

    if (!surface.OpenSaveDialog()) return CommandOutcome::Cancelled;
    const std::string destination = surface.SaveDialog().fileName;
    // A surface that confirms another path than it announced: what was written is not for it.
    if (destination != ahead) return ReportWrite(surface, WriteOutcome::OpenFailed, destination, DecryptWriteMessages);
    WriteOutcome written;
    surface.RunInBackground([&] { written = replacement.Finish(passing.written); }, progress);
    return ReportWrite(surface, written, destination, DecryptWriteMessages);
}

}  // namespace

CommandOutcome RunDecryptCommand(CommandSurface& surface) {
    const std::optional<std::string> password = PasswordBytesOrReport(surface);
    if (!password) return CommandOutcome::PasswordNotEncodable;
    if (const std::optional<std::string> ahead = surface.DestinationKnownAhead()) {
        // A destination that refuses now is left for the save dialog's turn, after the checks.
        PendingReplacement replacement(*ahead, {}, 0, ReplacingFor(surface, *ahead));
        if (replacement.file()) return DecryptAhead(surface, *password, *ahead, replacement);
    }
    return DecryptInMemory(surface, *password);
}

CommandOutcome RunVerifyCommand(CommandSurface& surface) {
    const std::optional<std::string> password = PasswordBytesOrReport(surface);
    if (!password) return CommandOutcome::PasswordNotEncodable;
    RecordPassing passing;
    WorkProgress progress;
    const std::string source = surface.FileNameText();
    surface.RunInBackground([&] { passing = PassProtectedFile(source, *password); }, progress);
    CommandOutcome outcome = CommandOutcome::Succeeded;
    if (!ReportCheck(surface, passing.check, outcome)) return outcome;
    const std::string verified = std::string(messages::VerifiedBefore) + source + std::string(messages::VerifiedAfter);
    return Report(surface, CommandOutcome::Succeeded, verified, MessageStyle::Information);
}

}  // namespace jiajiemi
