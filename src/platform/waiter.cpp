#include "platform/waiter.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace {
// Below this many milliseconds the rest of a wait is slept without events:
// the event loop's timers are only precise to about a millisecond.
constexpr double kFinalStretchMs = 2.0;
// The longest single timer; longer waits take several.
constexpr double kLongestTimerMs = 60.0 * 60.0 * 1000.0;

// Runs `loop` with `flags` until its timer of `ms` milliseconds fires or
// something quits it.
void runLoopFor(QEventLoop &loop, double ms, QEventLoop::ProcessEventsFlags flags)
{
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(static_cast<int>(std::min(ms, kLongestTimerMs)));
    loop.exec(flags);
}
} // namespace

EventLoopWaiter::EventLoopWaiter()
{
    clock_.start();
}

double EventLoopWaiter::elapsedMs() const
{
    return static_cast<double>(clock_.nsecsElapsed()) / 1e6;
}

void EventLoopWaiter::sleepUntil(double deadlineMs)
{
    woken_ = false;
    for (;;) {
        const double remaining = deadlineMs - elapsedMs();
        if (remaining > kFinalStretchMs) {
            // A handler that runs inside may sleep too; the outer sleep is
            // the one wake() ends again once that returns.
            QEventLoop loop;
            QEventLoop *outer = loop_;
            loop_ = &loop;
            runLoopFor(loop, std::floor(remaining - kFinalStretchMs / 2), QEventLoop::AllEvents);
            loop_ = outer;
            if (woken_)
                return;
            continue;
        }
        QCoreApplication::processEvents();
        if (!woken_ && remaining > 0) {
            const double left = deadlineMs - elapsedMs();
            if (left > 0) {
                std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(left + 0.01));
                // A stop pressed during that last stretch is seen before the
                // run goes on to its next statement.
                QCoreApplication::processEvents();
            }
        }
        return;
    }
}

void EventLoopWaiter::pauseUntil(double deadlineMs)
{
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    for (double remaining = deadlineMs - elapsedMs(); remaining > 0; remaining = deadlineMs - elapsedMs()) {
        QEventLoop loop;
        // The line's pace needs no better than a millisecond.
        runLoopFor(loop, std::ceil(remaining), QEventLoop::ExcludeUserInputEvents);
    }
}

void EventLoopWaiter::wake()
{
    woken_ = true;
    if (loop_)
        loop_->quit();
}
