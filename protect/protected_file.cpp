// The typed file operations, whole-file reading and writing, and the protected record.
#include "protected_file.h"

#include "parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <climits>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace jiajiemi {
namespace {

void Store32Le(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}

std::uint32_t Load32Le(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

std::int32_t Size32(std::size_t size) {
    if (size > std::size_t(INT32_MAX)) throw FileError(EFBIG, "more than 2^31 bytes to write");
    return std::int32_t(size);
}

// Puts the position back to where a failed call began; a file that cannot even seek is
// left where it is.
void SeekBack(PlainFile& file, std::int32_t position) {
    try {
        file.seek(position, SeekOrigin::Begin);
    } catch (const FileError&) {
    }
}

void SeekToEnd(PlainFile& file) {
    try {
        file.seek(0, SeekOrigin::End);
    } catch (const FileError&) {
    }
}

void WriteBinary(PlainFile& file, const DataValue& value) {
    if (const auto* number = std::get_if<std::int32_t>(&value)) {
        std::uint8_t bytes[4];
        Store32Le(bytes, std::uint32_t(*number));
        file.write(bytes, 4);
    } else if (const auto* text = std::get_if<std::string_view>(&value)) {
        const std::string_view upToZero = text->substr(0, text->find('\0'));
        std::string withZero(upToZero);
        withZero.push_back('\0');
        file.write(withZero.data(), Size32(withZero.size()));
    } else {
        const auto& bytes = std::get<std::span<const std::uint8_t>>(value);
        const std::int32_t length = Size32(bytes.size());
        std::uint8_t count[4];
        Store32Le(count, std::uint32_t(length));
        // The count and the bytes land in one run at consecutive positions, exactly as one
        // write would put them; two calls spare a copy of the whole content.
        file.write(count, 4);
        file.write(bytes.data(), length);
    }
}

// Reads up to count bytes; false when fewer came.
bool ReadExactly(PlainFile& file, void* buffer, std::int32_t count) { return file.read(buffer, count) == count; }

// Reads a byte string's stored length; nothing when it cannot be read or when the file
// does not hold that many bytes after it. Refusing a length beyond the end of the file
// keeps a crafted one from reserving gigabytes.
std::optional<std::uint32_t> ReadStoredLength(PlainFile& file) {
    std::uint8_t count[4];
    if (!ReadExactly(file, count, 4)) return std::nullopt;
    const std::uint32_t length = Load32Le(count);
    const std::int64_t remaining = std::int64_t(file.length()) - file.position();
    if (std::int64_t(length) > remaining) return std::nullopt;
    return length;
}

bool ReadVariable(PlainFile& file, const DataVariable& variable) {
    if (auto* const* number = std::get_if<std::int32_t*>(&variable)) {
        std::uint8_t bytes[4];
        if (!ReadExactly(file, bytes, 4)) return false;
        **number = std::int32_t(Load32Le(bytes));
        return true;
    }
    if (auto* const* bytesVariable = std::get_if<ByteString*>(&variable)) {
        ByteString& bytes = **bytesVariable;
        bytes.clear();
        bytes.shrink_to_fit();
        const std::optional<std::uint32_t> length = ReadStoredLength(file);
        if (!length) return false;
        try {
            bytes.resize(*length);
        } catch (const std::bad_alloc&) {
            return false;
        }
        if (!ReadExactly(file, bytes.data(), std::int32_t(*length))) {
            bytes.clear();
            bytes.shrink_to_fit();
            return false;
        }
        return true;
    }
    std::string& text = *std::get<std::string*>(variable);
    text.clear();
    const std::int32_t start = file.position();
    char chunk[512];
    for (;;) {
        const std::int32_t got = file.read(chunk, sizeof chunk);
        for (std::int32_t k = 0; k < got; ++k) {
            if (chunk[k] == '\0') {
                file.seek(start + std::int32_t(text.size()) + 1, SeekOrigin::Begin);
                return true;
            }
            text.push_back(chunk[k]);
        }
        if (got < std::int32_t(sizeof chunk)) return !text.empty();
    }
}

}  // namespace

bool WriteData(FileHandle handle, std::initializer_list<DataValue> values) {
    PlainFile* file = OpenFileRegistry::Instance().Find(handle);
    if (!file) return false;
    std::int32_t start = 0;
    try {
        start = file->position();
        for (const DataValue& value : values) WriteBinary(*file, value);
        return true;
    } catch (const FileError&) {
        SeekBack(*file, start);
        return false;
    }
}

bool WriteText(FileHandle handle, std::initializer_list<DataValue> values) {
    PlainFile* file = OpenFileRegistry::Instance().Find(handle);
    if (!file) return false;
    std::int32_t start = 0;
    try {
        start = file->position();
        for (const DataValue& value : values) {
            if (const auto* number = std::get_if<std::int32_t>(&value)) {
                const std::string decimal = std::to_string(*number);
                file->write(decimal.data(), Size32(decimal.size()));
            } else if (const auto* text = std::get_if<std::string_view>(&value)) {
                const std::string_view upToZero = text->substr(0, text->find('\0'));
                file->write(upToZero.data(), Size32(upToZero.size()));  // an empty text writes nothing
            }
        }
        return true;
    } catch (const FileError&) {
        SeekBack(*file, start);
        return false;
    }
}

bool ReadData(FileHandle handle, std::initializer_list<DataVariable> variables) {
    PlainFile* file = OpenFileRegistry::Instance().Find(handle);
    if (!file) return false;
    std::optional<std::int32_t> start;
    const DataVariable* current = nullptr;
    try {
        start = file->position();
        bool all = true;
        for (const DataVariable& variable : variables) {
            current = &variable;
            if (!ReadVariable(*file, variable)) {
                all = false;
                break;
            }
        }
        if (all) return true;
    } catch (const FileError&) {
    }
    if (current) {
        if (auto* const* bytes = std::get_if<ByteString*>(current)) (*bytes)->clear();
        if (auto* const* text = std::get_if<std::string*>(current)) (*text)->clear();
    }
    if (start) SeekBack(*file, *start);
    return false;
}

std::string ReadText(FileHandle handle, std::optional<std::int32_t> maxBytes) {
    if (maxBytes && *maxBytes <= 0) return {};
    PlainFile* file = OpenFileRegistry::Instance().Find(handle);
    if (!file) return {};
    try {
        const std::int32_t limit = maxBytes ? *maxBytes : file->length();
        if (limit <= 0) return {};
        std::string buffer;
        try {
            buffer.resize(std::size_t(limit));
        } catch (const std::bad_alloc&) {
            SeekToEnd(*file);
            return {};
        }
        const std::int32_t start = file->position();
        const std::int32_t count = file->read(buffer.data(), limit);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(buffer.data());
        for (std::int32_t i = 0; i < count;) {
            if (bytes[i] == 0x00 || bytes[i] == 0x1a) {
                file->seek(start + i, SeekOrigin::Begin);  // onto the terminator, not past it
                buffer.resize(std::size_t(i));
                return buffer;
            }
            if (bytes[i] >= 0x80) {
                // A lead byte that is the last byte read stays in the text.
                if (i + 1 < count && bytes[i + 1] == 0x00) {
                    file->seek(start + i + 1, SeekOrigin::Begin);  // the lead byte is dropped
                    buffer.resize(std::size_t(i));
                    return buffer;
                }
                i += 2;
                continue;
            }
            ++i;
        }
        buffer.resize(std::size_t(count));
        return buffer;
    } catch (const FileError&) {
        SeekToEnd(*file);
        return {};
    }
}

WholeFile ReadWholeFile(const std::string& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) return {{}, ReadFailure::Unreadable};
    if (!S_ISREG(info.st_mode)) return {{}, ReadFailure::NotRegularFile};
    if (info.st_size > INT32_MAX) return {{}, ReadFailure::TooLarge};

