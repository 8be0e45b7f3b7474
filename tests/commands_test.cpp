// SPDX-License-Identifier: MIT
// The encrypt and decrypt commands through a scripted surface: the source kinds, every
// outcome with its message, what is on disk afterwards, and round trips.
#include "tests/child_process.h"
#include "commands/decrypt_command.h"
#include "commands/encrypt_command.h"
#include "tests/fake_surface.h"
#include "commands/messages.h"
#include "protect/record.h"
#include "protect/typed_io.h"
#include "tests/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <fstream>
#include <memory>
#include <thread>
#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>

namespace jiajiemi {
namespace {

using test::Bytes;
using test::FakeSurface;
using test::InChild;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

std::string S(std::string_view text) { return std::string(text); }

constexpr bool UnderAddressSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#endif
#endif
    return false;
}

// Every entry of a folder, so that a test can tell that nothing was written.
std::vector<std::string> Entries(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(SourceKind, SetsTheSaveDialogFilter) {
    struct Case {
        std::string path;
        std::string previousFilter, previousSuffix;
        std::string filter, suffix;
    };
    const Case cases[] = {
        {"/no/such/a.e", "", "", "易语言源文件（*.e）", "e"},
        {"/no/such/a.txt", "", "", "文本文件（*.txt）", "txt"},
        {"/no/such/a.exe", "", "", "应用文件（*.exe）", "exe"},  // after ".e"
        {"/no/such/pics.png/a.jpg", "", "", "图片文件（*.jpg）", "jpg"},
        {"/no/such/pics.jpg/a.png", "", "", "图片文件（*.jpg）", "jpg"},  // a folder counts too
        {"/no/such/my.elf/notes", "", "", "易语言源文件（*.e）", "e"},
        {"/no/such/报告.txt", "", "", "文本文件（*.txt）", "txt"},
        {"/no/such/A.TXT", "文本文件（*.txt）", "txt", "文本文件（*.txt）", "txt"},  // case counts: no row
        {"/no/such/A.TXT", "", "", "", ""},
        {"", "x", "y", "x", "y"},
    };
    for (const Case& c : cases) {
        FakeSurface surface;
        surface.fileName = c.path;
        surface.saveDialog.filter = c.previousFilter;
        surface.saveDialog.defaultSuffix = c.previousSuffix;
        EXPECT_EQ(RunEncryptCommand(surface), CommandOutcome::SourceMissing) << c.path;
        EXPECT_EQ(surface.saveDialog.filter, c.filter) << c.path;
        EXPECT_EQ(surface.saveDialog.defaultSuffix, c.suffix) << c.path;
        EXPECT_EQ(surface.TakeMessage(), messages::SourceMissing) << c.path;
        EXPECT_TRUE(surface.dialogsShown.empty());
    }
}

TEST(SourceKind, FindTextStepsByCharacter) {
    struct Case {
        std::string text, sought;
        int position;
    };
    const Case cases[] = {
        {"abc.txt", ".txt", 4},       {"abc.txt", ".TXT", -1},  {".e", ".e", 1},
        {"", ".e", -1},               {"报.e", ".e", 4},         {"报告", "\xa5\xe5", -1},  // never inside a character
        {"ab\xe5", ".e", -1},         {"a.e\xe5\xa0", ".e", 2}, {"a.txt", ".txtx", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(FindText(c.text, c.sought), c.position) << c.text << " / " << c.sought;
}

TEST(SourceKind, PathExists) {
    TempDir dir;
    WriteBytes(dir / "a.txt", "x");
    WriteBytes(dir / "b[1].txt", "x");
    std::filesystem::create_directory(dir / "folder");
    std::filesystem::create_symlink(dir / "gone", dir / "dangling");
    struct Case {
        std::string path;
        bool exists;
    };
    const Case cases[] = {
        {dir / "a.txt", true},    {dir / "folder", true},    {dir / "dangling", true}, {dir / "missing", false},
        {"", false},              {dir / "*.txt", true},     {dir / "?.txt", true},    {dir / "*.png", false},
        {dir / "b[1].txt", true}, {dir / "b[1]*", true},     {dir / "b[12]*", false},  {dir / "fold?r", true},
    };
    for (const Case& c : cases) EXPECT_EQ(PathExists(c.path), c.exists) << c.path;
}

struct FailureCase;

class CommandsOnFiles : public testing::Test {
public:
    TempDir dir;
    FakeSurface surface;

    using Run = CommandOutcome (CommandsOnFiles::*)(const std::string&, const std::string&, std::optional<std::string>);
    void CheckFailures(Run run, const std::vector<FailureCase>& cases);

    CommandOutcome Encrypt(const std::string& source, const std::string& password, std::optional<std::string> destination) {
        surface.fileName = source;
        surface.password = password;
        surface.answers.push_back(std::move(destination));
        return RunEncryptCommand(surface);
    }
    // Decrypt runs as the window runs it, or, with ahead set, as the command-line tool
    // does: the destination is announced before the command, and a cancel stands for a
    // destination that came to exist meanwhile.
    bool ahead = false;
    CommandOutcome Decrypt(const std::string& source, const std::string& password, std::optional<std::string> destination) {
        surface.fileName = source;
        surface.password = password;
        surface.ahead = ahead ? std::optional(destination.value_or(dir / "announced")) : std::nullopt;
        surface.answers.push_back(std::move(destination));
        return RunDecryptCommand(surface);
    }
};

TEST_F(CommandsOnFiles, EncryptSucceedsWithTheExactMessage) {
    WriteBytes(dir / "plain.txt", "hello\n");
    EXPECT_EQ(Encrypt(dir / "plain.txt", "secret", dir / "out.e"), CommandOutcome::Succeeded);
    MessageStyle style{};
    EXPECT_EQ(surface.TakeMessage(&style), "创建加密文件“" + (dir / "out.e") + "”成功！");
    EXPECT_EQ(style, MessageStyle::Information);
    EXPECT_EQ(surface.busy, 0);
    EXPECT_EQ(surface.works, 1);  // the reading and writing ran as the surface's work
    const RecordReading reading = ReadProtectedFile(dir / "out.e", "secret");
    EXPECT_EQ(reading.check, RecordCheck::Passed);
    EXPECT_EQ(reading.content, Bytes("hello\n"));
}

// Each failure of encrypt, its message, and that nothing at all was written.
// A failure of a command: its message, whether the save dialog came up, and that nothing
// at all was written.
struct FailureCase {
    std::string what, source, password;
    std::optional<std::string> destination;
    CommandOutcome outcome;
    std::string_view message;
    bool dialogShown;
};

void CommandsOnFiles::CheckFailures(Run run, const std::vector<FailureCase>& cases) {
    const auto before = Entries(dir);
    for (const FailureCase& c : cases) {
        surface.dialogsShown.clear();
        surface.answers.clear();
        EXPECT_EQ((this->*run)(c.source, c.password, c.destination), c.outcome) << c.what;
        MessageStyle style = MessageStyle::Information;
        EXPECT_EQ(surface.TakeMessage(&style), c.message) << c.what;
        if (!c.message.empty()) {
            EXPECT_EQ(style, MessageStyle::Error) << c.what;
        }
        // The command-line tool's DEST is confirmed before anything is read.
        const bool dialogExpected = c.dialogShown || (ahead && c.outcome != CommandOutcome::PasswordNotEncodable);
        EXPECT_EQ(!surface.dialogsShown.empty(), dialogExpected) << c.what;
        EXPECT_EQ(Entries(dir), before) << c.what;
    }
    EXPECT_EQ(surface.busy, 0);
}

TEST_F(CommandsOnFiles, EncryptFailures) {
    WriteBytes(dir / "plain.txt", "hello");
    std::filesystem::create_directory(dir / "folder");
    mkfifo((dir / "fifo").c_str(), 0600);
    CheckFailures(&CommandsOnFiles::Encrypt, {
        {"missing source", dir / "missing", "pw", dir / "out", CommandOutcome::SourceMissing, messages::SourceMissing, false},
        {"empty file-name box", "", "pw", dir / "out", CommandOutcome::SourceMissing, messages::SourceMissing, false},
        {"cancelled", dir / "plain.txt", "pw", std::nullopt, CommandOutcome::Cancelled, "", true},
        {"no such folder", dir / "plain.txt", "pw", dir / "none/out", CommandOutcome::DestinationRefused,
         messages::EncryptedCreateFailed, true},
        {"destination is a folder", dir / "plain.txt", "pw", dir / "folder", CommandOutcome::DestinationRefused,
         messages::EncryptedCreateFailed, true},
        // Source problems come before the save dialog.
        {"source is a folder", dir / "folder", "pw", dir / "out", CommandOutcome::SourceUnreadable,
         messages::SourceNotRegular, false},
        {"source is a FIFO", dir / "fifo", "pw", dir / "out", CommandOutcome::SourceUnreadable,
         messages::SourceNotRegular, false},
        {"source is a pattern", dir / "*.txt", "pw", dir / "out", CommandOutcome::SourceUnreadable,
         messages::SourceUnreadable, false},
        {"password outside CP936", dir / "plain.txt", "pw😀", dir / "out", CommandOutcome::PasswordNotEncodable,
         messages::PasswordNotEncodable, false},
    });
}

// Decrypt in the window (the content held between the checks and the dialog) and in the
// command-line tool (the content written ahead to a file that waits for both).
class DecryptCommand : public CommandsOnFiles, public testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(Both, DecryptCommand, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Ahead" : "InMemory"; });

TEST_P(DecryptCommand, Failures) {
    WriteBytes(dir / "plain.txt", "hello");
    WriteBytes(dir / "empty", "");
    std::filesystem::create_directory(dir / "folder");
    ASSERT_EQ(WriteProtectedFile(dir / "p.e", "secret", Bytes("hello")), WriteOutcome::Written);
    ByteString damaged = ReadBytes(dir / "p.e");
    damaged.back() ^= 1;
    WriteBytes(dir / "damaged.e", damaged);
    ASSERT_EQ(WriteProtectedFile(dir / "large-damaged.e", "secret", ByteString(3u << 20, 7)), WriteOutcome::Written);
    damaged = ReadBytes(dir / "large-damaged.e");
    damaged[damaged.size() / 2] ^= 1;
    WriteBytes(dir / "large-damaged.e", damaged);
    ahead = GetParam();
    CheckFailures(&CommandsOnFiles::Decrypt, {
        {"empty file-name box", "", "secret", dir / "out", CommandOutcome::SourceMissing, messages::ProtectedOpenFailed, false},
        {"missing", dir / "missing", "secret", dir / "out", CommandOutcome::SourceMissing, messages::ProtectedOpenFailed, false},
        {"a folder", dir / "folder", "secret", dir / "out", CommandOutcome::SourceMissing, messages::ProtectedOpenFailed, false},
        {"not protected", dir / "plain.txt", "secret", dir / "out", CommandOutcome::NotProtected, messages::NotProtected, false},
        {"empty file", dir / "empty", "", dir / "out", CommandOutcome::NotProtected, messages::NotProtected, false},
        {"wrong password", dir / "p.e", "Secret", dir / "out", CommandOutcome::WrongPassword, messages::WrongPassword, false},
        {"no password", dir / "p.e", "", dir / "out", CommandOutcome::WrongPassword, messages::WrongPassword, false},
        {"tampered", dir / "damaged.e", "secret", dir / "out", CommandOutcome::Tampered, messages::Tampered, false},
        {"large, tampered", dir / "large-damaged.e", "secret", dir / "out", CommandOutcome::Tampered, messages::Tampered, false},
        {"password outside CP936", dir / "p.e", "😀", dir / "out", CommandOutcome::PasswordNotEncodable,
         messages::PasswordNotEncodable, false},
        {"cancelled", dir / "p.e", "secret", std::nullopt, CommandOutcome::Cancelled, "", true},
        {"no such folder", dir / "p.e", "secret", dir / "none/out", CommandOutcome::DestinationRefused,
         messages::DecryptedCreateFailed, true},
        {"destination is a folder", dir / "p.e", "secret", dir / "folder", CommandOutcome::DestinationRefused,
         messages::DecryptedCreateFailed, true},
    });
    EXPECT_EQ(OpenFileRegistry::Instance().size(), 0u);
}

// A surface that confirms another path than it announced gets nothing written anywhere.
TEST_F(CommandsOnFiles, DecryptToAnotherPathThanAnnounced) {
    ASSERT_EQ(WriteProtectedFile(dir / "p.e", "secret", Bytes("hello")), WriteOutcome::Written);
    surface.fileName = dir / "p.e";
    surface.password = "secret";
    surface.ahead = dir / "announced";
    surface.answers.push_back(dir / "chosen");
    EXPECT_EQ(RunDecryptCommand(surface), CommandOutcome::DestinationRefused);
    EXPECT_EQ(surface.TakeMessage(), messages::DecryptedCreateFailed);
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"p.e"});
}

TEST_P(DecryptCommand, RoundTrips) {
    ahead = GetParam();
    const std::size_t sizes[] = {0, 1, 4024, 4025, 8192 + 3, (5u << 20) + 11};
    for (const std::size_t size : sizes) {
        ByteString content(size);
        for (std::size_t k = 0; k < size; ++k) content[k] = std::uint8_t((k * 131) ^ (k >> 9));
        WriteBytes(dir / "source.bin", content);
        for (const std::string password : {"", "secret", "密码 with ASCII"}) {
            SCOPED_TRACE("size " + std::to_string(size) + " password '" + password + "'");
            ASSERT_EQ(Encrypt(dir / "source.bin", password, dir / "p.e"), CommandOutcome::Succeeded);
            surface.TakeMessage();
            ASSERT_EQ(Decrypt(dir / "p.e", password, dir / "back.bin"), CommandOutcome::Succeeded);
            EXPECT_EQ(surface.TakeMessage(), "创建解密文件“" + (dir / "back.bin") + "”成功！");
            EXPECT_EQ(ReadBytes(dir / "back.bin"), content);
            EXPECT_TRUE(dir.Leftovers().empty());
        }
    }
    // An empty password stores the whole record in plain.
    WriteBytes(dir / "source.bin", "visible");
    ASSERT_EQ(Encrypt(dir / "source.bin", "", dir / "p.e"), CommandOutcome::Succeeded);
    const ByteString stored = ReadBytes(dir / "p.e");
    EXPECT_EQ(S(std::string_view(reinterpret_cast<const char*>(stored.data()) + ContentOffset, 7)), "visible");
}

// The save dialog is shared: decrypt shows the filter the last encrypt set, and every
// opening starts from the path last confirmed in it.
TEST_F(CommandsOnFiles, SaveDialogStateCarriesOver) {
    WriteBytes(dir / "notes.txt", "notes");
    ASSERT_EQ(Encrypt(dir / "notes.txt", "pw", dir / "notes.txt.e"), CommandOutcome::Succeeded);
    ASSERT_EQ(Decrypt(dir / "notes.txt.e", "pw", dir / "again.txt"), CommandOutcome::Succeeded);
    ASSERT_EQ(surface.dialogsShown.size(), 2u);
    EXPECT_EQ(surface.dialogsShown[1].filter, "文本文件（*.txt）");
    EXPECT_EQ(surface.dialogsShown[1].defaultSuffix, "txt");
    EXPECT_EQ(surface.dialogsShown[1].fileName, dir / "notes.txt.e");
    ASSERT_EQ(Decrypt(dir / "notes.txt.e", "pw", std::nullopt), CommandOutcome::Cancelled);
    EXPECT_EQ(surface.dialogsShown[2].fileName, dir / "again.txt");
    EXPECT_EQ(surface.saveDialog.fileName, dir / "again.txt");  // a cancel keeps it
}

// Encrypting a file onto itself keeps its content; decrypting a protected file onto
// itself replaces it with the content.
TEST_P(DecryptCommand, OntoItself) {
    ahead = GetParam();
    WriteBytes(dir / "doc", "precious");
    ASSERT_EQ(Encrypt(dir / "doc", "pw", dir / "doc"), CommandOutcome::Succeeded);
    EXPECT_EQ(ReadProtectedFile(dir / "doc", "pw").content, Bytes("precious"));
    ASSERT_EQ(Decrypt(dir / "doc", "pw", dir / "doc"), CommandOutcome::Succeeded);
    EXPECT_EQ(ReadBytes(dir / "doc"), Bytes("precious"));
}

// A write that fails part way is reported, and the old destination stays whole; a check
// that fails as well is reported instead, as the checks come first.
TEST_P(DecryptCommand, FailedWritesAreReported) {
    ahead = GetParam();
    const ByteString big(200000, 0x42);
    WriteBytes(dir / "big", big);
    ASSERT_EQ(WriteProtectedFile(dir / "big.e", "pw", big), WriteOutcome::Written);
    ByteString damaged = ReadBytes(dir / "big.e");
    damaged.back() ^= 1;
    WriteBytes(dir / "damaged.e", damaged);
    WriteBytes(dir / "old", "old destination");
    struct Case {
        const char* what;
        std::function<CommandOutcome()> run;
        CommandOutcome outcome;
        std::string_view message;
    };
    const Case cases[] = {
        {"encrypt", [&] { return Encrypt(dir / "big", "pw", dir / "old"); }, CommandOutcome::WriteFailed,
         messages::EncryptedWriteFailed},
        {"decrypt", [&] { return Decrypt(dir / "big.e", "pw", dir / "old"); }, CommandOutcome::WriteFailed,
         messages::DecryptedWriteFailed},
        {"decrypt tampered", [&] { return Decrypt(dir / "damaged.e", "pw", dir / "old"); }, CommandOutcome::Tampered,
         messages::Tampered},
    };
    for (const Case& c : cases) {
        const int code = InChild([&] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{100000, 100000};
            setrlimit(RLIMIT_FSIZE, &limit);
            return c.run() == c.outcome && surface.TakeMessage() == c.message ? 0 : 1;
        });
        EXPECT_EQ(code, 0) << c.what;
        EXPECT_EQ(ReadBytes(dir / "old"), Bytes("old destination")) << c.what;
        EXPECT_TRUE(dir.Leftovers().empty()) << c.what;
    }
}

TEST_F(CommandsOnFiles, VerifyChecksWithoutWriting) {
    ASSERT_EQ(WriteProtectedFile(dir / "p.e", "pw", Bytes("x")), WriteOutcome::Written);
    surface.fileName = dir / "p.e";
    surface.password = "pw";
    EXPECT_EQ(RunVerifyCommand(surface), CommandOutcome::Succeeded);
    EXPECT_EQ(surface.TakeMessage(), "加密文件“" + (dir / "p.e") + "”完好，密码正确！");
    surface.password = "wrong";
    EXPECT_EQ(RunVerifyCommand(surface), CommandOutcome::WrongPassword);
    EXPECT_EQ(surface.TakeMessage(), messages::WrongPassword);
    EXPECT_TRUE(surface.dialogsShown.empty());
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"p.e"});
}

