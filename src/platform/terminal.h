#pragma once

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

// The terminal the program runs in, if any.
namespace Terminal {

// Whether standard output is a terminal.
bool standardOutputIsTerminal();
// Whether standard input is a terminal.
bool standardInputIsTerminal();
// Columns of the terminal on standard output; 80 when unknown.
int standardOutputColumns();

} // namespace Terminal

// The keys typed at the terminal on standard input, as the bytes come. While
// it reads, the terminal is in raw mode: no line editing, no echo, and Ctrl-C,
// Ctrl-D, Ctrl-S and the like arrive as bytes like any other; output is
// written as before. The bytes are delivered by the event loop, so that
// sending and signals go on meanwhile. Elsewhere than POSIX nothing is read.
class TerminalInput : public QObject {
    Q_OBJECT
public:
    explicit TerminalInput(QObject *parent = nullptr);
    // Puts the terminal back, see restore().
    ~TerminalInput() override;

    // Puts the terminal on standard input into raw mode and starts reading.
    // False when standard input is no terminal (or its mode cannot be set).
    bool start();
    // Stops reading and puts the terminal's mode back as start() found it;
    // nothing when it is not reading.
    void restore();

Q_SIGNALS:
    // Bytes typed, as many as had arrived.
    void received(const QByteArray &bytes);
    // The terminal is gone (its end, or an error reading it); reading stops.
    void closed();

private:
    void readTerminal();

    QSocketNotifier *notifier_ = nullptr;
    QByteArray savedMode_; // the terminal's settings before start()
};
