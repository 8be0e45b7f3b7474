// SPDX-License-Identifier: MIT
// The tool's one window: the file-name and password boxes, the browse button, the two
// command buttons and the two file dialogs; it is the commands' surface as well.
#pragma once

#include "commands/command_surface.h"
#include "commands/file_dialog_settings.h"

#include <QWidget>

#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace jiajiemi {

class MainWindow : public QWidget, public CommandSurface {
    Q_OBJECT

public:
    // The outer size wanted when the window manager reports its frame.
    static constexpr QSize kOuterSize{184, 193};
    // The client area that holds every control; it is never made smaller than this.
    static constexpr QSize kSmallestClient{178, 160};

    // Creates the window hidden, with its controls; a click on a command button (or its
    // Alt key) emits that button's signal.
    explicit MainWindow(QWidget* parent = nullptr);

    // The window-created event: both file dialogs start in the run directory.
    void WindowCreated(const std::string& runDirectory);

    // 选择打开, the open dialog behind the browse button.
    FileDialogSettings& OpenDialog() { return openDialog_; }

    // Browse: fills 文件名编辑框 from 选择打开 when the user confirms a name.
    void Browse();

    // Fills 文件名编辑框, as for a file the program was asked to open; the password is
    // what is still missing, so 密码编辑框 takes the focus.
    void SetFileNameText(const std::string& path);

    std::string FileNameText() override;
    std::string PasswordText() override;
    FileDialogSettings& SaveDialog() override { return saveDialog_; }
    bool OpenSaveDialog() override;
    bool AskYesNo(const std::string& question) override;
    std::optional<std::string> AskPasswordAgain() override;
    void ShowMessage(const std::string& text, MessageStyle style) override;
    void RunInBackground(const std::function<void()>& work, WorkProgress& progress) override;

signals:
    void encryptRequested();  // 加密 clicked
    void decryptRequested();  // 解密 clicked

protected:
    bool event(QEvent* event) override;
    // One local file dragged from a file manager may be dropped: its path fills
    // 文件名编辑框. Several files, a folder or anything else is refused.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // Closing while a command works cancels it first; the window closes once it stopped.
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    void FitFontToControls();
    void FitToFrame();
    void CentreOnScreen();

    QLabel* fileLabel_ = nullptr;          // 标签1
    QLineEdit* fileNameBox_ = nullptr;     // 文件名编辑框
    QPushButton* browseButton_ = nullptr;  // 浏览按钮
    QLabel* passwordLabel_ = nullptr;      // 标签2
    QLineEdit* passwordBox_ = nullptr;     // 密码编辑框
    QPushButton* encryptButton_ = nullptr; // 加密
    QPushButton* decryptButton_ = nullptr; // 解密
    FileDialogSettings openDialog_;        // 选择打开
    FileDialogSettings saveDialog_;        // 选择写出
    QPoint placedAt_;                      // where the window was centred, while not yet moved
    bool frameKnown_ = false;
    WorkProgress* running_ = nullptr;      // the work of the command under way, if any
    bool closeAsked_ = false;              // closing waits for that work to stop
};

}  // namespace jiajiemi
