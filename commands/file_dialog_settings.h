// SPDX-License-Identifier: MIT
// The settings of a file dialog as a plain value, with the rules that belong to them.
// Only the window's open operation turns them into a real dialog.
#pragma once

#include <string>
#include <vector>

namespace jiajiemi {

enum class FileDialogKind { Open, Save };

struct FileType {
    std::string description;
    std::string pattern;  // empty: the dialog shows every file for this type

    bool operator==(const FileType&) const = default;
};

class FileDialogSettings {
public:
    explicit FileDialogSettings(FileDialogKind kind, std::string title = {});

    FileDialogKind kind;
    std::string title;
    std::string fileName;       // starting name; after a confirmed opening, the full path chosen
    std::string filter;         // "description|pattern|description|pattern..."
    std::string initialFolder;
    std::string defaultSuffix;  // without its point
    bool askToCreate = false;
    bool fileMustExist = true;
    bool askToOverwrite = true;
    bool folderMustExist = true;
    bool keepCurrentDirectory = false;

    int initialFilterIndex() const { return initialFilterIndex_; }
    void setInitialFilterIndex(int index);  // a negative index is stored as 0

    // The filter text as the list of types the dialog offers; empty for an empty filter.
    std::vector<FileType> FileTypes() const;
    // The file name as the dialog's name field receives it: at most 259 bytes.
    std::string NameForDialog() const;

private:
    int initialFilterIndex_ = 0;
};

}  // namespace jiajiemi
