// SPDX-License-Identifier: MIT
// Times one command of the real window on one file, offscreen: the work the window runs
// with its progress box, without the time its dialogs wait for a user, and the peak
// memory above the idle window.
//
//   window_bench encrypt|decrypt SOURCE DEST PASSWORD
//
// Prints "SECONDS PEAK_MIB_ABOVE_IDLE MESSAGE" on one line.
#include "commands/decrypt_command.h"
#include "commands/encrypt_command.h"
#include "window/main_window.h"

#include <QApplication>
#include <QLineEdit>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>

namespace {

double PeakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

// The window with its dialogs answered at once, as a user who knows the answers would;
// everything else is the window's own.
class AnsweredWindow : public jiajiemi::MainWindow {
public:
    std::string destination;
    std::string message;
    double workSeconds = 0;

    bool OpenSaveDialog() override {
        SaveDialog().fileName = destination;
        return true;
    }
    std::optional<std::string> AskPasswordAgain() override { return PasswordText(); }
    bool AskYesNo(const std::string&) override { return true; }
    void ShowMessage(const std::string& text, jiajiemi::MessageStyle) override { message = text; }
    void RunInBackground(const std::function<void()>& work, jiajiemi::WorkProgress& progress) override {
        const auto start = std::chrono::steady_clock::now();
        MainWindow::RunInBackground(work, progress);
        workSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 5) {
        std::fputs("usage: window_bench encrypt|decrypt SOURCE DEST PASSWORD\n", stderr);
        return 1;
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    AnsweredWindow window;
    window.show();
    QApplication::processEvents();
    const double idle = PeakMiB();

    const std::string command = argv[1];
    window.SetFileNameText(argv[2]);
    window.findChild<QLineEdit*>(QStringLiteral("密码编辑框"))->setText(QString::fromUtf8(argv[4]));
    window.destination = argv[3];
    if (command == "encrypt")
        jiajiemi::RunEncryptCommand(window);
    else
        jiajiemi::RunDecryptCommand(window);
    std::printf("%.4f %.1f %s\n", window.workSeconds, PeakMiB() - idle, window.message.c_str());
    return window.message.find("成功") == std::string::npos ? 2 : 0;
}
