// SPDX-License-Identifier: MIT
// PlainFile over POSIX file calls.
#include "protect/plain_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace jiajiemi {
namespace {

[[noreturn]] void Fail(const char* what, const std::string& path, int error = errno) {
    throw FileError(error, std::string(what) + " " + path);
}

std::int32_t CheckedPosition(off_t value, const std::string& path) {
    if (value > INT32_MAX) Fail("position beyond 2^31 in", path, EFBIG);
    return std::int32_t(value);
}

int OpenFlags(int openMode) {
    switch (openMode) {
    case 1: return O_RDONLY;
    case 2: return O_WRONLY;
    case 3: return O_RDWR;
    case 4: return O_WRONLY | O_CREAT | O_TRUNC;
    case 5: return O_WRONLY | O_CREAT;
    case 6: return O_RDWR | O_CREAT;
    default: return -1;
    }
}

}  // namespace

PlainFile::~PlainFile() {
    awaitBackgroundFlush();
    if (fd_ >= 0) ::close(fd_);
}

void PlainFile::open(const std::string& path, int openMode) {
    const int flags = OpenFlags(openMode);
    if (flags < 0) Fail("bad open mode for", path, EINVAL);
    path_ = path;

    // O_NONBLOCK keeps a FIFO from blocking the open; it is dropped again once the file
    // is known to be regular. Truncation waits for that check too, so that nothing but a
    // regular file is ever truncated.
    const int fd = ::open(path.c_str(), (flags & ~O_TRUNC) | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) Fail("open", path);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        Fail("not a regular file:", path, error);
    }
    // An empty file is not truncated: on some file systems truncation makes the close
    // wait for everything written since to reach the disk.
    if (::fcntl(fd, F_SETFL, 0) != 0 || ((flags & O_TRUNC) && info.st_size > 0 && ::ftruncate(fd, 0) != 0)) {
        const int error = errno;
        ::close(fd);
        Fail("open", path, error);
    }
    fd_ = fd;
}

void PlainFile::adopt(int fd, const std::string& path) {
    awaitBackgroundFlush();
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
    path_ = path;
}

std::int32_t PlainFile::position() {
    const off_t value = ::lseek(fd_, 0, SEEK_CUR);
    if (value < 0) Fail("position of", path_);
    return CheckedPosition(value, path_);
}

std::int32_t PlainFile::seek(std::int32_t offset, SeekOrigin origin) {
    const int whence = origin == SeekOrigin::Begin ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
    const off_t value = ::lseek(fd_, offset, whence);
    if (value < 0) Fail("seek in", path_);
    return CheckedPosition(value, path_);
}

void PlainFile::setLength(std::int32_t length) {
    if (length < 0) Fail("negative length for", path_, EINVAL);
    if (::ftruncate(fd_, length) != 0) Fail("set length of", path_);
    seek(length, SeekOrigin::Begin);
}

FileStamp PlainFile::stamp() {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) Fail("status of", path_);
    return {std::int64_t(info.st_size), std::int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

std::int32_t PlainFile::length() {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) Fail("length of", path_);
    if (info.st_size > INT32_MAX) Fail("2^31 bytes or more:", path_, EFBIG);
    return std::int32_t(info.st_size);
}

std::int32_t PlainFile::read(void* buffer, std::int32_t count) { return readPlain(buffer, count); }

void PlainFile::write(const void* buffer, std::int32_t count) { writePlain(buffer, count); }

std::int32_t PlainFile::readPlain(void* buffer, std::int32_t count) {
    // The kernel hands out at most about 2 GiB per call, and a signal may cut a call
    // short: go on until the count is met or the file ends.
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::int32_t done = 0;
    while (done < count) {
        const ssize_t got = ::read(fd_, bytes + done, std::size_t(count - done));
        if (got < 0) {
            if (errno == EINTR) continue;
            Fail("read", path_);
        }
        if (got == 0) break;
        done += std::int32_t(got);
    }
    if (releaseFrom_ >= 0 && done > 0) {
        const off_t end = ::lseek(fd_, 0, SEEK_CUR);
        if (end > releaseFrom_) {
            ::posix_fadvise(fd_, releaseFrom_, end - releaseFrom_, POSIX_FADV_DONTNEED);
            // Only cache pages that lie wholly inside the range go, and one may hold up to
            // 2 MiB: the one this read ended in goes with a later read.
            constexpr off_t LargestCachePage = off_t(2) << 20;
            releaseFrom_ = std::max<off_t>(releaseFrom_, end & ~(LargestCachePage - 1));
        }
    }
    return done;
}

