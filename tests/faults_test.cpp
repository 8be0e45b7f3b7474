// SPDX-License-Identifier: MIT
// Faults made real, each checked for what the user is told and what is on disk afterwards:
// the source changing under the command, writes failing part way, no permission, and a
// process killed while it writes.
#include "tests/child_process.h"
#include "commands/decrypt_command.h"
#include "commands/encrypt_command.h"
#include "tests/fake_surface.h"
#include "commands/messages.h"
#include "protect/record.h"
#include "protect/typed_io.h"
#include "tests/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

namespace jiajiemi {
namespace {

using test::Bytes;
using test::FakeSurface;
using test::InChild;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;


// Runs body as an ordinary user when the tests run as root, who may write anything.
int AsOrdinaryUser(const std::function<bool()>& body) {
    return InChild([&] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 2;
        return body() ? 0 : 1;
    });
}

class Faults : public testing::Test {
protected:
    TempDir dir;
    FakeSurface surface;

    void SetUp() override { std::filesystem::permissions(dir.path(), std::filesystem::perms::all); }

    CommandOutcome Encrypt(const std::string& source, const std::string& destination) {
        surface.fileName = source;
        surface.password = "pw";
        surface.answers.push_back(destination);
        return RunEncryptCommand(surface);
    }
    // ahead: as the command-line tool runs it, with the destination announced first.
    CommandOutcome Decrypt(const std::string& source, const std::string& destination, bool ahead = false) {
        surface.fileName = source;
        surface.password = "pw";
        surface.ahead = ahead ? std::optional(destination) : std::nullopt;
        surface.answers.push_back(destination);
        return RunDecryptCommand(surface);
    }
};

// The save dialog stands between the existence check and the read: the source can go or
// change while it is open.
TEST_F(Faults, SourceVanishesWhileTheDialogIsOpen) {
    WriteBytes(dir / "source", "content");
    surface.whileDialogOpen = [&] { std::filesystem::remove(dir / "source"); };
    EXPECT_EQ(Encrypt(dir / "source", dir / "out"), CommandOutcome::SourceUnreadable);
    EXPECT_EQ(surface.TakeMessage(), messages::SourceUnreadable);
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));
}

TEST_F(Faults, SourceShrinksWhileTheDialogIsOpen) {
    WriteBytes(dir / "source", "a longer content");
    surface.whileDialogOpen = [&] { std::filesystem::resize_file(dir / "source", 4); };
    EXPECT_EQ(Encrypt(dir / "source", dir / "out"), CommandOutcome::Succeeded);
    surface.TakeMessage();
    // What was there when it was read, whole and consistent.
    EXPECT_EQ(ReadProtectedFile(dir / "out", "pw").content, Bytes("a lo"));
}

TEST_F(Faults, SourcesThatAreNoRegularFile) {
    std::filesystem::create_symlink(dir / "gone", dir / "dangling");
    mkfifo((dir / "fifo").c_str(), 0600);
    struct Case {
        std::string source;
        std::string_view message;
    };
    const Case cases[] = {
        {dir / "dangling", messages::SourceUnreadable},
        {dir / "fifo", messages::SourceNotRegular},
        {"/dev/null", messages::SourceNotRegular},
        {"/dev/zero", messages::SourceNotRegular},
        {dir.path().string(), messages::SourceNotRegular},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Encrypt(c.source, dir / "out"), CommandOutcome::SourceUnreadable) << c.source;
        EXPECT_EQ(surface.TakeMessage(), c.message) << c.source;
        EXPECT_FALSE(std::filesystem::exists(dir / "out")) << c.source;
        surface.answers.clear();
    }
}

TEST_F(Faults, UnreadableSourceAsAnOrdinaryUser) {
    WriteBytes(dir / "secret", "content");
    std::filesystem::permissions(dir / "secret", std::filesystem::perms::owner_read);
    EXPECT_EQ(AsOrdinaryUser([&] {
                  return Encrypt(dir / "secret", dir / "out") == CommandOutcome::SourceUnreadable &&
                         surface.TakeMessage() == messages::SourceUnreadable;
              }),
              0);
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));
}

