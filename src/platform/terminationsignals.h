#pragma once

#include <QObject>

class QSocketNotifier;

// Turns the signals that ask a program to end into a Qt signal delivered by
// the event loop, so that the program can end in order (ports drained) from
// wherever it waits. One instance per process. Elsewhere than POSIX nothing
// is caught.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    enum class Kind {
        Interrupt, // SIGINT: Ctrl-C at the terminal
        Terminate, // SIGTERM, or SIGHUP: the terminal went away
        OutputGone // SIGPIPE: a reader of the output went away (`… | head`)
    };

    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

Q_SIGNALS:
    void received(TerminationSignals::Kind kind);

private:
    void readPipe();

    QSocketNotifier *notifier_ = nullptr;
};
