#pragma once

#include <QObject>
#include <QPointer>

// Deletes a window only once none of its handlers is running. A send that
// waits for the line lets a window close through (see Waiter::pauseUntil),
// so a keypad window can be closed from inside one of its own handlers; it
// must not be deleted under them.
class UnloadGuard {
public:
    explicit UnloadGuard(QObject *window) : window_(window) {}

    // Held by a handler for as long as it runs.
    class Busy {
    public:
        explicit Busy(UnloadGuard &guard) : guard_(guard) { ++guard_.busy_; }
        ~Busy()
        {
            if (--guard_.busy_ == 0 && guard_.unloadPending_ && guard_.window_)
                guard_.window_->deleteLater();
        }
        Busy(const Busy &) = delete;
        Busy &operator=(const Busy &) = delete;

    private:
        UnloadGuard &guard_;
    };

    // Deletes the window now (at the next turn of the event loop) or, while
    // a handler runs, once the last one has returned.
    void unload()
    {
        if (busy_ > 0)
            unloadPending_ = true;
        else if (window_)
            window_->deleteLater();
    }

private:
    QPointer<QObject> window_;
    int busy_ = 0;
    bool unloadPending_ = false;
};
