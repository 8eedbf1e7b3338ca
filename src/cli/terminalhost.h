#pragma once

#include "macro/runhost.h"

#include <QString>

class JobProgress;
class RunScreen;

// "FILE:LINE: error: reason" on one line, like quillonemu-cli check; for a
// failure about no file "error: reason" (to follow the command's name).
QString failureLine(const RunFailure &failure);

// The run's window on the terminal. Progress (pass counter, the job's
// progress, statement line, typed text) goes to standard output: on a
// terminal as one status line that is rewritten in place, elsewhere as plain
// lines. Messages go to standard
// error with the same text the window's message boxes show; nothing waits
// for the user.
class TerminalHost : public RunHost {
public:
    TerminalHost(const QString &counter, const QString &port);

    QString counterText() const override { return counter_; }
    void setCounterText(const QString &text) override;
    QString portText() const override { return port_; }
    void setPortText(const QString &text) override;
    void setStatusText(const QString &text) override;
    void setAddrText(const QString &text) override;
    void setRunning(bool running) override { running_ = running; }
    void showMessage(const QString &text) override;
    // "FILE:LINE: error: reason" on one line, like quillonemu-cli check; a
    // failure about no file is prefixed with the command's name.
    void showFailure(const RunFailure &failure) override;
    // The port is closed already; the command ends once the run returns.
    void exitProgram() override {}
    RunScreen *screen() override { return screen_; }
    void setScreen(RunScreen *screen) { screen_ = screen; }

    // Leaves the status line, so that what follows starts on a line of its own.
    void endStatusLine();

    // The job's progress, shown from now on (none: a run of one pass).
    void setProgress(const JobProgress *progress) { progress_ = progress; }
    // The progress moved on by a pass that took `passMs`: the status line
    // shows it, or one line tells it.
    void passCompleted(double passMs);

private:
    void showStatusLine();

    QString counter_;
    QString port_;
    QString status_;
    QString typed_;
    bool running_ = false;
    const JobProgress *progress_ = nullptr;
    bool live_;              // standard output is a terminal
    bool statusShown_ = false;
    RunScreen *screen_ = nullptr;
};
