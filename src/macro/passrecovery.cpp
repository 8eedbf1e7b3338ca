// The run's passes as a job: each pass recorded as it ends, and, for a macro
// that names a recovery macro (ONFAIL), the steps after a pass whose screen
// wait ran out: the recovery, then the same pass again (RETRY) or the next.

#include "link/seriallink.h"
#include "link/textsender.h"
#include "macro/macrorunner.h"
#include "macro/runhost.h"
#include "macro/runmessages.h"

#include <limits>

bool MacroRunner::prepareRecovery()
{
    recovery_ = readRecoveryPlan(settings_.MacroFile);
    if (!recovery_.problems.isEmpty()) {
        failure_ = recovery_.problems.first();
        outcome_ = Outcome::Failed;
        return false;
    }
    return recovery_.path.isEmpty() || readTemplates(recovery_.path, recovery_.macroOpensScreen);
}

bool MacroRunner::recoverable() const
{
    // Only what keys can mend: not a port, a source or a file that failed,
    // nor a stop.
    return outcome_ == Outcome::Failed && ranOut_ && !recovery_.path.isEmpty() && settings_.MacroExe &&
           linkFailure_.isEmpty();
}

void MacroRunner::beginPass(bool again)
{
    ranOut_ = false;
    lastEvidence_.clear();
    pass_.taken.clear();
    if (again)
        return;
    pass_ = PassState();
    pass_.counter = counter_;
    pass_.start = QDateTime::currentDateTime();
    pass_.startMs = waiter_.elapsedMs();
    pass_.packetsBefore = packetsSent_;
    pass_.addrLinesBefore = addrPath_.isEmpty() ? 0 : addr_.linesRead();
}

void MacroRunner::endPass(PassRecord::Result result)
{
    if (pass_.recorded)
        return;
    pass_.recorded = true;
    PassRecord record;
    record.counter = pass_.counter;
    const qint64 linesNow = addrPath_.isEmpty() ? 0 : addr_.linesRead();
    if (linesNow > pass_.addrLinesBefore) {
        record.firstAddrLine = pass_.addrLinesBefore + 1;
        record.lastAddrLine = linesNow;
    }
    record.address = pass_.taken.join(QStringLiteral(" / "));
    record.result = result;
    if (!record.done()) {
        record.file = pass_.failure.file;
        record.line = pass_.failure.line;
        record.keyword = pass_.failure.keyword;
        record.message = joinedLines(pass_.failure.reason);
        record.evidence = pass_.evidence;
    }
    record.start = pass_.start;
    record.seconds = (waiter_.elapsedMs() - pass_.startMs) / 1000.0;
    record.packets = packetsSent_ - pass_.packetsBefore;
    record.tries = pass_.tries + 1;
    record.handset = handsetName_;
    lastPassResult_ = result;
    if (record.done()) {
        recentDone_.append(record);
        if (recentDone_.size() > std::max<qsizetype>(1, marks_.size()))
            recentDone_.removeFirst();
    }
    switch (result) {
    case PassRecord::Result::Ok:
        ++passCounts_.ok;
        break;
    case PassRecord::Result::OkAfterRetry:
        ++passCounts_.okAfterRetry;
        break;
    case PassRecord::Result::Failed:
        ++passCounts_.failed;
        break;
    case PassRecord::Result::Stopped:
    case PassRecord::Result::NotDelivered:
        break;
    }
    Q_EMIT passEnded(record);
}

void MacroRunner::passCut()
{
    if (addressFileDone_)
        return;
    pass_.failure = failure_;
    pass_.evidence = lastEvidence_;
    switch (outcome_) {
    case Outcome::Finished:
        endPass(pass_.tries > 0 ? PassRecord::Result::OkAfterRetry : PassRecord::Result::Ok);
        break;
    case Outcome::Stopped:
        endPass(PassRecord::Result::Stopped);
        break;
    case Outcome::Failed:
        endPass(linkFailure_.isEmpty() ? PassRecord::Result::Failed : PassRecord::Result::NotDelivered);
        break;
    case Outcome::NotStarted:
    case Outcome::Exited: // recorded by EXIT
        break;
    }
}

MacroRunner::Flow MacroRunner::afterFailedPass()
{
    pass_.failure = failure_;
    pass_.evidence = lastEvidence_;
    ++failuresInARow_;
    if (failuresInARow_ >= maxFailuresInARow_) {
        endPass(PassRecord::Result::Failed);
        return fail(QStringLiteral("%1 巡続けて失敗したため、ジョブを止めました。回復マクロ「%2」で携帯電話機が巡の始めの"
                                   "状態に戻っていないようです。\n最後の失敗: %3")
                        .arg(failuresInARow_)
                        .arg(recovery_.written, joinedLines(pass_.failure.messageText())),
                    settings_.MacroFile);
    }
    const bool again = pass_.tries < recovery_.retries;
    if (!again) {
        // The pass's lines are its own even when it failed before taking
        // them all: the next pass takes the lines after them.
        const qint64 rest = std::max(0, recovery_.getStrs - getStrsInPass_);
        const qint64 replayed = std::min<qint64>(rest, replay_.size());
        if (!addrPath_.isEmpty() && rest > replayed)
            addr_.skipLines(rest - replayed);
        replay_.clear();
        endPass(PassRecord::Result::Failed);
    }
    if (runRecovery() == Flow::End) {
        endPass(PassRecord::Result::Failed);
        return Flow::End;
    }
    failure_ = RunFailure();
    if (again) {
        ++pass_.tries;
        replay_ = pass_.taken;
        return Flow::Next;
    }
    if (!nextPass())
        return fail(RunMessages::counterFull());
    Q_EMIT passCompleted(counter_, waiter_.elapsedMs() - pass_.startMs, packetsSent_ - pass_.packetsBefore);
    return Flow::Next;
}

