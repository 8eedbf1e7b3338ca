#pragma once

#include "macro/runfailure.h"

class RunScreen;

#include <QString>

// What a run needs of the window it runs for: the controls it reads and
// writes, a message box and the end of the program. The main window
// implements it with its widgets; a command-line front end with the terminal.
class RunHost {
public:
    virtual ~RunHost() = default;

    // The pass counter box (read at run start, written at every REPEAT).
    virtual QString counterText() const = 0;
    virtual void setCounterText(const QString &text) = 0;
    // The port box (read at run start, written by PORTNO).
    virtual QString portText() const = 0;
    virtual void setPortText(const QString &text) = 0;
    // The statement line: line number, one space, keyword.
    virtual void setStatusText(const QString &text) = 0;
    // The text being typed; "糸冬了" after a run.
    virtual void setAddrText(const QString &text) = 0;
    // True at run start (run button off, stop button on), false at run end.
    virtual void setRunning(bool running) = 0;
    // A modal message with an OK button; returns when the user has read it.
    virtual void showMessage(const QString &text) = 0;
    // Why the run ended on an error (or what it could not deliver); by
    // default the message box's text.
    virtual void showFailure(const RunFailure &failure) { showMessage(failure.messageText()); }
    // EXIT: the port is closed already; end the program at once. When this
    // returns (tests), the run returns without its run-end steps.
    virtual void exitProgram() = 0;
    // The screen the run watches (SCREEN, WAITIMAGE, WAITGONE, SNAPSHOT);
    // none by default, and then those statements fail.
    virtual RunScreen *screen() { return nullptr; }
};
