// SPDX-License-Identifier: MIT
// The tool's window: its controls in pixels, its keys, browse and the Qt side of the
// commands' surface. It translates between widgets and the commands; it decides nothing.
#include "window/main_window.h"

#include "commands/messages.h"
#include "window/qt_file_dialog.h"

#include <QApplication>
#include <QEventLoop>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QWindow>

#include <algorithm>
#include <exception>
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

    // The boxes take typing and pasting only, as the window handles no drop.
    fileNameBox_->setAcceptDrops(false);
    passwordBox_->setAcceptDrops(false);

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

void MainWindow::WindowCreated(const std::string& runDirectory) { openDialog_.initialFolder = runDirectory; }

void MainWindow::Browse() {
    if (OpenFileDialog(openDialog_, this)) fileNameBox_->setText(QString::fromStdString(openDialog_.fileName));
}

void MainWindow::SetFileNameText(const std::string& path) { fileNameBox_->setText(QString::fromStdString(path)); }

std::string MainWindow::FileNameText() { return fileNameBox_->text().toStdString(); }

std::string MainWindow::PasswordText() { return passwordBox_->text().toStdString(); }

bool MainWindow::OpenSaveDialog() { return OpenFileDialog(saveDialog_, this); }

void MainWindow::ShowMessage(const std::string& text, MessageStyle style) {
    // No owner window, yet nothing else takes input until it is answered.
    QMessageBox box(style == MessageStyle::Error ? QMessageBox::Critical : QMessageBox::Information,
                    QString::fromUtf8(messages::Caption.data(), qsizetype(messages::Caption.size())), QString::fromStdString(text), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

namespace {

// Eats the user's input to the program while a command works, as a modal dialog would:
// a second click must not start a second command. Painting and timers go on.
class InputBlocker : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::Close:
            return true;
        default:
            return QObject::eventFilter(watched, event);
        }
    }
};

}  // namespace

void MainWindow::RunInBackground(const std::function<void()>& work, WorkProgress& progress) {
    static_cast<void>(progress);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    InputBlocker blocker;
    qApp->installEventFilter(&blocker);
    // A command that takes longer than half a second says so in a small modal box.
    QProgressDialog busyBox(QStringLiteral("正在处理，请稍候……"), QString(), 0, 0, this);
    busyBox.setWindowTitle(windowTitle());
    busyBox.setWindowModality(Qt::ApplicationModal);
    busyBox.setMinimumDuration(500);
    busyBox.setValue(0);

    QEventLoop loop;
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();

    qApp->removeEventFilter(&blocker);
    QGuiApplication::restoreOverrideCursor();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace jiajiemi
