#pragma once

#include "keypad/unloadguard.h"

#include <QPointer>
#include <QWidget>

class QLineEdit;
class QWindow;
class frmKeyboard;

// The text entry window: a one-line box whose text Enter types on the
// handset through the keypad, and whose cursor and numeric-pad keys press the
// keypad's buttons as they go down. It owns no port; without a keypad it
// sends nothing.
class frmInput : public QWidget {
    Q_OBJECT
public:
    explicit frmInput(QWidget *parent = nullptr);

    // The window's fixed client size, and how far below the keypad's outer
    // top it opens.
    static QSize clientSize();
    static constexpr int kBelowKeypadTwips = 5000;

    // The keypad this window sends through, or nullptr.
    void setKeyboard(frmKeyboard *keyboard);
    frmKeyboard *keyboard() const;

    // The load steps: caption, then the place just below the keypad (its
    // outer top-left plus 5000 twips down), taken once. A keypad the window
    // system has not placed yet (it places a new window when it first shows
    // it) is waited for: this window shows only once it is placed.
    void load(const QString &title, const QString &version);

    void setVisible(bool visible) override;

    // Enter: types the box's text and empties the box, or presses the
    // keypad's "■" when the box is empty.
    void SubmitText();

    QLineEdit *Text1 = nullptr;

    // Deletes the window once no handler of it runs (see UnloadGuard).
    void unload() { unloadGuard_.unload(); }

Q_SIGNALS:
    // The user closed the window.
    void closed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void keyDown(int virtualKey);
    void placeBelowKeypad();

    QPointer<frmKeyboard> keyboard_;
    UnloadGuard unloadGuard_{this};
    // The keypad's window, watched until the window system shows it.
    QPointer<QWindow> awaitedKeypad_;
    bool showWhenPlaced_ = false;
};
