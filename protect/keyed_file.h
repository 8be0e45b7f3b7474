// The keyed file layer: files opened by path for unbuffered reading and writing at byte
// positions, optionally under a password, and the registry of every file it has open.
//
// Share modes are validated but advisory: Linux has no mandatory sharing, so two openers
// of one file are not kept apart.
#pragma once

#include "key_stream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace jiajiemi {

// A failed operating-system call inside the file layer: errno and what failed.
class FileError : public std::system_error {
public:
    FileError(int error, const std::string& what) : std::system_error(error, std::generic_category(), what) {}
};

enum class SeekOrigin { Begin, Current, End };

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

    std::int32_t position();
    std::int32_t seek(std::int32_t offset, SeekOrigin origin);
    void setLength(std::int32_t length);
    std::int32_t length();
    virtual std::int32_t read(void* buffer, std::int32_t count);
    virtual void write(const void* buffer, std::int32_t count);
    void flush();
    void close();

    const std::string& path() const { return path_; }

    // From the current position on, the system's cache pages of what is read are given
    // back as soon as it is read. Meant for a large file that is read once while a new file
    // is written: the new file's pages then come from these instead of from fresh memory,
    // which on a virtual machine whose host takes free memory back costs up to a second per
    // GiB. The file is not changed; a later read of it comes from the disk.
    void releaseAfterReading();

protected:
    std::int32_t readPlain(void* buffer, std::int32_t count);
    void writePlain(const void* buffer, std::int32_t count);

private:
    int fd_ = -1;
    bool closeOnRelease_ = true;
    std::int64_t releaseFrom_ = -1;  // where the pages not yet given back begin; -1: keep all
    std::string path_;
};

// A file whose bytes at positions from plainPrefix on are XORed with the password's
// keystream z(p) on their way in and out.
class KeyedFile : public PlainFile {
public:
    KeyedFile(std::string_view password, std::int32_t plainPrefix);  // password not empty

    std::int32_t read(void* buffer, std::int32_t count) override;
    void write(const void* buffer, std::int32_t count) override;  // the caller's bytes stay unchanged

    std::int32_t plainPrefix() const { return plainPrefix_; }

    // Lets observer see the bytes of every later read once they are deciphered, in order;
    // in a large read on a thread of its own, while the next ones are still being
    // deciphered. An empty observer ends that. The observer must not throw.
    using ReadObserver = std::function<void(std::int64_t position, const std::uint8_t* bytes, std::size_t count)>;
    void observeReads(ReadObserver observer) { readObserver_ = std::move(observer); }

private:
    std::int32_t plainPrefix_;
    PasswordKeys keys_;  // serves reads and writes alike: the two key sets are always equal
    ReadObserver readObserver_;
    std::vector<std::uint8_t> writeRing_;  // the enciphered copies of a write's pieces
};

// Nonzero for an open file; 0 for none.
using FileHandle = std::int32_t;

// Every file the layer has open, in the order in which they were opened. At program end
// the files still open are closed in that order, errors ignored.
class OpenFileRegistry {
public:
    static OpenFileRegistry& Instance();

    FileHandle Register(std::unique_ptr<PlainFile> file);
    PlainFile* Find(FileHandle handle) const;  // nullptr when not registered
    std::unique_ptr<PlainFile> Remove(FileHandle handle);
    std::size_t size() const { return files_.size(); }

    ~OpenFileRegistry();

private:
    OpenFileRegistry() = default;
    std::vector<std::pair<FileHandle, std::unique_ptr<PlainFile>>> files_;
    FileHandle lastHandle_ = 0;
};

// Opens path and registers it. An empty password gives a plain file. Returns 0 when
// nothing was opened: an empty path, openMode outside 1..6, shareMode outside 1..4, or
// an open the operating system refused. A negative plainPrefix counts as 0.
FileHandle OpenKeyedFile(const std::string& path, std::int32_t openMode = 3, std::int32_t shareMode = 1,
                         std::string_view password = {}, std::int32_t plainPrefix = 0);

// Removes the handle from the registry, closes the file and releases it, ignoring errors.
// A handle that is not registered is ignored.
void CloseFile(FileHandle handle);

}  // namespace jiajiemi
