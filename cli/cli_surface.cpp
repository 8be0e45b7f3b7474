// SPDX-License-Identifier: MIT
// The command surface of a terminal.
#include "cli/cli_surface.h"

#include "commands/messages.h"

#include <filesystem>
#include <ostream>
#include <sys/stat.h>

namespace jiajiemi {

CliSurface::CliSurface(std::string source, std::string destination, std::string password, bool force,
                       std::ostream& out, std::ostream& err, int progressTerminal, ProgressTiming progressTiming)
    : source_(std::move(source)),
      destination_(std::move(destination)),
      password_(std::move(password)),
      force_(force),
      out_(out),
      err_(err),
      progressTerminal_(progressTerminal),
      progressTiming_(progressTiming) {}

bool CliSurface::Refused() const {
    struct stat info {};
    return !force_ && ::lstat(destination_.c_str(), &info) == 0;
}

std::string CliSurface::AbsoluteDestination() const {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(destination_, error);
    return error ? destination_ : absolute.string();
}

bool CliSurface::OpenSaveDialog() {
    if (Refused()) {
        err_ << messages::DestinationExistsBefore << destination_ << messages::DestinationExistsAfter << std::endl;
        return false;
    }
    saveDialog_.fileName = AbsoluteDestination();
    return true;
}

std::optional<std::string> CliSurface::DestinationKnownAhead() { return AbsoluteDestination(); }

void CliSurface::ShowMessage(const std::string& text, MessageStyle style) {
    (style == MessageStyle::Error ? err_ : out_) << text << std::endl;
}

void CliSurface::RunInBackground(const std::function<void()>& work, WorkProgress& progress) {
    RunShowingProgress(work, progress, progressTerminal_, progressTiming_);
}

}  // namespace jiajiemi
