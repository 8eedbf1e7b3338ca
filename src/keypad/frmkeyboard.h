#pragma once

#include "keypad/unloadguard.h"
#include "link/seriallink.h"
#include "link/textsender.h"

#include <QList>
#include <QWidget>

class Desktop;
class QComboBox;
class QLabel;
class QPushButton;

// The on-screen keypad: one button per handset key, each sending its key at
// once over the keypad's own serial link, and a connect button that opens
// and closes that link. The connection state is the connect button's
// caption: "切断" while closed, "接続中" while open.
class frmKeyboard : public QWidget {
    Q_OBJECT
public:
    // `desktop` shows its messages; `lineClock` paces the keypad's port (see
    // SerialPort::setClock), which keeps a real one of its own when none is
    // given.
    explicit frmKeyboard(Desktop &desktop, Waiter *lineClock = nullptr, QWidget *parent = nullptr);

    // The load steps: caption, the main window's port text, the port list
    // "1" to "16", the connect button showing "切断". KeypadWindows then shows
    // the keypad and the text entry window.
    void load(const QString &title, const QString &version, const QString &mainPortText);

    // Presses button `Index`: 0 to 38 send their key (nothing while
    // disconnected), 39 connects or disconnects, anything else does nothing.
    void Command1_Click(int Index);

    // Types `Str` on the handset through the keypad's link.
    void SendStr(const QString &Str);

    // Indexes 0 to 38 are the key buttons, 39 the connect button.
    QList<QPushButton *> Command1;
    QComboBox *cmbCommPort = nullptr;
    QLabel *lblPort = nullptr;
    // Its port number is the text of cmbCommPort at each OpenPort().
    SerialLink MSComm1;

    // Deletes the window once no handler of it runs (see UnloadGuard).
    void unload() { unloadGuard_.unload(); }

Q_SIGNALS:
    // The user closed the window; the port is closed already.
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void connectOrDisconnect();
    void linkFailed(const QString &message);

    Desktop &desktop_;
    TextSender text_{MSComm1};
    UnloadGuard unloadGuard_{this};
};
