#pragma once

#include "keypad/frminput.h"
#include "keypad/frmkeyboard.h"

#include <QObject>
#include <QString>

class Desktop;
class QWidget;

// The keypad window and the text entry window of one program, loaded and
// unloaded as the user opens and closes them. Both are top-level windows
// without an owner. The text entry window outlives a closed keypad (hidden,
// with its place and text) and comes back at the keypad's next load.
class KeypadWindows : public QObject {
    Q_OBJECT
public:
    // `desktop` shows the windows' messages; `lineClock` paces the keypad's
    // port (none: a real one).
    explicit KeypadWindows(Desktop &desktop, QObject *parent = nullptr, Waiter *lineClock = nullptr);
    // Closes the keypad's port (every byte sent delivered) and deletes both
    // windows.
    ~KeypadWindows() override;

    // The main window's "キーボード(&K)": loads the keypad when it is not
    // loaded (reading title, version and the main window's port text once)
    // and shows it together with the text entry window; otherwise shows the
    // loaded keypad again as the user left it.
    // A keypad loaded now goes beside `beside` (the main window), on the
    // side of the screen with room for it and the text entry window below.
    void showKeyboard(const QString &title, const QString &version, const QString &mainPortText,
                      const QWidget *beside = nullptr);

    // The end of the program: closes the keypad's port, when one is loaded
    // and connected, once every packet sent has left the line, without the
    // keypad's own close handling. False when packets had to be dropped (the
    // keypad's link names them).
    bool closePort();
    // The end of the program, before closePort(): a recording of the keypad
    // in progress is written (see frmKeyboard::finishRecording).
    void finishRecording();

public Q_SLOTS:
    // The folder a keypad's first recording is saved in (the main window's
    // macro file's); a later one starts where the last one, of this keypad or
    // an earlier one, went.
    void setRecordFolder(const QString &folder);

public:
    // Whether a keypad loaded from now on has 「画面(&G)」, which asks for
    // the screen window through screenWanted().
    void setOffersScreen(bool offers) { offersScreen_ = offers; }

    // Each is nullptr while not loaded.
    frmKeyboard *keyboard() const { return keyboard_; }
    frmInput *input() const { return input_; }

Q_SIGNALS:
    // The keypad's 「画面(&G)」.
    void screenWanted();

private:
    void loadKeyboard(const QString &title, const QString &version, const QString &mainPortText,
                      const QWidget *beside);
    void showInput(const QString &title, const QString &version);
    void keyboardClosed();
    void inputClosed();

    Desktop &desktop_;
    Waiter *lineClock_;
    frmKeyboard *keyboard_ = nullptr;
    frmInput *input_ = nullptr;
    QString recordFolder_;
    bool offersScreen_ = false;
    QString lastRecordPath_;
};