    PlainFile file;
    try {
        file.open(path, 1);
        const std::int32_t length = file.length();  // the file may have changed since stat
        WholeFile whole;
        try {
            whole.bytes.resize(std::size_t(length));
        } catch (const std::bad_alloc&) {
            return {{}, ReadFailure::TooLarge};
        }
        // A file that became shorter since its length was taken gives what it still holds.
        whole.bytes.resize(std::size_t(file.read(whole.bytes.data(), length)));
        file.close();
        return whole;
    } catch (const FileError& error) {
        const int code = error.code().value();
        if (code == EFBIG) return {{}, ReadFailure::TooLarge};
        if (code == EISDIR || code == EINVAL) return {{}, ReadFailure::NotRegularFile};
        return {{}, ReadFailure::Unreadable};
    }
}

WriteOutcome WriteWholeFile(const std::string& path, std::initializer_list<std::span<const std::uint8_t>> parts) {
    return ReplaceFile(path, {}, 0, [&](FileHandle handle) {
        PlainFile* file = OpenFileRegistry::Instance().Find(handle);
        try {
            for (const auto& part : parts) file->write(part.data(), Size32(part.size()));
            return true;
        } catch (const FileError&) {
            return false;
        }
    });
}

WriteOutcome WriteAndReleaseWholeFile(const std::string& path, ByteString bytes) {
    constexpr std::size_t Piece = std::size_t(8) << 20;
    const std::size_t pageSize = std::size_t(::sysconf(_SC_PAGESIZE));
    return ReplaceFile(path, {}, 0, [&](FileHandle handle) {
        PlainFile* file = OpenFileRegistry::Instance().Find(handle);
        try {
            Size32(bytes.size());  // no more than the file layer can hold, as for WriteWholeFile
            for (std::size_t at = 0; at < bytes.size(); at += Piece) {
                const std::size_t count = std::min(Piece, bytes.size() - at);
                file->write(bytes.data() + at, Size32(count));
                // Only whole pages inside the written bytes; nothing reads them again.
                const std::uintptr_t first = (std::uintptr_t(bytes.data() + at) + pageSize - 1) & ~(pageSize - 1);
                const std::uintptr_t last = std::uintptr_t(bytes.data() + at + count) & ~(pageSize - 1);
                if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
            }
            return true;
        } catch (const FileError&) {
            return false;
        }
    });
}

