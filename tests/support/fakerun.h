#pragma once

#include "link/seriallink.h"
#include "macro/macrorunner.h"
#include "macro/runhost.h"
#include "macro/runscreen.h"
#include "platform/waiter.h"
#include "pseudoterminal.h"
#include "tempfiles.h"

#include <QStringList>
#include <functional>

// A clock that moves only when the run sleeps or the line makes the sender
// pause, so a SLEEP 60 or a long text costs nothing. Each sleep jumps just
// past its deadline unless a hook moved the clock or woke the run itself;
// each pause jumps just past its deadline.
class FakeWaiter : public Waiter {
public:
    double now = 1000.0;
    int sleeps = 0;
    // Called at every sleep with the deadline; returns true when it set `now`
    // itself.
    std::function<bool(double deadline)> onSleep;
    // Called at every pause (the handset may read meanwhile).
    std::function<void()> onPause;
    // The length of every sleep that had a deadline ahead of the clock.
    QList<double> waits;

    double elapsedMs() const override { return now; }
    void sleepUntil(double deadlineMs) override;
    void pauseUntil(double deadlineMs) override;
    void wake() override { woken_ = true; }

private:
    bool woken_ = false;
};

// A window that records what the run shows.
class FakeHost : public RunHost {
public:
    QString counter = QStringLiteral("0");
    QString port = QStringLiteral("1");
    QStringList statuses;
    QStringList counters;
    QStringList addrTexts;
    QList<bool> runningStates;
    QStringList messages;
    std::function<void()> onExit;
    // The screen the run watches; none by default.
    RunScreen *screenForRun = nullptr;
    // False: the lists of statuses, counters and typed texts keep only their
    // last entry (a long run would fill memory with them).
    bool keepHistory = true;

    QString counterText() const override { return counter; }
    void setCounterText(const QString &text) override
    {
        counter = text;
        record(counters, text);
    }
    QString portText() const override { return port; }
    void setPortText(const QString &text) override { port = text; }
    void setStatusText(const QString &text) override { record(statuses, text); }
    void setAddrText(const QString &text) override { record(addrTexts, text); }
    void setRunning(bool running) override { runningStates.append(running); }
    void showMessage(const QString &text) override { messages.append(text); }
    void exitProgram() override
    {
        if (onExit)
            onExit();
    }
    RunScreen *screen() override { return screenForRun; }

private:
    void record(QStringList &list, const QString &text)
    {
        if (!keepHistory)
            list.clear();
        list.append(text);
    }
};

// A run on a fake window and clock against a pseudo-terminal on port 1.
struct FakeRun {
    TempFiles files;
    PseudoTerminal pty;
    MacroSettings settings;
    FakeHost host;
    FakeWaiter waiter;
    SerialLink link{[this] { return settings.CommPort; }, &waiter};
    MacroRunner runner{settings, host, link, waiter};

    FakeRun() { pty.bindPort(1); }
    // Writes the macro (lines joined by CR LF, in Shift-JIS) and names it.
    void setMacro(const QStringList &lines) { settings.MacroFile = files.writeShiftJis("macro.txt", lines.join("\r\n")); }
    void setAddresses(const QStringList &lines) { settings.AddrFile = files.writeShiftJis("addr.txt", lines.join("\r\n")); }
    MacroRunner::Outcome run() { return runner.RunMacro(); }
    // The packets that reached the handset, as spaced hex, one per packet.
    QStringList received(int quietMs = 50);
    // The run-end steps have been carried out.
    bool endedInOrder() const;
};
