// SPDX-License-Identifier: MIT
// The tool's window: its controls in pixels, its keys, browse and the Qt side of the
// commands' surface. It translates between widgets and the commands; it decides nothing.
#include "window/main_window.h"

#include "commands/messages.h"
#include "window/qt_file_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressDialog>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <exception>
#include <optional>
#include <system_error>
#include <thread>

namespace jiajiemi {

namespace {

constexpr int kEditHeight = 20;

// The password box masks with "*" whatever the style would draw. Unlike a style sheet,
// this leaves the box's font to follow the window's.
class StarMaskStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter) return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect place) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromUtf8(name));
    label->setTextFormat(Qt::PlainText);  // an "&" would be shown as it is
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setGeometry(place);
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, QRect place) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromUtf8(name));
    edit->setGeometry(place);
    edit->setFocusPolicy(Qt::StrongFocus);
    return edit;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, QRect place) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromUtf8(name));
    button->setGeometry(place);
    // Enter must never run a command, so no button is or becomes the default one.
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      openDialog_(FileDialogKind::Open, "请输入欲加解密的文件名："),
      saveDialog_(FileDialogKind::Save, "请输入欲保存到的文件名：") {
    setWindowTitle(QStringLiteral("加解密工具："));
    setAttribute(Qt::WA_DeleteOnClose);

    QPalette colours = palette();
    colours.setColor(QPalette::Window, colours.color(QPalette::Button));
    setPalette(colours);
    setAutoFillBackground(true);

    CreateControls();
    FitFontToControls();
    setFixedSize(kSmallestClient);
    CentreOnScreen();

    // Esc closes like the close button, whichever control has the focus.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, &QWidget::close);

    connect(browseButton_, &QPushButton::clicked, this, &MainWindow::Browse);
    connect(encryptButton_, &QPushButton::clicked, this, &MainWindow::encryptRequested);
    connect(decryptButton_, &QPushButton::clicked, this, &MainWindow::decryptRequested);
}

void MainWindow::CreateControls() {
    fileLabel_ = MakeLabel(this, "标签1", QStringLiteral("选择欲加解密的文件名："), {8, 16, 128, 16});
    fileNameBox_ = MakeEdit(this, "文件名编辑框", {6, 40, 122, kEditHeight});
    browseButton_ = MakeButton(this, "浏览按钮", QStringLiteral("..."), {141, 40, 30, 20});
    passwordLabel_ = MakeLabel(this, "标签2", QStringLiteral("请输入密码："), {8, 64, 88, 16});
    passwordBox_ = MakeEdit(this, "密码编辑框", {6, 85, 122, kEditHeight});
    passwordBox_->setEchoMode(QLineEdit::Password);
    auto* mask = new StarMaskStyle;
    mask->setParent(this);
    passwordBox_->setStyle(mask);
    encryptButton_ = MakeButton(this, "加密", QStringLiteral("加密(&E)"), {8, 120, 80, 32});
    decryptButton_ = MakeButton(this, "解密", QStringLiteral("解密(&D)"), {96, 120, 80, 32});

    // A drop anywhere on the window, the boxes included, is the window's own (a file's
    // path); the boxes do not take dragged text.
    fileNameBox_->setAcceptDrops(false);
    passwordBox_->setAcceptDrops(false);
    setAcceptDrops(true);

    setTabOrder(fileNameBox_, browseButton_);
    setTabOrder(browseButton_, passwordBox_);
    setTabOrder(passwordBox_, encryptButton_);
    setTabOrder(encryptButton_, decryptButton_);
    fileNameBox_->setFocus();
}

// The default GUI font of some desktops is too wide for the fixed controls, above all
// for CJK texts: keep its family and step its size down until every text fits.
void MainWindow::FitFontToControls() {
    const auto fits = [this](const QFont& font) {
        const QFontMetrics metrics(font);
        for (const QLabel* label : {fileLabel_, passwordLabel_}) {
            if (metrics.horizontalAdvance(label->text()) > label->width() || metrics.height() > label->height() + 1) {
                return false;
            }
        }
        for (const QPushButton* button : {encryptButton_, decryptButton_}) {
            const QString shown = QString(button->text()).remove(u'&');
            if (metrics.horizontalAdvance(shown) + 8 > button->width()) return false;
        }
        const int frame = 2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
        return metrics.height() + frame <= kEditHeight;
    };

    QFont font = QApplication::font();
    int pixels = QFontInfo(font).pixelSize();
    while (!fits(font) && pixels > 8) {
        font.setPixelSize(--pixels);
    }
    if (font != QApplication::font()) setFont(font);

    // An edit box never gets lower than one line of its text plus its frame.
    const int needed =
        QFontMetrics(font).height() + 2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    for (QLineEdit* edit : {fileNameBox_, passwordBox_}) {
        if (edit->height() < needed) edit->resize(edit->width(), needed);
    }
}

