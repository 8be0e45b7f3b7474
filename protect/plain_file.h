// SPDX-License-Identifier: MIT
// PlainFile: an open regular file read and written at 32-bit byte positions with POSIX
// calls and no buffering of its own, and FileError, the one error of the file layer.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <system_error>
#include <thread>

namespace jiajiemi {

// A failed operating-system call inside the file layer: errno and what failed.
class FileError : public std::system_error {
public:
    FileError(int error, const std::string& what) : std::system_error(error, std::generic_category(), what) {}
};

enum class SeekOrigin { Begin, Current, End };

// What tells whether a file changed: its size and its modification time.
struct FileStamp {
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};

// An open file whose bytes pass unchanged. Each read or write is one pass to the
// operating system, with no buffering of its own. Positions, counts and lengths are
// 32-bit; a file of 2^31 bytes or more makes length() and position() fail.
class PlainFile {
public:
    PlainFile() = default;
    PlainFile(const PlainFile&) = delete;
    PlainFile& operator=(const PlainFile&) = delete;
    virtual ~PlainFile();  // release: closes the handle if it is still open

    // Opens path with the access and disposition of openMode (1 to 6). Only regular files
    // (or links to them) are opened, so a FIFO cannot block and a directory is refused.
    void open(const std::string& path, int openMode);
    // Takes over fd, an open regular file, as if open had opened it; path is only for
    // error messages. The file closes fd from now on.
    void adopt(int fd, const std::string& path);

    std::int32_t position();
    std::int32_t seek(std::int32_t offset, SeekOrigin origin);
    void setLength(std::int32_t length);
    std::int32_t length();
    FileStamp stamp();  // any size, also 2^31 bytes or more
    virtual std::int32_t read(void* buffer, std::int32_t count);
    virtual void write(const void* buffer, std::int32_t count);
    void flush();
    void close();

    const std::string& path() const { return path_; }

    // From the current position on, the system's cache pages of what is read are given
    // back as soon as it is read. Meant for a large file that is read once while a new file
    // is written: the new file's pages then come from these instead of from fresh memory,
    // which on a virtual machine whose host takes free memory back costs up to a second per
    // GiB. The file is not changed; a later read of it comes from the disk. Never fails.
    void releaseAfterReading();

    // From now on, the system starts writing each stretch of what is written to the disk as
    // soon as it is written, without waiting for it, and every few MiB a thread of its own
    // flushes what was written so far. A later flush then has little left to do,
    // and the disk works while the caller computes. A failure of such a flush is reported by
    // the next flush or close.
    void writeBackAsWritten();

protected:
    std::int32_t readPlain(void* buffer, std::int32_t count);
    void writePlain(const void* buffer, std::int32_t count);

private:
    void startWriteBack(std::int32_t written);
    void flushInBackground();
    void awaitBackgroundFlush();

    int fd_ = -1;
    std::int64_t releaseFrom_ = -1;  // where the pages not yet given back begin; -1: keep all
    bool writeBack_ = false;
    std::int64_t writtenFrom_ = 0;  // the stretch written since the last writeback started
    std::int64_t writtenTo_ = 0;
    std::int64_t writtenInAll_ = 0;  // bytes written since writeBackAsWritten
    std::int64_t unflushed_ = 0;     // of those, since the last background flush began
    std::jthread backgroundFlush_;
    std::atomic<bool> backgroundFlushing_{false};
    std::atomic<int> backgroundFlushError_{0};
    std::string path_;
};

}  // namespace jiajiemi
