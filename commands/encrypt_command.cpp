// SPDX-License-Identifier: MIT
// The encrypt command.
#include "commands/encrypt_command.h"

#include "commands/command_steps.h"
#include "commands/messages.h"
#include "protect/record.h"

#include <optional>

#include <glob.h>
#include <sys/stat.h>

namespace jiajiemi {
namespace {

struct SourceKind {
    std::string_view text;  // found anywhere in the source path
    std::string_view filter;
    std::string_view suffix;
};

// Tested in this order, a later match overwriting an earlier one: ".exe" also holds ".e".
constexpr SourceKind SourceKinds[] = {
    {".e", "易语言源文件（*.e）", "e"},
    {".txt", "文本文件（*.txt）", "txt"},
    {".exe", "应用文件（*.exe）", "exe"},
    {".png", "图片文件（*.png）", "png"},
    {".jpg", "图片文件（*.jpg）", "jpg"},
};

// The length of the UTF-8 character that starts with lead; 1 for a byte that starts none.
std::size_t CharacterLength(unsigned char lead) {
    if (lead >= 0xf0 && lead <= 0xf4) return 4;
    if (lead >= 0xe0) return lead <= 0xef ? 3 : 1;
    if (lead >= 0xc2) return 2;
    return 1;
}

}  // namespace

int FindText(std::string_view text, std::string_view sought) {
    text = text.substr(0, text.find('\0'));
    for (std::size_t at = 0; text.size() - at >= sought.size();) {
        if (text.compare(at, sought.size(), sought) == 0) return int(at) + 1;
        const std::size_t step = CharacterLength(static_cast<unsigned char>(text[at]));
        if (step > text.size() - at) break;  // a character cut short by the end of the text
        at += step;
    }
    return -1;
}

bool PathExists(const std::string& path) {
    if (path.empty()) return false;
    if (path.find_first_of("*?") == std::string::npos) {
        struct stat info {};
        return ::lstat(path.c_str(), &info) == 0;
    }
    std::string pattern;
    for (char c : path) {
        if (c == '[' || c == '\\') pattern += '\\';
        pattern += c;
    }
    glob_t matches{};
    const bool found = ::glob(pattern.c_str(), 0, nullptr, &matches) == 0 && matches.gl_pathc > 0;
    ::globfree(&matches);
    return found;
}

namespace {

// Reports why the source cannot be encrypted; nothing when it can.
std::optional<CommandOutcome> ReportSourceFailure(CommandSurface& surface, ReadFailure failure) {
    const auto unreadable = [&](std::string_view message) {
        return Report(surface, CommandOutcome::SourceUnreadable, message);
    };
    switch (failure) {
    case ReadFailure::None: return std::nullopt;
    case ReadFailure::NotRegularFile: return unreadable(messages::SourceNotRegular);
    case ReadFailure::TooLarge: return unreadable(messages::SourceTooLarge);
    case ReadFailure::Unreadable: return unreadable(messages::SourceUnreadable);
    case ReadFailure::Changed: return unreadable(messages::SourceChanged);
    }
    return std::nullopt;
}

// The user's word that the password is the one meant: an empty one stores the content in
// plain, and a typo in a non-empty one would lock the file for good. Nothing when the
// command may go on.
std::optional<CommandOutcome> ConfirmPassword(CommandSurface& surface, const std::string& typed) {
    if (typed.empty()) {
        if (surface.AskYesNo(std::string(messages::EmptyPasswordQuestion))) return std::nullopt;
        return CommandOutcome::Cancelled;
    }
    const std::optional<std::string> again = surface.AskPasswordAgain();
    if (!again) return CommandOutcome::Cancelled;
    if (*again != typed) return Report(surface, CommandOutcome::PasswordsDiffer, messages::PasswordsDiffer);
    return std::nullopt;
}

}  // namespace

CommandOutcome RunEncryptCommand(CommandSurface& surface) {
    FileDialogSettings& saveDialog = surface.SaveDialog();
    for (const SourceKind& kind : SourceKinds) {
        if (FindText(surface.FileNameText(), kind.text) != -1) {
            saveDialog.filter = kind.filter;
            saveDialog.defaultSuffix = kind.suffix;
        }
    }
    if (!PathExists(surface.FileNameText())) return Report(surface, CommandOutcome::SourceMissing, messages::SourceMissing);
    // Refused before the dialog: there is no point choosing a destination for a password
    // that cannot be used, or for a source that cannot be read.
    const std::optional<std::string> password = PasswordBytesOrReport(surface);
    if (!password) return CommandOutcome::PasswordNotEncodable;
    const std::string source = surface.FileNameText();
    if (const auto failed = ReportSourceFailure(surface, InspectSource(source))) return *failed;
    if (const auto stopped = ConfirmPassword(surface, surface.PasswordText())) return *stopped;
    if (!surface.OpenSaveDialog()) return CommandOutcome::Cancelled;
    const std::string destination = saveDialog.fileName;

    // The destination is replaced only once the new file is whole, so a file encrypted
    // onto itself keeps its content.
    FileEncryption encryption;
    WorkProgress progress;
    try {
        surface.RunInBackground([&, replacing = ReplacingFor(surface, destination)] {
            encryption = EncryptFile(source, destination, *password, progress, replacing);
        }, progress);
    } catch (const WorkCancelled&) {
        return CommandOutcome::Cancelled;
    }
    if (const auto failed = ReportSourceFailure(surface, encryption.readFailure)) return *failed;
    return ReportWrite(surface, encryption.written, destination,
                       {messages::EncryptedCreateFailed, messages::EncryptedWriteFailed, messages::EncryptedBefore});
}

}  // namespace jiajiemi
