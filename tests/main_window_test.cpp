// SPDX-License-Identifier: MIT
// The window as the user meets it: its controls, keys, the two file dialogs it
// builds from their settings, its message box and the commands' seam.
#include "window/main_window.h"
#include "window/qt_file_dialog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStyle>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <chrono>
#include <optional>
#include <functional>
#include <thread>
#include <string>
#include <vector>

using namespace jiajiemi;

namespace {

// Records each command asked for, with the texts the window's surface held at that moment.
struct CommandRecord {
    struct Call {
        QString command;
        std::string fileName;
        std::string password;
    };
    std::vector<Call> calls;

    void Add(const QString& command, CommandSurface& surface) {
        calls.push_back({command, surface.FileNameText(), surface.PasswordText()});
    }

    QStringList Names() const {
        QStringList names;
        for (const Call& call : calls) names << call.command;
        return names;
    }
};

QString Utf8(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    CommandRecord commands_;
    QPointer<MainWindow> window_;
    QPointer<QTimer> answerer_;
    QTemporaryDir folder_;

    template <typename T>
    T* Find(const char* name) {
        T* widget = window_->findChild<T*>(QString::fromUtf8(name));
        if (!widget) qWarning("no control %s", name);
        return widget;
    }

    // Runs answer on the next modal dialog of type T as soon as it shows. The flag tells
    // whether it ever did.
    template <typename T>
    std::shared_ptr<bool> WhenShown(std::function<void(T*)> answer) {
        auto shown = std::make_shared<bool>(false);
        delete answerer_;
        answerer_ = new QTimer(this);
        answerer_->setInterval(10);
        connect(answerer_, &QTimer::timeout, this, [this, shown, answer] {
            auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible()) return;
            answerer_->stop();
            *shown = true;
            answer(dialog);
            // A dialog that the answer left open fails the test instead of hanging it.
            QTimer::singleShot(5000, dialog, [dialog] {
                if (!dialog->isVisible()) return;
                qWarning("the answer left the dialog open");
                static_cast<QDialog*>(dialog)->reject();
            });
        });
        answerer_->start();
        return shown;
    }

    // Types the path into the name field and presses OK, as a user would.
    static void Confirm(QFileDialog* dialog, const QString& path) {
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(name);
        name->setText(path);
        static_cast<QDialog*>(dialog)->accept();  // QFileDialog checks the name here
    }

    QString MakeFile(const QString& name) {
        const QString path = folder_.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) qWarning("cannot create %s", qPrintable(path));
        return path;
    }