namespace {

constexpr std::int32_t ContentLengthOffset = 68;
constexpr std::int32_t ContentOffset = 72;
constexpr std::size_t ContentLimit = std::size_t(INT32_MAX) - ContentOffset;
// The content moves in pieces through a ring: each piece is enciphered or deciphered while
// earlier ones are digested and written on other cores. A piece of 1 MiB is enciphered and
// written by one thread in one go; with 4 MiB pieces the keyed write filled and drained a
// pipeline of its own in every piece, and encrypting 64 MiB took about 5 % longer.
constexpr std::size_t ContentPiece = std::size_t(1) << 20;
constexpr std::size_t MinContentPiece = std::size_t(64) << 10;
constexpr std::size_t RingPieces = 8;

// A file of a piece or more is read once, and gives its pages back as it is read; a
// smaller one is the likelier to be read again, and has few pages to give.
void ReleaseAfterReadingWhenLarge(PlainFile& file) {
    try {
        if (file.length() >= std::int32_t(ContentPiece)) file.releaseAfterReading();
    } catch (const FileError&) {
    }
}

// Reads the content's byte string into content and returns its digest text. Through a
// KeyedFile the digest follows the deciphering piece by piece on a core of its own.
DigestText ReadContent(FileHandle handle, ByteString& content) {
    auto* keyed = dynamic_cast<KeyedFile*>(OpenFileRegistry::Instance().Find(handle));
    std::int64_t contentStart = -1;
    if (keyed) {
        try {
            contentStart = std::int64_t(keyed->position()) + 4;  // after the length
        } catch (const FileError&) {
        }
    }
    if (contentStart < 0) {
        ReadData(handle, {&content});
        return ComputeDigestText(content);
    }
    DigestContext digest;
    digest.Start();
    std::size_t digested = 0;
    keyed->observeReads([&](std::int64_t position, const std::uint8_t* bytes, std::size_t count) {
        const std::int64_t skip = std::clamp<std::int64_t>(contentStart - position, 0, std::int64_t(count));
        digest.Update(bytes + skip, count - std::size_t(skip));
        digested += count - std::size_t(skip);
    });
    ReadData(handle, {&content});
    keyed->observeReads(nullptr);
    // A failed read leaves the content empty, whatever the observer saw of it.
    if (digested != content.size()) return ComputeDigestText(content);
    char text[DigestTextLength + 1];
    digest.Finish(text);
    return DigestText(text, DigestTextLength);
}

// Reads the content's byte string piece by piece through a ring instead of whole, and
// gives each deciphered piece to the digest and to destination (when there is one), each
// on a thread of its own. A content that cannot be read whole counts as empty, as ReadData
// leaves it: destination is emptied again and the digest is that of nothing. A failing
// destination turns written false and is left alone from then on, while the reading and
// the digest go on: the checks decide the outcome before any write does.
DigestText PassContent(PlainFile& file, PlainFile* destination, bool& written) {
    std::optional<std::uint32_t> length;
    try {
        length = ReadStoredLength(file);
    } catch (const FileError&) {
    }
    DigestContext digest;
    digest.Start();
    std::size_t passed = 0;
    if (length) {
        try {
            const std::size_t piece = std::clamp<std::size_t>(*length, MinContentPiece, ContentPiece);
            ByteString ring(RingPieces * piece);
            const auto slot = [&](std::size_t first) { return ring.data() + first % ring.size(); };
            std::vector<PieceWork> followers{
                [&](std::size_t first, std::size_t last) { digest.Update(slot(first), last - first); }};
            if (destination)
                followers.emplace_back([&](std::size_t first, std::size_t last) {
                    if (!written) return;
                    try {
                        destination->write(slot(first), std::int32_t(last - first));
                    } catch (const FileError&) {
                        written = false;
                    }
                });
            passed = ProduceAndFollow(*length, piece, ring.size(), [&](std::size_t first, std::size_t last) {
                return std::size_t(file.read(slot(first), std::int32_t(last - first)));
            }, followers);
        } catch (const std::exception&) {  // a read error, or no memory for the ring
        }
    }
    if (!length || passed != *length) {
        if (destination) {
            // Emptied, it holds what a reading would hold, even after a write failed.
            try {
                destination->setLength(0);
                destination->seek(0, SeekOrigin::Begin);
                written = true;
            } catch (const FileError&) {
                written = false;
            }
        }
        return ComputeDigestText(std::string_view());
    }
    char text[DigestTextLength + 1];
    digest.Finish(text);
    return DigestText(text, DigestTextLength);
}

// Writes a whole record, taking its content from read. The content goes first, to its own
// place, and the length and header after it, once the content's digest is known: in a
// temporary file nobody sees the order, and the bytes are those of a straight run.
WriteOutcome WriteRecord(const std::string& path, std::string_view password, const ContentReader& read,
                         std::size_t expectedLength, ReadFailure& readFailure) {
    const DigestText passwordDigest = ComputeDigestText(password);
    return ReplaceFile(path, password, ProtectedFilePlainPrefix, [&](FileHandle handle) {
        PlainFile& file = *OpenFileRegistry::Instance().Find(handle);
        DigestContext digest;
        digest.Start();
        // Pieces sized to the content expected, so that a small file costs little; a content
        // that turns out longer still goes through, in small pieces.
        const std::size_t piece = std::clamp<std::size_t>(expectedLength + 1, MinContentPiece, ContentPiece);
        std::vector<std::uint8_t> ring;
        try {
            ring.resize(RingPieces * piece);
        } catch (const std::bad_alloc&) {
            return false;
        }
        std::size_t length = 0;
        // The digest and the writing (which enciphers) follow the reading on threads of
        // their own. A write error stops the reading and is raised once all have stopped.
        std::exception_ptr writeFailure;
        std::atomic<bool> writeFailed{false};
        try {
            file.seek(ContentOffset, SeekOrigin::Begin);
            length = ProduceAndFollow(
                ContentLimit + piece, piece, ring.size(),
                [&](std::size_t first, std::size_t last) -> std::size_t {
                    if (writeFailed.load()) return 0;
                    std::size_t got = 0;
                    try {
                        got = read(ring.data() + first % ring.size(), last - first);
                    } catch (const FileError&) {
                        readFailure = ReadFailure::Unreadable;
                        throw;
                    }
                    if (first + got > ContentLimit) {  // a source that grew past 2 GiB meanwhile
                        readFailure = ReadFailure::TooLarge;
                        throw FileError(EFBIG, "content of 2^31 bytes or more");
                    }
                    return got;
                },
                {[&](std::size_t first, std::size_t last) { digest.Update(ring.data() + first % ring.size(), last - first); },
                 [&](std::size_t first, std::size_t last) {
                     if (writeFailure) return;
                     try {
                         file.write(ring.data() + first % ring.size(), std::int32_t(last - first));
                     } catch (...) {
                         writeFailure = std::current_exception();
                         writeFailed.store(true);
                     }
                 }});
            if (writeFailure) std::rethrow_exception(writeFailure);
        } catch (...) {
            return false;
        }
        char contentDigest[DigestTextLength + 1];
        digest.Finish(contentDigest);
        try {
            file.seek(ContentLengthOffset, SeekOrigin::Begin);
            if (!WriteData(handle, {std::int32_t(length)})) return false;
            file.seek(0, SeekOrigin::Begin);
        } catch (const FileError&) {
            return false;
        }
        return WriteData(handle, {ProtectedFileMagic}) && WriteText(handle, {passwordDigest}) &&
               WriteText(handle, {std::string_view(contentDigest, DigestTextLength)});
    });
}

}  // namespace