void MainWindow::CentreOnScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect whole = screen->geometry();  // the whole screen, not the work area
    const QSize outer = frameKnown_ ? frameGeometry().size() : size();
    placedAt_ = whole.topLeft() + QPoint((whole.width() - outer.width()) / 2, (whole.height() - outer.height()) / 2);
    move(placedAt_);
}

// Once the window manager tells how thick its frame is, the client area is sized so that
// the outer size is the intended one, and the window is centred again if still in place.
void MainWindow::FitToFrame() {
    if (frameKnown_ || !isVisible() || !windowHandle()) return;
    const QMargins frame = windowHandle()->frameMargins();
    if (frame.isNull()) return;
    frameKnown_ = true;
    const QSize client(std::max(kSmallestClient.width(), kOuterSize.width() - frame.left() - frame.right()),
                       std::max(kSmallestClient.height(), kOuterSize.height() - frame.top() - frame.bottom()));
    const bool unmoved = pos() == placedAt_;
    setFixedSize(client);
    if (unmoved) CentreOnScreen();
}

bool MainWindow::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    switch (event->type()) {
        case QEvent::Show:
        case QEvent::Move:
        case QEvent::Resize:
            FitToFrame();
            break;
        default:
            break;
    }
    return handled;
}

void MainWindow::WindowCreated(const std::string& runDirectory) {
    openDialog_.initialFolder = runDirectory;
    saveDialog_.initialFolder = runDirectory;
}

void MainWindow::Browse() {
    if (OpenFileDialog(openDialog_, this)) fileNameBox_->setText(QString::fromStdString(openDialog_.fileName));
}

void MainWindow::SetFileNameText(const std::string& path) {
    fileNameBox_->setText(QString::fromStdString(path));
    passwordBox_->setFocus();
}

std::string MainWindow::FileNameText() { return fileNameBox_->text().toStdString(); }

std::string MainWindow::PasswordText() { return passwordBox_->text().toStdString(); }

bool MainWindow::OpenSaveDialog() {
    if (closeAsked_) return false;  // the user is leaving: nothing more to ask (see ShowMessage)
    return OpenFileDialog(saveDialog_, this);
}

