#pragma once

#include "keypad/keypadwindows.h"
#include "support/fakerun.h"
#include "support/pseudoterminal.h"
#include "support/recordingdesktop.h"

#include <QStringList>

// The keypad windows as the main window's menu opens them, with messages
// recorded instead of shown, a pseudo-terminal on the port the keypad's box
// names, and a fake clock behind the line's pace, so that a long text or a
// port that drains as it closes costs no time.
struct KeypadFixture {
    static constexpr int kPort = 41;

    PseudoTerminal pty;
    FakeWaiter lineClock;
    RecordingDesktop desktop;
    KeypadWindows windows{desktop, nullptr, &lineClock};
    QStringList &messages = desktop.messages;

    // Loads the keypad with `portText` as the main window's port text.
    explicit KeypadFixture(const QString &portText = QString::number(kPort));

    frmKeyboard *keyboard() const { return windows.keyboard(); }
    frmInput *input() const { return windows.input(); }
    QString connectCaption() const;

    // Presses the connect button; true when it shows "接続中" afterwards.
    bool connectPort();
    // The packets that reached the handset since the last call, as spaced
    // hex. Sends a marker through the open port and reads up to it, so
    // "nothing" needs no quiet wait.
    QStringList received();
};

// The spaced-hex packet of a plain key of the key table.
QString packetOf(const QString &keyName);