TEST_F(Faults, DestinationsThatCannotBeWritten) {
    WriteBytes(dir / "source", "new content");
    ASSERT_EQ(WriteProtectedFile(dir / "p.e", "pw", Bytes("new content")), WriteOutcome::Written);
    WriteBytes(dir / "read-only", "old content");
    std::filesystem::permissions(dir / "read-only", std::filesystem::perms(0444));
    std::filesystem::create_directory(dir / "locked");
    std::filesystem::permissions(dir / "locked", std::filesystem::perms(0555));
    EXPECT_EQ(AsOrdinaryUser([&] {
                  bool all = true;
                  for (const std::string destination : {dir / "read-only", dir / "locked/new"}) {
                      all = all && Encrypt(dir / "source", destination) == CommandOutcome::DestinationRefused &&
                            surface.TakeMessage() == messages::EncryptedCreateFailed;
                      for (const bool ahead : {false, true})
                          all = all && Decrypt(dir / "p.e", destination, ahead) == CommandOutcome::DestinationRefused &&
                                surface.TakeMessage() == messages::DecryptedCreateFailed;
                  }
                  return all;
              }),
              0);
    EXPECT_EQ(ReadBytes(dir / "read-only"), Bytes("old content"));
    EXPECT_TRUE(std::filesystem::is_empty(dir / "locked"));
    EXPECT_TRUE(dir.Leftovers().empty());
}

// With no thread to spare, or only one, the commands do all their work on their own
// thread, whole and right.
TEST_F(Faults, NoThreadToSpare) {
    ByteString content((3u << 20) + 5);
    for (std::size_t k = 0; k < content.size(); ++k) content[k] = std::uint8_t(k * 7 + (k >> 11));
    WriteBytes(dir / "source", content);
    if (geteuid() != 0) GTEST_SKIP() << "needs root, to run as a user that has no other process";
    for (const rlim_t tasks : {1, 2}) {
        const int code = InChild([&] {
            alarm(60);  // a follower waiting for a producer that never comes must not hang the suite
            // A user with no process of its own: the limit then counts this process alone.
            if (setgid(54321) != 0 || setuid(54321) != 0) return 2;
            const rlimit limit{tasks, tasks};
            setrlimit(RLIMIT_NPROC, &limit);
            const bool encrypted = Encrypt(dir / "source", dir / "p.e") == CommandOutcome::Succeeded;
            const bool decrypted = Decrypt(dir / "p.e", dir / "back", true) == CommandOutcome::Succeeded;
            return encrypted && decrypted ? 0 : 1;
        });
        EXPECT_EQ(code, 0) << tasks << " tasks";
        EXPECT_EQ(ReadBytes(dir / "back"), content) << tasks << " tasks";
        EXPECT_TRUE(dir.Leftovers().empty());
        std::filesystem::remove(dir / "p.e");
        std::filesystem::remove(dir / "back");
    }
}

