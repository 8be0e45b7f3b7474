// SPDX-License-Identifier: MIT
// What a command needs of its surroundings: the two boxes, the save dialog and the
// message box. The window, the command-line tool and the tests each provide one.
#pragma once

#include "commands/file_dialog_settings.h"
#include "protect/work_progress.h"

#include <functional>
#include <optional>
#include <string>

namespace jiajiemi {

// How a command ended. The window ignores it; the command-line tool turns it into an
// exit code. Every outcome but Cancelled has shown exactly one message.
enum class CommandOutcome {
    Succeeded,
    Cancelled,            // a question, the save dialog or the work was cancelled: nothing
                          // shown, nothing written
    SourceMissing,        // the file named does not exist, or cannot be opened to decrypt
    SourceUnreadable,     // not a regular file, unreadable, too large, or changed while read
    NotProtected,
    WrongPassword,
    Tampered,
    DestinationRefused,   // the destination cannot be created or written
    WriteFailed,          // writing failed part way; an existing destination is unchanged
    PasswordNotEncodable,
    PasswordsDiffer,      // the password typed again was another
};

// The message box's icon, by the style numbers that other copies of this tool use:
// 16 the error icon, 64 the information icon.
enum class MessageStyle { Error = 16, Information = 64 };

class CommandSurface {
public:
    virtual ~CommandSurface() = default;

    // The current texts of 文件名编辑框 and 密码编辑框, read afresh on every call (UTF-8).
    virtual std::string FileNameText() = 0;
    virtual std::string PasswordText() = 0;

    // The settings of 选择写出, kept from one command to the next.
    virtual FileDialogSettings& SaveDialog() = 0;
    // Shows 选择写出; true when the user confirmed, and SaveDialog().fileName then holds
    // the full path chosen; false leaves the settings as they were.
    virtual bool OpenSaveDialog() = 0;

    // The path that OpenSaveDialog will confirm, when it is known before the command starts
    // and will be confirmed without asking anyone (the command-line tool's DEST). Decrypt
    // then writes the content there as it reads it, and puts it in place only once the
    // checks passed and the dialog confirmed that path; nothing when it is not known.
    virtual std::optional<std::string> DestinationKnownAhead() { return std::nullopt; }

    // A question captioned "Zaltor出品" with the buttons Yes and No, No the default; true
    // for Yes.
    virtual bool AskYesNo(const std::string& question) = 0;
    // The password typed once more, in a small dialog captioned "确认密码"; nothing when
    // the user cancelled it.
    virtual std::optional<std::string> AskPasswordAgain() = 0;
    // True when the user asked ahead that an existing destination be replaced (the
    // command-line tool's --force). Otherwise a destination is replaced only when it was
    // there as the save dialog confirmed it, which asked the user about it; one that
    // appears later is left alone.
    virtual bool ReplaceAsked() { return false; }

    // One message box captioned "Zaltor出品" with one OK button.
    virtual void ShowMessage(const std::string& text, MessageStyle style) = 0;

    // Runs the heavy part of a command: reading, enciphering and writing files. The window
    // runs it off its own thread, so that it keeps repainting, shows how far it is and
    // offers a cancel, while other input stays blocked as a modal dialog blocks it. work
    // never touches the surface; it reports to progress and stops (with WorkCancelled)
    // once progress.Cancel() was called.
    virtual void RunInBackground(const std::function<void()>& work, WorkProgress& progress) {
        static_cast<void>(progress);
        work();
    }
};

}  // namespace jiajiemi
