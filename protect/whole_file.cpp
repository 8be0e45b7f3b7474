// SPDX-License-Identifier: MIT
// Reading and writing whole files.
#include "protect/whole_file.h"

#include "protect/typed_io.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace jiajiemi {

std::int64_t SizeOfFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? std::int64_t(info.st_size) : -1;
}

WholeFile ReadWholeFile(const std::string& path) {
    if (path.empty()) return {{}, ReadFailure::Unreadable};
    PlainFile file;
    try {
        // Only a regular file opens, and its length is that of the file opened.
        file.open(path, 1);
        const std::int32_t length = file.length();
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

WriteOutcome WriteWholeFile(const std::string& path, std::initializer_list<std::span<const std::uint8_t>> parts,
                            Replacing replacing) {
    return ReplaceFile(path, {}, 0, [&](PlainFile& file) {
        try {
            for (const auto& part : parts) file.write(part.data(), Size32(part.size()));
            return true;
        } catch (const FileError&) {
            return false;
        }
    }, replacing);
}

WriteOutcome WriteAndReleaseWholeFile(const std::string& path, ByteString bytes, WorkProgress& progress,
                                      Replacing replacing) {
    constexpr std::size_t Piece = std::size_t(8) << 20;
    const std::size_t pageSize = std::size_t(::sysconf(_SC_PAGESIZE));
    return ReplaceFile(path, {}, 0, [&](PlainFile& file) {
        try {
            Size32(bytes.size());  // no more than the file layer can hold, as for WriteWholeFile
            progress.Expect(bytes.size());
            for (std::size_t at = 0; at < bytes.size(); at += Piece) {
                const std::size_t count = std::min(Piece, bytes.size() - at);
                file.write(bytes.data() + at, Size32(count));
                // Only whole pages inside the written bytes; nothing reads them again.
                const WholePages pages = WholePagesInside(bytes.data() + at, count, pageSize);
                if (pages.first < pages.end)
                    ::madvise(reinterpret_cast<void*>(pages.first), pages.end - pages.first, MADV_DONTNEED);
                progress.Advance(count);
            }
            return true;
        } catch (const FileError&) {
            return false;
        }
    }, replacing, progress);
}

}  // namespace jiajiemi