// Before the save dialog, encrypt makes sure of the password: an empty one stores the
// content in plain and is asked about; another is typed a second time.
TEST_F(CommandsOnFiles, EncryptConfirmsThePassword) {
    WriteBytes(dir / "plain.txt", "hello");
    struct Case {
        std::string what, password;
        std::deque<bool> yesNo;
        std::deque<std::optional<std::string>> again;
        CommandOutcome outcome;
        std::string_view message;
        bool questionAsked, passwordAsked, dialogShown;
    };
    const Case cases[] = {
        {"empty, answered no", "", {false}, {}, CommandOutcome::Cancelled, "", true, false, false},
        {"empty, answered yes", "", {true}, {}, CommandOutcome::Cancelled, "", true, false, true},
        {"typed again", "secret", {}, {"secret"}, CommandOutcome::Cancelled, "", false, true, true},
        {"typed again otherwise", "secret", {}, {"Secret"}, CommandOutcome::PasswordsDiffer, messages::PasswordsDiffer,
         false, true, false},
        {"second typing cancelled", "secret", {}, {std::nullopt}, CommandOutcome::Cancelled, "", false, true, false},
    };
    const auto before = Entries(dir);
    for (const Case& c : cases) {
        surface = FakeSurface();
        surface.yesNo = c.yesNo;
        surface.passwordAgain = c.again;
        // The save dialog is cancelled: what matters is whether it came at all.
        EXPECT_EQ(Encrypt(dir / "plain.txt", c.password, std::nullopt), c.outcome) << c.what;
        EXPECT_EQ(surface.TakeMessage(), c.message) << c.what;
        EXPECT_EQ(surface.questions, c.questionAsked ? std::vector{S(messages::EmptyPasswordQuestion)}
                                                     : std::vector<std::string>{}) << c.what;
        EXPECT_EQ(surface.passwordAsked, c.passwordAsked ? 1 : 0) << c.what;
        EXPECT_EQ(surface.dialogsShown.size(), c.dialogShown ? 1u : 0u) << c.what;
        EXPECT_EQ(Entries(dir), before) << c.what;
    }
}

