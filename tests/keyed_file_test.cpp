// SPDX-License-Identifier: MIT
// The keyed file layer: open modes and refusals, the registry, and what reaches the disk
// through a KeyedFile in any split of reads and writes.
#include "protect/digest_text.h"
#include "protect/keyed_file.h"
#include "protect/open_files.h"
#include "tests/temp_dir.h"
#include "tests/test_vectors.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/magic.h>
#include <random>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace jiajiemi {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

PlainFile& Registered(FileHandle handle) {
    PlainFile* file = OpenFileRegistry::Instance().Find(handle);
    if (!file) throw std::runtime_error("handle not registered");
    return *file;
}

ByteString RandomBytes(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    ByteString bytes(count);
    for (auto& b : bytes) b = std::uint8_t(random());
    return bytes;
}

// The keystream of "secret" from position 0, taken from a file of zero bytes.
ByteString KeystreamOnDisk(const TempDir& dir, std::size_t count) {
    const std::string path = dir / "zeros";
    WriteBytes(path, ByteString(count, 0));
    const FileHandle h = OpenKeyedFile(path, 1, 1, "secret", 0);
    ByteString z(count);
    EXPECT_EQ(Registered(h).read(z.data(), std::int32_t(count)), std::int32_t(count));
    CloseFile(h);
    return z;
}

TEST(OpenKeyedFile, OpenModes) {
    struct Case {
        int mode;
        bool opensMissing;
        bool keepsContent;
        bool canRead;
        bool canWrite;
    };
    const Case cases[] = {
        {1, false, true, true, false}, {2, false, true, false, true}, {3, false, true, true, true},
        {4, true, false, false, true}, {5, true, true, false, true},  {6, true, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode));
        TempDir dir;
        WriteBytes(dir / "existing", "hello");
        const FileHandle existing = OpenKeyedFile(dir / "existing", c.mode);
        ASSERT_NE(existing, 0);
        PlainFile& file = Registered(existing);
        EXPECT_EQ(file.position(), 0);  // also for the modes that keep the content
        char byte = 0;
        if (c.canRead) {
            EXPECT_EQ(file.read(&byte, 1), 1);
        } else {
            EXPECT_THROW(file.read(&byte, 1), FileError);
        }
        if (!c.canWrite) {
            EXPECT_THROW(file.write("x", 1), FileError);
        }
        CloseFile(existing);
        EXPECT_EQ(ReadBytes(dir / "existing").size(), c.keepsContent ? 5u : 0u);

        const FileHandle missing = OpenKeyedFile(dir / "missing", c.mode);
        EXPECT_EQ(missing != 0, c.opensMissing);
        EXPECT_EQ(std::filesystem::exists(dir / "missing"), c.opensMissing);
        CloseFile(missing);
    }
}

