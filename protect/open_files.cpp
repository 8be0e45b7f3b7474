// SPDX-License-Identifier: MIT
// The registry of open files and the handle front over it.
#include "protect/open_files.h"

#include "protect/keyed_file.h"

#include <climits>

namespace jiajiemi {

OpenFileRegistry& OpenFileRegistry::Instance() {
    static OpenFileRegistry registry;
    return registry;
}

FileHandle OpenFileRegistry::Register(std::unique_ptr<PlainFile> file) {
    do {
        lastHandle_ = lastHandle_ == INT32_MAX ? 1 : lastHandle_ + 1;
    } while (Find(lastHandle_) != nullptr);
    files_.emplace_back(lastHandle_, std::move(file));
    return lastHandle_;
}

PlainFile* OpenFileRegistry::Find(FileHandle handle) const {
    if (handle == 0) return nullptr;
    for (const auto& [h, file] : files_)
        if (h == handle) return file.get();
    return nullptr;
}

std::unique_ptr<PlainFile> OpenFileRegistry::Remove(FileHandle handle) {
    for (auto it = files_.begin(); it != files_.end(); ++it) {
        if (it->first == handle) {
            auto file = std::move(it->second);
            files_.erase(it);
            return file;
        }
    }
    return nullptr;
}

OpenFileRegistry::~OpenFileRegistry() {
    for (auto& [handle, file] : files_) {
        try {
            file->close();
        } catch (const FileError&) {
        }
        file.reset();
    }
    files_.clear();
}

FileHandle OpenKeyedFile(const std::string& path, std::int32_t openMode, std::int32_t shareMode,
                         std::string_view password, std::int32_t plainPrefix) {
    if (path.empty()) return 0;
    if (openMode < 1 || openMode > 6) return 0;
    if (shareMode < 1 || shareMode > 4) return 0;

    std::unique_ptr<PlainFile> file = MakeFile(password, plainPrefix);
    try {
        file->open(path, openMode);
    } catch (const FileError&) {
        return 0;
    }
    return OpenFileRegistry::Instance().Register(std::move(file));
}

void CloseFile(FileHandle handle) {
    std::unique_ptr<PlainFile> file = OpenFileRegistry::Instance().Remove(handle);
    if (!file) return;
    try {
        file->close();
    } catch (const FileError&) {
    }
}

}  // namespace jiajiemi
