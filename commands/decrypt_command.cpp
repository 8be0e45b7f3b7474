// SPDX-License-Identifier: MIT
// The decrypt command, and verify: its checks without writing anything.
#include "commands/decrypt_command.h"

#include "commands/command_steps.h"
#include "commands/messages.h"
#include "protect/record.h"

namespace jiajiemi {
namespace {

// A protected file up to this size is read once and held in memory until the save dialog
// has named the destination; a larger one is checked, then read and checked again while
// it is written, so that the memory needed does not grow with the file.
constexpr std::int64_t HeldWhole = std::int64_t(16) << 20;

// Says which check failed; nothing when they all passed.
std::optional<CommandOutcome> ReportCheck(CommandSurface& surface, RecordCheck check) {
    switch (check) {
    case RecordCheck::Passed: return std::nullopt;
    case RecordCheck::OpenFailed: return Report(surface, CommandOutcome::SourceMissing, messages::ProtectedOpenFailed);
    case RecordCheck::NotProtected: return Report(surface, CommandOutcome::NotProtected, messages::NotProtected);
    case RecordCheck::WrongPassword: return Report(surface, CommandOutcome::WrongPassword, messages::WrongPassword);
    case RecordCheck::Tampered: return Report(surface, CommandOutcome::Tampered, messages::Tampered);
    case RecordCheck::Unreadable:
        return Report(surface, CommandOutcome::SourceUnreadable, messages::ProtectedUnreadable);
    }
    return std::nullopt;
}

constexpr WriteMessages DecryptWriteMessages{messages::DecryptedCreateFailed, messages::DecryptedWriteFailed,
                                             messages::DecryptedBefore};

// Reads and checks the protected file, passing its content on to destination (nowhere
// when null), as work in the background with a progress of its own; with a seal, as
// PassProtectedFile says.
RecordPassing Pass(CommandSurface& surface, const std::string& source, const std::string& password,
                   PlainFile* destination, RecordSeal* seal = nullptr) {
    RecordPassing passing;
    WorkProgress progress;
    surface.RunInBackground([&] { passing = PassProtectedFile(source, password, destination, progress, seal); },
                            progress);
    return passing;
}

// Reads and checks the protected file again while writing it beside destination, and puts
// it in place once every check passed. After an earlier check (whose seal is given), a
// file that fails now has changed since, unless it is gone or unreadable, which it says.
CommandOutcome WriteBeside(CommandSurface& surface, const std::string& source, const std::string& password,
                           const std::string& destination, RecordSeal* checkedBefore) {
    PendingReplacement replacement(destination, {}, 0, ReplacingFor(surface, destination));
    if (!replacement.file()) return ReportWrite(surface, WriteOutcome::OpenFailed, destination, DecryptWriteMessages);
    const RecordPassing passing = Pass(surface, source, password, replacement.file(), checkedBefore);
    if (passing.check != RecordCheck::Passed) {
        const bool gone = passing.check == RecordCheck::OpenFailed || passing.check == RecordCheck::Unreadable;
        return *ReportCheck(surface, checkedBefore && !gone ? RecordCheck::Tampered : passing.check);
    }
    WriteOutcome written;
    WorkProgress progress;
    surface.RunInBackground([&] { written = replacement.Finish(passing.written, progress); }, progress);
    return ReportWrite(surface, written, destination, DecryptWriteMessages);
}

// A small file: read and checked once, held in memory over the save dialog.
CommandOutcome DecryptHeld(CommandSurface& surface, const std::string& source, const std::string& password) {
    RecordReading reading;
    WorkProgress reads;
    surface.RunInBackground([&] { reading = ReadProtectedFile(source, password, reads); }, reads);
    if (const auto failed = ReportCheck(surface, reading.check)) return *failed;

    // The protected file is closed by now, so it may be chosen as the destination itself.
    if (!surface.OpenSaveDialog()) return CommandOutcome::Cancelled;
    const std::string destination = surface.SaveDialog().fileName;
    WriteOutcome written;
    WorkProgress writes;
    surface.RunInBackground([&, replacing = ReplacingFor(surface, destination)] {
        written = WriteAndReleaseWholeFile(destination, std::move(reading.content), writes, replacing);
    }, writes);
    return ReportWrite(surface, written, destination, DecryptWriteMessages);
}

// A large file: checked without holding anything, then, once the save dialog named the
// destination, read again while written beside it, and found the same by the first
// check's seal. The content is never held whole and goes nowhere but the destination's
// own folder.
CommandOutcome DecryptTwice(CommandSurface& surface, const std::string& source, const std::string& password) {
    RecordSeal seal;
    if (const auto failed = ReportCheck(surface, Pass(surface, source, password, nullptr, &seal).check)) return *failed;
    if (!surface.OpenSaveDialog()) return CommandOutcome::Cancelled;
    return WriteBeside(surface, source, password, surface.SaveDialog().fileName, &seal);
}

// A destination known before the command (the command-line tool's DEST): refused before
// anything is read, and written while the content is read and checked.
CommandOutcome DecryptAhead(CommandSurface& surface, const std::string& source, const std::string& password,
                            const std::string& ahead) {
    if (!surface.OpenSaveDialog()) return CommandOutcome::Cancelled;
    const std::string destination = surface.SaveDialog().fileName;
    // A surface that confirms another path than it announced: nothing is written for it.
    if (destination != ahead) return ReportWrite(surface, WriteOutcome::OpenFailed, destination, DecryptWriteMessages);
    return WriteBeside(surface, source, password, destination, nullptr);
}

}  // namespace

CommandOutcome RunDecryptCommand(CommandSurface& surface) {
    const std::optional<std::string> password = PasswordBytesOrReport(surface);
    if (!password) return CommandOutcome::PasswordNotEncodable;
    const std::string source = surface.FileNameText();
    try {
        if (const std::optional<std::string> ahead = surface.DestinationKnownAhead())
            return DecryptAhead(surface, source, *password, *ahead);
        if (SizeOfFile(source) <= HeldWhole) return DecryptHeld(surface, source, *password);
        return DecryptTwice(surface, source, *password);
    } catch (const WorkCancelled&) {
        return CommandOutcome::Cancelled;  // the replacement, if any, removed its temporary file
    }
}

CommandOutcome RunVerifyCommand(CommandSurface& surface) {
    const std::optional<std::string> password = PasswordBytesOrReport(surface);
    if (!password) return CommandOutcome::PasswordNotEncodable;
    const std::string source = surface.FileNameText();
    try {
        if (const auto failed = ReportCheck(surface, Pass(surface, source, *password, nullptr).check)) return *failed;
    } catch (const WorkCancelled&) {
        return CommandOutcome::Cancelled;
    }
    const std::string verified = std::string(messages::VerifiedBefore) + source + std::string(messages::VerifiedAfter);
    return Report(surface, CommandOutcome::Succeeded, verified, MessageStyle::Information);
}

}  // namespace jiajiemi