// The largest source a record holds is accepted, one byte more is refused before the
// save dialog; sparse files make them cheap.
TEST_F(CommandsOnFiles, EncryptSizeLimitIsExact) {
    ASSERT_EQ(ContentLimit, 2147483575u);
    for (const std::size_t size : {ContentLimit, ContentLimit + 1}) {
        const std::string source = dir / "sparse";
        std::filesystem::resize_file((WriteBytes(source, ""), source), size);
        surface = FakeSurface();
        const bool fits = size == ContentLimit;
        EXPECT_EQ(Encrypt(source, "pw", std::nullopt), fits ? CommandOutcome::Cancelled : CommandOutcome::SourceUnreadable);
        EXPECT_EQ(surface.TakeMessage(), fits ? "" : messages::SourceTooLarge) << size;
        EXPECT_EQ(surface.dialogsShown.size(), fits ? 1u : 0u) << size;
    }
}

// A cancel while the work is a third of the way leaves the folder exactly as it was, an
// existing destination included, and shows nothing.
TEST_F(CommandsOnFiles, CancelLeavesEverythingAsItWas) {
    const ByteString content(96u << 20, 0x5a);
    WriteBytes(dir / "plain", content);
    ASSERT_EQ(WriteProtectedFile(dir / "p.e", "pw", content), WriteOutcome::Written);
    WriteBytes(dir / "existing", "old");
    struct Case {
        std::string what;
        bool encrypt, ahead;
        std::string destination;
    };
    const Case cases[] = {
        {"encrypt, new destination", true, false, "new"},
        {"encrypt, existing destination", true, false, "existing"},
        {"decrypt in the window, new destination", false, false, "new"},
        {"decrypt in the window, existing destination", false, false, "existing"},
        {"decrypt ahead, new destination", false, true, "new"},
        {"decrypt ahead, existing destination", false, true, "existing"},
    };
    const auto before = Entries(dir);
    for (const Case& c : cases) {
        surface = FakeSurface();
        // The window's decrypt of a large file checks it first, then writes it: the cancel
        // comes in the work that writes.
        int works = 0;
        surface.besideWork = [&](WorkProgress& progress, const std::atomic<bool>& done) {
            if (++works == 1 && !c.encrypt && !c.ahead) return;
            FakeSurface::CancelAt(0.3)(progress, done);
        };
        ahead = c.ahead;
        const CommandOutcome outcome = c.encrypt ? Encrypt(dir / "plain", "pw", dir / c.destination)
                                                 : Decrypt(dir / "p.e", "pw", dir / c.destination);
        EXPECT_EQ(outcome, CommandOutcome::Cancelled) << c.what;
        EXPECT_TRUE(surface.messages.empty()) << c.what;
        EXPECT_EQ(Entries(dir), before) << c.what;
        EXPECT_EQ(ReadBytes(dir / "existing"), Bytes("old")) << c.what;
    }
}

