#pragma once

#include <QElapsedTimer>
#include <functional>
#include <limits>

class QEvent;
class QEventLoop;
class QObject;

// The clock and the sleeps behind a run's waits and the line's pace. Nothing
// sleeps without letting the event loop run, so windows repaint and a window
// close or a signal is seen at once.
class Waiter {
public:
    virtual ~Waiter() = default;

    // Milliseconds on a monotonic clock, with fractions.
    virtual double elapsedMs() const = 0;

    // Returns once elapsedMs() has passed `deadlineMs` or wake() was called,
    // having let pending events run at least once: clicks and keys included,
    // so that the stop button and the other windows act. A deadline already
    // passed only lets the events run.
    virtual void sleepUntil(double deadlineMs) = 0;

    // Returns once elapsedMs() has passed `deadlineMs`, letting every event
    // run meanwhile except the user's input: windows repaint, a window close
    // (the window manager's too) or a signal is handled, clicks and keys wait
    // for the next sleepUntil() or the end of the pauses, and then come in
    // their order.
    // A sender waits like this for the line in the middle of a text, so that
    // nothing else is sent on its port before the text is out. wake() does
    // not end it.
    virtual void pauseUntil(double deadlineMs) = 0;

    // Ends a sleepUntil() in progress; called from an event handler that runs
    // inside it.
    virtual void wake() = 0;

    // Lets pending events run once, without sleeping.
    void letEventsRun() { sleepUntil(-std::numeric_limits<double>::infinity()); }
};

// Tells `observer` of every click or key a pause holds back, as it is held
// (the window it went to, the event): a window can show that it is waiting.
// One observer for the program; an empty one ends the telling.
void observeHeldInput(std::function<void(QObject *receiver, const QEvent &event)> observer);

// Asked, as each held click or key is handed on, whether its window may have
// it now: one a modal dialog blocks meanwhile drops it, as the window system
// would have. One gate for the program; an empty one lets everything on.
void gateHeldInput(std::function<bool(QObject *receiver)> mayHandOn);

// The real one: a nested event loop with a precise timer for the bulk of the
// wait and a short sleep without events for the last millisecond or so.
class EventLoopWaiter : public Waiter {
public:
    EventLoopWaiter();
    double elapsedMs() const override;
    void sleepUntil(double deadlineMs) override;
    void pauseUntil(double deadlineMs) override;
    void wake() override;

private:
    QElapsedTimer clock_;
    QEventLoop *loop_ = nullptr; // the sleepUntil() that wake() ends
    bool woken_ = false;
};
