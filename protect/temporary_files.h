// SPDX-License-Identifier: MIT
// The temporary files that are being written, and their removal when a signal ends the process.
#pragma once

namespace jiajiemi {

// Marks the file name in the open folder as a temporary file that a terminating signal
// removes. Returns a ticket for ForgetTemporaryFile, or -1 when none is free (then a
// signal leaves the file behind, as a kill does). folder stays open until it is forgotten.
int RememberTemporaryFile(int folder, const char* name);
// Ends what RememberTemporaryFile began: call it once the file is renamed or removed, and
// before its folder is closed. -1 is ignored.
void ForgetTemporaryFile(int ticket);

// Removes every temporary file being written, for a process that is about to end however
// it ends; safe in a signal handler and at exit.
void RemoveTemporaryFilesNow();

// Makes SIGINT, SIGTERM and SIGHUP remove every temporary file being written before they
// end the process as they would have (the shell then sees 128 plus the signal). A signal
// that was ignored when this is called stays ignored. Call it once, early in main.
void RemoveTemporaryFilesOnSignals();

}  // namespace jiajiemi
