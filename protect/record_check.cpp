// SPDX-License-Identifier: MIT
// Checking a protected file: magic, password and content, with the content read once
// through one pipeline into memory, into a file, or nowhere.
#include "protect/record.h"

#include "protect/digest_text.h"
#include "protect/keyed_file.h"
#include "protect/parallel.h"
#include "protect/typed_io.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

namespace jiajiemi {
namespace {


// Where a content goes while it is read and digested.
class ContentSink {
public:
    virtual ~ContentSink() = default;
    // The bytes the content is read into: room for all of it, or a ring of whole pieces.
    virtual std::span<std::uint8_t> Buffer(std::size_t length, std::size_t piece) = 0;
    // What follows the reading with each piece, on a thread of its own, if anything.
    virtual std::optional<FollowPiece> Follower() { return std::nullopt; }
    // The content could not be read whole: it counts as empty.
    virtual void Discard() {}
    // Whether the file's cache pages go back as it is read: worth it when a new file is
    // made of the content meanwhile or soon, not when the file is only checked, perhaps
    // to be read again at once.
    virtual bool ReleaseInput() const { return true; }
};

// The content held whole in memory.
class HeldContent final : public ContentSink {
public:
    explicit HeldContent(ByteString& content) : content_(content) {}
    std::span<std::uint8_t> Buffer(std::size_t length, std::size_t) override {
        content_.resize(length);
        return content_;
    }
    void Discard() override {
        content_.clear();
        content_.shrink_to_fit();
    }

private:
    ByteString& content_;
};

// The content passed through a ring, on to a file or nowhere. A failing destination turns
// written false and is left alone from then on, while the reading and the digest go on:
// the checks decide the outcome before any write does.
class PassedContent final : public ContentSink {
public:
    PassedContent(PlainFile* destination, bool& written, WorkProgress& progress)
        : destination_(destination), written_(written), progress_(progress) {}
    std::span<std::uint8_t> Buffer(std::size_t, std::size_t piece) override {
        ring_.resize(RingPieces * piece);
        return ring_;
    }
    std::optional<FollowPiece> Follower() override {
        if (!destination_) return std::nullopt;
        return [this](std::span<const std::uint8_t> slot, std::size_t) {
            if (!written_) return;
            try {
                destination_->write(slot.data(), std::int32_t(slot.size()));
            } catch (const FileError&) {
                written_ = false;
            }
            progress_.Advance(slot.size());
        };
    }
    bool ReleaseInput() const override { return destination_ != nullptr; }
    // Emptied, the destination holds what a reading would hold, even after a write failed.
    void Discard() override {
        if (!destination_) return;
        try {
            destination_->setLength(0);
            destination_->seek(0, SeekOrigin::Begin);
            written_ = true;
        } catch (const FileError&) {
            written_ = false;
        }
    }

private:
    PlainFile* destination_;
    bool& written_;
    WorkProgress& progress_;
    ByteString ring_;
};

// A content that could not be read for a reason that says nothing about the file: a read
// error, or no memory. It must never pass for a changed file.
struct ContentUnreadable {};

// Reads the content's byte string from file into sink, while each of followers (the
// checks) follows the reading piece by piece on a core of its own, and returns its length. A content cut short
// by the end of the file counts as empty, as ReadData leaves it, and gives no length; a
// read error or a lack of memory throws ContentUnreadable.
std::optional<std::size_t> ReadContent(PlainFile& file, ContentSink& sink, std::vector<FollowPiece> followers,
                                       WorkProgress& progress) {
    std::optional<std::uint32_t> length;
    try {
        length = ReadStoredLength(file);
    } catch (const FileError&) {
        throw ContentUnreadable();
    }
    std::size_t read = 0;
    if (length) {
        try {
            const std::size_t piece = std::clamp<std::size_t>(*length, MinContentPiece, ContentPiece);
            const std::span<std::uint8_t> buffer = sink.Buffer(*length, piece);
            std::optional<FollowPiece> follower = sink.Follower();
            const bool destinationFollows = follower.has_value();
            if (follower) followers.push_back(std::move(*follower));
            // Read once, and written once more when passed on to a file.
            progress.Expect(std::uint64_t(*length) * (destinationFollows ? 2 : 1));
            read = ProduceAndFollow(*length, piece, buffer, [&](std::span<std::uint8_t> slot, std::size_t) {
                const auto got = std::size_t(file.read(slot.data(), std::int32_t(slot.size())));
                progress.Advance(got);
                return got;
            }, followers);
        } catch (const WorkCancelled&) {
            throw;
        } catch (const std::exception&) {  // a read error, or no memory for the buffer
            sink.Discard();
            throw ContentUnreadable();
        }
    }
    if (!length || read != *length) {
        sink.Discard();
        return std::nullopt;
    }
    return read;
}

// Opens a protected file and checks it in the order magic, password, content; with a
// seal, as PassProtectedFile says.
RecordCheck CheckRecord(const std::string& path, std::string_view password, ContentSink& sink, WorkProgress& progress,
                        RecordSeal* seal = nullptr) {
    if (path.empty()) return RecordCheck::OpenFailed;
    std::unique_ptr<PlainFile> file = MakeFile(password, ProtectedFilePlainPrefix);
    try {
        file->open(path, 1);
    } catch (const FileError&) {
        return RecordCheck::OpenFailed;
    }

    // A read error in the header must not pass for a wrong magic or password: the header
    // is read once as it stands, then checked field by field as the format reads it.
    try {
        std::uint8_t header[ContentOffset];
        file->read(header, ContentOffset);
        file->seek(0, SeekOrigin::Begin);
    } catch (const FileError&) {
        return RecordCheck::Unreadable;
    }
    std::int32_t magic = 0;
    ReadData(*file, {&magic});
    if (magic != ProtectedFileMagic) return RecordCheck::NotProtected;
    if (CompareText(ReadText(*file, 32).c_str(), ComputeDigestText(password).c_str()) != 0)
        return RecordCheck::WrongPassword;
    const std::string storedContent = ReadText(*file, 32);
    // Read once: a large file gives its cache pages back as it is read.
    try {
        if (sink.ReleaseInput() && file->length() >= std::int32_t(ContentPiece)) file->releaseAfterReading();
    } catch (const FileError&) {
    }
    const bool again = seal && seal->sealed;
    if (again && storedContent != seal->storedDigest) return RecordCheck::Tampered;

    DigestContext digest;
    digest.Start();
    std::optional<Poly1305> tag;
    std::vector<FollowPiece> checks;
    if (!again)
        checks.push_back([&](std::span<const std::uint8_t> slot, std::size_t) { digest.Update(slot.data(), slot.size()); });
    if (seal && seal->key) {
        tag.emplace(*seal->key);
        checks.push_back([&](std::span<const std::uint8_t> slot, std::size_t) { tag->Update(slot.data(), slot.size()); });
    }
    std::optional<std::size_t> length;
    try {
        length = ReadContent(*file, sink, std::move(checks), progress);
    } catch (const ContentUnreadable&) {
        return RecordCheck::Unreadable;
    }
    if (again) {
        const bool same = length == seal->contentLength && tag->Finish() == seal->tag;
        return same ? RecordCheck::Passed : RecordCheck::Tampered;
    }

    const DigestText found = length ? digest.Finish() : ComputeDigestText(std::string_view());
    if (CompareText(storedContent.c_str(), found.c_str()) != 0) return RecordCheck::Tampered;
    if (tag) {
        seal->sealed = true;
        seal->storedDigest = storedContent;
        seal->contentLength = length;
        seal->tag = tag->Finish();
    }
    return RecordCheck::Passed;
}

}  // namespace

RecordReading ReadProtectedFile(const std::string& path, std::string_view password, WorkProgress& progress) {
    RecordReading reading;
    HeldContent held(reading.content);
    reading.check = CheckRecord(path, password, held, progress);
    if (reading.check != RecordCheck::Passed) held.Discard();
    return reading;
}

RecordSeal::RecordSeal() {
    if (Poly1305Key drawn; FillRandom(drawn)) key = drawn;
}

RecordPassing PassProtectedFile(const std::string& path, std::string_view password, PlainFile* destination,
                                WorkProgress& progress, RecordSeal* seal) {
    RecordPassing passing;
    PassedContent passed(destination, passing.written, progress);
    passing.check = CheckRecord(path, password, passed, progress, seal);
    return passing;
}

}  // namespace jiajiemi
