#pragma once

#include <QByteArray>
#include <QList>
#include <atomic>
#include <mutex>
#include <thread>

class PseudoTerminal;

// The handset's end of a real line: reads a pseudo-terminal at 600 baud's
// pace (one byte every 18.3 ms, about 54.5 a second), in a thread of its own,
// so that a sender meets the line as it is. A reader that takes bytes at
// once hides every pacing fault.
class LineSpeedReader {
public:
    explicit LineSpeedReader(const PseudoTerminal &pty);
    ~LineSpeedReader();
    LineSpeedReader(const LineSpeedReader &) = delete;
    LineSpeedReader &operator=(const LineSpeedReader &) = delete;

    // What has been read so far.
    QByteArray bytes() const;
    // When each byte was read, in milliseconds on the steady clock.
    QList<double> times() const;
    // Waits until `count` bytes have been read or `timeoutMs` passed,
    // letting the event loop run.
    bool waitFor(qsizetype count, int timeoutMs) const;
    // Waits until no byte has come for `quietMs`, or `timeoutMs` passed.
    void waitForQuiet(int quietMs, int timeoutMs) const;

    // Stops reading for good: the line's end is the test's again (to close
    // it, say, as a handset that goes away).
    void stop();

    // Milliseconds on the clock of times().
    static double nowMs();

private:
    void run(int fd);

    mutable std::mutex mutex_;
    QByteArray bytes_;
    QList<double> times_;
    std::atomic<bool> stop_ = false;
    std::thread thread_;
};
