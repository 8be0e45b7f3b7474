// SPDX-License-Identifier: MIT
// Replacing a destination file whole through a temporary file and a rename, all of it
// through descriptors.
#include "protect/replace_file.h"

#include "protect/bytes.h"
#include "protect/keyed_file.h"
#include "protect/temporary_files.h"

#include <cerrno>
#include <csignal>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace jiajiemi {
namespace {

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        reset(std::exchange(other.fd_, -1));
        return *this;
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_;
};

// The folder part and the last part of a path; no last part when it ends in "/".
std::pair<std::string, std::string> Split(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

Descriptor OpenFolder(int at, const std::string& path) {
    int fd = ::openat(at, path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // A folder that may be written and searched but not listed still takes a new file;
    // only its flush is then out of reach.
    if (fd < 0 && errno == EACCES) fd = ::openat(at, path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return Descriptor(fd);
}

// The folder (open) and the name in it of the file that path really names: symbolic links
// in the last part are followed, dangling ones too, each from the folder's descriptor.
bool Locate(const std::string& path, Descriptor& folder, std::string& name) {
    auto [folderPath, last] = Split(path);
    folder = OpenFolder(AT_FDCWD, folderPath);
    name = std::move(last);
    if (!folder || name.empty()) return false;
    for (int depth = 0; depth < 40; ++depth) {
        std::string target(PATH_MAX, '\0');
        const ssize_t length = ::readlinkat(folder.get(), name.c_str(), target.data(), target.size());
        if (length < 0) return errno == EINVAL || errno == ENOENT;  // no link, or nothing there yet
        if (std::size_t(length) >= target.size()) return false;
        target.resize(std::size_t(length));
        auto [targetFolder, targetName] = Split(target);
        Descriptor next = OpenFolder(target.front() == '/' ? AT_FDCWD : folder.get(), targetFolder);
        if (!next || targetName.empty()) return false;
        folder = std::move(next);
        name = std::move(targetName);
    }
    return false;
}

enum class Found { Nothing, Usable, Refused };

struct Existing {
    Descriptor file;  // open for writing: the kernel's own answer to "may this user write it"
    struct stat info {};
};

// What is at name in folder, its links not followed: nothing; a regular file with one
// link that this user may write (then opened, for its attributes); or something else.
Found Inspect(int folder, const std::string& name, Existing& existing) {
    struct stat named {};
    if (::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT ? Found::Nothing : Found::Refused;
    // Other names of a file with several links would keep the old content.
    if (!S_ISREG(named.st_mode) || named.st_nlink != 1) return Found::Refused;
    // O_NONBLOCK: something swapped in meanwhile, a FIFO say, must not block the open, and
    // what was opened must be what was looked at.
    existing.file.reset(::openat(folder, name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!existing.file || ::fstat(existing.file.get(), &existing.info) != 0) return Found::Refused;
    if (!S_ISREG(existing.info.st_mode) || existing.info.st_nlink != 1 || existing.info.st_ino != named.st_ino ||
        existing.info.st_dev != named.st_dev)
        return Found::Refused;
    return Found::Usable;
}

std::string RandomSuffix() {
    static constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::uint8_t bytes[6] = {};
    if (!FillRandom(bytes)) {
        // Never short once the system has started; an O_EXCL retry covers the rest.
        static unsigned counter = 0;
        for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(++counter * 37u + unsigned(::getpid()));
    }
    std::string suffix;
    for (const std::uint8_t byte : bytes) suffix += Letters[byte % (sizeof Letters - 1)];
    return suffix;
}

// Creates ".NAME.jiajiemi-XXXXXX" in folder, open for writing and readable by its owner
// alone, and tells the mode that a new file gets there.
//
// That mode is the umask's and the folder's default ACL's business, and the kernel applies
// them only when it creates a file. A nameless file (O_TMPFILE) created 0666 shows it: no
// one can open it, and it is gone with its descriptor. The temporary file itself is created
// 0600, which leaves named users of a default ACL a mask of nothing; setting the probed
// mode just before the rename gives the mask back, and the file then has what a plain
// create would have given it.
Descriptor CreateTemporary(int folder, const std::string& name, std::string& temporaryName, mode_t& newFileMode) {
    bool probed = false;
    if (const int probe = ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666); probe >= 0) {
        struct stat info {};
        probed = ::fstat(probe, &info) == 0;
        newFileMode = info.st_mode & 07777;
        ::close(probe);
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporaryName = "." + name + std::string(TemporaryFileMarker) + RandomSuffix();
        Descriptor file(::openat(folder, temporaryName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                 probed ? 0600 : 0666));
        if (!file) {
            if (errno == EEXIST) continue;
            break;
        }
        if (probed) return file;
        // A file system without nameless files: the temporary file shows the mode itself,
        // and is made private before a byte is written.
        struct stat info {};
        if (::fstat(file.get(), &info) == 0 && ::fchmod(file.get(), 0600) == 0) {
            newFileMode = info.st_mode & 07777;
            return file;
        }
        ::unlinkat(folder, temporaryName.c_str(), 0);
        break;
    }
    temporaryName.clear();
    return Descriptor();
}

// Gives the temporary file the old file's owner and group as far as this user may set
// them: the group alone where the owner cannot be set, and a group the user is not in
// stays the user's. False when the owner is not the old file's: replacing another user's
// file would quietly make it ours.
bool KeepOwner(int file, const struct stat& old) {
    struct stat now {};
    if (::fstat(file, &now) != 0) return false;
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) && ::fchown(file, old.st_uid, old.st_gid) != 0 &&
        ::fchown(file, uid_t(-1), old.st_gid) != 0) {
        // neither could be set: the owner check below decides
    }
    return ::fstat(file, &now) == 0 && now.st_uid == old.st_uid;
}

// Copies the access ACL and the user.* attributes. Security labels, capabilities and the
// like belong to the new file as it was created.
bool CopyAttributes(int from, int to) {
    ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size < 0) return errno == ENOTSUP;  // a file system without them: nothing to keep
    std::string names(std::size_t(size), '\0');
    size = ::flistxattr(from, names.data(), names.size());
    if (size < 0) return false;
    names.resize(std::size_t(size));
    std::vector<char> value;
    for (std::size_t at = 0; at < names.size();) {
        const std::string attribute = names.c_str() + at;
        at += attribute.size() + 1;
        if (attribute != "system.posix_acl_access" && attribute.rfind("user.", 0) != 0) continue;
        ssize_t length = ::fgetxattr(from, attribute.c_str(), nullptr, 0);
        if (length < 0) {
            if (errno == ENODATA) continue;  // removed meanwhile
            return false;
        }
        value.resize(std::size_t(length));
        length = ::fgetxattr(from, attribute.c_str(), value.data(), value.size());
        if (length < 0 || ::fsetxattr(to, attribute.c_str(), value.data(), std::size_t(length), 0) != 0) return false;
    }
    return true;
}

}  // namespace

