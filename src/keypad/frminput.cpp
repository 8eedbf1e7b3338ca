#include "keypad/frminput.h"

#include "keypad/frmkeyboard.h"
#include "keypad/virtualkeys.h"
#include "widgets/appearance.h"
#include "widgets/taskbar.h"
#include "widgets/twips.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QWindow>
#include <limits>

namespace {

constexpr int kEnterButton = 20;
constexpr int kEnterKey = 13;

// The keypad button a key of the computer keyboard presses, by virtual-key
// code; -1 for none.
int buttonForKey(int virtualKey)
{
    // Numeric pad 1 to 9: buttons "1" to "9".
    if (virtualKey >= 97 && virtualKey <= 105)
        return 27 + (virtualKey - 97);
    switch (virtualKey) {
    case 38: // Up
        return 17;
    case 40: // Down
        return 23;
    case 37: // Left
        return 19;
    case 39: // Right
        return 21;
    case 96: // numeric pad 0
        return 37;
    case 106: // numeric pad *
        return 36;
    case 109: // numeric pad -: "#"
        return 38;
    case 35: // End: "OFF"
        return 24;
    case 34: // Page Down: "ON"
        return 26;
    case 36: // Home: "機能"
        return 22;
    case 33: // Page Up: "EZ"
        return 18;
    case 45: // Insert: "メール"
        return 16;
    case 8: // Backspace: "クリア"
    case 46: // Delete: "クリア"
        return 25;
    default:
        return -1;
    }
}

} // namespace

frmInput::frmInput(QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmInput"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowIcon(programIcon());
    setFont(userInterfaceFont());
    setFixedSize(clientSize());
    keepOffTaskbar(this);
    askForNoMinimize(this);

    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(twipsRect(120, 120, 2895, 270));
    Text1->setMaxLength(std::numeric_limits<int>::max());
    Text1->installEventFilter(this);
}

QSize frmInput::clientSize()
{
    return twipsSize(3120, 495);
}

void frmInput::setKeyboard(frmKeyboard *keyboard)
{
    keyboard_ = keyboard;
}

frmKeyboard *frmInput::keyboard() const
{
    return keyboard_;
}

void frmInput::load(const QString &title, const QString &version)
{
    setWindowTitle(title + QLatin1Char(' ') + version);
    if (!keyboard_)
        return;
    QWindow *keypad = keyboard_->windowHandle();
    if (keypad && keyboard_->isVisible() && !keypad->isExposed()) {
        // Shown but not yet on the screen: until it is, its place is only
        // what the program asked for, not where the window system puts it.
        awaitedKeypad_ = keypad;
        keypad->installEventFilter(this);
        return;
    }
    placeBelowKeypad();
}

void frmInput::placeBelowKeypad()
{
    const QPoint keypad = keyboard_->frameGeometry().topLeft();
    move(keypad.x(), keypad.y() + twipsToPixels(kBelowKeypadTwips));
}

void frmInput::setVisible(bool visible)
{
    if (awaitedKeypad_) {
        // Shown once placed; a hide meanwhile cancels that.
        showWhenPlaced_ = visible;
        if (visible)
            return;
    }
    QWidget::setVisible(visible);
}

void frmInput::SubmitText()
{
    const QString text = Text1->text();
    if (text.isEmpty()) {
        if (keyboard_)
            keyboard_->Command1_Click(kEnterButton);
        return;
    }
    // Sent or not, the text is gone from the box.
    if (keyboard_)
        keyboard_->SendStr(text);
    Text1->clear();
}

void frmInput::keyDown(int virtualKey)
{
    if (virtualKey == kEnterKey) {
        SubmitText();
        return;
    }
    const int button = buttonForKey(virtualKey);
    if (button >= 0 && keyboard_)
        keyboard_->Command1_Click(button);
}

bool frmInput::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == awaitedKeypad_ && event->type() == QEvent::Expose && awaitedKeypad_->isExposed()) {
        awaitedKeypad_->removeEventFilter(this);
        awaitedKeypad_ = nullptr;
        if (keyboard_)
            placeBelowKeypad();
        if (showWhenPlaced_)
            show();
        return false;
    }
    if (watched == Text1 && event->type() == QEvent::KeyPress) {
        const UnloadGuard::Busy busy(unloadGuard_);
        const auto *key = static_cast<QKeyEvent *>(event);
        keyDown(windowsVirtualKey(key->key(), key->modifiers()));
    }
    // The box still edits with the key as usual.
    return QWidget::eventFilter(watched, event);
}

void frmInput::closeEvent(QCloseEvent *event)
{
    event->accept();
    Q_EMIT closed();
}
