// SPDX-License-Identifier: MIT
// The two commands through the real window: keys typed into the boxes, Alt+E and Alt+D,
// the real save dialog and message box answered as a user would, and the files on disk.
#include "commands/decrypt_command.h"
#include "commands/encrypt_command.h"
#include "window/main_window.h"
#include "protect/record.h"
#include "protect/typed_io.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace jiajiemi;

namespace {

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class WindowCommandsTest : public QObject {
    Q_OBJECT

private:
    QPointer<MainWindow> window_;
    QTemporaryDir folder_;
    QString saveAs_;        // what the user types into the save dialog
    QStringList messages_;  // every message box, as shown

    QLineEdit* Box(const char* name) { return window_->findChild<QLineEdit*>(QString::fromUtf8(name)); }

    // Plays the user at whatever modal dialog comes up: types saveAs_ into the save
    // dialog and confirms it, and reads and closes each message box.
    void AnswerDialogs() {
        auto* user = new QTimer(window_);
        connect(user, &QTimer::timeout, this, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || !modal->isVisible()) return;
            if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                // As if typed: the name replaces the one the dialog came up with selected.
                dialog->selectFile(saveAs_);
                dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(saveAs_);
                // Accepted from the event loop: a question the dialog asks then is answered too.
                QTimer::singleShot(0, dialog, [dialog] { static_cast<QDialog*>(dialog)->accept(); });
            } else if (modal->objectName() == QStringLiteral("确认密码对话框")) {
                modal->findChild<QLineEdit*>(QStringLiteral("确认密码编辑框"))->setText(Box("密码编辑框")->text());
                QTimer::singleShot(0, modal, [modal] { static_cast<QDialog*>(modal)->accept(); });
            } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                messages_ << box->text();
                QTimer::singleShot(0, box, [box] { box->buttons().front()->click(); });  // OK
            }
        });
        user->start(10);
    }

    // Types the keys into a box as a user would; a character with no key of its own
    // arrives as an input method would send it, as text.
    void Type(const char* box, const QString& text) {
        QLineEdit* edit = Box(box);
        edit->setFocus();
        edit->clear();
        for (const QChar c : text) {
            if (c.unicode() < 0x80)
                QTest::keyClick(edit, c.toLatin1());
            else
                QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
        QCOMPARE(edit->text(), text);
    }

private slots:
    void init() {
        window_ = new MainWindow;
        connect(window_, &MainWindow::encryptRequested, this, [this] { RunEncryptCommand(*window_); });
        connect(window_, &MainWindow::decryptRequested, this, [this] { RunDecryptCommand(*window_); });
        window_->show();
        QVERIFY(QTest::qWaitForWindowActive(window_));
        messages_.clear();
        AnswerDialogs();
    }

    void cleanup() { delete window_; }

    void encryptThenDecryptWithTheKeyboard() {
        const QString source = folder_.filePath(QStringLiteral("报告.txt"));
        const QByteArray content = QByteArray("第一行\nsecond line\n").repeated(500);
        {
            QFile file(source);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        const QString protectedPath = folder_.filePath(QStringLiteral("报告.txt.e"));
        Type("文件名编辑框", source);
        Type("密码编辑框", QStringLiteral("密码pw"));
        saveAs_ = protectedPath;
        QTest::keyClick(Box("密码编辑框"), Qt::Key_E, Qt::AltModifier);
        QTRY_COMPARE_WITH_TIMEOUT(messages_.size(), 1, 10000);
        QCOMPARE(messages_.front(), QStringLiteral("创建加密文件“%1”成功！").arg(protectedPath));

        const RecordReading reading = ReadProtectedFile(protectedPath.toStdString(), "\xc3\xdc\xc2\xeb" "pw");
        QCOMPARE(int(reading.check), int(RecordCheck::Passed));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(reading.content.data()), qsizetype(reading.content.size())), content);

        const QString back = folder_.filePath(QStringLiteral("回来.txt"));
        // The user comes back to the window once the message is closed.
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_));
        Type("文件名编辑框", protectedPath);
        saveAs_ = back;
        QTest::keyClick(Box("文件名编辑框"), Qt::Key_D, Qt::AltModifier);
        QTRY_COMPARE_WITH_TIMEOUT(messages_.size(), 2, 10000);
        QCOMPARE(messages_.back(), QStringLiteral("创建解密文件“%1”成功！").arg(back));
        QCOMPARE(ReadAll(back), content);
    }

    void wrongPasswordIsToldAndNothingWritten() {
        const QString source = folder_.filePath(QStringLiteral("a.bin"));
        QVERIFY(WriteProtectedFile(source.toStdString(), "right", ByteString{1, 2, 3}) == WriteOutcome::Written);
        Type("文件名编辑框", source);
        Type("密码编辑框", QStringLiteral("wrong"));
        saveAs_ = folder_.filePath(QStringLiteral("never"));
        QTest::keyClick(Box("密码编辑框"), Qt::Key_D, Qt::AltModifier);
        QTRY_COMPARE_WITH_TIMEOUT(messages_.size(), 1, 10000);
        QCOMPARE(messages_.front(), QStringLiteral("不正确的密码！"));
        QVERIFY(!QFile::exists(saveAs_));
    }
};

QTEST_MAIN(WindowCommandsTest)
#include "window_commands_test.moc"
