#pragma once

#include "cli/terminalkeys.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

class MacroRecorder;
class SerialLink;
class Waiter;

// The keypad in a terminal: each key typed presses its handset key at once
// over one serial link (see keypadkeymap.h), "&" and a key press that key's
// ampersand form, and Tab opens a one-line prompt whose text Enter types
// like the text entry window (Escape cancels it). A status line shows what
// was sent last. What was sent can be recorded.
//
// Keys typed while a text is going out wait until it is out, in order.
// Ctrl-D ends the session in that order too; Ctrl-C and stop() end it at
// once, a text going out stopping between two characters (what went out is
// recorded as the text).
class TerminalKeypad : public QObject {
    Q_OBJECT
public:
    // `clock` times the recording; `recorder` may be null (nothing recorded).
    TerminalKeypad(SerialLink &link, const Waiter &clock, MacroRecorder *recorder, QObject *parent = nullptr);

    // Bytes typed at the terminal.
    void type(const QByteArray &bytes);
    // Ends the session at once.
    void stop();

    bool hasEnded() const { return ended_; }
    int packetsSent() const { return packetsSent_; }
    // Shows the status line for the first time.
    void showStatus();

Q_SIGNALS:
    // The session has ended; nothing more is sent.
    void finished();

private:
    enum class Mode { Keys, Ampersand, Prompt };

    void decodeTyped(bool complete);
    void work();
    void handle(const TerminalKey &key);
    void handlePrompt(const TerminalKey &key);
    void handleAmpersand(const TerminalKey &key);
    void pressKey(const QString &name);
    void typeText(const QString &text);
    void setStatus(const QString &status);

    SerialLink &link_;
    const Waiter &clock_;
    MacroRecorder *recorder_;
    QByteArray typed_;          // bytes not yet decoded (a sequence cut short)
    QTimer quiet_;              // decodes a lone ESC once the terminal is quiet
    QList<TerminalKey> queue_;  // keys waiting while a text goes out
    bool busy_ = false;
    bool ended_ = false;
    Mode mode_ = Mode::Keys;
    QString prompt_;
    QString status_;
    int packetsSent_ = 0;
};