// The window's decrypt of a large file reads it twice; a file that changed in between is
// altered, one that is gone says so, and nothing is written either way.
TEST_F(CommandsOnFiles, ProtectedFileChangedBeforeTheWriteIsAltered) {
    struct Case {
        std::string what;
        std::function<void()> change;
        CommandOutcome outcome;
        std::string_view message;
    };
    const Case cases[] = {
        {"a byte changed",
         [&] {
             ByteString bytes = ReadBytes(dir / "p.e");
             bytes[bytes.size() / 2] ^= 1;
             WriteBytes(dir / "p.e", bytes);
         },
         CommandOutcome::Tampered, messages::Tampered},
        {"moved away", [&] { std::filesystem::rename(dir / "p.e", dir / "elsewhere.e"); }, CommandOutcome::SourceMissing,
         messages::ProtectedOpenFailed},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(WriteProtectedFile(dir / "p.e", "pw", ByteString(20u << 20, 1)), WriteOutcome::Written);
        surface = FakeSurface();
        surface.whileDialogOpen = c.change;
        EXPECT_EQ(Decrypt(dir / "p.e", "pw", dir / "out"), c.outcome) << c.what;
        EXPECT_EQ(surface.TakeMessage(), c.message) << c.what;
        EXPECT_FALSE(std::filesystem::exists(dir / "out")) << c.what;
        EXPECT_TRUE(dir.Leftovers().empty()) << c.what;
    }
}