MacroRunner::Flow MacroRunner::runRecovery()
{
    // With the job's base wait, which it leaves as it was.
    const float baseWait = baseWait_;
    macro_.close();
    macroPath_ = recovery_.path;
    inRecovery_ = true;
    outcome_ = Outcome::Finished;
    ranOut_ = false;
    const Flow flow = macro_.open(macroPath_) ? runLines()
                                              : fail(RunMessages::macroFileOpen(macroPath_, macro_.errorString()), macroPath_);
    macro_.close();
    inRecovery_ = false;
    baseWait_ = baseWait;
    return flow == Flow::End && outcome_ == Outcome::Finished ? Flow::Next : Flow::End;
}

QString MacroRunner::passText(const QString &text) const
{
    QString result = text;
    result.replace(QLatin1String("{counter}"), QString::number(counter_));
    if (!pass_.taken.isEmpty()) {
        // As SENDSTR typed it: the characters it sends.
        QString typed;
        for (const QChar c : pass_.taken.last()) {
            if (TextSender::packetForCharacter(QString(c)))
                typed += c;
        }
        result.replace(QLatin1String("{address}"), typed);
    }
    return result;
}

bool MacroRunner::restLine()
{
    if (!running_ || !link_.isOpen())
        return linkFailure_.isEmpty();
    closePort();
    if (!closeFailure_.isEmpty() && linkFailure_.isEmpty())
        linkFailure_ = closeFailure_;
    return linkFailure_.isEmpty();
}

QString MacroRunner::passFileName(const QString &name) const
{
    QString result = name;
    result.replace(QLatin1String("{counter}"), QString::number(counter_));
    result.replace(QLatin1String("{handset}"), handsetName_);
    return result;
}

bool MacroRunner::skipDonePasses()
{
    while (donePasses_.contains(counter_)) {
        if (counter_ == std::numeric_limits<qint32>::max())
            return false;
        if (!addrPath_.isEmpty() && recovery_.getStrs > 0)
            addr_.skipLines(recovery_.getStrs);
        ++counter_;
        markPass();
        host_.setCounterText(QString::number(counter_));
    }
    return true;
}

MacroRunner::Flow MacroRunner::takePass()
{
    const std::optional<qint32> counter = passSource_();
    // The port failed while the run was between passes.
    if (!linkFailure_.isEmpty()) {
        if (counter)
            counter_ = *counter;
        return fail(linkFailure_);
    }
    if (!counter) {
        passesDone_ = true;
        return end(Outcome::Finished);
    }
    // The line rested (restLine) opens again.
    if (!link_.isOpen() && !link_.OpenPort()) {
        counter_ = *counter;
        return fail(link_.errorText());
    }
    counter_ = *counter;
    host_.setCounterText(QString::number(counter_));
    // The boundary before this pass is where resuming starts it.
    if (!marks_.isEmpty())
        marks_.last().counter = counter_;
    if (addrPath_.isEmpty() || recovery_.getStrs == 0)
        return Flow::Next;
    // Passes come in any order: a pass given back lies behind the file's
    // place. The place is the start of the pass's own lines.
    const qint64 skip = qint64(counter_) * recovery_.getStrs;
    if (addr_.linesRead() > skip) {
        addr_.close();
        if (!addr_.open(addrPath_))
            return fail(RunMessages::addrFileOpen(addrPath_, addr_.errorString()), addrPath_);
    }
    addr_.skipLines(skip - addr_.linesRead());
    if (addr_.failed())
        return fail(RunMessages::addrFileRead(addrPath_, addr_.errorString()), addrPath_);
    return Flow::Next;
}

void MacroRunner::listUndeliveredPasses()
{
    // The port failed with passes on the line that had reached their end:
    // resuming does them again, and the results say why.
    const qint32 again = resumePoint().passesAgain;
    const qsizetype from = std::max<qsizetype>(0, recentDone_.size() - again);
    for (qsizetype i = from; i < recentDone_.size(); ++i) {
        PassRecord record = recentDone_[i];
        --(record.result == PassRecord::Result::Ok ? passCounts_.ok : passCounts_.okAfterRetry);
        record.result = PassRecord::Result::NotDelivered;
        record.message = QStringLiteral("ポートが途中で使えなくなり、この巡のパケットが届いたことが確かではありません。");
        lastPassResult_ = record.result;
        Q_EMIT passEnded(record);
    }
    recentDone_.clear();
}
