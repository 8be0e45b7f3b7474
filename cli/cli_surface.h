// SPDX-License-Identifier: MIT
// The command surface of a terminal: the paths and password come from the command line
// and the password sources, the save dialog is the DEST argument, and messages are lines.
#pragma once

#include "cli/progress_line.h"
#include "commands/command_surface.h"

#include <iosfwd>
#include <string>

namespace jiajiemi {

class CliSurface : public CommandSurface {
public:
    // progressTerminal is where the progress line goes when it is a terminal (the tool's
    // standard error); -1 for none.
    CliSurface(std::string source, std::string destination, std::string password, bool force, std::ostream& out,
               std::ostream& err, int progressTerminal = -1, ProgressTiming progressTiming = {});

    std::string FileNameText() override { return source_; }
    std::string PasswordText() override { return password_; }
    FileDialogSettings& SaveDialog() override { return saveDialog_; }
    // Confirms DEST as an absolute path; refuses an existing DEST without --force.
    bool OpenSaveDialog() override;
    // DEST as OpenSaveDialog will confirm it, so that decrypt checks DEST before reading.
    std::optional<std::string> DestinationKnownAhead() override;
    // A terminal has already asked twice when it asked at all, and a script that gives an
    // empty line asked for the empty password: neither is asked again.
    bool AskYesNo(const std::string&) override { return true; }
    std::optional<std::string> AskPasswordAgain() override { return password_; }
    bool ReplaceAsked() override { return force_; }
    // Information to standard output, errors to standard error, one line each.
    void ShowMessage(const std::string& text, MessageStyle style) override;
    // The work on a thread of its own while a progress line is kept on the terminal.
    void RunInBackground(const std::function<void()>& work, WorkProgress& progress) override;

private:
    bool Refused() const;
    std::string AbsoluteDestination() const;

    std::string source_;
    std::string destination_;
    std::string password_;
    bool force_;
    std::ostream& out_;
    std::ostream& err_;
    int progressTerminal_;
    ProgressTiming progressTiming_;
    FileDialogSettings saveDialog_{FileDialogKind::Save};
};

}  // namespace jiajiemi
