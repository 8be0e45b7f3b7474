// SPDX-License-Identifier: MIT
// Replacing a destination file whole through a temporary file and a rename.
#include "protect/replace_file.h"

#include "protect/keyed_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace jiajiemi {
namespace {

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Follows symbolic links, also dangling ones, to the path that is really written.
std::string FollowLinks(std::string path) {
    for (int depth = 0; depth < 40; ++depth) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
        std::string target(std::size_t(info.st_size > 0 ? info.st_size : 4096) + 1, '\0');
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0 || std::size_t(length) >= target.size()) return path;
        target.resize(std::size_t(length));
        path = target.front() == '/' ? target : FolderOf(path) + "/" + target;
    }
    return path;
}

mode_t CurrentUmask() {
    // umask() cannot be read without being set, which would race with other threads.
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Umask:", 0) == 0) return mode_t(std::strtoul(line.c_str() + 6, nullptr, 8));
    return 022;
}

void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);  // best effort: the rename itself has already succeeded
    ::close(fd);
}

}  // namespace

PendingReplacement::PendingReplacement(const std::string& destination, std::string_view password,
                                       std::int32_t plainPrefix) {
    if (destination.empty()) return;
    target_ = FollowLinks(destination);

    struct stat old {};
    exists_ = ::stat(target_.c_str(), &old) == 0;
    if (exists_ && (!S_ISREG(old.st_mode) || ::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0)) return;

    const auto slash = target_.rfind('/');
    const std::string name = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    std::string pattern = FolderOf(target_) + "/." + name + std::string(TemporaryFileMarker) + "XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return;
    ::close(fd);
    temporaryPath_ = pattern;

    const mode_t mode = exists_ ? (old.st_mode & 07777) : (0666 & ~CurrentUmask());
    if (::chmod(temporaryPath_.c_str(), mode) != 0) return;
    if (exists_ && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
        // Keep the owner where we may (as root); elsewhere the file becomes ours, as a copy would.
        if (::chown(temporaryPath_.c_str(), old.st_uid, old.st_gid) != 0) {
        }
    }
    std::unique_ptr<PlainFile> file = MakeFile(password, plainPrefix);
    try {
        file->open(temporaryPath_, 4);
    } catch (const FileError&) {
        return;
    }
    file_ = std::move(file);
}

PendingReplacement::~PendingReplacement() {
    file_.reset();
    if (!temporaryPath_.empty()) ::unlink(temporaryPath_.c_str());
}

WriteOutcome PendingReplacement::Finish(bool written) {
    if (!file_) return WriteOutcome::OpenFailed;
    struct stat now {};
    if (!exists_ && ::stat(target_.c_str(), &now) == 0) {
        // The destination came to be while the replacement was written: it is replaced
        // as one that was there from the start.
        exists_ = true;
        if (::chmod(temporaryPath_.c_str(), now.st_mode & 07777) != 0) written = false;
    }
    if (written) {
        try {
            // An old file must not be lost to a crash before its replacement is on disk. A
            // new file has nothing to lose, and is left to the system's own writeback.
            if (exists_) file_->flush();
            file_->close();
        } catch (const FileError&) {
            written = false;
        }
    }
    file_.reset();
    if (!written || ::rename(temporaryPath_.c_str(), target_.c_str()) != 0) return WriteOutcome::WriteFailed;
    temporaryPath_.clear();
    SyncFolder(FolderOf(target_));
    return WriteOutcome::Written;
}

WriteOutcome ReplaceFile(const std::string& destination, std::string_view password, std::int32_t plainPrefix,
                         const std::function<bool(PlainFile&)>& write) {
    PendingReplacement replacement(destination, password, plainPrefix);
    if (!replacement.file()) return WriteOutcome::OpenFailed;
    return replacement.Finish(write(*replacement.file()));
}

}  // namespace jiajiemi
