#include "platform/waiter.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QList>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <deque>
#include <memory>
#include <thread>
#include <vector>

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

// The user's clicks and keys, held back while a pause runs and handed on, in
// the order they came, once the pauses are over. Qt's own way of holding
// them back (ExcludeUserInputEvents) holds the window manager's close
// request too, as user input: a window closed in the middle of a text would
// close only after it. Here the close goes through; what a click or a key
// would do waits.
class InputHold : public QObject {
public:
    // The application's one; nullptr before it exists, and on any thread
    // but the application's (user input comes to that one alone; a job on
    // many handsets waits on a thread a handset).
    static InputHold *instance()
    {
        if (!QCoreApplication::instance() || QThread::currentThread() != QCoreApplication::instance()->thread())
            return nullptr;
        static QPointer<InputHold> hold;
        if (!hold && QCoreApplication::instance()) {
            hold = new InputHold(QCoreApplication::instance());
            QCoreApplication::instance()->installEventFilter(hold);
        }
        return hold;
    }

    // A pause begins and ends; a pause at the event loop's level `level`
    // holds the input that comes in its own loop, not in a loop a handler
    // inside it runs (a message box must take its clicks).
    void begin(int level) { pauses_.push_back(level); }
    void end()
    {
        pauses_.pop_back();
        if (pauses_.empty() && !held_.empty())
            QTimer::singleShot(0, this, [this] { handOn(); });
    }

    std::function<void(QObject *, const QEvent &)> observer_;
    std::function<bool(QObject *)> gate_;

    // Hands on what was held, unless a pause runs.
    void handOn()
    {
        while (pauses_.empty() && !held_.empty()) {
            Held next = std::move(held_.front());
            held_.pop_front();
            if (next.receiver && (!gate_ || gate_(next.receiver)))
                QCoreApplication::sendEvent(next.receiver, next.event.get());
        }
    }

protected:
    bool eventFilter(QObject *receiver, QEvent *event) override
    {
        if (pauses_.empty() || !isUserInput(receiver, event))
            return false;
        // A loop a handler runs inside the pause (a modal dialog).
        if (QThread::currentThread()->loopLevel() > pauses_.back() + 1)
            return false;
        held_.push_back(Held{receiver, std::unique_ptr<QEvent>(event->clone())});
        event->accept();
        if (observer_)
            observer_(receiver, *event);
        return true;
    }

private:
    using QObject::QObject;

    // Clicks and keys as the window system hands them to a window, and the
    // shortcuts a key press has chosen (the press itself is then taken).
    static bool isUserInput(QObject *receiver, QEvent *event)
    {
        switch (event->type()) {
        case QEvent::Shortcut:
            return true;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TouchCancel:
        case QEvent::TabletPress:
        case QEvent::TabletMove:
        case QEvent::TabletRelease:
            return receiver->isWindowType() && event->spontaneous();
        default:
            return false;
        }
    }

    struct Held {
        QPointer<QObject> receiver;
        std::unique_ptr<QEvent> event;
    };
    std::deque<Held> held_;
    std::vector<int> pauses_;
};
} // namespace

void observeHeldInput(std::function<void(QObject *receiver, const QEvent &event)> observer)
{
    if (InputHold *hold = InputHold::instance())
        hold->observer_ = std::move(observer);
}

void gateHeldInput(std::function<bool(QObject *receiver)> mayHandOn)
{
    if (InputHold *hold = InputHold::instance())
        hold->gate_ = std::move(mayHandOn);
}

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
    if (InputHold *hold = InputHold::instance())
        hold->handOn();
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
    InputHold *hold = InputHold::instance();
    if (hold)
        hold->begin(QThread::currentThread()->loopLevel());
    QCoreApplication::processEvents();
    for (double remaining = deadlineMs - elapsedMs(); remaining > 0; remaining = deadlineMs - elapsedMs()) {
        QEventLoop loop;
        // The line's pace needs no better than a millisecond.
        runLoopFor(loop, std::ceil(remaining), QEventLoop::AllEvents);
    }
    if (hold)
        hold->end();
}

void EventLoopWaiter::wake()
{
    woken_ = true;
    if (loop_)
        loop_->quit();
}
