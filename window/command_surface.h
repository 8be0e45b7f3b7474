// What a command needs of its surroundings: the two boxes, the save dialog and the
// message box. The window, the command-line tool and the tests each provide one.
#pragma once

#include "file_dialog_settings.h"

#include <string>

namespace jiajiemi {

enum class MessageStyle { Error = 16, Information = 64 };

class CommandSurface {
public:
    virtual ~CommandSurface() = default;

    // The current texts of 文件名编辑框 and 密码编辑框, read afresh on every call (UTF-8).
    virtual std::string FileNameText() = 0;
    virtual std::string PasswordText() = 0;

    // The settings of 选择写出, kept from one command to the next.
    virtual FileDialogSettings& SaveDialog() = 0;
    // Shows 选择写出; true when the user confirmed, and SaveDialog().fileName then holds
    // the full path chosen; false leaves the settings as they were.
    virtual bool OpenSaveDialog() = 0;

    // One message box captioned "Zaltor出品" with one OK button.
    virtual void ShowMessage(const std::string& text, MessageStyle style) = 0;

    // The command is about to read, encipher or write; the window shows that it is busy.
    virtual void BeginWork() {}
    virtual void EndWork() {}
};

}  // namespace jiajiemi
