// SPDX-License-Identifier: MIT
// Replacing files with someone else in the folder: a swapped temporary file, a destination
// that appears meanwhile, owners, modes, ACLs and attributes kept or refused, the mode of
// new files, and temporary files removed by a signal.
#include "protect/record.h"
#include "protect/replace_file.h"
#include "protect/temporary_files.h"
#include "protect/typed_io.h"
#include "tests/child_process.h"
#include "tests/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <optional>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace jiajiemi {
namespace {

using test::Bytes;
using test::InChild;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

constexpr uid_t Nobody = 65534;
constexpr gid_t NoGroup = 65534;
constexpr gid_t OtherGroup = 4242;  // a group that no user has as its own

// Runs body in a child as uid and gid with the supplementary groups given.
int AsUser(uid_t uid, gid_t gid, const std::vector<gid_t>& groups, const std::function<bool()>& body) {
    return InChild([&] {
        if (setgroups(groups.size(), groups.data()) != 0 || setgid(gid) != 0 || setuid(uid) != 0) return 2;
        return body() ? 0 : 1;
    });
}

struct stat StatOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
    return info;
}

std::optional<std::string> Attribute(const std::string& path, const char* name) {
    std::string value(4096, '\0');
    const ssize_t length = getxattr(path.c_str(), name, value.data(), value.size());
    if (length < 0) return std::nullopt;
    value.resize(std::size_t(length));
    return value;
}

// setfacl with arguments; false where the file system keeps no ACLs.
bool SetAcl(const std::string& arguments, const std::string& path) {
    return std::system(("setfacl " + arguments + " '" + path + "' 2>/dev/null").c_str()) == 0;
}

class Replace : public testing::Test {
protected:
    TempDir dir;
    void SetUp() override { std::filesystem::permissions(dir.path(), std::filesystem::perms::all); }
    void RequireRoot() {
        if (geteuid() != 0) GTEST_SKIP() << "needs root, to act as two users";
    }
};

