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
#include <QProgressDialog>
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
    int largestProgress_ = -1;                   // the progress box's value, at its largest
    std::function<bool(QProgressDialog*)> atProgress_;  // the user's move at the progress box; true once made

    QLineEdit* Box(const char* name) { return window_->findChild<QLineEdit*>(QString::fromUtf8(name)); }

    // Plays the user at whatever modal dialog comes up: types saveAs_ into the save
    // dialog and confirms it, and reads and closes each message box.
    void AnswerDialogs() {
        auto* user = new QTimer(window_);
        connect(user, &QTimer::timeout, this, [this] {
            // The progress box is the window's own, shown without Qt's modality.
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* busy = window_->findChild<QProgressDialog*>(); busy && busy->isVisible() && !modal) modal = busy;
            if (!modal || !modal->isVisible()) return;
            if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                // As if typed: the name replaces the one the dialog came up with selected.
                dialog->selectFile(saveAs_);
                dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(saveAs_);
                // Accepted from the event loop: a question the dialog asks then is answered too.
                QTimer::singleShot(0, dialog, [dialog] { static_cast<QDialog*>(dialog)->accept(); });
            } else if (auto* busy = qobject_cast<QProgressDialog*>(modal)) {
                largestProgress_ = std::max(largestProgress_, busy->value());
                if (atProgress_ && atProgress_(busy)) atProgress_ = nullptr;
            } else if (modal->objectName() == QStringLiteral("确认密码对话框")) {
                modal->findChild<QLineEdit*>(QStringLiteral("确认密码编辑框"))->setText(Box("密码编辑框")->text());
                QTimer::singleShot(0, modal, [modal] { static_cast<QDialog*>(modal)->accept(); });
            } else if (auto* question = qobject_cast<QMessageBox*>(modal); question && question->button(QMessageBox::Yes)) {
                // The save dialog's question whether to replace an existing file: yes.
                QTimer::singleShot(0, question, [question] { question->button(QMessageBox::Yes)->click(); });
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

    void cleanup() {
        delete window_;
        atProgress_ = nullptr;
        largestProgress_ = -1;
    }

    // Files large enough that a command on them takes well over half a second.
    void initTestCase() {
        QVERIFY(folder_.isValid());
        QFile big(Big());
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(qint64(768) << 20));
        big.close();
        QVERIFY(EncryptFile(Big().toStdString(), BigProtected().toStdString(), "pw").written == WriteOutcome::Written);
    }
    QString Big() const { return folder_.filePath(QStringLiteral("big.txt")); }
    QString BigProtected() const { return folder_.filePath(QStringLiteral("big.e")); }

    QStringList Entries() const {
        return QDir(folder_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    // Starts a command on a large file with password "pw", as typed by the user.
    void Start(bool encrypt, const QString& saveAs) {
        Type("文件名编辑框", encrypt ? Big() : BigProtected());
        Type("密码编辑框", QStringLiteral("pw"));
        saveAs_ = saveAs;
        QTest::keyClick(Box("密码编辑框"), encrypt ? Qt::Key_E : Qt::Key_D, Qt::AltModifier);
    }

    // A long command shows how far it is, up to the whole.
    void progressReachesTheWhole() {
        Start(true, folder_.filePath(QStringLiteral("whole.e")));
        QTRY_COMPARE_WITH_TIMEOUT(messages_.size(), 1, 60000);
        QCOMPARE(messages_.front(), QStringLiteral("创建加密文件“%1”成功！").arg(folder_.filePath(QStringLiteral("whole.e"))));
        // The box moves with the bytes read and written; the last step may fall between
        // two of its updates.
        QVERIFY2(largestProgress_ >= 950, qPrintable(QString::number(largestProgress_)));
        QVERIFY(QFile::remove(folder_.filePath(QStringLiteral("whole.e"))));
    }

    void cancelStops_data() {
        QTest::addColumn<bool>("encrypt");
        QTest::addColumn<bool>("existing");
        QTest::addColumn<bool>("byClosing");
        QTest::newRow("encrypt, new destination") << true << false << false;
        QTest::newRow("encrypt, existing destination") << true << true << false;
        QTest::newRow("decrypt, new destination") << false << false << false;
        QTest::newRow("decrypt, existing destination") << false << true << false;
        QTest::newRow("encrypt, window closed") << true << true << true;
        QTest::newRow("decrypt, window closed") << false << false << true;
    }

    // 取消 at a third of the way, or closing the window, stops the command with no
    // message: the folder is exactly as before, an existing destination unchanged.
    void cancelStops() {
        QFETCH(bool, encrypt);
        QFETCH(bool, existing);
        QFETCH(bool, byClosing);
        const QString destination = folder_.filePath(QStringLiteral("destination"));
        QFile::remove(destination);
        if (existing) {
            QFile file(destination);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("old") == 3);
        }
        const QStringList before = Entries();
        // Decrypt checks the whole file first; the cancel comes while it writes, when the
        // hidden file beside the destination exists.
        const auto writing = [this] { return Entries().join(u'|').contains(QStringLiteral(".jiajiemi-")); };
        atProgress_ = [&](QProgressDialog* busy) {
            if (busy->value() < 300 || (!encrypt && !writing())) return false;
            if (byClosing)
                window_->close();
            else
                QTest::mouseClick(busy->findChild<QPushButton*>(), Qt::LeftButton);  // 取消
            return true;
        };
        Start(encrypt, destination);
        QTRY_VERIFY_WITH_TIMEOUT(!atProgress_, 60000);  // it came to the cancel
        if (byClosing) QTRY_VERIFY(window_.isNull());
        // The command has ended once nothing modal and no busy cursor is left.
        QTRY_VERIFY_WITH_TIMEOUT(!QGuiApplication::overrideCursor() && !QApplication::activeModalWidget() &&
                                     (window_.isNull() || !window_->findChild<QProgressDialog*>()),
                                 10000);
        QTest::qWait(200);
        QVERIFY2(messages_.isEmpty(), qPrintable(messages_.join(u' ')));
        QCOMPARE(Entries(), before);
        if (existing) QCOMPARE(ReadAll(destination), QByteArray("old"));
    }

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