TEST(OpenKeyedFile, RefusalsTouchNothing) {
    TempDir dir;
    WriteBytes(dir / "file", "hello");
    mkfifo((dir / "fifo").c_str(), 0600);
    std::filesystem::create_directory(dir / "folder");
    struct Case {
        std::string path;
        int openMode;
        int shareMode;
    };
    const Case cases[] = {
        {"", 4, 1},
        {dir / "file", 0, 1},
        {dir / "file", 7, 1},
        {dir / "file", 4, 0},
        {dir / "file", 4, 5},
        {dir / "missing", 1, 1},
        {dir / "folder", 1, 1},
        {dir / "folder", 4, 1},
        {dir / "file/below", 6, 1},  // a file is no folder
        {dir / "fifo", 1, 1},        // must not block waiting for a writer
        {dir / "fifo", 4, 1},
        {dir / "no-folder/new", 4, 1},
    };
    const std::size_t openBefore = OpenFileRegistry::Instance().size();
    for (const Case& c : cases) {
        EXPECT_EQ(OpenKeyedFile(c.path, c.openMode, c.shareMode, "pw", 4), 0) << c.path << " mode " << c.openMode;
        EXPECT_EQ(OpenKeyedFile(c.path, c.openMode, c.shareMode), 0) << c.path << " mode " << c.openMode;
    }
    EXPECT_EQ(OpenFileRegistry::Instance().size(), openBefore);
    EXPECT_EQ(ReadBytes(dir / "file").size(), 5u);
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

TEST(OpenKeyedFile, ShareModesAreAdvisoryButValidated) {
    TempDir dir;
    WriteBytes(dir / "file", "hello");
    for (int share = 1; share <= 4; ++share) {
        const FileHandle first = OpenKeyedFile(dir / "file", 3, share);
        const FileHandle second = OpenKeyedFile(dir / "file", 1, share);
        EXPECT_NE(first, 0);
        EXPECT_NE(second, 0);
        EXPECT_NE(first, second);
        CloseFile(first);
        CloseFile(second);
    }
}

TEST(OpenFileRegistry, UnregisteredHandlesAreIgnored) {
    TempDir dir;
    const FileHandle h = OpenKeyedFile(dir / "file", 4);
    ASSERT_NE(h, 0);
    EXPECT_NE(OpenFileRegistry::Instance().Find(h), nullptr);
    CloseFile(h);
    EXPECT_EQ(OpenFileRegistry::Instance().Find(h), nullptr);
    EXPECT_EQ(OpenFileRegistry::Instance().Find(0), nullptr);
    const std::size_t before = OpenFileRegistry::Instance().size();
    CloseFile(h);  // twice
    CloseFile(0);
    CloseFile(-5);
    EXPECT_EQ(OpenFileRegistry::Instance().size(), before);
}

// Files left open are closed at program end, in the order they were opened.
TEST(OpenFileRegistry, ClosesWhatIsLeftAtExit) {
    TempDir dir;
    // Not "f" + std::to_string(k): GCC 12 warns wrongly about an overlapping copy there.
    const auto name = [&](int k) {
        std::string file = "f";
        file.push_back(char('0' + k));
        return dir / file;
    };
    EXPECT_EXIT(
        {
            for (int k = 0; k < 3; ++k) {
                const FileHandle h = OpenKeyedFile(name(k), 4, 1, "pw", 4);
                Registered(h).write("data", 4);
            }
            std::exit(OpenFileRegistry::Instance().size() >= 3 ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
    for (int k = 0; k < 3; ++k) EXPECT_EQ(ReadBytes(name(k)), ByteString({'d', 'a', 't', 'a'}));
}

// A write in one call, or in any split at consecutive positions, stores the same bytes;
// reading back in any split gives the plain bytes.
TEST(KeyedFile, AnySplitStoresAndReadsTheSameBytes) {
    TempDir dir;
    const ByteString plain = RandomBytes(3 * 4096 + 123, 1);

    const FileHandle whole = OpenKeyedFile(dir / "whole", 4, 1, "secret", 4);
    Registered(whole).write(plain.data(), std::int32_t(plain.size()));
    CloseFile(whole);
    const ByteString stored = ReadBytes(dir / "whole");
    ASSERT_EQ(stored.size(), plain.size());
    EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + 4, stored.begin()));  // the plain prefix
    EXPECT_NE(ByteString(plain.begin() + 4, plain.end()), ByteString(stored.begin() + 4, stored.end()));

    std::mt19937 random(2);
    for (int round = 0; round < 20; ++round) {
        const FileHandle h = OpenKeyedFile(dir / "split", 4, 1, "secret", 4);
        PlainFile& file = Registered(h);
        for (std::size_t at = 0; at < plain.size();) {
            const std::size_t piece = std::min<std::size_t>(plain.size() - at, random() % 5000);
            file.write(plain.data() + at, std::int32_t(piece));
            at += piece;
        }
        CloseFile(h);
        ASSERT_EQ(ReadBytes(dir / "split"), stored) << "round " << round;

        const FileHandle r = OpenKeyedFile(dir / "split", 1, 1, "secret", 4);
        PlainFile& reader = Registered(r);
        ByteString back(plain.size());
        for (std::size_t at = 0; at < back.size();) {
            const std::int32_t piece = std::int32_t(random() % 5000);
            at += std::size_t(reader.read(back.data() + at, std::min<std::int32_t>(piece, std::int32_t(back.size() - at))));
        }
        CloseFile(r);
        ASSERT_EQ(back, plain) << "round " << round;
    }
}

TEST(KeyedFile, SeeksAndRandomAccessReadBack) {
    TempDir dir;
    const ByteString plain = RandomBytes(10000, 3);
    const FileHandle h = OpenKeyedFile(dir / "f", 6, 1, "secret", 4);
    PlainFile& file = Registered(h);
    // Write the second half first, then the first half.
    file.seek(5000, SeekOrigin::Begin);
    file.write(plain.data() + 5000, 5000);
    EXPECT_EQ(file.position(), 10000);
    EXPECT_EQ(file.length(), 10000);
    file.seek(0, SeekOrigin::Begin);
    file.write(plain.data(), 5000);
    for (std::int32_t at : {0, 3, 4, 4095, 4096, 9990}) {
        EXPECT_EQ(file.seek(at, SeekOrigin::Begin), at);
        std::uint8_t byte = 0;
        EXPECT_EQ(file.read(&byte, 1), 1);
        EXPECT_EQ(byte, plain[std::size_t(at)]) << "at " << at;
    }
    EXPECT_EQ(file.seek(-10, SeekOrigin::End), 9990);
    EXPECT_EQ(file.seek(5, SeekOrigin::Current), 9995);
    ByteString tail(100);
    EXPECT_EQ(file.read(tail.data(), 100), 5);  // a short read deciphers only what it returned
    EXPECT_TRUE(std::equal(tail.begin(), tail.begin() + 5, plain.end() - 5));
    EXPECT_EQ(file.read(tail.data(), 100), 0);  // at the end
    CloseFile(h);
}

TEST(KeyedFile, WriteLeavesTheCallersBufferAlone) {
    TempDir dir;
    const ByteString plain = RandomBytes(5000, 4);
    ByteString buffer = plain;
    const FileHandle h = OpenKeyedFile(dir / "f", 4, 1, "secret", 0);
    Registered(h).write(buffer.data(), std::int32_t(buffer.size()));
    CloseFile(h);
    EXPECT_EQ(buffer, plain);
}

TEST(KeyedFile, EmptyPasswordStoresPlainBytes) {
    TempDir dir;
    const ByteString plain = RandomBytes(5000, 5);
    for (const char* password : {"", static_cast<const char*>(nullptr)}) {
        const FileHandle h = password ? OpenKeyedFile(dir / "f", 4, 1, password, 4) : OpenKeyedFile(dir / "f", 4);
        Registered(h).write(plain.data(), std::int32_t(plain.size()));
        CloseFile(h);
        EXPECT_EQ(ReadBytes(dir / "f"), plain);
    }
}

TEST(KeyedFile, ZeroByteWriteChangesNothing) {
    TempDir dir;
    WriteBytes(dir / "f", "abc");
    const FileHandle h = OpenKeyedFile(dir / "f", 3, 1, "secret", 0);
    Registered(h).write("zzz", 0);
    EXPECT_EQ(Registered(h).position(), 0);
    CloseFile(h);
    EXPECT_EQ(ReadBytes(dir / "f"), ByteString({'a', 'b', 'c'}));
}

// Bytes added by setLength bypass the keys, so they read back as z(p).
TEST(KeyedFile, SetLengthExtensionReadsAsKeystream) {
    TempDir dir;
    const ByteString z = KeystreamOnDisk(dir, 6000);
    const FileHandle h = OpenKeyedFile(dir / "f", 6, 1, "secret", 4);
    PlainFile& file = Registered(h);
    file.setLength(6000);
    EXPECT_EQ(file.position(), 6000);
    EXPECT_EQ(file.length(), 6000);
    file.seek(0, SeekOrigin::Begin);
    ByteString back(6000);
    EXPECT_EQ(file.read(back.data(), 6000), 6000);
    CloseFile(h);
    EXPECT_EQ(ByteString(back.begin(), back.begin() + 4), ByteString(4, 0));
    EXPECT_EQ(ByteString(back.begin() + 4, back.end()), ByteString(z.begin() + 4, z.end()));
}

// The same password at the same position gives the same stored byte in every file, and
// blocks count from position 0 whatever the plain prefix.
TEST(KeyedFile, KeystreamDependsOnlyOnPasswordAndPosition) {
    TempDir dir;
    const ByteString z = KeystreamOnDisk(dir, 8200);
    for (std::int32_t prefix : {0, 4, 100}) {
        const FileHandle h = OpenKeyedFile(dir / "f", 4, 1, "secret", prefix);
        Registered(h).write(ByteString(8200, 0).data(), 8200);
        CloseFile(h);
        const ByteString stored = ReadBytes(dir / "f");
        for (std::size_t p = 0; p < stored.size(); ++p)
            ASSERT_EQ(stored[p], p < std::size_t(prefix) ? 0 : z[p]) << "prefix " << prefix << " at " << p;
    }
}

// How many of a file's pages the system holds in its cache.
std::size_t CachedPages(const std::string& path, std::size_t size) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    const std::size_t pageSize = std::size_t(::sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> resident((size + pageSize - 1) / pageSize);
    ::mincore(map, size, resident.data());
    ::munmap(map, size);
    return std::size_t(std::count_if(resident.begin(), resident.end(), [](unsigned char r) { return r & 1; }));
}

// A file read once gives its cache pages back as it is read, whatever the sizes of the
// reads, and the bytes read are the file's.
TEST(PlainFile, ReleaseAfterReading) {
    TempDir dir;
    struct statfs fs {};
    if (::statfs(dir.path().c_str(), &fs) == 0 && fs.f_type == TMPFS_MAGIC)
        GTEST_SKIP() << "the cache of a file in memory is the file itself";
    ByteString content((4u << 20) + 123);
    for (std::size_t k = 0; k < content.size(); ++k) content[k] = std::uint8_t(k * 13 + (k >> 12));
    WriteBytes(dir / "f", content);
    const int fd = ::open((dir / "f").c_str(), O_RDONLY | O_CLOEXEC);
    ::fsync(fd);  // only written-back pages can be given back
    ::close(fd);
    const std::size_t pages = CachedPages(dir / "f", content.size());
    if (pages < (content.size() + 4095) / 4096) GTEST_SKIP() << "the system did not keep the new file in its cache";

    for (const bool release : {false, true}) {
        PlainFile file;
        file.open(dir / "f", 1);
        if (release) file.releaseAfterReading();
        ByteString read(content.size());
        for (std::size_t at = 0; at < read.size();)  // pieces that end inside pages
            at += std::size_t(file.read(read.data() + at, std::int32_t(std::min<std::size_t>(100003, read.size() - at))));
        EXPECT_TRUE(read == content);
        if (release) {
            EXPECT_LE(CachedPages(dir / "f", content.size()), 1u);  // the last, partial page stays
        } else {
            EXPECT_EQ(CachedPages(dir / "f", content.size()), pages);
        }
    }
}

}  // namespace
}  // namespace jiajiemi
