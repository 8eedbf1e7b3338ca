#include "macro/macrorunner.h"

#include "link/seriallink.h"
#include "macro/runhost.h"
#include "macro/runmessages.h"
#include "macro/seconds.h"
#include "platform/portnumber.h"
#include "platform/waiter.h"

#include <algorithm>
#include <limits>

namespace {
const QString kRunEnded = QStringLiteral("糸冬了");
} // namespace

MacroRunner::MacroRunner(MacroSettings &settings, RunHost &host, SerialLink &link, Waiter &waiter, QObject *parent)
    : QObject(parent), settings_(settings), host_(host), link_(link), waiter_(waiter),
      sender_(link, [&host](const QString &text) { host.setAddrText(text); })
{
    connect(&link_, &SerialLink::failed, this, [this](const QString &message) {
        if (!running_)
            return;
        linkFailure_ = message;
        waiter_.wake();
    });
}

MacroRunner::Outcome MacroRunner::RunMacro()
{
    if (settings_.MacroFile.isEmpty()) {
        host_.showMessage(RunMessages::noMacroFile());
        return Outcome::NotStarted;
    }
    settings_.MacroExe = true;
    host_.setRunning(true);
    running_ = true;
    failure_.clear();
    linkFailure_.clear();
    closeFailure_.clear();

    const Outcome outcome = execute();
    running_ = false;
    if (outcome == Outcome::Exited)
        return outcome;
    endRun();
    if (outcome == Outcome::Failed)
        host_.showMessage(failure_);
    if (!closeFailure_.isEmpty())
        host_.showMessage(closeFailure_);
    return outcome;
}

MacroRunner::Outcome MacroRunner::startRun()
{
    const QString counterText = host_.counterText();
    const std::optional<qint32> counter = parseWholeNumber(counterText);
    if (!counter)
        return fail(RunMessages::badCounter(counterText));
    counter_ = *counter;
    lineNo_ = 0;
    baseWait_ = QStringLiteral("0");
    currentAddr_.clear();
    addrPath_.clear();
    host_.setAddrText(QString());

    settings_.CommPort = host_.portText();
    closePort();
    if (!link_.OpenPort())
        return fail(link_.errorText());

    if (!settings_.AddrFile.isEmpty()) {
        if (!addr_.open(settings_.AddrFile))
            return fail(RunMessages::addrFileOpen(settings_.AddrFile, addr_.errorString()));
        addrPath_ = settings_.AddrFile;
        if (counter_ > 0) {
            const qint64 skipped = addr_.skipLines(counter_);
            if (addr_.failed())
                return fail(RunMessages::addrFileRead(addrPath_, addr_.errorString()));
            if (skipped < counter_)
                return fail(RunMessages::addrFileShorterThanCounter(addrPath_, skipped, counter_));
        }
    }
    return Outcome::Finished;
}

MacroRunner::Outcome MacroRunner::execute()
{
    if (const Outcome start = startRun(); start != Outcome::Finished)
        return start;

    for (bool firstPass = true;; firstPass = false) {
        const double passStart = waiter_.elapsedMs();
        // Every pass opens the file the settings name now: a macro file chosen
        // during the run takes over at the next REPEAT.
        macroPath_ = settings_.MacroFile;
        if (!macro_.open(macroPath_)) {
            return fail(firstPass ? RunMessages::macroFileOpen(macroPath_, macro_.errorString())
                                  : RunMessages::macroFileReopen(macroPath_, macro_.errorString()));
        }
        for (bool repeat = false; !repeat;) {
            const std::optional<QString> line = macro_.readLine();
            if (!line) {
                if (macro_.failed())
                    return fail(RunMessages::macroFileRead(macroPath_, macro_.errorString()));
                return Outcome::Finished;
            }
            if (line->isEmpty())
                continue;

            ++lineNo_;
            const Statement st = parseStatement(*line);
            host_.setStatusText(QString::number(lineNo_) + u' ' + st.keyword);
            Q_EMIT statementStarted(lineNo_, st.keyword);

            if (const Outcome done = executeStatement(st, &repeat); done != Outcome::Finished)
                return done;
            if (!linkFailure_.isEmpty())
                return failAtLine(st, linkFailure_);
            if (repeat)
                break;
            WaitSeconds(parseSeconds(baseWait_).value_or(0.0f));
            if (!linkFailure_.isEmpty())
                return failAtLine(st, linkFailure_);
            if (!settings_.MacroExe)
                return Outcome::Stopped;
        }
        macro_.close();
        // A pass may hold nothing that waits: it lasts at least the shortest
        // wait all the same, so that it does not spin and the stop button
        // can act.
        if (settings_.MacroExe)
            waiter_.sleepUntil(passStart + kShortestWaitMs);
        if (!linkFailure_.isEmpty())
            return fail(linkFailure_);
        if (!settings_.MacroExe)
            return Outcome::Stopped;
    }
}