// A cancel that comes while the last step flushes the new file still leaves everything as
// it was: the rename is the last moment it is heard, and success is never claimed.
TEST_F(CommandsOnFiles, CancelDuringTheLastStepStillHolds) {
    ASSERT_EQ(WriteProtectedFile(dir / "p.e", "pw", ByteString(20u << 20, 4)), WriteOutcome::Written);
    for (const bool withAhead : {false, true}) {
        WriteBytes(dir / "existing", "old");
        surface = FakeSurface();
        int works = 0;
        const int last = withAhead ? 2 : 3;  // ahead: pass, finish; window: check, pass, finish
        surface.beforeWork = [&](WorkProgress& progress) {
            if (++works == last) progress.Cancel();
        };
        ahead = withAhead;
        EXPECT_EQ(Decrypt(dir / "p.e", "pw", dir / "existing"), CommandOutcome::Cancelled) << withAhead;
        EXPECT_EQ(works, last) << withAhead;
        EXPECT_TRUE(surface.messages.empty()) << withAhead;
        EXPECT_EQ(ReadBytes(dir / "existing"), Bytes("old")) << withAhead;
        EXPECT_TRUE(dir.Leftovers().empty()) << withAhead;
    }
}

// A source that changes while it is encrypted is reported, and no torn copy is stored.
TEST_F(CommandsOnFiles, SourceChangedWhileEncryptedIsReported) {
    for (const bool grow : {true, false}) {
        WriteBytes(dir / "plain", ByteString(64u << 20, 3));
        surface = FakeSurface();
        surface.besideWork = [&](WorkProgress& progress, const std::atomic<bool>& done) {
            while (!done && progress.Fraction() < 0.1) std::this_thread::yield();
            if (grow) {
                std::ofstream(dir / "plain", std::ios::app) << "more";
            } else {
                std::filesystem::resize_file(dir / "plain", 1u << 20);
            }
        };
        EXPECT_EQ(Encrypt(dir / "plain", "pw", dir / "out"), CommandOutcome::SourceUnreadable) << grow;
        EXPECT_EQ(surface.TakeMessage(), messages::SourceChanged) << grow;
        EXPECT_FALSE(std::filesystem::exists(dir / "out")) << grow;
        EXPECT_TRUE(dir.Leftovers().empty()) << grow;
    }
}