WriteOutcome WriteProtectedFile(const std::string& path, std::string_view password,
                                std::span<const std::uint8_t> content) {
    if (content.size() > ContentLimit) return WriteOutcome::WriteFailed;
    std::size_t taken = 0;
    ReadFailure ignored = ReadFailure::None;
    return WriteRecord(path, password, [&](std::uint8_t* buffer, std::size_t count) {
        const std::size_t n = std::min(count, content.size() - taken);
        std::copy_n(content.data() + taken, n, buffer);
        taken += n;
        return n;
    }, content.size(), ignored);
}

FileEncryption EncryptFile(const std::string& sourcePath, const std::string& path, std::string_view password) {
    struct stat info {};
    if (sourcePath.empty() || ::stat(sourcePath.c_str(), &info) != 0) return {ReadFailure::Unreadable, {}};
    if (!S_ISREG(info.st_mode)) return {ReadFailure::NotRegularFile, {}};
    if (info.st_size > std::int64_t(ContentLimit)) return {ReadFailure::TooLarge, {}};
    PlainFile source;
    try {
        source.open(sourcePath, 1);
    } catch (const FileError& error) {
        const int code = error.code().value();
        return {code == EISDIR || code == EINVAL ? ReadFailure::NotRegularFile : ReadFailure::Unreadable, {}};
    }
    ReleaseAfterReadingWhenLarge(source);
    FileEncryption result{ReadFailure::None, WriteOutcome::Written};
    result.written = WriteRecord(path, password, [&](std::uint8_t* buffer, std::size_t count) {
        return std::size_t(source.read(buffer, std::int32_t(count)));
    }, std::size_t(info.st_size), result.readFailure);
    return result;
}

