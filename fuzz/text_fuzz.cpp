// SPDX-License-Identifier: MIT
// The texts a user types, as arbitrary bytes, valid UTF-8 or not: finding a source kind in
// a path, a password's CP936 bytes, and a dialog's filter and file name.
#include "commands/encrypt_command.h"
#include "commands/file_dialog_settings.h"
#include "fuzz/fuzz_file.h"
#include "protect/password_bytes.h"

using namespace jiajiemi;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (std::string_view sought : {".e", ".txt", ".exe", ".png", ".jpg", "|"}) {
        const int at = FindText(text, sought);
        fuzz::Check(at == -1 || (at >= 1 && text.substr(std::size_t(at - 1), sought.size()) == sought));
    }

    if (const auto bytes = PasswordBytes(text)) fuzz::Check(bytes->size() <= 2 * size);

    FileDialogSettings dialog(FileDialogKind::Save, "title");
    dialog.filter = std::string(text);
    dialog.fileName = std::string(text);
    dialog.setInitialFilterIndex(int(size) - 8);
    fuzz::Check(dialog.initialFilterIndex() >= 0);
    for (const FileType& type : dialog.FileTypes())
        fuzz::Check(type.description.find('|') == std::string::npos && type.pattern.find('|') == std::string::npos);
    fuzz::Check(dialog.NameForDialog().size() <= 259);
    return 0;
}
