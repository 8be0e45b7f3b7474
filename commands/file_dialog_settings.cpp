// SPDX-License-Identifier: MIT
// The rules of a file dialog's settings: the stored filter index, the list of file types
// and the starting name that the dialog receives.
#include "commands/file_dialog_settings.h"

#include <cstddef>
#include <utility>

namespace jiajiemi {

namespace {

// The dialog's name field held 260 bytes with the terminator.
constexpr std::size_t kNameFieldBytes = 259;

bool IsContinuationByte(unsigned char byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

FileDialogSettings::FileDialogSettings(FileDialogKind kind, std::string title)
    : kind(kind), title(std::move(title)) {}

void FileDialogSettings::setInitialFilterIndex(int index) { initialFilterIndex_ = index < 0 ? 0 : index; }

std::vector<FileType> FileDialogSettings::FileTypes() const {
    std::string text = filter;
    // Only ASCII white space: a UTF-8 lead or continuation byte is never taken for it.
    while (!text.empty() && (text.back() == ' ' || (text.back() >= '\t' && text.back() <= '\r'))) text.pop_back();
    if (text.empty()) return {};
    if (!text.ends_with("||")) text += "||";

    // "|" is ASCII and so never part of a multi-byte UTF-8 character: splitting bytes is
    // splitting characters. The list ends at its first empty description.
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t bar = text.find('|'); bar != std::string::npos; bar = text.find('|', start)) {
        parts.push_back(text.substr(start, bar - start));
        start = bar + 1;
    }

    std::vector<FileType> types;
    for (std::size_t i = 0; i < parts.size() && !parts[i].empty(); i += 2) {
        types.push_back({parts[i], i + 1 < parts.size() ? parts[i + 1] : std::string{}});
    }
    return types;
}

std::string FileDialogSettings::NameForDialog() const {
    if (fileName.size() <= kNameFieldBytes) return fileName;
    // Cutting inside a character would hand the dialog invalid UTF-8; drop the whole
    // character instead.
    std::size_t length = kNameFieldBytes;
    while (length > 0 && IsContinuationByte(static_cast<unsigned char>(fileName[length]))) --length;
    return fileName.substr(0, length);
}

}  // namespace jiajiemi