PendingReplacement::PendingReplacement(const std::string& destination, std::string_view password,
                                       std::int32_t plainPrefix, Replacing replacing)
    : replacing_(replacing) {
    if (destination.empty()) return;
    Descriptor folder;
    std::string name;
    if (!Locate(destination, folder, name)) return;
    Existing existing;
    const Found found = Inspect(folder.get(), name, existing);
    if (found == Found::Refused || (found == Found::Usable && replacing == Replacing::Forbidden)) return;

    // No ending signal may fall between the file's creation and its entry in the table
    // that the signal's handler removes it by.
    sigset_t ending, before;
    sigemptyset(&ending);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&ending, signal);
    ::pthread_sigmask(SIG_BLOCK, &ending, &before);
    std::string temporaryName;
    Descriptor temporary = CreateTemporary(folder.get(), name, temporaryName, newFileMode_);
    if (temporary) {
        folder_ = folder.release();
        name_ = std::move(name);
        temporaryName_ = std::move(temporaryName);
        ticket_ = RememberTemporaryFile(folder_, temporaryName_.c_str());
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (!temporary) return;

    struct stat info {};
    if (::fstat(temporary.get(), &info) != 0) return;
    temporaryInode_ = info.st_ino;
    // An owner that cannot be kept is found out before anything is written.
    if (found == Found::Usable && !KeepOwner(temporary.get(), existing.info)) return;
    const int copy = ::fcntl(temporary.get(), F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return;
    std::unique_ptr<PlainFile> file = MakeFile(password, plainPrefix);
    file->adopt(copy, temporaryName_);
    file->writeBackAsWritten();
    temporary_ = temporary.release();
    file_ = std::move(file);
}

PendingReplacement::~PendingReplacement() {
    Discard();
    if (folder_ >= 0) ::close(folder_);
}

void PendingReplacement::Discard() {
    file_.reset();
    if (temporary_ >= 0) ::close(std::exchange(temporary_, -1));
    if (!temporaryName_.empty()) ::unlinkat(folder_, temporaryName_.c_str(), 0);
    temporaryName_.clear();
    ForgetTemporaryFile(std::exchange(ticket_, -1));
}

WriteOutcome PendingReplacement::Finish(bool written, const WorkProgress& progress) {
    if (!file_) return WriteOutcome::OpenFailed;
    const WriteOutcome outcome = written ? PutInPlace(progress) : WriteOutcome::WriteFailed;
    Discard();
    return outcome;
}

WriteOutcome PendingReplacement::PutInPlace(const WorkProgress& progress) {
    try {
        file_->close();
    } catch (const FileError&) {
        return WriteOutcome::WriteFailed;
    }
    // What the destination is now decides, not what it was at the start: with replacing
    // allowed, one that came to be meanwhile is replaced as one that was there from the start.
    Existing existing;
    const Found found = Inspect(folder_, name_, existing);
    if (found == Found::Refused || (found == Found::Usable && replacing_ == Replacing::Forbidden))
        return WriteOutcome::OpenFailed;
    mode_t mode = newFileMode_;
    if (found == Found::Usable) {
        if (!KeepOwner(temporary_, existing.info)) return WriteOutcome::OpenFailed;
        if (!CopyAttributes(existing.file.get(), temporary_)) return WriteOutcome::WriteFailed;
        mode = existing.info.st_mode & 07777;
        // A group that could not be kept (the user is not in it) must not inherit the old
        // group's access: its members are other people.
        struct stat now {};
        if (::fstat(temporary_, &now) != 0) return WriteOutcome::WriteFailed;
        if (now.st_gid != existing.info.st_gid) mode &= ~mode_t(S_IRWXG | S_ISGID);
    }
    // The mode comes after the owner, which would clear set-user-ID and set-group-ID bits.
    // The file is flushed before it takes the destination's name, so that a crash never
    // leaves the name on a file whose content did not reach the disk.
    if (::fchmod(temporary_, mode) != 0 || ::fsync(temporary_) != 0) return WriteOutcome::WriteFailed;

    // Someone who may write in the folder may have put something else under the temporary
    // name; it is theirs, and it must not become the destination.
    struct stat named {};
    if (::fstatat(folder_, temporaryName_.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_ino != temporaryInode_)
        return WriteOutcome::WriteFailed;
    // The last moment a cancel can still leave everything as it was.
    progress.ThrowIfCancelled();
    if (!Rename()) return errno == EEXIST ? WriteOutcome::OpenFailed : WriteOutcome::WriteFailed;
    temporaryName_.clear();
    // The new name is on disk only with its folder. Best effort: the file is in place and
    // flushed, and a folder opened only for its path cannot be flushed.
    if (::fsync(folder_) != 0) {
    }
    return WriteOutcome::Written;
}

bool PendingReplacement::Rename() {
    const char* from = temporaryName_.c_str();
    const char* to = name_.c_str();
    if (replacing_ == Replacing::Allowed) return ::renameat(folder_, from, folder_, to) == 0;
    if (::renameat2(folder_, from, folder_, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system that cannot rename without replacing: a new link fails as well when the
    // name is taken, and the temporary name goes afterwards.
    if (::linkat(folder_, from, folder_, to, 0) != 0) return false;
    ::unlinkat(folder_, from, 0);
    return true;
}

WriteOutcome ReplaceFile(const std::string& destination, std::string_view password, std::int32_t plainPrefix,
                         const std::function<bool(PlainFile&)>& write, Replacing replacing,
                         const WorkProgress& progress) {
    PendingReplacement replacement(destination, password, plainPrefix, replacing);
    if (!replacement.file()) return WriteOutcome::OpenFailed;
    return replacement.Finish(write(*replacement.file()), progress);
}

}  // namespace jiajiemi
