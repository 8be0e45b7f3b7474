// SPDX-License-Identifier: MIT
// Whole files: a regular file read into memory at once, and bytes written as a file's
// whole new content.
#pragma once

#include "protect/bytes.h"
#include "protect/replace_file.h"
#include "protect/work_progress.h"

#include <initializer_list>
#include <span>
#include <string>

namespace jiajiemi {

enum class ReadFailure {
    None,
    Unreadable,      // missing, vanished, no permission or a read error
    NotRegularFile,  // a directory, a FIFO, a device...
    TooLarge,        // more than a record can hold, or more than memory holds
    Changed,         // changed while it was read: its size or modification time moved
};

struct WholeFile {
    ByteString bytes;
    ReadFailure failure = ReadFailure::None;
};

// The size of the file at path, links followed; -1 when it cannot be told.
std::int64_t SizeOfFile(const std::string& path);

// The whole content of a regular file (or a link to one). An empty file is a valid, empty
// content; every failure says which it was.
WholeFile ReadWholeFile(const std::string& path);

// Writes the byte strings one after another as the whole new content of path, replacing
// any existing file only once everything was written (see ReplaceFile).
WriteOutcome WriteWholeFile(const std::string& path, std::initializer_list<std::span<const std::uint8_t>> parts,
                            Replacing replacing = Replacing::Allowed);

// Writes bytes as the whole new content of path, as WriteWholeFile does, and gives the
// memory of each piece back to the system as soon as the piece is written: the pages of a
// large content then become the new file's pages, instead of the file needing as much
// fresh memory again.
WriteOutcome WriteAndReleaseWholeFile(const std::string& path, ByteString bytes, WorkProgress& progress = Unwatched(),
                                      Replacing replacing = Replacing::Allowed);

}  // namespace jiajiemi
