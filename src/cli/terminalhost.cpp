#include "cli/terminalhost.h"

#include "console/console.h"
#include "macro/progresstext.h"
#include "macro/characters.h"

#include <QDateTime>

namespace {
// Back to the start of the line and clear it.
const QString kRewriteLine = QStringLiteral("\r\x1b[K");
} // namespace

TerminalHost::TerminalHost(const QString &counter, const QString &port)
    : counter_(counter), port_(port), live_(Console::stdoutIsTerminal())
{
}

void TerminalHost::setCounterText(const QString &text)
{
    counter_ = text;
    if (live_)
        showStatusLine();
}

void TerminalHost::setPortText(const QString &text)
{
    port_ = text;
    if (live_)
        showStatusLine();
    else
        Console::out(QStringLiteral("ポート %1").arg(text));
}

void TerminalHost::setStatusText(const QString &text)
{
    status_ = text;
    if (live_)
        showStatusLine();
    else
        Console::out(QStringLiteral("カウンタ %1  %2").arg(counter_, text));
}

void TerminalHost::setAddrText(const QString &text)
{
    // Outside a run the text is the window's "run ended" mark; the command
    // says that in its own words.
    if (!running_)
        return;
    typed_ = text;
    if (live_)
        showStatusLine();
    else if (!text.isEmpty())
        Console::out(QStringLiteral("  入力「%1」").arg(text));
}

void TerminalHost::showMessage(const QString &text)
{
    endStatusLine();
    Console::report(QStringLiteral("run"), joinedLines(text));
}

QString failureLine(const RunFailure &failure)
{
    const QString reason = joinedLines(failure.reason);
    if (failure.file.isEmpty())
        return QStringLiteral("error: %1").arg(reason);
    if (failure.line > 0)
        return QStringLiteral("%1:%2: error: %3").arg(failure.file, QString::number(failure.line), reason);
    return QStringLiteral("%1: error: %2").arg(failure.file, reason);
}

void TerminalHost::showFailure(const RunFailure &failure)
{
    endStatusLine();
    if (failure.file.isEmpty())
        Console::report(QStringLiteral("run"), failureLine(failure));
    else
        Console::err(failureLine(failure));
}

void TerminalHost::passCompleted(double passMs)
{
    if (!progress_)
        return;
    const double now = double(QDateTime::currentMSecsSinceEpoch());
    if (live_)
        showStatusLine();
    else
        Console::out(ProgressText::passLine(*progress_, passMs, now));
}

void TerminalHost::showStatusLine()
{
    // The job's progress, when shown, follows the counter its passes move.
    QString line = progress_ ? ProgressText::counterField(*progress_, double(QDateTime::currentMSecsSinceEpoch()))
                             : QStringLiteral("カウンタ %1").arg(counter_);
    line += QStringLiteral(" | ポート %1 | %2").arg(port_, status_);
    if (!typed_.isEmpty())
        line += QStringLiteral(" | 入力「%1」").arg(typed_);
    Console::writeOut(kRewriteLine + Console::fitWidth(visibleText(line), Console::terminalColumns() - 1));
    statusShown_ = true;
}

void TerminalHost::endStatusLine()
{
    if (statusShown_)
        Console::writeOut(QStringLiteral("\n"));
    statusShown_ = false;
}
