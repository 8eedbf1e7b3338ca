#include "fakerun.h"

#include "packets.h"

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
    if (onPause)
        onPause();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    now = std::max(now, deadlineMs + 0.001);
}

QStringList FakeRun::received(int quietMs)
{
    return packetList(pty.readAvailable(quietMs));
}

bool FakeRun::endedInOrder() const
{
    return settings.MacroExe && !link.isOpen() && host.runningStates == QList<bool>{true, false} &&
           host.addrTexts.value(host.addrTexts.size() - 1) == QStringLiteral("糸冬了");
}