MacroRunner::Outcome MacroRunner::executeStatement(const Statement &st, bool *repeat)
{
    using Kind = Statement::Kind;
    switch (st.kind) {
    case Kind::Key:
        link_.SendPacket(st.packet);
        break;
    case Kind::BaseWait:
    case Kind::Sleep: {
        if (!st.argument)
            return failAtLine(st, RunMessages::secondsMissing(st.keyword));
        const std::optional<float> seconds = parseSeconds(*st.argument);
        if (!seconds)
            return failAtLine(st, RunMessages::secondsBad(st.keyword, *st.argument));
        if (st.kind == Kind::BaseWait)
            baseWait_ = *st.argument;
        else
            WaitSeconds(*seconds);
        break;
    }
    case Kind::PortNo: {
        if (!st.argument)
            return failAtLine(st, RunMessages::portMissing());
        if (!parseWholeNumber(*st.argument))
            return failAtLine(st, RunMessages::portBad(*st.argument));
        settings_.CommPort = *st.argument;
        closePort();
        if (!link_.OpenPort())
            return failAtLine(st, link_.errorText());
        host_.setPortText(*st.argument);
        break;
    }
    case Kind::Repeat:
        if (counter_ == std::numeric_limits<qint32>::max())
            return failAtLine(st, RunMessages::counterFull());
        ++counter_;
        host_.setCounterText(QString::number(counter_));
        *repeat = true;
        break;
    case Kind::GetStr: {
        if (settings_.AddrFile.isEmpty())
            break;
        if (addrPath_.isEmpty())
            return failAtLine(st, RunMessages::getStrWithoutAddrFile(settings_.AddrFile));
        const std::optional<QString> line = addr_.readLine();
        if (!line) {
            if (addr_.failed())
                return failAtLine(st, RunMessages::addrFileRead(addrPath_, addr_.errorString()));
            return failAtLine(st, RunMessages::addrFileEnded(addrPath_, addr_.linesRead() + 1));
        }
        currentAddr_ = *line;
        break;
    }
    case Kind::SendStr:
        sender_.SendCharacters(currentAddr_);
        break;
    case Kind::String:
        sender_.SendString(st.argument.value_or(QString()));
        break;
    case Kind::Exit:
        closePort();
        macro_.close();
        addr_.close();
        if (!closeFailure_.isEmpty())
            host_.showMessage(closeFailure_);
        host_.exitProgram();
        return Outcome::Exited;
    case Kind::None:
        break;
    }
    return Outcome::Finished;
}

void MacroRunner::WaitSeconds(float seconds)
{
    const double target = static_cast<double>(seconds) * 1000.0;
    // The first test comes before any time has passed: a negative wait
    // returns at once, without letting events run.
    if (target < 0.0)
        return;
    const double length = std::max(target, kShortestWaitMs);
    const double start = waiter_.elapsedMs();
    double elapsed = 0.0;
    for (;;) {
        if (elapsed > length)
            return;
        if (!settings_.MacroExe || !linkFailure_.isEmpty())
            return;
        waiter_.sleepUntil(start + length);
        elapsed = waiter_.elapsedMs() - start;
    }
}

void MacroRunner::RequestStop()
{
    if (!running_ || !settings_.MacroExe)
        return;
    settings_.MacroExe = false;
    waiter_.wake();
}

void MacroRunner::StopAtOnce()
{
    if (!running_)
        return;
    settings_.MacroExe = false;
    // Whatever the statement in progress still sends finds the port closed.
    closePort();
    waiter_.wake();
}

MacroRunner::Outcome MacroRunner::fail(const QString &message)
{
    failure_ = message;
    return Outcome::Failed;
}

MacroRunner::Outcome MacroRunner::failAtLine(const Statement &st, const QString &message)
{
    // The line as an editor counts it, empty lines included: where to mend it.
    return fail(RunMessages::atLine(macroPath_, macro_.linesRead(), st.keyword, message));
}

void MacroRunner::closePort()
{
    if (!link_.ClosePort() && closeFailure_.isEmpty())
        closeFailure_ = link_.errorText();
}

void MacroRunner::endRun()
{
    macro_.close();
    addr_.close();
    closePort();
    settings_.MacroExe = true;
    host_.setRunning(false);
    host_.setAddrText(kRunEnded);
}
