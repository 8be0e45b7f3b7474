// SPDX-License-Identifier: MIT
// Replacing a destination file whole: the new bytes go to a hidden temporary file in the
// destination's own folder, which is renamed over the destination only once everything
// was written (and, when it replaces an existing file, flushed to disk). On any failure the
// temporary file is removed and an existing destination keeps every byte it had.
#pragma once

#include "protect/plain_file.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace jiajiemi {

enum class WriteOutcome {
    Written,
    OpenFailed,   // the destination cannot be created or written: nothing was touched
    WriteFailed,  // a write, flush, close or the final rename failed: nothing was replaced
};

// Temporary files are named ".NAME.jiajiemi-XXXXXX" beside the destination.
inline constexpr std::string_view TemporaryFileMarker = ".jiajiemi-";

// A replacement that is written now and put in the destination's place later, or never:
// it is checked and opened as ReplaceFile does, and dropped unfinished it removes its
// temporary file and leaves the destination as it was.
class PendingReplacement {
public:
    PendingReplacement(const std::string& destination, std::string_view password, std::int32_t plainPrefix);
    ~PendingReplacement();
    PendingReplacement(const PendingReplacement&) = delete;
    PendingReplacement& operator=(const PendingReplacement&) = delete;

    // The temporary file, open for writing; null when the destination was refused.
    PlainFile* file() const { return file_.get(); }
    // Closes the temporary file and, when written, puts it in the destination's place;
    // otherwise removes it. OpenFailed when the destination was refused.
    WriteOutcome Finish(bool written);

private:
    std::string target_;  // the destination with its links followed
    bool exists_ = false;
    std::string temporaryPath_;
    std::unique_ptr<PlainFile> file_;
};

// Opens a temporary file for the destination as OpenKeyedFile would (mode 4 with the
// given password and plain prefix), lets write fill it, and puts it in the destination's
// place. A symbolic link is followed: the file it points to is replaced and the link stays.
// An existing destination that may not be written, or that is not a regular file, is
// refused before anything is created. The new file takes the old one's permission bits,
// or 0666 less the umask.
WriteOutcome ReplaceFile(const std::string& destination, std::string_view password, std::int32_t plainPrefix,
                         const std::function<bool(PlainFile&)>& write);

}  // namespace jiajiemi
