// SPDX-License-Identifier: MIT
// Writing a protected file: the content streamed from memory or from a source file into
// a new record that replaces the destination only once it is whole.
#include "protect/record.h"

#include "protect/digest_text.h"
#include "protect/parallel.h"
#include "protect/typed_io.h"

#include <algorithm>
#include <functional>
#include <sys/stat.h>

namespace jiajiemi {
namespace {


// Reads up to count bytes of a content into buffer and returns how many, fewer only at
// its end; throws FileError when the content cannot be read.
using ContentReader = std::function<std::size_t(std::uint8_t* buffer, std::size_t count)>;

// Writes a whole record, taking its content from read. The content goes first, to its own
// place, and the length and header after it, once the content's digest is known: in a
// temporary file nobody sees the order, and the bytes are those of a straight run.
WriteOutcome WriteRecord(const std::string& path, std::string_view password, const ContentReader& read,
                         std::size_t expectedLength, ReadFailure& readFailure, WorkProgress& progress,
                         Replacing replacing) {
    const DigestText passwordDigest = ComputeDigestText(password);
    return ReplaceFile(path, password, ProtectedFilePlainPrefix, [&](PlainFile& file) {
        DigestContext digest;
        digest.Start();
        // Pieces sized to the content expected, so that a small file costs little; a content
        // that turns out longer still goes through, in small pieces.
        const std::size_t piece = std::clamp<std::size_t>(expectedLength + 1, MinContentPiece, ContentPiece);
        std::size_t length = 0;
        try {
            ByteString ring(RingPieces * piece);
            file.seek(ContentOffset, SeekOrigin::Begin);
            // The digest and the writing (which enciphers) follow the reading on threads of
            // their own; a read or write error stops all three.
            length = ProduceAndFollow(
                ContentLimit + piece, piece, ring,
                [&](std::span<std::uint8_t> slot, std::size_t first) -> std::size_t {
                    std::size_t got = 0;
                    try {
                        got = read(slot.data(), slot.size());
                    } catch (const FileError&) {
                        if (readFailure == ReadFailure::None) readFailure = ReadFailure::Unreadable;
                        throw;
                    }
                    if (first + got > ContentLimit) {  // a source that grew past the limit meanwhile
                        readFailure = ReadFailure::TooLarge;
                        throw FileError(EFBIG, "content of 2^31 bytes or more");
                    }
                    progress.Advance(got);
                    return got;
                },
                {[&](std::span<const std::uint8_t> slot, std::size_t) { digest.Update(slot.data(), slot.size()); },
                 [&](std::span<const std::uint8_t> slot, std::size_t) {
                     file.write(slot.data(), std::int32_t(slot.size()));
                     progress.Advance(slot.size());
                 }});
        } catch (const WorkCancelled&) {
            throw;  // the replacement removes its temporary file on the way out
        } catch (...) {  // a read or write error, or no memory for the ring
            return false;
        }
        const DigestText contentDigest = digest.Finish();
        try {
            file.seek(ContentLengthOffset, SeekOrigin::Begin);
            if (!WriteData(file, {std::int32_t(length)})) return false;
            file.seek(0, SeekOrigin::Begin);
        } catch (const FileError&) {
            return false;
        }
        return WriteData(file, {ProtectedFileMagic}) && WriteText(file, {passwordDigest}) &&
               WriteText(file, {contentDigest});
    }, replacing, progress);
}

}  // namespace

WriteOutcome WriteProtectedFile(const std::string& path, std::string_view password,
                                std::span<const std::uint8_t> content, Replacing replacing) {
    if (content.size() > ContentLimit) return WriteOutcome::WriteFailed;
    std::size_t taken = 0;
    ReadFailure ignored = ReadFailure::None;
    return WriteRecord(path, password, [&](std::uint8_t* buffer, std::size_t count) {
        const std::size_t n = std::min(count, content.size() - taken);
        std::copy_n(content.data() + taken, n, buffer);
        taken += n;
        return n;
    }, content.size(), ignored, Unwatched(), replacing);
}

namespace {

// Opens the source for reading; says why it cannot be encrypted, if it cannot.
ReadFailure OpenSource(const std::string& sourcePath, PlainFile& source) {
    if (sourcePath.empty()) return ReadFailure::Unreadable;
    try {
        source.open(sourcePath, 1);
        if (source.stamp().size > std::int64_t(ContentLimit)) return ReadFailure::TooLarge;
        return ReadFailure::None;
    } catch (const FileError&) {
        struct stat info {};
        const bool other = ::stat(sourcePath.c_str(), &info) == 0 && !S_ISREG(info.st_mode);
        return other ? ReadFailure::NotRegularFile : ReadFailure::Unreadable;
    }
}

}  // namespace

ReadFailure InspectSource(const std::string& sourcePath) {
    PlainFile source;
    return OpenSource(sourcePath, source);
}

FileEncryption EncryptFile(const std::string& sourcePath, const std::string& path, std::string_view password,
                           WorkProgress& progress, Replacing replacing) {
    PlainFile source;
    if (const ReadFailure failure = OpenSource(sourcePath, source); failure != ReadFailure::None) return {failure, {}};
    FileEncryption result{ReadFailure::None, WriteOutcome::Written};
    try {
        const FileStamp before = source.stamp();
        // Read once: a large source gives its cache pages back as it is read.
        if (before.size >= std::int64_t(ContentPiece)) source.releaseAfterReading();
        progress.Expect(2 * std::uint64_t(before.size));  // read once, written once
        result.written = WriteRecord(path, password, [&](std::uint8_t* buffer, std::size_t count) {
            const auto got = std::size_t(source.read(buffer, std::int32_t(count)));
            // At its end, a source that changed while it was read is no snapshot of anything.
            if (got < count && !(source.stamp() == before)) {
                result.readFailure = ReadFailure::Changed;
                throw FileError(ESTALE, "changed while read: " + sourcePath);
            }
            return got;
        }, std::size_t(before.size), result.readFailure, progress, replacing);
    } catch (const FileError&) {
        result.readFailure = ReadFailure::Unreadable;
    }
    return result;
}

}  // namespace jiajiemi
