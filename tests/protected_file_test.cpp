// SPDX-License-Identifier: MIT
// The typed operations, whole files and the protected record: known answers, damaged
// records, the position rules, and what is on disk after a failure.
#include "tests/child_process.h"
#include "protect/password_bytes.h"
#include "protect/keyed_file.h"
#include "protect/open_files.h"
#include "protect/record.h"
#include "protect/typed_io.h"
#include "tests/temp_dir.h"
#include "tests/test_vectors.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace jiajiemi {
namespace {

using test::Bytes;
using test::FromHex;
using test::InChild;
using test::ReadBytes;
using test::TempDir;
using test::ToHex;
using test::WriteBytes;

std::string AsText(const ByteString& bytes) { return std::string(bytes.begin(), bytes.end()); }

PlainFile& Registered(FileHandle handle) { return *OpenFileRegistry::Instance().Find(handle); }

TEST(ProtectedFile, RecordVectors) {
    int checked = 0;
    for (const auto& fields : test::ReadVectorLines("protected-vectors.txt")) {
        if (fields.at(0) != "record") continue;
        const std::string password = AsText(FromHex(fields.at(1)));
        const ByteString content = FromHex(fields.at(2));
        TempDir dir;
        ASSERT_EQ(WriteProtectedFile(dir / "p", password, content), WriteOutcome::Written);
        EXPECT_EQ(ToHex(ReadBytes(dir / "p")), fields.at(3)) << "password " << fields.at(1);

        WriteBytes(dir / "v", FromHex(fields.at(3)));
        const RecordReading reading = ReadProtectedFile(dir / "v", password);
        EXPECT_EQ(reading.check, RecordCheck::Passed);
        EXPECT_EQ(reading.content, content);
        ++checked;
    }
    EXPECT_EQ(checked, 4);
}

TEST(ProtectedFile, RoundTripsAcrossBlocks) {
    TempDir dir;
    for (std::size_t size : {std::size_t(0), std::size_t(4024), std::size_t(4025), std::size_t(3 << 20) + 7}) {
        ByteString content(size);
        for (std::size_t k = 0; k < size; ++k) content[k] = std::uint8_t(k * 7 + k / 4096);
        for (const std::string password : {"", "secret", "\xc3\xdc\xc2\xeb"}) {
            ASSERT_EQ(WriteProtectedFile(dir / "p", password, content), WriteOutcome::Written);
            EXPECT_EQ(ReadBytes(dir / "p").size(), ContentOffset + size);
            const RecordReading reading = ReadProtectedFile(dir / "p", password);
            EXPECT_EQ(reading.check, RecordCheck::Passed) << size;
            EXPECT_EQ(reading.content, content) << size;
        }
    }
}

// A large record, whose content goes through the pipeline in many pieces, is byte for byte
// the record built in one piece in memory.
TEST(ProtectedFile, LargeRecordMatchesTheOnePieceModel) {
    TempDir dir;
    ByteString content((9u << 20) + 4321);
    for (std::size_t k = 0; k < content.size(); ++k) content[k] = std::uint8_t((k * 2654435761u) >> 13);
    WriteBytes(dir / "source", content);
    const FileEncryption encryption = EncryptFile(dir / "source", dir / "p", "secret");
    ASSERT_EQ(encryption.readFailure, ReadFailure::None);
    ASSERT_EQ(encryption.written, WriteOutcome::Written);

    ByteString expected = {0x09, 0x50, 0x64, 0x45};
    for (const std::string& text : {ComputeDigestText(std::string_view("secret")), ComputeDigestText(content)})
        expected.insert(expected.end(), text.begin(), text.end());
    for (int k = 0; k < 4; ++k) expected.push_back(std::uint8_t(content.size() >> (8 * k)));
    expected.insert(expected.end(), content.begin(), content.end());
    PasswordKeys("secret").EncipherSpan(4, 0, expected.data(), expected.size());
    EXPECT_TRUE(ReadBytes(dir / "p") == expected);

    const RecordReading reading = ReadProtectedFile(dir / "p", "secret");
    EXPECT_EQ(reading.check, RecordCheck::Passed);
    EXPECT_TRUE(reading.content == content);

    const FileHandle out = OpenKeyedFile(dir / "out", 4);
    EXPECT_EQ(PassProtectedFile(dir / "p", "secret", &Registered(out)).check, RecordCheck::Passed);
    CloseFile(out);
    EXPECT_TRUE(ReadBytes(dir / "out") == content);
}

// Each damaged record, and the check that must catch it.
TEST(ProtectedFile, DamagedRecords) {
    // "hello\n" under "secret", and "plain text" under the empty password.
    const ByteString secretRecord = FromHex(
        "09506445a324c1fcae873572fb1659266fbf8bdbd8a85764ccb103a99f10411611950bf9e5fa76e8495a79883b029ab21a1f5ba5ebc3a7"
        "e751127af39a306bde2b1f9c4f510ef78ade4c161e1dbc");
    const ByteString plainRecord = FromHex(
        "09506445643431643863643938663030623230346539383030393938656366383432376533316263356332623866643466323063643734"
        "373334376237353034613338350a000000706c61696e2074657874");
    const ByteString emptyContentRecord = FromHex(
        "09506445a324c1fcae873572fb1659266fbf8bdbd8a85764ccb103a99f10411611950bf9e3ff7eb847587e88315093b01c1f58a5b999a9"
        "e5521e21ff9b613bd72e1c931e570ef78a");
    auto flip = [](ByteString r, std::size_t at) { r.at(at) ^= 0x01; return r; };
    auto cut = [](const ByteString& r, std::size_t length) { return ByteString(r.begin(), r.begin() + std::ptrdiff_t(length)); };
    auto append = [](ByteString r) { r.insert(r.end(), {1, 2, 3}); return r; };
    // The length field is enciphered: XOR in the difference between old and new length.
    auto claimLength = [](ByteString r, std::uint32_t length) {
        const std::uint32_t change = length ^ 6u;
        for (int k = 0; k < 4; ++k) r.at(ContentLengthOffset + std::size_t(k)) ^= std::uint8_t(change >> (8 * k));
        return r;
    };
    struct Case {
        const char* what;
        ByteString file;
        std::string password;
        RecordCheck expected;
        ByteString content;
    };
    const Case cases[] = {
        {"intact", secretRecord, "secret", RecordCheck::Passed, Bytes("hello\n")},
        {"wrong password", secretRecord, "wrong", RecordCheck::WrongPassword, {}},
        {"case-changed password", secretRecord, "Secret", RecordCheck::WrongPassword, {}},
        {"empty password on a keyed record", secretRecord, "", RecordCheck::WrongPassword, {}},
        {"password on a plain record", plainRecord, "secret", RecordCheck::WrongPassword, {}},
        {"plain record, empty password", plainRecord, "", RecordCheck::Passed, Bytes("plain text")},
        {"password digest changed", flip(secretRecord, 10), "secret", RecordCheck::WrongPassword, {}},
        {"content digest changed", flip(secretRecord, 40), "secret", RecordCheck::Tampered, {}},
        {"length changed", flip(secretRecord, ContentLengthOffset), "secret", RecordCheck::Tampered, {}},
        {"length claims 4 GiB", claimLength(secretRecord, 0xffffffffu), "secret", RecordCheck::Tampered, {}},
        {"length claims 2 GiB", claimLength(secretRecord, 0x7fffffffu), "secret", RecordCheck::Tampered, {}},
        {"last content byte changed", flip(secretRecord, secretRecord.size() - 1), "secret", RecordCheck::Tampered, {}},
        {"cut inside the magic", cut(secretRecord, 2), "secret", RecordCheck::NotProtected, {}},
        {"only the magic", cut(secretRecord, 4), "secret", RecordCheck::WrongPassword, {}},
        {"cut inside the password digest", cut(secretRecord, 20), "secret", RecordCheck::WrongPassword, {}},
        {"cut inside the content digest", cut(secretRecord, 50), "secret", RecordCheck::Tampered, {}},
        {"cut inside the length", cut(secretRecord, 70), "secret", RecordCheck::Tampered, {}},
        {"cut inside the content", cut(secretRecord, 75), "secret", RecordCheck::Tampered, {}},
        {"bytes appended", append(secretRecord), "secret", RecordCheck::Passed, Bytes("hello\n")},
        {"empty content, length cut off", cut(emptyContentRecord, ContentLengthOffset), "secret", RecordCheck::Passed, {}},
        {"not a protected file", Bytes("just some text"), "secret", RecordCheck::NotProtected, {}},
        {"empty file", {}, "", RecordCheck::NotProtected, {}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        WriteBytes(dir / "p", c.file);
        const RecordReading reading = ReadProtectedFile(dir / "p", c.password);
        EXPECT_EQ(reading.check, c.expected) << c.what;
        EXPECT_EQ(reading.content, c.content) << c.what;

        // Passed on to a file instead of held, the content is the same and so is the check.
        const FileHandle out = OpenKeyedFile(dir / "out", 4);
        const RecordPassing passing = PassProtectedFile(dir / "p", c.password, &Registered(out));
        CloseFile(out);
        EXPECT_EQ(passing.check, c.expected) << c.what;
        EXPECT_TRUE(passing.written) << c.what;
        if (c.expected == RecordCheck::Passed) {
            EXPECT_EQ(ReadBytes(dir / "out"), c.content) << c.what;
        }
        EXPECT_EQ(PassProtectedFile(dir / "p", c.password).check, c.expected) << c.what;
    }
    for (const std::string& path : {dir / "missing", dir.path().string(), std::string()}) {
        EXPECT_EQ(ReadProtectedFile(path, "secret").check, RecordCheck::OpenFailed);
        EXPECT_EQ(PassProtectedFile(path, "secret").check, RecordCheck::OpenFailed);
    }
    EXPECT_EQ(OpenFileRegistry::Instance().size(), 0u);  // every path closed its file
}

// A second reading with the seal of a first check passes the file that still holds what
// the check saw, and nothing else; without a key the second reading digests again.
TEST(ProtectedFile, SealedReadingFindsTheSameFileOnly) {
    TempDir dir;
    ByteString content((3u << 20) + 5);  // several pieces
    for (std::size_t k = 0; k < content.size(); ++k) content[k] = std::uint8_t(k * 31 + k / 4096);
    ByteString other = content;
    other[other.size() / 2] ^= 1;
    ASSERT_EQ(WriteProtectedFile(dir / "p", "secret", content), WriteOutcome::Written);
    ASSERT_EQ(WriteProtectedFile(dir / "other", "secret", other), WriteOutcome::Written);
    ASSERT_EQ(WriteProtectedFile(dir / "empty", "secret", ByteString{}), WriteOutcome::Written);
    const ByteString record = ReadBytes(dir / "p");
    const ByteString otherRecord = ReadBytes(dir / "other");
    ByteString emptyRecord = ReadBytes(dir / "empty");
    emptyRecord.resize(ContentLengthOffset);  // counts as empty: its stored digest is that of nothing
    const ByteString nothing;

    using Change = std::function<ByteString(ByteString)>;
    const Change same = [](ByteString r) { return r; };
    const Change flipContent = [](ByteString r) { r.at(r.size() - 7) ^= 1; return r; };
    const Change flipStoredDigest = [](ByteString r) { r.at(ContentDigestOffset + 3) ^= 1; return r; };
    const Change append = [](ByteString r) { r.insert(r.end(), {1, 2, 3}); return r; };
    const Change cut = [](ByteString r) { r.pop_back(); return r; };
    const Change toOther = [&](ByteString) { return otherRecord; };
    struct Case {
        const char* what;
        bool keyed;
        const ByteString& first;  // the record the first check sees
        Change change;
        std::string password;
        RecordCheck expected;
        const ByteString& written;  // what the destination holds when the reading passes
    };
    const Case cases[] = {
        {"unchanged", true, record, same, "secret", RecordCheck::Passed, content},
        {"bytes appended", true, record, append, "secret", RecordCheck::Passed, content},
        {"a content byte changed", true, record, flipContent, "secret", RecordCheck::Tampered, nothing},
        {"the stored digest changed", true, record, flipStoredDigest, "secret", RecordCheck::Tampered, nothing},
        {"cut short", true, record, cut, "secret", RecordCheck::Tampered, nothing},
        {"another intact record", true, record, toOther, "secret", RecordCheck::Tampered, nothing},
        {"a wrong password now", true, record, same, "wrong", RecordCheck::WrongPassword, nothing},
        {"counted as empty, unchanged", true, emptyRecord, same, "secret", RecordCheck::Passed, nothing},
        {"no key, unchanged", false, record, same, "secret", RecordCheck::Passed, content},
        {"no key, a content byte changed", false, record, flipContent, "secret", RecordCheck::Tampered, nothing},
        {"no key, another intact record", false, record, toOther, "secret", RecordCheck::Passed, other},
    };
    for (const Case& c : cases) {
        WriteBytes(dir / "p", c.first);
        RecordSeal seal;
        ASSERT_TRUE(seal.key) << "no random bytes";
        if (!c.keyed) seal.key.reset();
        ASSERT_EQ(PassProtectedFile(dir / "p", "secret", nullptr, Unwatched(), &seal).check, RecordCheck::Passed) << c.what;
        EXPECT_EQ(seal.sealed, c.keyed) << c.what;

        WriteBytes(dir / "p", c.change(c.first));
        const FileHandle out = OpenKeyedFile(dir / "out", 4);
        const RecordPassing passing = PassProtectedFile(dir / "p", c.password, &Registered(out), Unwatched(), &seal);
        CloseFile(out);
        EXPECT_EQ(passing.check, c.expected) << c.what;
        if (passing.check == RecordCheck::Passed) {
            EXPECT_TRUE(ReadBytes(dir / "out") == c.written) << c.what;
        }
    }
}

// Bytes on disk, with no password, and what ReadText gives and where it leaves the file.
TEST(TypedOperations, ReadTextRules) {
    struct Case {
        const char* what;
        std::string bytes;
        std::int32_t start;
        std::optional<std::int32_t> maxBytes;
        std::string text;
        std::int32_t position;
    };
    const Case cases[] = {
        {"zero ends the text", std::string("ab\0cd", 5), 0, 32, "ab", 2},
        {"on the zero again", std::string("ab\0cd", 5), 2, 32, "", 2},
        {"0x1A ends the text", "a\x1a" "b", 0, 32, "a", 1},
        {"lead byte before a zero is dropped", std::string("\x81\0", 2), 0, 32, "", 1},
        {"a pair is kept whole", std::string("\x81\x1a\x41\0", 4), 0, 32, "\x81\x1a\x41", 3},
        {"pair with a high second byte", "\xc3\xdc\xc2\xeb", 0, 32, "\xc3\xdc\xc2\xeb", 4},
        {"lead byte read last is kept", "a\x81" "b", 0, 2, "a\x81", 2},
        {"limit", "abcdef", 0, 3, "abc", 3},
        {"end of the file", "abc", 3, 32, "", 3},
        {"no limit reads the whole length", "abcdef", 1, std::nullopt, "bcdef", 6},
        {"zero limit", "abc", 0, 0, "", 0},
        {"negative limit", "abc", 1, -4, "", 1},
    };
    TempDir dir;
    for (const Case& c : cases) {
        WriteBytes(dir / "f", c.bytes);
        const FileHandle h = OpenKeyedFile(dir / "f", 1);
        Registered(h).seek(c.start, SeekOrigin::Begin);
        EXPECT_EQ(ReadText(h, c.maxBytes), c.text) << c.what;
        EXPECT_EQ(Registered(h).position(), c.position) << c.what;
        CloseFile(h);
    }
}

TEST(TypedOperations, ReadDataRules) {
    TempDir dir;
    auto open = [&](const std::string& bytes) {
        WriteBytes(dir / "f", bytes);
        return OpenKeyedFile(dir / "f", 1);
    };

    // An integer with 3 bytes left: false, the variable and the position as they were.
    FileHandle h = open("\x01\x02\x03\x04\x05\x06\x07");
    std::int32_t first = 0, second = 99;
    EXPECT_FALSE(ReadData(h, {&first, &second}));
    EXPECT_EQ(first, 0x04030201);  // read before the failure: keeps its new value
    EXPECT_EQ(second, 99);
    EXPECT_EQ(Registered(h).position(), 0);
    CloseFile(h);

    // A byte string longer than the rest: false, the variable empty, back before the count.
    h = open(std::string("xx\x05\0\0\0abc", 9));
    Registered(h).seek(2, SeekOrigin::Begin);
    ByteString bytes = Bytes("old");
    EXPECT_FALSE(ReadData(h, {&bytes}));
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(Registered(h).position(), 2);
    CloseFile(h);

    // Integers, byte strings and texts in one call.
    h = open(std::string("\x2a\0\0\0\x02\0\0\0hiab\0cd", 15));
    std::int32_t number = 0;
    ByteString pair;
    std::string text, rest, none = "x";
    EXPECT_TRUE(ReadData(h, {&number, &pair, &text, &rest}));
    EXPECT_EQ(number, 42);
    EXPECT_EQ(pair, Bytes("hi"));
    EXPECT_EQ(text, "ab");
    EXPECT_EQ(rest, "cd");  // the end of the file ends a text that has bytes
    EXPECT_FALSE(ReadData(h, {&none}));
    EXPECT_EQ(none, "");
    CloseFile(h);

    // An empty byte string reads nothing more.
    h = open(std::string("\0\0\0\0z", 5));
    EXPECT_TRUE(ReadData(h, {&bytes}));
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(Registered(h).position(), 4);
    CloseFile(h);
}

TEST(TypedOperations, WriteForms) {
    TempDir dir;
    const FileHandle h = OpenKeyedFile(dir / "f", 4);
    const ByteString empty;
    EXPECT_TRUE(WriteData(h, {std::int32_t(-2), std::string_view("ab"), std::span<const std::uint8_t>(empty)}));
    EXPECT_TRUE(WriteText(h, {std::string_view(""), std::int32_t(42), std::span<const std::uint8_t>(Bytes("skipped")),
                              std::string_view("xy")}));
    CloseFile(h);
    EXPECT_EQ(ToHex(ReadBytes(dir / "f")), "feffffff" "616200" "00000000" "3432" "7879");
}

TEST(TypedOperations, FailuresPutThePositionBack) {
    TempDir dir;
    WriteBytes(dir / "f", "abcdef");
    const FileHandle h = OpenKeyedFile(dir / "f", 1);  // read only: every write fails
    Registered(h).seek(3, SeekOrigin::Begin);
    EXPECT_FALSE(WriteData(h, {std::int32_t(1)}));
    EXPECT_FALSE(WriteText(h, {std::string_view("x")}));
    EXPECT_EQ(Registered(h).position(), 3);
    CloseFile(h);
    EXPECT_EQ(ReadBytes(dir / "f"), Bytes("abcdef"));
}

TEST(TypedOperations, UnregisteredHandlesFail) {
    std::int32_t number = 7;
    for (FileHandle h : {0, 12345}) {
        EXPECT_FALSE(WriteData(h, {std::int32_t(1)}));
        EXPECT_FALSE(WriteText(h, {std::string_view("x")}));
        EXPECT_FALSE(ReadData(h, {&number}));
        EXPECT_EQ(ReadText(h, 32), "");
    }
    EXPECT_EQ(number, 7);
}

TEST(WholeFiles, ReadWholeFileTellsFailuresApart) {
    TempDir dir;
    WriteBytes(dir / "file", "content");
    WriteBytes(dir / "empty", "");
    std::filesystem::create_directory(dir / "folder");
    mkfifo((dir / "fifo").c_str(), 0600);
    std::filesystem::create_symlink(dir / "file", dir / "link");
    std::filesystem::create_symlink(dir / "gone", dir / "dangling");
    {
        // Sparse: 2^31 bytes that take no room on disk.
        const FileHandle h = OpenKeyedFile(dir / "huge", 4);
        Registered(h).close();
        CloseFile(h);
        std::filesystem::resize_file(dir / "huge", std::uintmax_t(1) << 31);
    }
    struct Case {
        std::string path;
        ReadFailure failure;
        ByteString bytes;
    };
    const Case cases[] = {
        {dir / "file", ReadFailure::None, Bytes("content")},
        {dir / "link", ReadFailure::None, Bytes("content")},
        {dir / "empty", ReadFailure::None, {}},
        {"", ReadFailure::Unreadable, {}},
        {dir / "missing", ReadFailure::Unreadable, {}},
        {dir / "dangling", ReadFailure::Unreadable, {}},
        {dir / "folder", ReadFailure::NotRegularFile, {}},
        {dir / "fifo", ReadFailure::NotRegularFile, {}},  // returns at once, no writer needed
        {"/dev/zero", ReadFailure::NotRegularFile, {}},
        {dir / "huge", ReadFailure::TooLarge, {}},
    };
    for (const Case& c : cases) {
        const WholeFile whole = ReadWholeFile(c.path);
        EXPECT_EQ(whole.failure, c.failure) << c.path;
        EXPECT_EQ(whole.bytes, c.bytes) << c.path;
    }
}

TEST(WholeFiles, WriteWholeFileReplacesWhole) {
    TempDir dir;
    const ByteString a = Bytes("first "), b = Bytes("second"), none;
    EXPECT_EQ(WriteWholeFile(dir / "new", {a, none, b}), WriteOutcome::Written);
    EXPECT_EQ(ReadBytes(dir / "new"), Bytes("first second"));
    EXPECT_EQ(WriteWholeFile(dir / "new", {none}), WriteOutcome::Written);
    EXPECT_EQ(ReadBytes(dir / "new"), ByteString{});

    // Permission bits stay; a link stays a link and its target gets the content.
    WriteBytes(dir / "target", "old content, longer than the new");
    std::filesystem::permissions(dir / "target", std::filesystem::perms(0640));
    std::filesystem::create_symlink("target", dir / "link");
    EXPECT_EQ(WriteWholeFile(dir / "link", {a}), WriteOutcome::Written);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link"));
    EXPECT_EQ(ReadBytes(dir / "target"), a);
    EXPECT_EQ(std::filesystem::status(dir / "target").permissions(), std::filesystem::perms(0640));

    // A dangling link creates its target.
    std::filesystem::create_symlink("made", dir / "dangling");
    EXPECT_EQ(WriteWholeFile(dir / "dangling", {b}), WriteOutcome::Written);
    EXPECT_EQ(ReadBytes(dir / "made"), b);

    EXPECT_EQ(WriteWholeFile("", {a}), WriteOutcome::OpenFailed);
    EXPECT_EQ(WriteWholeFile(dir / "no-folder/f", {a}), WriteOutcome::OpenFailed);
    std::filesystem::create_directory(dir / "folder");
    EXPECT_EQ(WriteWholeFile(dir / "folder", {a}), WriteOutcome::OpenFailed);
    EXPECT_TRUE(dir.Leftovers().empty());
}

// The releasing write gives each written piece's memory back: every byte must still reach
// the file, at piece edges and at a size that is no multiple of a page.
TEST(WholeFiles, WriteAndReleaseWholeFile) {
    TempDir dir;
    for (const std::size_t size : {std::size_t(0), std::size_t(5), (std::size_t(17) << 20) + 4097}) {
        ByteString content(size);
        for (std::size_t k = 0; k < size; ++k) content[k] = std::uint8_t(k % 251 + 1);  // no zero byte
        ByteString copy = content;
        EXPECT_EQ(WriteAndReleaseWholeFile(dir / "f", std::move(copy)), WriteOutcome::Written);
        EXPECT_TRUE(ReadBytes(dir / "f") == content) << size;
    }
    EXPECT_EQ(WriteAndReleaseWholeFile(dir / "no-folder/f", Bytes("x")), WriteOutcome::OpenFailed);
    EXPECT_TRUE(dir.Leftovers().empty());
}

// New files are 0666 less the umask, as a plain create would make them.
TEST(WholeFiles, NewFilesFollowTheUmask) {
    TempDir dir;
    const mode_t old = umask(027);
    const WriteOutcome outcome = WriteWholeFile(dir / "new", {Bytes("x")});
    umask(old);
    EXPECT_EQ(outcome, WriteOutcome::Written);
    EXPECT_EQ(std::filesystem::status(dir / "new").permissions(), std::filesystem::perms(0640));
}

// A write that fails part way (here at a file-size limit) leaves the old destination
// byte for byte, and no temporary file behind.
TEST(WholeFiles, FailedWritesKeepTheDestination) {
    TempDir dir;
    const ByteString old = Bytes("the old destination");
    const ByteString big(100000, 0x5a);
    for (const bool record : {false, true}) {
        WriteBytes(dir / "dest", old);
        const int code = InChild([&] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{50000, 50000};
            setrlimit(RLIMIT_FSIZE, &limit);
            const WriteOutcome outcome =
                record ? WriteProtectedFile(dir / "dest", "pw", big) : WriteWholeFile(dir / "dest", {big});
            return outcome == WriteOutcome::WriteFailed ? 0 : 1;
        });
        EXPECT_EQ(code, 0) << (record ? "record" : "whole file");
        EXPECT_EQ(ReadBytes(dir / "dest"), old);
        EXPECT_TRUE(dir.Leftovers().empty());
    }
}

// An existing destination that the user may not write is refused and left alone.
// A replacement that is dropped unfinished, or finished as not written, leaves the
// destination as it was and no temporary file behind.
TEST(WholeFiles, PendingReplacementWaitsForFinish) {
    TempDir dir;
    WriteBytes(dir / "dest", "old");
    for (const bool finish : {false, true}) {
        PendingReplacement replacement(dir / "dest", {}, 0);
        ASSERT_NE(replacement.file(), nullptr);
        ASSERT_TRUE(WriteData(*replacement.file(), {std::string_view("new")}));
        if (finish) {
            EXPECT_EQ(replacement.Finish(false), WriteOutcome::WriteFailed);
        }
    }
    EXPECT_EQ(ReadBytes(dir / "dest"), Bytes("old"));
    EXPECT_TRUE(dir.Leftovers().empty());
    {
        PendingReplacement replacement(dir / "dest", {}, 0);
        ASSERT_TRUE(WriteData(*replacement.file(), {std::string_view("new")}));
        EXPECT_EQ(replacement.Finish(true), WriteOutcome::Written);
    }
    EXPECT_EQ(ReadBytes(dir / "dest"), Bytes(std::string_view("new\0", 4)));

    // A destination that comes to be meanwhile is replaced as one that was there before.
    {
        PendingReplacement replacement(dir / "late", {}, 0);
        WriteBytes(dir / "late", "old");
        std::filesystem::permissions(dir / "late", std::filesystem::perms(0640));
        EXPECT_EQ(replacement.Finish(true), WriteOutcome::Written);
    }
    EXPECT_TRUE(ReadBytes(dir / "late").empty());
    EXPECT_EQ(std::filesystem::status(dir / "late").permissions(), std::filesystem::perms(0640));
    EXPECT_EQ(OpenFileRegistry::Instance().size(), 0u);
}

TEST(WholeFiles, ReadOnlyDestinationIsRefused) {
    TempDir dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
    WriteBytes(dir / "dest", "keep me");
    std::filesystem::permissions(dir / "dest", std::filesystem::perms(0444));
    const int code = InChild([&] {
        // As root every file is writable: check as an ordinary user.
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 2;
        const bool refused = WriteWholeFile(dir / "dest", {Bytes("new")}) == WriteOutcome::OpenFailed &&
                             WriteProtectedFile(dir / "dest", "pw", Bytes("new")) == WriteOutcome::OpenFailed;
        return refused ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadBytes(dir / "dest"), Bytes("keep me"));
    EXPECT_TRUE(dir.Leftovers().empty());
}

TEST(PasswordBytes, Cp936) {
    struct Case {
        std::string typed;
        std::optional<std::string> bytes;
    };
    const Case cases[] = {
        {"", ""},
        {"secret", "secret"},
        {"密码", "\xc3\xdc\xc2\xeb"},
        {"é", "\xa8\xa6"},
        {"€", "\x80"},
        {"pw😀", std::nullopt},  // outside CP936
        {"\xff\xfe", std::nullopt},  // not UTF-8
        {"\xe5\xaf", std::nullopt},  // cut inside a character
    };
    for (const Case& c : cases) EXPECT_EQ(PasswordBytes(c.typed), c.bytes) << c.typed;
}

}  // namespace
}  // namespace jiajiemi
