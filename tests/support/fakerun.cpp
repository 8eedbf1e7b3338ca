#include "fakerun.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>

void FakeWaiter::sleepUntil(double deadlineMs)
{
    ++sleeps;
    woken_ = false;
    if (deadlineMs > now)
        waits.append(deadlineMs - now);
    const bool clockSet = onSleep && onSleep(deadlineMs);
    QCoreApplication::processEvents();
    if (woken_ || clockSet)
        return;
    if (deadlineMs >= now)
        now = deadlineMs + 0.001;
}

void FakeWaiter::pauseUntil(double deadlineMs)
{
    ++pauses;
    if (onPause)
        onPause();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    now = std::max(now, deadlineMs + 0.001);
}

void FakeHost::setCounterText(const QString &text)
{
    counter = text;
    record(counters, text);
}

void FakeHost::record(QStringList &list, const QString &text)
{
    if (!keepHistory)
        list.clear();
    list.append(text);
}

void FakeHost::exitProgram()
{
    exited = true;
    if (onExit)
        onExit();
}

FakeRun::FakeRun()
{
    pty.bindPort(1);
}

void FakeRun::setMacro(const QStringList &lines)
{
    settings.MacroFile = files.writeShiftJis(QStringLiteral("macro.txt"), lines.join(QStringLiteral("\r\n")));
}

void FakeRun::setAddresses(const QStringList &lines)
{
    settings.AddrFile = files.writeShiftJis(QStringLiteral("addr.txt"), lines.join(QStringLiteral("\r\n")));
}

QStringList FakeRun::received(int quietMs)
{
    const QByteArray bytes = pty.readAvailable(quietMs);
    QStringList list;
    for (qsizetype i = 0; i < bytes.size(); i += 10)
        list.append(QString::fromLatin1(bytes.mid(i, 10).toHex(' ').toUpper()));
    return list;
}

bool FakeRun::endedInOrder() const
{
    return settings.MacroExe && !link.isOpen() && host.runningStates == QList<bool>{true, false} &&
           host.addrTexts.value(host.addrTexts.size() - 1) == QStringLiteral("糸冬了");
}
