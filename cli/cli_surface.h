// SPDX-License-Identifier: MIT
// The command surface of a terminal: the paths and password come from the command line
// and the password sources, the save dialog is the DEST argument, and messages are lines.
#pragma once

#include "commands/command_surface.h"

#include <iosfwd>
#include <string>

namespace jiajiemi {

class CliSurface : public CommandSurface {
public:
    CliSurface(std::string source, std::string destination, std::string password, bool force, std::ostream& out,
               std::ostream& err);

    std::string FileNameText() override { return source_; }
    std::string PasswordText() override { return password_; }
    FileDialogSettings& SaveDialog() override { return saveDialog_; }
    // Confirms DEST as an absolute path; refuses an existing DEST without --force.
    bool OpenSaveDialog() override;
    // DEST as OpenSaveDialog will confirm it; nothing when it would refuse DEST.
    std::optional<std::string> DestinationKnownAhead() override;
    bool ReplaceAsked() override { return force_; }
    // Information to standard output, errors to standard error, one line each.
    void ShowMessage(const std::string& text, MessageStyle style) override;

private:
    bool Refused() const;
    std::string AbsoluteDestination() const;

    std::string source_;
    std::string destination_;
    std::string password_;
    bool force_;
    std::ostream& out_;
    std::ostream& err_;
    FileDialogSettings saveDialog_{FileDialogKind::Save};
};

}  // namespace jiajiemi
