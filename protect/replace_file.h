// SPDX-License-Identifier: MIT
// Replacing a destination file whole: the new bytes go to a hidden temporary file in the
// destination's own folder, which is flushed and renamed over the destination only once
// everything was written. On any failure the temporary file is removed and an existing
// destination keeps every byte it had.
#pragma once

#include "protect/plain_file.h"
#include "protect/work_progress.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace jiajiemi {

enum class WriteOutcome {
    Written,
    OpenFailed,   // the destination cannot be created or written: nothing was touched
    WriteFailed,  // a write, flush, close or the final rename failed: nothing was replaced
};

// Whether an existing destination may be replaced. Forbidden: a destination that is there
// at the start, or that comes to be while the new file is written, is left alone and the
// replacement fails with OpenFailed.
enum class Replacing { Allowed, Forbidden };

// Temporary files are named ".NAME.jiajiemi-XXXXXX" beside the destination.
inline constexpr std::string_view TemporaryFileMarker = ".jiajiemi-";

// A replacement that is written now and put in the destination's place later, or never:
// it is checked and opened as ReplaceFile does, and dropped unfinished it removes its
// temporary file and leaves the destination as it was.
//
// Everything is done through descriptors: of the destination's folder, of the temporary
// file (created there, never reopened by name) and of an existing destination, so that
// someone who may write in the folder cannot steer any of it to another file.
class PendingReplacement {
public:
    PendingReplacement(const std::string& destination, std::string_view password, std::int32_t plainPrefix,
                       Replacing replacing = Replacing::Allowed);
    ~PendingReplacement();
    PendingReplacement(const PendingReplacement&) = delete;
    PendingReplacement& operator=(const PendingReplacement&) = delete;

    // The temporary file, open for writing; null when the destination was refused.
    PlainFile* file() const { return file_.get(); }
    // When written, gives the temporary file what the destination was (owner, group, mode,
    // ACL, extended attributes; a new file's mode as the folder gives it), flushes it,
    // puts it in the destination's place and flushes the folder; otherwise removes it.
    // OpenFailed when the destination was refused, then or now.
    // A cancel asked in progress by then, when the file is flushed and only its renaming
    // is left, throws WorkCancelled and removes the temporary file.
    WriteOutcome Finish(bool written, const WorkProgress& progress = Unwatched());

private:
    WriteOutcome PutInPlace(const WorkProgress& progress);
    bool Rename();
    void Discard();

    int folder_ = -1;        // the folder the destination is in, its links followed
    std::string name_;       // the destination's name in that folder
    std::string temporaryName_;
    int temporary_ = -1;     // the temporary file, beside file_'s own descriptor of it
    ino_t temporaryInode_ = 0;
    int ticket_ = -1;        // the temporary file's place among those a signal removes
    mode_t newFileMode_ = 0;  // what the folder and the umask give a new file
    Replacing replacing_;
    std::unique_ptr<PlainFile> file_;
};

// Opens a temporary file for the destination as OpenKeyedFile would (mode 4 with the
// given password and plain prefix), lets write fill it, and puts it in the destination's
// place. A symbolic link is followed: the file it points to is replaced and the link stays.
// An existing destination that may not be written, that is not a regular file or has more
// than one hard link is refused before anything is created; one whose owner cannot be
// kept (another user's file) is refused too. The new file keeps the old one's owner,
// group, mode, ACL and extended attributes; a new destination gets mode 0666 less what
// the umask or the folder's default ACL take away.
WriteOutcome ReplaceFile(const std::string& destination, std::string_view password, std::int32_t plainPrefix,
                         const std::function<bool(PlainFile&)>& write, Replacing replacing = Replacing::Allowed,
                         const WorkProgress& progress = Unwatched());

}  // namespace jiajiemi