void PlainFile::releaseAfterReading() {
    const off_t at = ::lseek(fd_, 0, SEEK_CUR);
    if (at >= 0) releaseFrom_ = at;  // a file that cannot tell its position keeps its pages
}

void PlainFile::writeBackAsWritten() {
    writeBack_ = true;
    writtenFrom_ = writtenTo_ = 0;
}

void PlainFile::writePlain(const void* buffer, std::int32_t count) {
    // At most 32 KiB per call. The kernel sizes the new file's cache pages by the call:
    // up to 32 KiB they come from the lists of pages freed a moment ago, bigger calls take
    // large free blocks, which a virtual machine may have handed back to its host and must
    // fault in again.
    constexpr std::int32_t MaxCall = 32 << 10;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::int32_t done = 0;
    while (done < count) {
        const ssize_t put = ::write(fd_, bytes + done, std::size_t(std::min(count - done, MaxCall)));
        if (put < 0) {
            if (errno == EINTR) continue;
            Fail("write", path_);
        }
        if (put == 0) Fail("write", path_, ENOSPC);
        done += std::int32_t(put);
    }
    if (writeBack_ && done > 0) startWriteBack(done);
}

void PlainFile::startWriteBack(std::int32_t written) {
    // Stretches of a few MiB: big enough to cost few calls, small enough that the disk
    // starts early. What is left at the end goes with the flush.
    constexpr std::int64_t Stretch = std::int64_t(4) << 20;
    const off_t end = ::lseek(fd_, 0, SEEK_CUR);
    if (end < 0) return;
    const std::int64_t start = end - written;
    if (start != writtenTo_) {  // a seek: the stretch so far goes now, a new one begins
        if (writtenTo_ > writtenFrom_)
            ::sync_file_range(fd_, writtenFrom_, writtenTo_ - writtenFrom_, SYNC_FILE_RANGE_WRITE);
        writtenFrom_ = start;
    }
    writtenTo_ = end;
    if (writtenTo_ - writtenFrom_ >= Stretch) {
        ::sync_file_range(fd_, writtenFrom_, writtenTo_ - writtenFrom_, SYNC_FILE_RANGE_WRITE);
        writtenFrom_ = writtenTo_;
    }
    unflushed_ += written;
    writtenInAll_ += written;
    flushInBackground();
}

void PlainFile::flushInBackground() {
    // Writing back only hands the pages to the disk: a disk with a cache of its own (a
    // virtual machine's host above all) holds them until it is told to flush, and the last
    // flush then waits for everything at once. Told again for every quarter of what was
    // written so far (at least 4 MiB, at most 32 MiB), it flushes while the caller
    // computes, and the last flush has a small part of the file left, however large the
    // file. One flush at a time, never waited for here.
    constexpr std::int64_t MinStretch = std::int64_t(4) << 20, MaxStretch = std::int64_t(32) << 20;
    const std::int64_t stretch = std::clamp<std::int64_t>(writtenInAll_ / 4, MinStretch, MaxStretch);
    if (unflushed_ < stretch || backgroundFlushing_.load()) return;
    if (backgroundFlush_.joinable()) backgroundFlush_.join();
    backgroundFlushing_.store(true);
    try {
        backgroundFlush_ = std::jthread([this, fd = fd_] {
            if (::fdatasync(fd) != 0 && backgroundFlushError_.load() == 0) backgroundFlushError_.store(errno);
            backgroundFlushing_.store(false);
        });
        unflushed_ = 0;
    } catch (const std::system_error&) {  // no thread to be had: the last flush does it all
        backgroundFlushing_.store(false);
    }
}

void PlainFile::awaitBackgroundFlush() {
    if (backgroundFlush_.joinable()) backgroundFlush_.join();
}

void PlainFile::flush() {
    awaitBackgroundFlush();
    // The system reports a failed write to one flush only, which may have been one in the
    // background.
    if (const int error = backgroundFlushError_.exchange(0)) Fail("flush", path_, error);
    if (::fsync(fd_) != 0) Fail("flush", path_);
}

void PlainFile::close() {
    awaitBackgroundFlush();
    if (fd_ < 0) return;
    if (const int error = backgroundFlushError_.exchange(0)) {
        ::close(std::exchange(fd_, -1));
        Fail("flush", path_, error);
    }
    const int fd = fd_;
    fd_ = -1;
    // The descriptor is gone even when close reports an error; it must not be closed twice.
    if (::close(fd) != 0 && errno != EINTR) Fail("close", path_);
}

}  // namespace jiajiemi
