// SPDX-License-Identifier: MIT
// The handle front of the file layer: files opened by path and known by a number, and
// the registry of every file it has open.
//
// Share modes are validated but advisory: Linux has no mandatory sharing, so two openers
// of one file are not kept apart.
#pragma once

#include "protect/plain_file.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace jiajiemi {

// Nonzero for an open file; 0 for none.
using FileHandle = std::int32_t;

// Every file the layer has open, in the order in which they were opened. At program end
// the files still open are closed in that order, errors ignored.
class OpenFileRegistry {
public:
    static OpenFileRegistry& Instance();

    FileHandle Register(std::unique_ptr<PlainFile> file);
    PlainFile* Find(FileHandle handle) const;  // nullptr when not registered
    std::unique_ptr<PlainFile> Remove(FileHandle handle);
    std::size_t size() const { return files_.size(); }

    ~OpenFileRegistry();

private:
    OpenFileRegistry() = default;
    std::vector<std::pair<FileHandle, std::unique_ptr<PlainFile>>> files_;
    FileHandle lastHandle_ = 0;
};

// Opens path and registers it. An empty password gives a plain file. Returns 0 when
// nothing was opened: an empty path, openMode outside 1..6, shareMode outside 1..4, or
// an open the operating system refused. A negative plainPrefix counts as 0.
FileHandle OpenKeyedFile(const std::string& path, std::int32_t openMode = 3, std::int32_t shareMode = 1,
                         std::string_view password = {}, std::int32_t plainPrefix = 0);

// Removes the handle from the registry, closes the file and releases it, ignoring errors.
// A handle that is not registered is ignored.
void CloseFile(FileHandle handle);

}  // namespace jiajiemi
