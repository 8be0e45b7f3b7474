// SPDX-License-Identifier: MIT
// The open operation of a file dialog on Qt's own file dialog, which behaves the same on
// every desktop and which the tests can drive.
#include "window/qt_file_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QString>

namespace jiajiemi {

namespace {

QString FromUtf8(const std::string& text) { return QString::fromStdString(text); }

// Qt's dialog with the "folder must exist" rule: a name in a folder that does not exist is
// refused while the dialog stays open, as a missing file is in the open dialog.
class FolderCheckingDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;
    bool folderMustExist = false;

    void accept() override {
        const QStringList chosen = selectedFiles();
        if (folderMustExist && acceptMode() == AcceptSave && !chosen.isEmpty()) {
            const QDir folder = QFileInfo(chosen.front()).absoluteDir();
            if (!folder.exists()) {
                QMessageBox::warning(this, windowTitle(),
                                     QStringLiteral("文件夹“%1”不存在。\n请检查路径是否正确。").arg(folder.path()));
                return;
            }
        }
        QFileDialog::accept();
    }
};

}  // namespace

QStringList NameFilters(const std::vector<FileType>& types) {
    QStringList filters;
    for (const FileType& type : types) {
        // Patterns are separated by ";" in the filter text and by spaces in Qt's filters.
        QString patterns = FromUtf8(type.pattern).replace(u';', u' ').simplified();
        if (patterns.isEmpty()) patterns = QStringLiteral("*");
        filters << FromUtf8(type.description) + QStringLiteral(" (") + patterns + u')';
    }
    return filters;
}

bool OpenFileDialog(FileDialogSettings& settings, QWidget* parent) {
    const bool opening = settings.kind == FileDialogKind::Open;

    FolderCheckingDialog dialog(parent);
    dialog.folderMustExist = settings.folderMustExist;
    // The platform's dialog would ignore several of the settings and cannot be driven by tests.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // The descriptions usually name their patterns already.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setAcceptMode(opening ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    // A save dialog must accept a name that does not exist yet, whatever the flag says.
    dialog.setFileMode(opening && settings.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, opening || !settings.askToOverwrite);
    // keepCurrentDirectory needs nothing: Qt's dialog never changes the current directory.

    if (!settings.title.empty()) dialog.setWindowTitle(FromUtf8(settings.title));
    if (!settings.initialFolder.empty()) dialog.setDirectory(FromUtf8(settings.initialFolder));
    if (!settings.defaultSuffix.empty()) dialog.setDefaultSuffix(FromUtf8(settings.defaultSuffix));

    const QStringList filters = NameFilters(settings.FileTypes());
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        const int index = settings.initialFilterIndex() < filters.size() ? settings.initialFilterIndex() : 0;
        dialog.selectNameFilter(filters[index]);
    }

    // An absolute name also moves the dialog into that name's folder.
    const std::string name = settings.NameForDialog();
    if (!name.empty()) dialog.selectFile(FromUtf8(name));

    for (;;) {
        if (dialog.exec() != QDialog::Accepted) return false;
        const QStringList chosen = dialog.selectedFiles();
        if (chosen.isEmpty()) return false;
        if (settings.askToCreate && !QFileInfo::exists(chosen.front()) &&
            QMessageBox::question(&dialog, dialog.windowTitle(),
                                  QStringLiteral("“%1”不存在。要创建该文件吗？").arg(QFileInfo(chosen.front()).fileName())) !=
                QMessageBox::Yes) {
            continue;
        }
        settings.fileName = chosen.front().toStdString();
        return true;
    }
}

}  // namespace jiajiemi
