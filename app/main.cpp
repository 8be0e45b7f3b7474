// SPDX-License-Identifier: MIT
// jiajiemi: opens the window and runs until it is gone. One argument, the path of a file to
// open, fills the file-name box and makes that file's folder the run directory; without
// it, the run directory is the folder the program was started in. A window that cannot be
// created is reported on standard error with exit code 1; nothing else is read from the
// command line or the environment.
#include "app/run_directory.h"
#include "commands/decrypt_command.h"
#include "commands/encrypt_command.h"
#include "window/main_window.h"
#include "protect/temporary_files.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QTranslator>

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
    jiajiemi::RemoveTemporaryFilesNow();
    std::fprintf(stderr, "jiajiemi: %s\njiajiemi: the window cannot be created (no usable display).\n",
                 message.toLocal8Bit().constData());
    std::_Exit(1);
}

std::string CurrentFolder() {
    std::string folder;
    if (char* path = getcwd(nullptr, 0)) {
        folder = path;
        std::free(path);
    }
    return folder;
}

}  // namespace

int main(int argc, char* argv[]) {
    jiajiemi::RemoveTemporaryFilesOnSignals();
    // Qt ends the process with exit() when the display's connection is lost, possibly with
    // a command at work: what it was writing goes too.
    std::atexit(jiajiemi::RemoveTemporaryFilesNow);
    const std::string startFolder = CurrentFolder();
    qtHandler = qInstallMessageHandler(StartupMessage);
    QApplication application(argc, argv);  // takes its own options out of argv
    qInstallMessageHandler(qtHandler);

    // Qt's own texts (the file dialogs, their questions, the standard buttons) in Chinese,
    // like the window's.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);

    const std::string startingFile = jiajiemi::StartingFileName({argv + 1, argv + argc}, startFolder);
    // Relative paths typed into the window are taken from the run directory.
    const std::string runDirectory = jiajiemi::RunDirectory(startingFile, startFolder);
    if (!runDirectory.empty() && chdir(runDirectory.c_str()) != 0)
        std::fprintf(stderr, "jiajiemi: cannot change to %s: %s\n", runDirectory.c_str(), std::strerror(errno));

    QIcon icon;
    for (int size : {16, 32, 48}) icon.addFile(QStringLiteral(":/icons/jiajiemi-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);

    // The window deletes itself when closed; the program ends with it, however it went.
    QPointer<jiajiemi::MainWindow> window = new jiajiemi::MainWindow;
    QObject::connect(window, &QObject::destroyed, &application, &QApplication::quit);
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
