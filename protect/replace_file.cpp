// Replacing a destination file whole through a temporary file and a rename.
#include "replace_file.h"

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

class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& target) {
        const auto slash = target.rfind('/');
        const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
        std::string pattern = FolderOf(target) + "/." + name + std::string(TemporaryFileMarker) + "XXXXXX";
        const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0) return;
        ::close(fd);
        path_ = pattern;
    }
    ~TemporaryFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool created() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    void Kept() { path_.clear(); }

private:
    std::string path_;
};

void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);  // best effort: the rename itself has already succeeded
    ::close(fd);
}

}  // namespace

WriteOutcome ReplaceFile(const std::string& destination, std::string_view password, std::int32_t plainPrefix,
                         const std::function<bool(FileHandle)>& write) {
    if (destination.empty()) return WriteOutcome::OpenFailed;
    const std::string target = FollowLinks(destination);

    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && (!S_ISREG(old.st_mode) || ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0))
        return WriteOutcome::OpenFailed;

    TemporaryFile temporary(target);
    if (!temporary.created()) return WriteOutcome::OpenFailed;
    const mode_t mode = exists ? (old.st_mode & 07777) : (0666 & ~CurrentUmask());
    if (::chmod(temporary.path().c_str(), mode) != 0) return WriteOutcome::OpenFailed;
    if (exists && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
        // Keep the owner where we may (as root); elsewhere the file becomes ours, as a copy would.
        if (::chown(temporary.path().c_str(), old.st_uid, old.st_gid) != 0) {
        }
    }

    const FileHandle handle = OpenKeyedFile(temporary.path(), 4, 1, password, plainPrefix);
    if (handle == 0) return WriteOutcome::OpenFailed;

    bool written = write(handle);
    if (written) {
        try {
            PlainFile* file = OpenFileRegistry::Instance().Find(handle);
            // An old file must not be lost to a crash before its replacement is on disk. A
            // new file has nothing to lose, and is left to the system's own writeback.
            if (exists) file->flush();
            file->close();
        } catch (const FileError&) {
            written = false;
        }
    }
    CloseFile(handle);
    if (!written || ::rename(temporary.path().c_str(), target.c_str()) != 0) return WriteOutcome::WriteFailed;
    temporary.Kept();
    SyncFolder(FolderOf(target));
    return WriteOutcome::Written;
}

}  // namespace jiajiemi