// The window's decrypt needs no more memory for a large file than for a small one: under
// an address-space limit well below the file's size it still gives the content back whole.
TEST_F(CommandsOnFiles, LargeDecryptInTheWindowNeedsLittleMemory) {
    if (UnderAddressSanitizer()) GTEST_SKIP() << "the address sanitizer cannot map its memory under an address-space limit";
    constexpr std::size_t Size = 512u << 20;
    {
        const ByteString content(Size, 0x77);
        ASSERT_EQ(WriteProtectedFile(dir / "p.e", "pw", content), WriteOutcome::Written);
    }
    const int code = InChild([&] {
        const rlimit limit{256u << 20, 256u << 20};
        if (setrlimit(RLIMIT_AS, &limit) != 0) return 10;
        const CommandOutcome outcome = Decrypt(dir / "p.e", "pw", dir / "out");
        return outcome == CommandOutcome::Succeeded ? 0 : 20 + int(outcome);
    });
    ASSERT_EQ(code, 0);
    const ByteString out = ReadBytes(dir / "out");
    EXPECT_EQ(out.size(), Size);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](std::uint8_t b) { return b == 0x77; }));
}

// A read error says nothing of the file either: a file that fails every read (EIO), as
// this process's own memory does at its start, is unreadable, not "not protected".
TEST_F(CommandsOnFiles, ReadErrorIsNotAVerdict) {
    ahead = false;
    EXPECT_EQ(Decrypt("/proc/self/mem", "pw", dir / "out"), CommandOutcome::SourceUnreadable);
    EXPECT_EQ(surface.TakeMessage(), messages::ProtectedUnreadable);
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));
}

// Memory that cannot be had says nothing of the file: it is never called altered.
TEST_F(CommandsOnFiles, NoMemoryIsNotTampering) {
    if (UnderAddressSanitizer()) GTEST_SKIP() << "the address sanitizer cannot map its memory under an address-space limit";
    ASSERT_EQ(WriteProtectedFile(dir / "p.e", "pw", ByteString(12u << 20, 9)), WriteOutcome::Written);
    const int code = InChild([&] {
        // Less than the content, more than the program: the content alone cannot be held.
        const rlimit limit{120u << 20, 120u << 20};
        std::vector<std::unique_ptr<std::uint8_t[]>> ballast;
        if (setrlimit(RLIMIT_AS, &limit) != 0) return 10;
        try {
            for (;;) ballast.emplace_back(new std::uint8_t[1u << 20]);
        } catch (const std::bad_alloc&) {
        }
        for (int k = 0; k < 6 && !ballast.empty(); ++k) ballast.pop_back();  // room for the command, not the content
        const RecordReading reading = ReadProtectedFile(dir / "p.e", "pw");
        return reading.check == RecordCheck::Unreadable ? 0 : 20 + int(reading.check);
    });
    EXPECT_EQ(code, 0);
}

}  // namespace
}  // namespace jiajiemi