// Someone who may write in the folder puts a symbolic link to a file of root's in place of
// the temporary file, as soon as it is created or just before it is put in place. Nothing
// done to the temporary file may reach root's file, and the link must not become the
// destination.
TEST_F(Replace, SwappedTemporaryFileLeadsNowhere) {
    RequireRoot();
    TempDir rootOnly;
    const std::string victim = rootOnly / "victim";
    WriteBytes(victim, "root's own");
    chmod(victim.c_str(), 0600);
    std::filesystem::permissions(rootOnly.path(), std::filesystem::perms(0755));
    const std::string dest = dir / "dest";

    for (const bool atCreation : {true, false}) {
        // The destination is another user's, so that the replacement changes owner and mode.
        WriteBytes(dest, "the old destination");
        ASSERT_EQ(chown(dest.c_str(), Nobody, NoGroup), 0);
        ASSERT_EQ(chmod(dest.c_str(), 0640), 0);

        int go[2], done[2];
        ASSERT_EQ(pipe(go), 0);
        ASSERT_EQ(pipe(done), 0);
        const pid_t swapper = fork();
        if (swapper == 0) {
            if (setgid(NoGroup) != 0 || setuid(Nobody) != 0) _exit(2);
            const int watch = inotify_init1(0);
            inotify_add_watch(watch, dir.path().c_str(), IN_CREATE);
            char token = 0;
            if (write(done[1], "r", 1) != 1 || read(go[0], &token, 1) != 1) _exit(3);
            alignas(inotify_event) char events[4096];
            for (;;) {
                const ssize_t got = read(watch, events, sizeof events);
                if (got <= 0) _exit(4);
                for (char* at = events; at < events + got;) {
                    const auto* event = reinterpret_cast<const inotify_event*>(at);
                    at += sizeof(inotify_event) + event->len;
                    const std::string name = event->len ? event->name : "";
                    if (name.rfind(".dest.jiajiemi-", 0) != 0) continue;
                    const std::string path = dir / name;
                    if (unlink(path.c_str()) != 0 || symlink(victim.c_str(), path.c_str()) != 0) _exit(5);
                    _exit(write(done[1], "s", 1) == 1 ? 0 : 6);
                }
            }
        }
        char token = 0;
        ASSERT_EQ(read(done[0], &token, 1), 1);  // watching
        if (atCreation) { ASSERT_EQ(write(go[1], "g", 1), 1); }
        WriteOutcome outcome;
        {
            PendingReplacement replacement(dest, {}, 0);
            ASSERT_NE(replacement.file(), nullptr);
            // The creation waits in the watch's queue until the swapper is let go.
            if (!atCreation) { ASSERT_EQ(write(go[1], "g", 1), 1); }
            ASSERT_EQ(read(done[0], &token, 1), 1);  // swapped
            ASSERT_TRUE(WriteData(*replacement.file(), {std::string_view("new content")}));
            outcome = replacement.Finish(true);
        }
        int status = 0;
        waitpid(swapper, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        for (int fd : {go[0], go[1], done[0], done[1]}) close(fd);

        const struct stat after = StatOf(victim);
        EXPECT_EQ(after.st_uid, 0u) << atCreation;
        EXPECT_EQ(after.st_mode & 07777, 0600u) << atCreation;
        EXPECT_EQ(ReadBytes(victim), Bytes("root's own")) << atCreation;
        EXPECT_EQ(outcome, WriteOutcome::WriteFailed) << atCreation;
        EXPECT_FALSE(std::filesystem::is_symlink(dest)) << atCreation;
        EXPECT_EQ(ReadBytes(dest), Bytes("the old destination")) << atCreation;
        EXPECT_TRUE(dir.Leftovers().empty()) << atCreation;
    }
}

// Without replacing, a destination that another process creates meanwhile is left to it,
// and of two writers of one new destination only the first succeeds. With replacing, the
// late destination is replaced as one that was there from the start.
TEST_F(Replace, DestinationAppearingMeanwhile) {
    struct Case {
        Replacing replacing;
        WriteOutcome outcome;
        std::string_view content;
    };
    const Case cases[] = {
        {Replacing::Forbidden, WriteOutcome::OpenFailed, "theirs"},
        {Replacing::Allowed, WriteOutcome::Written, "ours"},
    };
    const std::string dest = dir / "dest";
    for (const Case& c : cases) {
        std::filesystem::remove(dest);
        PendingReplacement replacement(dest, {}, 0, c.replacing);
        ASSERT_NE(replacement.file(), nullptr);
        ASSERT_TRUE(WriteData(*replacement.file(), {std::string_view("ours")}));
        ASSERT_EQ(InChild([&] {
                      const int fd = open(dest.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
                      return fd >= 0 && write(fd, "theirs", 6) == 6 && close(fd) == 0 ? 0 : 1;
                  }),
                  0);
        EXPECT_EQ(replacement.Finish(true), c.outcome);
        const ByteString content = ReadBytes(dest);
        EXPECT_EQ(std::string(content.begin(), content.begin() + c.content.size()), c.content);
        EXPECT_TRUE(dir.Leftovers().empty());
    }

    std::filesystem::remove(dest);
    PendingReplacement first(dest, {}, 0, Replacing::Forbidden), second(dest, {}, 0, Replacing::Forbidden);
    ASSERT_NE(first.file(), nullptr);
    ASSERT_NE(second.file(), nullptr);
    ASSERT_TRUE(WriteData(*first.file(), {std::string_view("first")}));
    ASSERT_TRUE(WriteData(*second.file(), {std::string_view("second")}));
    EXPECT_EQ(first.Finish(true), WriteOutcome::Written);
    EXPECT_EQ(second.Finish(true), WriteOutcome::OpenFailed);
    EXPECT_EQ(ReadBytes(dest), Bytes(std::string_view("first\0", 6)));

    // One that is there at the start is refused before anything is created.
    EXPECT_EQ(WriteWholeFile(dest, {Bytes("third")}, Replacing::Forbidden), WriteOutcome::OpenFailed);
    EXPECT_EQ(WriteProtectedFile(dest, "pw", Bytes("third"), Replacing::Forbidden), WriteOutcome::OpenFailed);
    EXPECT_EQ(ReadBytes(dest), Bytes(std::string_view("first\0", 6)));
    EXPECT_TRUE(dir.Leftovers().empty());
}

// A replaced file keeps owner, group, mode with its set-ID bits, ACL and user attributes,
// as root replacing another user's file and as a user replacing their own file of a
// group they are in; a group the user is not in becomes the user's own, without the old
// group's access.
TEST_F(Replace, WhatTheFileWasItStays) {
    RequireRoot();
    const std::string dest = dir / "dest";
    WriteBytes(dest, "old");
    if (setxattr(dest.c_str(), "user.note", "kept", 4, 0) != 0 || !SetAcl("-m u:4243:rw-,g:4244:r--", dest))
        GTEST_SKIP() << "the file system keeps no ACLs or user attributes";
    // An attribute that is not the user's is not copied (where root may set one here).
    const auto setTrusted = [&] { return setxattr(dest.c_str(), "trusted.note", "not ours to copy", 16, 0) == 0; };
    const bool trusted = setTrusted();

    struct Case {
        const char* who;
        uid_t uid;
        std::vector<gid_t> groups;
        gid_t fileGroup;
        mode_t mode;
        gid_t groupAfter;
        bool groupAccessKept;
    };
    const Case cases[] = {
        {"root", 0, {0}, OtherGroup, 06751, OtherGroup, true},
        {"a member of the file's group", Nobody, {NoGroup, OtherGroup}, OtherGroup, 0640, OtherGroup, true},
        {"not a member", Nobody, {NoGroup}, OtherGroup, 0640, NoGroup, false},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(chown(dest.c_str(), Nobody, c.fileGroup), 0);
        ASSERT_EQ(chmod(dest.c_str(), c.mode), 0);  // after chown, which clears set-ID bits
        const struct stat before = StatOf(dest);
        const std::optional<std::string> acl = Attribute(dest, "system.posix_acl_access");
        ASSERT_TRUE(acl);
        const int code = AsUser(c.uid, c.uid == 0 ? 0 : NoGroup, c.groups, [&] {
            return WriteWholeFile(dest, {Bytes("new")}) == WriteOutcome::Written;
        });
        ASSERT_EQ(code, 0) << c.who;
        EXPECT_EQ(ReadBytes(dest), Bytes("new")) << c.who;
        const struct stat after = StatOf(dest);
        EXPECT_NE(after.st_ino, before.st_ino) << c.who << ": replaced, not written in place";
        EXPECT_EQ(after.st_uid, Nobody) << c.who;
        EXPECT_EQ(after.st_gid, c.groupAfter) << c.who;
        if (c.groupAccessKept) {
            EXPECT_EQ(after.st_mode, before.st_mode) << c.who;
            EXPECT_EQ(Attribute(dest, "system.posix_acl_access"), acl) << c.who;
        } else {
            // The group bits, which with an ACL are its mask, give the new group nothing.
            EXPECT_EQ(after.st_mode, before.st_mode & ~mode_t(S_IRWXG | S_ISGID)) << c.who;
        }
        EXPECT_EQ(Attribute(dest, "user.note"), "kept") << c.who;
        if (trusted) {
            EXPECT_EQ(Attribute(dest, "trusted.note"), std::nullopt) << c.who;
            ASSERT_TRUE(setTrusted());
        }
    }
    EXPECT_TRUE(dir.Leftovers().empty());
}

// What cannot be kept is refused, and the destination stays as it was: another user's file
// that this user may write (it would become theirs), and a file with a second name (that
// name would keep the old content).
TEST_F(Replace, RefusesWhatCannotBeKept) {
    RequireRoot();
    const std::string dest = dir / "dest";
    struct Case {
        const char* what;
        uid_t owner;
        bool secondName;
    };
    const Case cases[] = {
        {"root's file, writable by everyone", 0, false},
        {"a file with two names", Nobody, true},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(dest);
        std::filesystem::remove(dir / "second");
        WriteBytes(dest, "old");
        ASSERT_EQ(chown(dest.c_str(), c.owner, c.owner), 0);
        ASSERT_EQ(chmod(dest.c_str(), 0666), 0);
        if (c.secondName) { ASSERT_EQ(link(dest.c_str(), (dir / "second").c_str()), 0); }
        const int code = AsUser(Nobody, NoGroup, {NoGroup}, [&] {
            return WriteWholeFile(dest, {Bytes("new")}) == WriteOutcome::OpenFailed &&
                   WriteProtectedFile(dest, "pw", Bytes("new")) == WriteOutcome::OpenFailed;
        });
        EXPECT_EQ(code, 0) << c.what;
        EXPECT_EQ(ReadBytes(dest), Bytes("old")) << c.what;
        EXPECT_EQ(StatOf(dest).st_uid, c.owner) << c.what;
        EXPECT_TRUE(dir.Leftovers().empty()) << c.what;
    }
}

// A new file has what a plain create in that folder would give it: the umask's mode, or
// what a default ACL makes of it.
TEST_F(Replace, NewFilesGetWhatTheKernelGives) {
    std::filesystem::create_directory(dir / "acl");
    const bool acls = SetAcl("-d -m u::rwx,u:4243:rw-,g::r--,m::rw-,o::---", dir / "acl");
    struct Case {
        std::string folder;
        mode_t umask;
    };
    std::vector<Case> cases = {{dir.path().string(), 077}, {dir.path().string(), 022}, {dir.path().string(), 0}};
    if (acls) cases.push_back({dir / "acl", 022});
    for (const Case& c : cases) {
        const std::string made = c.folder + "/made", plain = c.folder + "/plain";
        const mode_t old = umask(c.umask);
        const int fd = open(plain.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        const WriteOutcome outcome = WriteWholeFile(made, {Bytes("x")});
        umask(old);
        ASSERT_GE(fd, 0);
        close(fd);
        EXPECT_EQ(outcome, WriteOutcome::Written);
        EXPECT_EQ(StatOf(made).st_mode, StatOf(plain).st_mode) << c.folder << " umask " << c.umask;
        EXPECT_EQ(Attribute(made, "system.posix_acl_access"), Attribute(plain, "system.posix_acl_access")) << c.folder;
        std::filesystem::remove(made);
        std::filesystem::remove(plain);
    }
    if (!acls) GTEST_SKIP() << "the file system keeps no ACLs: only the umask was checked";
}

// While the content is written, even a user whom the umask and the folder's default ACL
// let read new files cannot open the temporary file; the finished file they may read.
TEST_F(Replace, TemporaryFileIsPrivateWhileWritten) {
    RequireRoot();
    std::filesystem::create_directory(dir / "acl");
    std::filesystem::permissions(dir / "acl", std::filesystem::perms(0755));
    const bool acls = SetAcl("-d -m u::rw-,u:65534:r--,g::---,m::r--,o::---", dir / "acl");
    std::vector<std::string> folders = {dir.path().string()};
    if (acls) folders.push_back(dir / "acl");
    for (const std::string& folder : folders) {
        const std::string dest = folder + "/dest";
        const mode_t old = umask(0);
        std::optional<PendingReplacement> replacement;
        replacement.emplace(dest, std::string_view{}, 0);
        umask(old);
        ASSERT_NE(replacement->file(), nullptr);
        ASSERT_TRUE(WriteData(*replacement->file(), {std::string_view("secret")}));
        std::string temporary;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (entry.path().filename().string().rfind(".dest.jiajiemi-", 0) == 0) temporary = entry.path().string();
        ASSERT_FALSE(temporary.empty());
        const auto readable = [](const std::string& path) {
            return AsUser(Nobody, NoGroup, {NoGroup}, [&] {
                       const int fd = open(path.c_str(), O_RDONLY);
                       if (fd >= 0) close(fd);
                       return fd >= 0;
                   }) == 0;
        };
        EXPECT_FALSE(readable(temporary)) << folder;
        EXPECT_EQ(replacement->Finish(true), WriteOutcome::Written);
        replacement.reset();
        EXPECT_TRUE(readable(dest)) << folder;
    }
    if (!acls) GTEST_SKIP() << "the file system keeps no ACLs: only the umask was checked";
}

// SIGINT, SIGTERM and SIGHUP remove every temporary file being written and end the process
// by the signal; a finished file stays, and a signal ignored beforehand stays ignored.
TEST_F(Replace, SignalsRemoveTemporaryFiles) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const int code = InChild([&] {
            for (const int other : {SIGINT, SIGTERM}) std::signal(other, SIG_DFL);  // whatever the runner left
            std::signal(SIGHUP, SIG_IGN);
            RemoveTemporaryFilesOnSignals();
            if (raise(SIGHUP) != 0) return 3;  // ignored: nothing happens
            std::signal(SIGHUP, SIG_DFL);
            RemoveTemporaryFilesOnSignals();
            if (WriteWholeFile(dir / "finished", {Bytes("whole")}) != WriteOutcome::Written) return 4;
            PendingReplacement first(dir / "first", {}, 0), second(dir / "second", {}, 0);
            if (!first.file() || !second.file() || dir.Leftovers().size() != 2) return 5;
            raise(signal);
            return 6;
        });
        EXPECT_EQ(code, 128 + signal) << strsignal(signal);
        EXPECT_TRUE(dir.Leftovers().empty()) << strsignal(signal);
        EXPECT_EQ(ReadBytes(dir / "finished"), Bytes("whole"));
        EXPECT_FALSE(std::filesystem::exists(dir / "first"));
    }
}

}  // namespace
}  // namespace jiajiemi