private slots:
    void init() {
        QVERIFY(folder_.isValid());
        commands_.calls.clear();
        window_ = new MainWindow;
        connect(window_, &MainWindow::encryptRequested, this, [this] { commands_.Add("Encrypt", *window_); });
        connect(window_, &MainWindow::decryptRequested, this, [this] { commands_.Add("Decrypt", *window_); });
        window_->WindowCreated(QDir::currentPath().toStdString());
        window_->show();
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_));
    }

    void cleanup() {
        delete answerer_;
        delete window_;
    }

    void controls_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QRect>("place");
        QTest::addColumn<QString>("text");

        QTest::newRow("标签1") << "标签1" << "QLabel" << QRect(8, 16, 128, 16) << "选择欲加解密的文件名：";
        QTest::newRow("文件名编辑框") << "文件名编辑框" << "QLineEdit" << QRect(6, 40, 122, 20) << "";
        QTest::newRow("浏览按钮") << "浏览按钮" << "QPushButton" << QRect(141, 40, 30, 20) << "...";
        QTest::newRow("标签2") << "标签2" << "QLabel" << QRect(8, 64, 88, 16) << "请输入密码：";
        QTest::newRow("密码编辑框") << "密码编辑框" << "QLineEdit" << QRect(6, 85, 122, 20) << "";
        QTest::newRow("加密") << "加密" << "QPushButton" << QRect(8, 120, 80, 32) << "加密(&E)";
        QTest::newRow("解密") << "解密" << "QPushButton" << QRect(96, 120, 80, 32) << "解密(&D)";
    }

    void controls() {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QRect, place);
        QFETCH(QString, text);

        auto* control = window_->findChild<QWidget*>(name);
        QVERIFY(control);
        QCOMPARE(control->metaObject()->className(), kind);
        QCOMPARE(control->geometry(), place);
        QVERIFY(control->isVisible());
        QVERIFY(control->isEnabled());
        QVERIFY(window_->rect().contains(control->geometry()));
        QCOMPARE(control->font(), window_->font());

        if (auto* label = qobject_cast<QLabel*>(control)) {
            QCOMPARE(label->text(), text);
            QCOMPARE(label->textFormat(), Qt::PlainText);
            QCOMPARE(label->focusPolicy(), Qt::NoFocus);
            QVERIFY(!label->buddy());
            QVERIFY2(label->fontMetrics().horizontalAdvance(text) <= place.width(), "text wider than its label");
        } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
            QCOMPARE(edit->text(), text);
            QVERIFY(!edit->isReadOnly());
            QCOMPARE(edit->maxLength(), 32767);  // Qt's largest: no limit of its own
        } else if (auto* button = qobject_cast<QPushButton*>(control)) {
            QCOMPARE(button->text(), text);
            QVERIFY(!button->isDefault());
            QVERIFY(!button->autoDefault());
        }
    }

    void window() {
        QCOMPARE(window_->windowTitle(), QStringLiteral("加解密工具："));
        const Qt::WindowFlags flags = window_->windowFlags();
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(flags & Qt::WindowSystemMenuHint);
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(!(flags & Qt::WindowStaysOnTopHint));
        QCOMPARE(window_->minimumSize(), window_->maximumSize());  // the user cannot resize it
        QVERIFY(window_->autoFillBackground());
        QCOMPARE(window_->palette().color(window_->backgroundRole()), window_->palette().color(QPalette::Button));
    }

    // The offscreen platform reports no frame, so the client area is the whole window.
    void centredOnThePrimaryScreen() {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        const QRect outer = window_->frameGeometry();
        QCOMPARE(outer.left() - screen.left(), (screen.width() - outer.width()) / 2);
        QCOMPARE(outer.top() - screen.top(), (screen.height() - outer.height()) / 2);
    }

    void focusStartsInTheFileNameBox() { QCOMPARE(QApplication::focusWidget(), Find<QLineEdit>("文件名编辑框")); }

    void tabCycle_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<QStringList>("visited");
        QTest::newRow("Tab") << int(Qt::Key_Tab)
                             << QStringList{"浏览按钮", "密码编辑框", "加密", "解密", "文件名编辑框", "浏览按钮"};
        QTest::newRow("Shift+Tab") << int(Qt::Key_Backtab)
                                   << QStringList{"解密", "加密", "密码编辑框", "浏览按钮", "文件名编辑框", "解密"};
    }

    void tabCycle() {
        QFETCH(int, key);
        QFETCH(QStringList, visited);
        QStringList seen;
        for (int i = 0; i < visited.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key(key),
                            key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
            seen << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : "(none)");
        }
        QCOMPARE(seen, visited);
    }

    void passwordShowsStarsAndReadsAsTyped() {
        auto* box = Find<QLineEdit>("密码编辑框");
        box->setFocus();
        QTest::keyClicks(box, "s3cr&t Pw");
        QCOMPARE(box->displayText(), QString(9, u'*'));
        QCOMPARE(box->text(), QStringLiteral("s3cr&t Pw"));
        QCOMPARE(Utf8(window_->PasswordText()), QStringLiteral("s3cr&t Pw"));
        QCOMPARE(box->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, box), int('*'));
        // Characters that cannot be typed through QTest still read back as UTF-8.
        box->setText(QStringLiteral("密码"));
        QCOMPARE(window_->PasswordText(), std::string("\xE5\xAF\x86\xE7\xA0\x81"));
        Find<QLineEdit>("文件名编辑框")->setText(QStringLiteral("/tmp/报告.txt"));
        QCOMPARE(window_->FileNameText(), std::string("/tmp/\xE6\x8A\xA5\xE5\x91\x8A.txt"));
    }

    void keys_data() {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QStringList>("calls");
        const int alt = Qt::AltModifier;
        QTest::newRow("Alt+E in the password box") << "密码编辑框" << int(Qt::Key_E) << alt << QStringList{"Encrypt"};
        QTest::newRow("Alt+D in the password box") << "密码编辑框" << int(Qt::Key_D) << alt << QStringList{"Decrypt"};
        QTest::newRow("Alt+E in the file-name box") << "文件名编辑框" << int(Qt::Key_E) << alt << QStringList{"Encrypt"};
        QTest::newRow("Alt+D on the browse button") << "浏览按钮" << int(Qt::Key_D) << alt << QStringList{"Decrypt"};
        QTest::newRow("Alt+X runs nothing") << "密码编辑框" << int(Qt::Key_X) << alt << QStringList{};
        QTest::newRow("Enter in the password box") << "密码编辑框" << int(Qt::Key_Return) << 0 << QStringList{};
        QTest::newRow("Enter in the file-name box") << "文件名编辑框" << int(Qt::Key_Return) << 0 << QStringList{};
        QTest::newRow("Enter on 加密") << "加密" << int(Qt::Key_Return) << 0 << QStringList{};
        QTest::newRow("keypad Enter on 解密") << "解密" << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << QStringList{};
    }

    void keys() {
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QStringList, calls);

        Find<QLineEdit>("文件名编辑框")->setText(QStringLiteral("/tmp/报告.txt"));
        Find<QLineEdit>("密码编辑框")->setText(QStringLiteral("密码"));
        auto* target = window_->findChild<QWidget*>(focus);
        target->setFocus();
        QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));

        // An access key animates the click, which lands a moment later.
        if (calls.isEmpty()) QTest::qWait(300);
        QTRY_COMPARE(commands_.Names(), calls);
        for (const CommandRecord::Call& call : commands_.calls) {
            QCOMPARE(Utf8(call.fileName), QStringLiteral("/tmp/报告.txt"));
            QCOMPARE(Utf8(call.password), QStringLiteral("密码"));
        }
        QVERIFY(window_->isVisible());
        QCOMPARE(QApplication::focusWidget(), target);  // nothing moved the focus
    }

    void clicksRunTheCommands() {
        QTest::mouseClick(Find<QPushButton>("加密"), Qt::LeftButton);
        QTest::mouseClick(Find<QPushButton>("解密"), Qt::LeftButton);
        QCOMPARE(commands_.Names(), (QStringList{"Encrypt", "Decrypt"}));
    }

    void escapeCloses_data() {
        QTest::addColumn<QString>("focus");
        QTest::newRow("文件名编辑框") << "文件名编辑框";
        QTest::newRow("密码编辑框") << "密码编辑框";
        QTest::newRow("加密") << "加密";
    }

    void escapeCloses() {
        QFETCH(QString, focus);
        auto* target = window_->findChild<QWidget*>(focus);
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Escape);
        QTRY_VERIFY(window_.isNull());  // closed and, like the close button, destroyed
        QVERIFY(commands_.calls.empty());
    }

    void focusComesBackAfterDeactivation() {
        auto* button = Find<QPushButton>("加密");
        button->setFocus();
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_));
        QCOMPARE(QApplication::focusWidget(), button);
    }

    void browse_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("confirm");
        QTest::newRow("cancel, empty box") << "" << false;
        QTest::newRow("cancel, path typed") << "/somewhere/typed.txt" << false;
        QTest::newRow("confirm, empty box") << "" << true;
        QTest::newRow("confirm, path typed") << "/somewhere/typed.txt" << true;
    }

    void browse() {
        QFETCH(QString, before);
        QFETCH(bool, confirm);
        const QString chosen = MakeFile(QStringLiteral("报告 1.txt"));
        auto* box = Find<QLineEdit>("文件名编辑框");
        box->setText(before);

        const auto shown = WhenShown<QFileDialog>([&](QFileDialog* dialog) {
            if (!confirm) return dialog->reject();
            Confirm(dialog, chosen);
        });
        QTest::mouseClick(Find<QPushButton>("浏览按钮"), Qt::LeftButton);

        QVERIFY(*shown);
        QCOMPARE(box->text(), confirm ? chosen : before);
        QCOMPARE(Utf8(window_->OpenDialog().fileName), confirm ? chosen : QString());
        QVERIFY(commands_.calls.empty());
    }

    void secondBrowseStartsFromTheFirstChoice() {
        const QString first = MakeFile(QStringLiteral("第一.txt"));
        auto shown = WhenShown<QFileDialog>([&](QFileDialog* dialog) {
            Confirm(dialog, first);
        });
        window_->Browse();
        QVERIFY(*shown);

        QString startedIn;
        QStringList startedWith;
        shown = WhenShown<QFileDialog>([&](QFileDialog* dialog) {
            startedIn = dialog->directory().absolutePath();
            startedWith = dialog->selectedFiles();
            dialog->reject();
        });
        window_->Browse();
        QVERIFY(*shown);
        QCOMPARE(startedIn, QDir(folder_.path()).absolutePath());
        QCOMPARE(startedWith, QStringList{first});
        QCOMPARE(Find<QLineEdit>("文件名编辑框")->text(), first);
    }

    // What each setting becomes in the dialog that is shown.
    void dialogFromSettings_data() {
        QTest::addColumn<bool>("save");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<int>("filterIndex");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<bool>("askToOverwrite");
        QTest::addColumn<QStringList>("nameFilters");
        QTest::addColumn<QString>("selectedFilter");  // as shown: the patterns are hidden

        QTest::newRow("save, filter without pattern")
            << true << "易语言源文件（*.e）" << 0 << "e" << true << QStringList{"易语言源文件（*.e） (*)"}
            << "易语言源文件（*.e）";
        QTest::newRow("save, second type preselected")
            << true << "Text|*.txt;*.log|Pictures|*.png" << 1 << "" << false
            << QStringList{"Text (*.txt *.log)", "Pictures (*.png)"} << "Pictures";
        QTest::newRow("save, index past the types")
            << true << "Text|*.txt|Pictures|*.png" << 5 << "" << true
            << QStringList{"Text (*.txt)", "Pictures (*.png)"} << "Text";
        QTest::newRow("open, no filter") << false << "" << 0 << "" << true << QStringList{"All Files (*)"}
                                         << "All Files";
    }

    void dialogFromSettings() {
        QFETCH(bool, save);
        QFETCH(QString, filter);
        QFETCH(int, filterIndex);
        QFETCH(QString, suffix);
        QFETCH(bool, askToOverwrite);
        QFETCH(QStringList, nameFilters);
        QFETCH(QString, selectedFilter);

        FileDialogSettings& settings = save ? window_->SaveDialog() : window_->OpenDialog();
        settings.filter = filter.toStdString();
        settings.setInitialFilterIndex(filterIndex);
        settings.defaultSuffix = suffix.toStdString();
        settings.askToOverwrite = askToOverwrite;
        settings.fileName = MakeFile(QStringLiteral("起点.txt")).toStdString();

        Qt::WindowModality modality = Qt::NonModal;
        QString title, directory, defaultSuffix, selectedNameFilter;
        QStringList filters, selected;
        QFileDialog::AcceptMode acceptMode{};
        QFileDialog::FileMode fileMode{};
        bool confirmsOverwrite = false;
        const auto shown = WhenShown<QFileDialog>([&](QFileDialog* dialog) {
            modality = dialog->windowModality();
            title = dialog->windowTitle();
            directory = dialog->directory().absolutePath();
            defaultSuffix = dialog->defaultSuffix();
            filters = dialog->nameFilters();
            selectedNameFilter = dialog->selectedNameFilter();
            selected = dialog->selectedFiles();
            acceptMode = dialog->acceptMode();
            fileMode = dialog->fileMode();
            confirmsOverwrite = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
            dialog->reject();
        });
        const std::string before = settings.fileName;
        const bool confirmed = save ? window_->OpenSaveDialog() : (window_->Browse(), false);

        QVERIFY(*shown);
        QVERIFY(!confirmed);
        QCOMPARE(settings.fileName, before);
        QCOMPARE(modality, Qt::ApplicationModal);
        QCOMPARE(title, save ? QStringLiteral("请输入欲保存到的文件名：") : QStringLiteral("请输入欲加解密的文件名："));
        QCOMPARE(acceptMode, save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        QCOMPARE(fileMode, save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        QCOMPARE(confirmsOverwrite, save && askToOverwrite);
        QCOMPARE(defaultSuffix, suffix);
        QCOMPARE(filters, nameFilters);
        QCOMPARE(selectedNameFilter, selectedFilter);
        QCOMPARE(directory, QDir(folder_.path()).absolutePath());
        QCOMPARE(selected, QStringList{Utf8(before)});
    }

    void openDialogStartsInTheRunDirectory() {
        window_->WindowCreated(folder_.path().toStdString());
        QCOMPARE(Utf8(window_->OpenDialog().initialFolder), folder_.path());
        QCOMPARE(Utf8(window_->SaveDialog().initialFolder), folder_.path());
        QString directory;
        const auto shown = WhenShown<QFileDialog>([&](QFileDialog* dialog) {
            directory = dialog->directory().absolutePath();
            dialog->reject();
        });
        window_->Browse();
        QVERIFY(*shown);
        QCOMPARE(directory, QDir(folder_.path()).absolutePath());
    }

    void message_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("icon");
        QTest::newRow("error") << int(MessageStyle::Error) << int(QMessageBox::Critical);
        QTest::newRow("information") << int(MessageStyle::Information) << int(QMessageBox::Information);
    }

    void message() {
        QFETCH(int, style);
        QFETCH(int, icon);
        int shownIcon = -1;
        QString caption, text;
        QWidget* parent = window_;
        Qt::WindowModality modality{};
        QList<QAbstractButton*> buttons;
        const auto shown = WhenShown<QMessageBox>([&](QMessageBox* box) {
            shownIcon = box->icon();
            caption = box->windowTitle();
            text = box->text();
            parent = box->parentWidget();
            modality = box->windowModality();
            buttons = box->buttons();
            box->button(QMessageBox::Ok)->click();
        });
        window_->ShowMessage("创建加密文件“/tmp/<b>a</b>.e”成功！", MessageStyle(style));
        QVERIFY(*shown);
        QCOMPARE(shownIcon, icon);
        QCOMPARE(caption, QStringLiteral("Zaltor出品"));
        QCOMPARE(text, QStringLiteral("创建加密文件“/tmp/<b>a</b>.e”成功！"));
        QCOMPARE(parent, nullptr);
        QCOMPARE(modality, Qt::ApplicationModal);
        QCOMPARE(buttons.size(), 1);
    }

    // The heavy part of a command runs off the window's thread: the window goes on with its
    // events, shows a busy cursor and, after half a second, the progress box, and takes no
    // other input meanwhile, so no second command can start.
    void workRunsBesideTheWindow() {
        std::thread::id workThread;
        int ticks = 0;
        bool waitCursor = false;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] {
            ++ticks;
            const QCursor* cursor = QGuiApplication::overrideCursor();
            waitCursor = waitCursor || (cursor && cursor->shape() == Qt::WaitCursor);
        });
        ticker.start(20);
        bool boxShown = false;
        QTimer::singleShot(300, this, [this] {
            QTest::mouseClick(Find<QPushButton>("加密"), Qt::LeftButton);
            QTest::keyClick(Find<QLineEdit>("密码编辑框"), Qt::Key_D, Qt::AltModifier);
        });
        int busyMaximum = -1;
        QTimer::singleShot(800, this, [&] {
            auto* box = window_->findChild<QProgressDialog*>();
            boxShown = box && box->isVisible();
            if (box) busyMaximum = box->maximum();
        });

        window_->RunInBackground([&] {
            workThread = std::this_thread::get_id();
            std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        }, Unwatched());

        QVERIFY(workThread != std::thread::id() && workThread != std::this_thread::get_id());
        QCOMPARE(busyMaximum, 0);  // nothing announced: a busy bar, not 0 %
        QVERIFY2(ticks > 20, qPrintable(QString::number(ticks)));
        QVERIFY(waitCursor);
        QVERIFY(boxShown);
        QVERIFY(!QGuiApplication::overrideCursor());
        QVERIFY(commands_.calls.empty());
        QVERIFY(window_->isVisible());
    }

    // Esc stops the work wherever the keyboard is, before the box shows and after.
    void escapeCancelsTheWork() {
        for (const int after : {200, 800}) {
            WorkProgress progress;
            progress.Expect(1000);
            QTimer::singleShot(after, this, [this] { QTest::keyClick(Find<QLineEdit>("密码编辑框"), Qt::Key_Escape); });
            bool cancelled = false;
            try {
                window_->RunInBackground([&] {
                    for (int k = 0; k < 1000; ++k) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                        progress.Advance(1);
                    }
                }, progress);
            } catch (const WorkCancelled&) {
                cancelled = true;
            }
            QVERIFY2(cancelled, qPrintable(QString::number(after)));
            QVERIFY(window_->isVisible());  // Esc during work cancels; it does not close the window
        }
    }

    void shortWorkShowsNoBox() {
        bool boxShown = false;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, this, [&] {
            const auto* box = window_->findChild<QProgressDialog*>();
            boxShown = boxShown || QApplication::activeModalWidget() || (box && box->isVisible());
        });
        watcher.start(5);
        window_->RunInBackground([] { std::this_thread::sleep_for(std::chrono::milliseconds(100)); }, Unwatched());
        QVERIFY(!boxShown);
    }

    // A name in a folder that does not exist is refused by the save dialog itself, which
    // then stays open, as the open dialog does for a missing file.
    void saveDialogRefusesAMissingFolder() {
        const QString missing = folder_.filePath(QStringLiteral("none/out.e"));
        int step = 0;
        QString warning;
        QTimer user;
        connect(&user, &QTimer::timeout, this, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || !modal->isVisible()) return;
            if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                if (step == 0) {
                    step = 1;
                    // From the event loop: the warning it brings up must find this timer free.
                    QTimer::singleShot(0, dialog, [dialog, missing] { Confirm(dialog, missing); });
                } else if (step == 2) {
                    step = 3;
                    dialog->reject();
                }
            } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                warning = box->text();
                step = 2;
                box->buttons().front()->click();
            }
        });
        user.start(10);
        QVERIFY(!window_->OpenSaveDialog());
        QCOMPARE(step, 3);
        QVERIFY2(warning.contains(QStringLiteral("不存在")), qPrintable(warning));
    }

    // Each command button, by click or by its Alt key, emits its own signal once.
    void buttonsEmitTheirSignals() {
        QSignalSpy encrypt(window_.data(), &MainWindow::encryptRequested);
        QSignalSpy decrypt(window_.data(), &MainWindow::decryptRequested);
        QTest::mouseClick(Find<QPushButton>("加密"), Qt::LeftButton);
        QTest::keyClick(Find<QLineEdit>("文件名编辑框"), Qt::Key_D, Qt::AltModifier);
        QTRY_COMPARE(decrypt.count(), 1);
        QCOMPARE(encrypt.count(), 1);
    }

    // Opened with a file, the path is there and the password is what the user types next.
    void fileGivenAtStartTakesTheFocusToThePassword() {
        window_->SetFileNameText("/tmp/报告.txt");
        QCOMPARE(Find<QLineEdit>("文件名编辑框")->text(), QStringLiteral("/tmp/报告.txt"));
        QTRY_COMPARE(QApplication::focusWidget(), Find<QLineEdit>("密码编辑框"));
    }

    void drop_data() {
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<bool>("taken");
        const QString file = MakeFile(QStringLiteral("报告.txt"));
        const QString other = MakeFile(QStringLiteral("other.txt"));
        QTest::newRow("one file") << QList<QUrl>{QUrl::fromLocalFile(file)} << true;
        QTest::newRow("two files") << QList<QUrl>{QUrl::fromLocalFile(file), QUrl::fromLocalFile(other)} << false;
        QTest::newRow("a folder") << QList<QUrl>{QUrl::fromLocalFile(folder_.path())} << false;
        QTest::newRow("not a local file") << QList<QUrl>{QUrl(QStringLiteral("https://localhost/a.txt"))} << false;
        QTest::newRow("no file at all") << QList<QUrl>{} << false;
    }

    // A drop from a file manager, anywhere on the window (the boxes take no dragged text):
    // one local file fills 文件名编辑框; anything else gets no drop cursor.
    void drop() {
        QFETCH(QList<QUrl>, urls);
        QFETCH(bool, taken);
        for (const char* name : {"文件名编辑框", "密码编辑框", "浏览按钮", "加密", "解密"})
            QVERIFY2(!Find<QWidget>(name)->acceptDrops(), name);
        QVERIFY(window_->acceptDrops());
        Find<QLineEdit>("文件名编辑框")->setText(QStringLiteral("before"));
        QMimeData data;
        if (urls.isEmpty()) data.setText(QStringLiteral("/tmp/a.txt"));
        else data.setUrls(urls);
        const QPoint at = Find<QLineEdit>("文件名编辑框")->geometry().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window_, &enter);
        QCOMPARE(enter.isAccepted(), taken);
        QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window_, &drop);
        QCOMPARE(Find<QLineEdit>("文件名编辑框")->text(), taken ? urls.front().toLocalFile() : QStringLiteral("before"));
    }

    // The question before an empty password is stored in plain: Yes and No, No the default.
    void emptyPasswordQuestion() {
        for (const bool yes : {false, true}) {
            QString caption, text;
            QMessageBox::StandardButton defaultButton{};
            QMessageBox::StandardButtons buttons{};
            const auto shown = WhenShown<QMessageBox>([&](QMessageBox* box) {
                caption = box->windowTitle();
                text = box->text();
                defaultButton = box->standardButton(box->defaultButton());
                buttons = box->standardButtons();
                box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
            });
            QCOMPARE(window_->AskYesNo("密码为空，文件内容将不会被加密。仍要继续吗？"), yes);
            QVERIFY(*shown);
            QCOMPARE(caption, QStringLiteral("Zaltor出品"));
            QCOMPARE(text, QStringLiteral("密码为空，文件内容将不会被加密。仍要继续吗？"));
            QCOMPARE(buttons, QMessageBox::Yes | QMessageBox::No);
            QCOMPARE(defaultButton, QMessageBox::No);
        }
    }

    void passwordAgain_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("confirmed");
        QTest::newRow("confirmed") << QStringLiteral("pass 1") << true;
        QTest::newRow("cancelled") << QStringLiteral("pass 1") << false;
    }

    // The second typing of the password: a small modal dialog with a masked box.
    void passwordAgain() {
        QFETCH(QString, typed);
        QFETCH(bool, confirmed);
        QString caption, label;
        QLineEdit::EchoMode echo{};
        const auto shown = WhenShown<QDialog>([&](QDialog* dialog) {
            caption = dialog->windowTitle();
            label = dialog->findChild<QLabel*>()->text();
            auto* box = dialog->findChild<QLineEdit*>(QStringLiteral("确认密码编辑框"));
            echo = box->echoMode();
            QTest::keyClicks(box, typed);
            QTest::keyClick(box, confirmed ? Qt::Key_Return : Qt::Key_Escape);
        });
        const std::optional<std::string> again = window_->AskPasswordAgain();
        QVERIFY(*shown);
        QCOMPARE(caption, QStringLiteral("确认密码"));
        QCOMPARE(label, QStringLiteral("请再次输入密码："));
        QCOMPARE(echo, QLineEdit::Password);
        QCOMPARE(again.has_value(), confirmed);
        if (confirmed) QCOMPARE(Utf8(*again), typed);
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