// A destination that another process creates after the save dialog confirmed a new one is
// not replaced, in both commands and both ways of decrypting, unless replacing was asked
// for ahead (the command-line tool's --force).
TEST_F(Faults, DestinationAppearingAfterTheDialog) {
    // The other process comes when the work after the save dialog starts.
    class Intruded : public FakeSurface {
    public:
        std::string destination;
        bool replaceAsked = false;
        bool ReplaceAsked() override { return replaceAsked; }
        void RunInBackground(const std::function<void()>& work, WorkProgress& progress) override {
            if (!dialogsShown.empty() && !std::filesystem::exists(destination)) {
                EXPECT_EQ(InChild([&] {
                              WriteBytes(destination, "theirs");
                              return 0;
                          }),
                          0);
            }
            FakeSurface::RunInBackground(work, progress);
        }
    };
    WriteBytes(dir / "source", "content");
    ASSERT_EQ(WriteProtectedFile(dir / "p.e", "pw", Bytes("content")), WriteOutcome::Written);
    struct Case {
        const char* command;
        bool ahead;
        bool replaceAsked;
        CommandOutcome outcome;
        std::string_view message;
    };
    const Case cases[] = {
        {"encrypt", false, false, CommandOutcome::DestinationRefused, messages::EncryptedCreateFailed},
        {"decrypt", false, false, CommandOutcome::DestinationRefused, messages::DecryptedCreateFailed},
        {"decrypt", true, false, CommandOutcome::DestinationRefused, messages::DecryptedCreateFailed},
        {"encrypt", false, true, CommandOutcome::Succeeded, messages::EncryptedBefore},
        {"decrypt", true, true, CommandOutcome::Succeeded, messages::DecryptedBefore},
    };
    for (const Case& c : cases) {
        const std::string dest = dir / "dest";
        std::filesystem::remove(dest);
        Intruded intruded;
        intruded.destination = dest;
        intruded.replaceAsked = c.replaceAsked;
        intruded.fileName = std::string(c.command) == "encrypt" ? dir / "source" : dir / "p.e";
        intruded.password = "pw";
        intruded.ahead = c.ahead ? std::optional(dest) : std::nullopt;
        intruded.answers.push_back(dest);
        const CommandOutcome outcome =
            std::string(c.command) == "encrypt" ? RunEncryptCommand(intruded) : RunDecryptCommand(intruded);
        const std::string row = std::string(c.command) + (c.ahead ? " ahead" : "") + (c.replaceAsked ? " asked" : "");
        EXPECT_EQ(outcome, c.outcome) << row;
        EXPECT_EQ(intruded.TakeMessage().rfind(c.message, 0), 0u) << row;
        if (c.outcome == CommandOutcome::Succeeded)
            EXPECT_NE(ReadBytes(dest), Bytes("theirs")) << row;
        else
            EXPECT_EQ(ReadBytes(dest), Bytes("theirs")) << row;
        EXPECT_TRUE(dir.Leftovers().empty()) << row;
    }
}

// A length field that claims 4 GiB is a damaged file, not a request for 4 GiB of memory.
TEST_F(Faults, LengthFieldClaimingFourGiB) {
    ASSERT_EQ(WriteProtectedFile(dir / "p.e", "pw", Bytes("abc")), WriteOutcome::Written);
    ByteString bytes = ReadBytes(dir / "p.e");
    for (int k = 0; k < 4; ++k) bytes[ContentLengthOffset + std::size_t(k)] ^= std::uint8_t((0xffffffffu ^ 3u) >> (8 * k));
    WriteBytes(dir / "p.e", bytes);
    const int code = InChild([&] {
#ifndef __SANITIZE_ADDRESS__  // the address sanitizer reserves far more than this up front
        const rlimit memory{rlim_t(512) << 20, rlim_t(512) << 20};  // far below 4 GiB
        setrlimit(RLIMIT_AS, &memory);
#endif
        return Decrypt(dir / "p.e", dir / "out") == CommandOutcome::Tampered && surface.TakeMessage() == messages::Tampered ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));
}

// Killed while it writes a large destination: the old destination is still whole, and what
// is left is a hidden temporary file whose name says whose it is.
TEST_F(Faults, KilledWhileWriting) {
    const std::size_t size = std::size_t(96) << 20;
    {
        ByteString big(size, 0);
        for (std::size_t k = 0; k < size; k += 4096) big[k] = std::uint8_t(k >> 12);
        WriteBytes(dir / "big", big);
    }
    WriteBytes(dir / "dest", "the old destination");
    const pid_t pid = fork();
    if (pid == 0) {
        Encrypt(dir / "big", dir / "dest");
        _exit(0);
    }
    // Wait until the temporary file has some of the content, then kill.
    std::string temporary;
    for (int tries = 0; tries < 2000 && temporary.empty(); ++tries) {
        for (const auto& name : dir.Leftovers()) {
            struct stat info {};
            if (stat((dir / name).c_str(), &info) == 0 && info.st_size > (1 << 20)) temporary = name;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_FALSE(temporary.empty()) << "the write finished before it could be killed";
    EXPECT_EQ(ReadBytes(dir / "dest"), Bytes("the old destination"));
    EXPECT_EQ(temporary.rfind(".dest.jiajiemi-", 0), 0u) << temporary;
}

}  // namespace
}  // namespace jiajiemi