namespace {

QString FromUtf8(std::string_view text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

}  // namespace

bool MainWindow::AskYesNo(const std::string& question) {
    if (closeAsked_) return false;
    QMessageBox box(QMessageBox::Question, FromUtf8(messages::Caption), QString::fromStdString(question),
                    QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    return box.exec() == QMessageBox::Yes;
}

std::optional<std::string> MainWindow::AskPasswordAgain() {
    if (closeAsked_) return std::nullopt;
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("确认密码对话框"));
    dialog.setWindowTitle(FromUtf8(messages::ConfirmPasswordCaption));
    dialog.setWindowModality(Qt::ApplicationModal);
    auto* label = new QLabel(FromUtf8(messages::ConfirmPasswordLabel), &dialog);
    label->setTextFormat(Qt::PlainText);
    auto* box = new QLineEdit(&dialog);
    box->setObjectName(QStringLiteral("确认密码编辑框"));
    box->setEchoMode(QLineEdit::Password);
    box->setStyle(passwordBox_->style());  // "*" for every character, as in 密码编辑框
    box->setAcceptDrops(false);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(label);
    layout->addWidget(box);
    layout->addWidget(buttons);
    dialog.setFixedSize(dialog.sizeHint().expandedTo(QSize(220, 0)));
    box->setFocus();
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return box->text().toStdString();
}

void MainWindow::ShowMessage(const std::string& text, MessageStyle style) {
    // The user closed the window while the work ended anyway: the command finishes without
    // a box, so that the window closes as soon as it returns.
    if (closeAsked_) return;
    // No owner window, yet nothing else takes input until it is answered.
    QMessageBox box(style == MessageStyle::Error ? QMessageBox::Critical : QMessageBox::Information,
                    FromUtf8(messages::Caption), QString::fromStdString(text), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

namespace {

// The one local file, not a folder, that a drag carries; empty for anything else.
QString DroppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().size() != 1) return {};
    const QUrl url = data->urls().front();
    if (!url.isLocalFile()) return {};
    const QString path = url.toLocalFile();
    return QFileInfo(path).isDir() ? QString() : path;
}

}  // namespace

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!running_ && !DroppedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QString path = DroppedFile(event->mimeData());
    if (running_ || path.isEmpty()) return;
    fileNameBox_->setText(path);
    event->acceptProposedAction();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (running_) {
        running_->Cancel();
        closeAsked_ = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

namespace {

// Eats the user's input to the program while a command works, as a modal dialog would:
// a second click must not start a second command. Painting and timers go on, and the
// busy box with its cancel button takes input as usual.
class InputBlocker : public QObject {
public:
    InputBlocker(const QWidget& busyBox, std::function<void()> cancel) : busyBox_(busyBox), cancel_(std::move(cancel)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // Esc cancels wherever the keyboard is: the window manager may have left it on the
        // main window rather than on the busy box.
        const bool key = event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride;
        if (key && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            cancel_();
            return true;
        }
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::DragEnter:
        case QEvent::Drop:
            return !InBusyBox(watched);
        default:
            return QObject::eventFilter(watched, event);
        }
    }

private:
    bool InBusyBox(QObject* watched) const {
        if (const auto* widget = qobject_cast<QWidget*>(watched)) return widget->window() == &busyBox_;
        if (const auto* window = qobject_cast<QWindow*>(watched)) return window == busyBox_.windowHandle();
        return false;
    }

    const QWidget& busyBox_;
    std::function<void()> cancel_;
};

}  // namespace

void MainWindow::RunInBackground(const std::function<void()>& work, WorkProgress& progress) {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    // A command that takes longer than half a second shows how far it is in a small box,
    // whose cancel button (or Esc) stops it.
    constexpr int Steps = 1000;
    QProgressDialog busyBox(FromUtf8(messages::Working), FromUtf8(messages::Cancel), 0, Steps, this);
    busyBox.setObjectName(QStringLiteral("进度框"));
    busyBox.setWindowTitle(windowTitle());
    // Not modal to Qt: the blocker below keeps every other input out, and a key meant for
    // the box that the window manager leaves with the main window (Esc) still arrives.
    busyBox.setWindowModality(Qt::NonModal);
    busyBox.setAutoClose(false);
    busyBox.setAutoReset(false);
    busyBox.setMinimumDuration(500);
    busyBox.setValue(0);
    const auto cancel = [&progress, &busyBox] {
        progress.Cancel();
        busyBox.hide();
    };
    connect(&busyBox, &QProgressDialog::canceled, &busyBox, cancel);
    bool boxActivated = false;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, &busyBox, [&] {
        if (progress.CancelAsked()) return;
        // Esc in the box cancels it without its canceled signal.
        if (busyBox.wasCanceled()) return cancel();
        // A step that announces nothing (the final flush) shows that it is busy, not 0 %.
        const int maximum = progress.Measured() ? Steps : 0;
        if (busyBox.maximum() != maximum) busyBox.setRange(0, maximum);
        busyBox.setValue(int(progress.Fraction() * maximum));
        // Once, when it shows, and only while the user is in this program.
        if (busyBox.isVisible() && !boxActivated && QGuiApplication::applicationState() == Qt::ApplicationActive) {
            busyBox.activateWindow();
            boxActivated = true;
        }
    });
    ticker.start(50);
    InputBlocker blocker(busyBox, cancel);
    qApp->installEventFilter(&blocker);
    running_ = &progress;
    if (closeAsked_) progress.Cancel();
    // However the work ends, the window is itself again afterwards.
    struct Restore {
        MainWindow& window;
        InputBlocker& blocker;
        ~Restore() {
            window.running_ = nullptr;
            qApp->removeEventFilter(&blocker);
            QGuiApplication::restoreOverrideCursor();
            if (window.closeAsked_) QTimer::singleShot(0, &window, &QWidget::close);
        }
    } restore{*this, blocker};

    QEventLoop loop;
    std::exception_ptr failure;
    const auto runWork = [&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
    };
    std::optional<std::thread> worker;
    try {
        worker.emplace([&] {
            runWork();
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        // No thread to be had: the work runs here, the window frozen until it ends, as it
        // would with no threads at all.
    }
    if (worker) {
        loop.exec();
        worker->join();
    } else {
        runWork();
    }
    if (failure) std::rethrow_exception(failure);
}

}  // namespace jiajiemi
