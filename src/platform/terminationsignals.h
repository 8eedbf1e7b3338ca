#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT, SIGTERM and SIGPIPE into a Qt signal delivered by the event
// loop, so that the program can end in order (ports drained) from wherever it
// waits. One instance per process.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

Q_SIGNALS:
    // `signalNumber` is SIGINT, SIGTERM or SIGPIPE.
    void received(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *notifier_ = nullptr;
};
