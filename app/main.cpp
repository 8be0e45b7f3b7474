// SPDX-License-Identifier: MIT
// jiajiemi: makes the executable's folder the current directory, opens the window and runs
// until it is closed. One argument, the path of a file to open, fills the file-name box.
// A window that cannot be created is reported on standard error with exit code 1; nothing
// else is read from the command line or the environment.
#include "commands/decrypt_command.h"
#include "commands/encrypt_command.h"
#include "window/main_window.h"
#include "app/run_directory.h"
#include "protect/temporary_files.h"

#include <QApplication>
#include <QIcon>
#include <QPointer>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

QtMessageHandler qtHandler = nullptr;

// Qt ends the process with abort() when it can reach no window system; say what happened
// and leave with an ordinary error code instead.
void StartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
        qtHandler(type, context, message);
        return;
    }
    std::fprintf(stderr, "jiajiemi: %s\njiajiemi: the window cannot be created (no usable display).\n",
                 message.toLocal8Bit().constData());
    std::_Exit(1);
}

}  // namespace

int main(int argc, char* argv[]) {
    jiajiemi::RemoveTemporaryFilesOnSignals();
    std::string startFolder;
    if (char* folder = getcwd(nullptr, 0)) {
        startFolder = folder;
        std::free(folder);
    }
    const std::string runDirectory = jiajiemi::RunDirectory();
    // Relative paths typed into the window are taken from here; without it they are taken
    // from wherever the program was started, which is worth a line but not a refusal.
    if (runDirectory.empty()) {
        std::fputs("jiajiemi: cannot find the program's folder\n", stderr);
    } else if (chdir(runDirectory.c_str()) != 0) {
        std::fprintf(stderr, "jiajiemi: cannot change to %s: %s\n", runDirectory.c_str(), std::strerror(errno));
    }

    qtHandler = qInstallMessageHandler(StartupMessage);
    QApplication application(argc, argv);  // takes its own options out of argv
    qInstallMessageHandler(qtHandler);
    const std::string startingFile = jiajiemi::StartingFileName({argv + 1, argv + argc}, startFolder);

    QIcon icon;
    for (int size : {16, 32, 48}) icon.addFile(QStringLiteral(":/icons/jiajiemi-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);

    // The window deletes itself when closed, and closing the last window ends the loop.
    QPointer<jiajiemi::MainWindow> window = new jiajiemi::MainWindow;
    QObject::connect(window, &jiajiemi::MainWindow::encryptRequested, [&window] { jiajiemi::RunEncryptCommand(*window); });
    QObject::connect(window, &jiajiemi::MainWindow::decryptRequested, [&window] { jiajiemi::RunDecryptCommand(*window); });
    window->WindowCreated(runDirectory);
    if (!startingFile.empty()) window->SetFileNameText(startingFile);
    window->show();
    window->raise();
    window->activateWindow();
    const int result = QApplication::exec();
    delete window;  // still there when the loop ended before its deferred deletion
    return result;
}
