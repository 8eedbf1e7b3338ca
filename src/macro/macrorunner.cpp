#include "macro/macrorunner.h"

#include "link/seriallink.h"
#include "macro/runhost.h"
#include "macro/runmessages.h"
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
    connect(&link_, &SerialLink::packetSent, this, [this] {
        if (running_)
            ++packetsSent_;
    });
    connect(this, &MacroRunner::screenWaitEnded, this, [this](const ScreenWaitReport &report) {
        if (!report.evidence.isEmpty())
            lastEvidence_ = report.evidence;
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
    failure_ = RunFailure();
    passesCompleted_ = 0;
    packetsSent_ = 0;
    linkFailure_.clear();
    closeFailure_.clear();
    marks_.clear();
    runStartBytes_ = link_.port().bytesHandedOver();
    acrossBeforeSwitch_.reset();
    lastTypedAddrLine_ = 0;
    currentAddrLine_ = 0;
    addressFileDone_ = false;
    passesDone_ = false;
    passCounts_ = PassCounts();
    failuresInARow_ = 0;
    replay_.clear();
    recentDone_.clear();
    recovery_ = RecoveryPlan();

    const Outcome outcome = runPasses();
    running_ = false;
    if (outcome == Outcome::Exited)
        return outcome;
    endRun();
    // After a stop or an error the counter box is where the next run goes
    // on from: never past a pass that may not have reached the handset, nor
    // off the address line next due.
    // A run from a pass source lists them also when only the closing found
    // the line gone: the source gives them to another handset.
    const bool lineLost = passSource_ && !closeFailure_.isEmpty();
    if (!marks_.isEmpty() && (outcome == Outcome::Stopped || outcome == Outcome::Failed || lineLost)) {
        const qint32 resume = resumePoint().counter;
        if (resume != counter_)
            host_.setCounterText(QString::number(resume));
        listUndeliveredPasses();
    }
    if (outcome == Outcome::Failed)
        host_.showFailure(failure_);
    if (!closeFailure_.isEmpty())
        host_.showFailure({QString(), 0, QString(), closeFailure_});
    return outcome;
}

bool MacroRunner::startRun()
{
    const QString counterText = passSource_ ? QStringLiteral("0") : host_.counterText();
    const std::optional<qint32> counter = parseWholeNumber(counterText);
    if (!counter) {
        fail(RunMessages::badCounter(counterText));
        return false;
    }
    counter_ = *counter;
    lineNo_ = 0;
    baseWait_ = 0;
    currentAddr_.clear();
    addrPath_.clear();
    host_.setAddrText(QString());

    settings_.CommPort = host_.portText();
    closePort();
    if (!link_.OpenPort()) {
        fail(link_.errorText());
        return false;
    }

    if (!settings_.AddrFile.isEmpty()) {
        const QString path = settings_.AddrFile;
        if (!addr_.open(path)) {
            fail(RunMessages::addrFileOpen(path, addr_.errorString()), path);
            return false;
        }
        addrPath_ = path;
        if (counter_ > 0) {
            const qint64 skipped = addr_.skipLines(counter_);
            if (addr_.failed()) {
                fail(RunMessages::addrFileRead(path, addr_.errorString()), path);
                return false;
            }
            if (skipped < counter_) {
                fail(RunMessages::addrFileShorterThanCounter(path, skipped, counter_), path);
                return false;
            }
        }
    }
    startAddrLines_ = addrPath_.isEmpty() ? 0 : addr_.linesRead();
    runStartBytes_ = link_.port().bytesHandedOver();
    markPass();
    return readTemplates(settings_.MacroFile) && prepareRecovery();
}

MacroRunner::Outcome MacroRunner::runPasses()
{
    if (!startRun())
        return outcome_;
    for (bool firstPass = true, again = false;; firstPass = false) {
        if (!again && passSource_) {
            if (takePass() == Flow::End)
                return outcome_;
        } else if (!again && !skipDonePasses()) {
            fail(RunMessages::counterFull());
            return outcome_;
        }
        beginPass(again);
        again = false;
        if (runPass(firstPass) == Flow::End) {
            if (!recoverable()) {
                passCut();
                return outcome_;
            }
            const int triesBefore = pass_.tries;
            if (afterFailedPass() == Flow::End)
                return outcome_;
            again = pass_.tries > triesBefore;
            continue;
        }
        // A pass may hold nothing that waits: it lasts at least the shortest
        // wait all the same, so that it does not spin and the stop button
        // can act.
        if (settings_.MacroExe)
            waiter_.sleepUntil(pass_.startMs + kShortestWaitMs);
        failuresInARow_ = 0;
        endPass(!linkFailure_.isEmpty() ? PassRecord::Result::NotDelivered
                : pass_.tries > 0       ? PassRecord::Result::OkAfterRetry
                                        : PassRecord::Result::Ok);
        Q_EMIT passCompleted(counter_, waiter_.elapsedMs() - pass_.startMs, packetsSent_ - pass_.packetsBefore);
        if (!linkFailure_.isEmpty()) {
            fail(linkFailure_);
            return outcome_;
        }
        if (!settings_.MacroExe)
            return Outcome::Stopped;
    }
}

MacroRunner::Flow MacroRunner::runPass(bool firstPass)
{
    // Every pass opens the file the settings name now: a macro file chosen
    // during the run takes over at the next REPEAT.
    macroPath_ = settings_.MacroFile;
    getStrsInPass_ = 0;
    if (!macro_.open(macroPath_)) {
        return fail(firstPass ? RunMessages::macroFileOpen(macroPath_, macro_.errorString())
                              : RunMessages::macroFileReopen(macroPath_, macro_.errorString()),
                    macroPath_);
    }
    return runLines();
}

MacroRunner::Flow MacroRunner::runLines()
{
    for (;;) {
        const std::optional<QString> line = macro_.readLine();
        if (!line) {
            if (macro_.failed())
                return fail(RunMessages::macroFileRead(macroPath_, macro_.errorString()), macroPath_);
            return end(Outcome::Finished);
        }
        if (line->isEmpty())
            continue;

        ++lineNo_;
        const Statement st = parseStatement(*line);
        host_.setStatusText(QString::number(lineNo_) + u' ' + st.keyword);
        Q_EMIT statementStarted(macro_.linesRead(), st.keyword);
        // (A recovery macro changed during the run.)
        if (inRecovery_ && !allowedInRecovery(int(st.kind)))
            return failAt(st, QStringLiteral("%1 は回復マクロでは使えません。").arg(st.keyword));

        const Flow flow = step(st);
        if (flow == Flow::End)
            return flow;
        if (!linkFailure_.isEmpty())
            return failAt(st, linkFailure_);
        if (flow == Flow::Repeat) {
            macro_.close();
            return flow;
        }
        WaitSeconds(baseWait_);
        if (!linkFailure_.isEmpty())
            return failAt(st, linkFailure_);
        if (!settings_.MacroExe)
            return end(Outcome::Stopped);
    }
}

MacroRunner::Flow MacroRunner::step(const Statement &st)
{
    using Kind = Statement::Kind;
    switch (st.kind) {
    case Kind::Key:
        return sendKey(st);
    case Kind::BaseWait:
        return setBaseWait(st);
    case Kind::Sleep:
        return sleep(st);
    case Kind::PortNo:
        return switchPort(st);
    case Kind::Repeat:
        return repeat(st);
    case Kind::GetStr:
        return takeAddress(st);
    case Kind::SendStr:
        return typeAddress(st);
    case Kind::String:
        return typeString(st);
    case Kind::Exit:
        return exitProgram(st);
    case Kind::WaitText:
        if (st.text.contains(QLatin1String("{address}")) && getStrsInPass_ == 0)
            return failAt(st, QStringLiteral("WAITTEXT: {address} は、この巡の GETSTR より後でなければ使えません"
                                             "（まだアドレスを読んでいません）。"));
        return screenStatement(st);
    case Kind::Screen:
    case Kind::WaitImage:
    case Kind::WaitGone:
    case Kind::Snapshot:
    case Kind::ReadText:
    case Kind::Display:
        return screenStatement(st);
    case Kind::OnFail: // read before the run
    case Kind::None:
        break;
    }
    return Flow::Next;
}

MacroRunner::Flow MacroRunner::sendKey(const Statement &st)
{
    link_.SendPacket(st.packet);
    return Flow::Next;
}

MacroRunner::Flow MacroRunner::setBaseWait(const Statement &st)
{
    if (!st.isValid())
        return failAt(st, RunMessages::argumentProblem(st));
    baseWait_ = st.seconds;
    return Flow::Next;
}

MacroRunner::Flow MacroRunner::sleep(const Statement &st)
{
    if (!st.isValid())
        return failAt(st, RunMessages::argumentProblem(st));
    WaitSeconds(st.seconds);
    return Flow::Next;
}

MacroRunner::Flow MacroRunner::switchPort(const Statement &st)
{
    if (!st.isValid())
        return failAt(st, RunMessages::argumentProblem(st));
    settings_.CommPort = *st.argument;
    closePort();
    if (!closeFailure_.isEmpty() && !acrossBeforeSwitch_)
        acrossBeforeSwitch_ = link_.port().bytesSurelyAcross();
    if (!link_.OpenPort())
        return failAt(st, link_.errorText());
    host_.setPortText(*st.argument);
    return Flow::Next;
}

MacroRunner::Flow MacroRunner::repeat(const Statement &st)
{
    if (!nextPass())
        return failAt(st, RunMessages::counterFull());
    return Flow::Repeat;
}

bool MacroRunner::nextPass()
{
    if (counter_ == std::numeric_limits<qint32>::max())
        return false;
    ++counter_;
    ++passesCompleted_;
    markPass();
    host_.setCounterText(QString::number(counter_));
    return true;
}

MacroRunner::Flow MacroRunner::takeAddress(const Statement &st)
{
    if (settings_.AddrFile.isEmpty())
        return Flow::Next;
    if (addrPath_.isEmpty())
        return failAt(st, RunMessages::getStrWithoutAddrFile(settings_.AddrFile));
    const bool firstOfPass = getStrsInPass_++ == 0;
    // A pass tried again takes the lines it took before.
    if (!replay_.isEmpty()) {
        currentAddr_ = replay_.takeFirst();
        currentAddrLine_ = pass_.addrLinesBefore + getStrsInPass_;
        pass_.taken.append(currentAddr_);
        return Flow::Next;
    }
    const std::optional<QString> line = addr_.readLine();
    if (!line) {
        if (addr_.failed())
            return failAt(st, RunMessages::addrFileRead(addrPath_, addr_.errorString()));
        // A pass that finds no line for its first GETSTR has no address to
        // type: the passes before it were the whole job. One that took a
        // line already lacks the rest of its own.
        if (firstOfPass) {
            addressFileDone_ = true;
            return end(Outcome::Finished);
        }
        return failAt(st, RunMessages::addrFileEnded(addrPath_, addr_.linesRead() + 1));
    }
    currentAddr_ = *line;
    currentAddrLine_ = addr_.linesRead();
    pass_.taken.append(currentAddr_);
    return Flow::Next;
}

MacroRunner::Flow MacroRunner::typeAddress(const Statement &)
{
    if (currentAddrLine_ > 0)
        lastTypedAddrLine_ = currentAddrLine_;
    sender_.SendCharacters(currentAddr_);
    return Flow::Next;
}

MacroRunner::Flow MacroRunner::typeString(const Statement &st)
{
    sender_.SendString(st.text);
    return Flow::Next;
}

MacroRunner::Flow MacroRunner::exitProgram(const Statement &)
{
    closePort();
    endPass(closeFailure_.isEmpty() ? (pass_.tries > 0 ? PassRecord::Result::OkAfterRetry : PassRecord::Result::Ok)
                                    : PassRecord::Result::NotDelivered);
    macro_.close();
    addr_.close();
    if (!closeFailure_.isEmpty())
        host_.showFailure({QString(), 0, QString(), closeFailure_});
    host_.exitProgram();
    return end(Outcome::Exited);
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

MacroRunner::Flow MacroRunner::end(Outcome outcome)
{
    outcome_ = outcome;
    return Flow::End;
}

MacroRunner::Flow MacroRunner::fail(const QString &reason, const QString &file)
{
    failure_ = {file, 0, QString(), reason};
    return end(Outcome::Failed);
}

MacroRunner::Flow MacroRunner::waitRanOut(const Statement &st, const QString &reason)
{
    failAt(st, reason);
    ranOut_ = true;
    return Flow::End;
}

MacroRunner::Flow MacroRunner::failAt(const Statement &st, const QString &reason)
{
    // The line as an editor counts it, empty lines included: where to mend it.
    failure_ = {macroPath_, macro_.linesRead(), st.keyword, reason};
    return end(Outcome::Failed);
}

void MacroRunner::closePort()
{
    if (!link_.ClosePort() && closeFailure_.isEmpty())
        closeFailure_ = link_.errorText();
}

void MacroRunner::markPass()
{
    marks_.append({link_.port().bytesHandedOver(), counter_, addrPath_.isEmpty() ? startAddrLines_ : addr_.linesRead(),
                   passesCompleted_});
    // Keep the last boundary that surely crossed and those after it.
    const qint64 across = bytesSurelyAcross();
    while (marks_.size() > 1 && marks_.at(1).handedBytes <= across)
        marks_.removeFirst();
}

qint64 MacroRunner::bytesSurelyAcross() const
{
    const qint64 across = link_.port().bytesSurelyAcross();
    return acrossBeforeSwitch_ ? std::min(across, *acrossBeforeSwitch_) : across;
}

MacroRunner::ResumePoint MacroRunner::resumePoint() const
{
    ResumePoint point;
    point.counter = counter_;
    if (marks_.isEmpty())
        return point;
    const qint64 across = bytesSurelyAcross();
    PassMark mark = marks_.first();
    for (const PassMark &m : marks_) {
        if (m.handedBytes <= across)
            mark = m;
    }
    point.passesAgain = passesCompleted_ - mark.passes;
    // Passes from a source are named by their counters alone.
    if (passSource_) {
        point.counter = mark.counter;
        return point;
    }
    // A run that takes addresses goes on at the first line of the pass it
    // resumes with: the counter as the number of lines to skip. Otherwise
    // (or before any line was taken) the counter is the pass count.
    const bool tookAddresses = mark.addrLines != startAddrLines_;
    point.counter = tookAddresses && mark.addrLines <= std::numeric_limits<qint32>::max()
                        ? static_cast<qint32>(mark.addrLines)
                        : mark.counter;
    if (!addrPath_.isEmpty() && (tookAddresses || currentAddrLine_ > 0)) {
        point.nextAddrLine = mark.addrLines + 1;
        if (lastTypedAddrLine_ >= *point.nextAddrLine)
            point.typedAgainUpTo = lastTypedAddrLine_;
    }
    return point;
}

qint64 MacroRunner::packetsDelivered() const
{
    const qint64 across = bytesSurelyAcross() - runStartBytes_;
    return std::clamp<qint64>(across / static_cast<qint64>(KeyPacket::kSize), 0, packetsSent_);
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