namespace {

// Opens a protected file and checks it in the order magic, password, content; the content
// is read by readContent, which returns its digest text.
RecordCheck CheckRecord(const std::string& path, std::string_view password,
                        const std::function<DigestText(FileHandle)>& readContent) {
    const FileHandle handle = OpenKeyedFile(path, 1, 1, password, ProtectedFilePlainPrefix);
    if (handle == 0) return RecordCheck::OpenFailed;

    RecordCheck check = RecordCheck::Passed;
    std::int32_t magic = 0;
    ReadData(handle, {&magic});
    if (magic != ProtectedFileMagic) {
        check = RecordCheck::NotProtected;
    } else if (const std::string storedPassword = ReadText(handle, 32);
               CompareText(storedPassword.c_str(), ComputeDigestText(password).c_str()) != 0) {
        check = RecordCheck::WrongPassword;
    } else {
        const std::string storedContent = ReadText(handle, 32);
        ReleaseAfterReadingWhenLarge(*OpenFileRegistry::Instance().Find(handle));
        if (CompareText(storedContent.c_str(), readContent(handle).c_str()) != 0) check = RecordCheck::Tampered;
    }
    CloseFile(handle);
    return check;
}

}  // namespace

RecordReading ReadProtectedFile(const std::string& path, std::string_view password) {
    RecordReading reading;
    // A content that cannot be read whole stays empty; the digest check then decides.
    reading.check = CheckRecord(path, password, [&](FileHandle handle) { return ReadContent(handle, reading.content); });
    if (reading.check != RecordCheck::Passed) reading.content.clear();
    return reading;
}

RecordPassing PassProtectedFile(const std::string& path, std::string_view password, FileHandle destination) {
    PlainFile* destinationFile = OpenFileRegistry::Instance().Find(destination);
    RecordPassing passing;
    passing.written = destination == 0 || destinationFile != nullptr;
    passing.check = CheckRecord(path, password, [&](FileHandle handle) {
        return PassContent(*OpenFileRegistry::Instance().Find(handle), destinationFile, passing.written);
    });
    return passing;
}

}  // namespace jiajiemi
