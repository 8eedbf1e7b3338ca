#include "keypad/keypadwindows.h"

#include "widgets/placement.h"
#include "widgets/taskbar.h"
#include "widgets/twips.h"

#include <QScreen>

KeypadWindows::KeypadWindows(Desktop &desktop, QObject *parent, Waiter *lineClock)
    : QObject(parent), desktop_(desktop), lineClock_(lineClock)
{
}

KeypadWindows::~KeypadWindows()
{
    delete input_;
    delete keyboard_;
}

bool KeypadWindows::closePort()
{
    return !keyboard_ || keyboard_->MSComm1.ClosePort();
}

void KeypadWindows::finishRecording()
{
    if (keyboard_)
        keyboard_->finishRecording();
}

void KeypadWindows::setRecordFolder(const QString &folder)
{
    recordFolder_ = folder;
    if (keyboard_)
        keyboard_->setRecordFolder(folder);
}

void KeypadWindows::showKeyboard(const QString &title, const QString &version, const QString &mainPortText,
                                 const QWidget *beside)
{
    if (keyboard_) {
        // Minimised or covered, both come back (a minimised keypad has no
        // taskbar entry to bring it back by).
        if (input_)
            bringBack(input_);
        bringBack(keyboard_);
        return;
    }
    loadKeyboard(title, version, mainPortText, beside);
}

void KeypadWindows::loadKeyboard(const QString &title, const QString &version, const QString &mainPortText,
                                 const QWidget *beside)
{
    keyboard_ = new frmKeyboard(desktop_, lineClock_);
    if (beside && beside->isVisible() && beside->screen()) {
        // Not over the main window's buttons (a window manager centres a
        // window it places on its group's leader); the text entry window
        // opens below the keypad, so there must be room for it too.
        const QSize keypad = outerSize(keyboard_->size(), beside);
        const int entryBottom = twipsToPixels(frmInput::kBelowKeypadTwips) + outerSize(frmInput::clientSize(), beside).height();
        keyboard_->move(placeBeside(beside->frameGeometry(), keypad, beside->screen()->availableGeometry(),
                                    entryBottom - keypad.height()));
    }
    keyboard_->setRecordFolder(recordFolder_);
    keyboard_->setOffersScreen(offersScreen_);
    connect(keyboard_, &frmKeyboard::screenWanted, this, &KeypadWindows::screenWanted);
    keyboard_->setRecordPath(lastRecordPath_);
    connect(keyboard_, &frmKeyboard::closed, this, &KeypadWindows::keyboardClosed);
    connect(keyboard_, &frmKeyboard::closing, this, [this] {
        if (input_)
            input_->hide();
    });
    keyboard_->load(title, version, mainPortText);
    // Shown before the text entry window, which places itself below it.
    keyboard_->show();
    showInput(title, version);
}

void KeypadWindows::showInput(const QString &title, const QString &version)
{
    if (input_) {
        input_->setKeyboard(keyboard_);
        bringBack(input_);
        return;
    }
    input_ = new frmInput;
    connect(input_, &frmInput::closed, this, &KeypadWindows::inputClosed);
    input_->setKeyboard(keyboard_);
    input_->load(title, version);
    input_->show();
}

void KeypadWindows::keyboardClosed()
{
    // Unloaded: the next showKeyboard() loads a fresh keypad. The text entry
    // window only hides.
    lastRecordPath_ = keyboard_->recordPath();
    keyboard_->disconnect(this);
    keyboard_->unload();
    keyboard_ = nullptr;
    if (input_) {
        input_->hide();
        input_->setKeyboard(nullptr);
    }
}

void KeypadWindows::inputClosed()
{
    if (keyboard_)
        keyboard_->hide();
    input_->disconnect(this);
    input_->unload();
    input_ = nullptr;
}
