#pragma once

#include <QElapsedTimer>
#include <limits>

class QEventLoop;

// The clock and the sleep behind a run's waits. A run never sleeps without
// letting the user interface process its events, so windows stay usable and
// a stop request can end a wait at once (wake()).
class Waiter {
public:
    virtual ~Waiter() = default;

    // Milliseconds on a monotonic clock, with fractions.
    virtual double elapsedMs() const = 0;

    // Returns once elapsedMs() has passed `deadlineMs` or wake() was called,
    // having let pending events run at least once. A deadline already passed
    // only lets the events run.
    virtual void sleepUntil(double deadlineMs) = 0;

    // Ends a sleep in progress; called from an event handler that runs
    // inside it.
    virtual void wake() = 0;

    // Lets pending events run once, without sleeping.
    void letEventsRun() { sleepUntil(-std::numeric_limits<double>::infinity()); }
};

// The real one: a nested event loop with a precise timer for the bulk of the
// wait and a short sleep without events for the last millisecond or so.
class EventLoopWaiter : public Waiter {
public:
    EventLoopWaiter();
    double elapsedMs() const override;
    void sleepUntil(double deadlineMs) override;
    void wake() override;

private:
    QElapsedTimer clock_;
    QEventLoop *loop_ = nullptr;
    bool woken_ = false;
};
