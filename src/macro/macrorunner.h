#pragma once

#include "link/textsender.h"
#include "macro/macrosettings.h"
#include "macro/passrecord.h"
#include "macro/recovery.h"
#include "macro/runfailure.h"
#include "macro/runscreen.h"
#include "macro/statement.h"
#include "platform/textlinereader.h"

#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <functional>
#include <optional>

class RunHost;
class SerialLink;
class Waiter;

// Runs a macro file against a window's serial link: statement after
// statement, each followed by the base wait, pass after pass while REPEAT
// starts the file over, until the file ends, a stop is requested, EXIT ends
// the program, or something fails. Failures end the run in order, with a
// RunFailure that names the file, the line or the port. A macro that names a
// recovery macro (ONFAIL) is the exception: a pass whose screen wait runs
// out is recorded as failed, the recovery brings the handset back, and the
// job runs the pass again (RETRY) or goes on with the next one.
class MacroRunner : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        NotStarted, // no macro file
        Finished,   // the end of the macro file
        Stopped,    // a stop request
        Failed,     // failure() says why
        Exited,     // EXIT
    };

    MacroRunner(MacroSettings &settings, RunHost &host, SerialLink &link, Waiter &waiter, QObject *parent = nullptr);

    // Runs the macro file that the settings name; returns when the run has
    // ended. Windows stay usable meanwhile: every wait lets events run.
    Outcome RunMacro();

    // Waits `seconds`, letting events run; returns early once a stop is
    // requested or the link failed. A negative wait returns at once; a wait
    // of 0, or one shorter than kShortestWaitMs, lasts kShortestWaitMs, so
    // that events run at least once and the stop button can act.
    void WaitSeconds(float seconds);

    // The stop button: while a run goes on (MacroExe True), asks it to end
    // after the statement in progress.
    void RequestStop();
    // Ends the run at once, between two packets: the port is closed after
    // what was handed to the line has arrived, and the rest of the statement
    // in progress is not sent. For the ends that cannot wait for a long
    // text (SIGTERM, a second Ctrl-C).
    void StopAtOnce();

    static constexpr double kShortestWaitMs = 10.0;

    // Where a job that this run did not finish goes on: the counter that
    // makes the next run start with the first pass not surely done.
    struct ResumePoint {
        qint32 counter = 0;
        // Passes this run completed that resuming there does again: the
        // port failed before their packets had surely crossed the line.
        qint32 passesAgain = 0;
        // When the run reads an address file: the line (from 1) the resumed
        // run takes first, and the last line this run typed when that is at
        // or past it (typed again by resuming: an address typed twice can be
        // mended, one skipped is lost).
        std::optional<qint64> nextAddrLine;
        std::optional<qint64> typedAgainUpTo;
    };
    // Of the last run.
    ResumePoint resumePoint() const;

    const MacroSettings &settings() const { return settings_; }
    bool isRunning() const { return running_; }
    qint32 counter() const { return counter_; }
    // Of the run in progress, or of the last one: the passes that reached
    // REPEAT, and the packets handed to the line.
    qint32 passesCompleted() const { return passesCompleted_; }
    qint64 packetsSent() const { return packetsSent_; }
    // Of those, the packets that surely crossed the line: fewer only when
    // the port failed before the line had carried them all.
    qint64 packetsDelivered() const;
    const RunFailure &failure() const { return failure_; }
    // Whether the last run ended because the first GETSTR of a pass found
    // the address file at its end: every address has had its pass, and the
    // job is done (outcome Finished).
    bool addressFileDone() const { return addressFileDone_; }

    // The passes of the run in progress, or of the last one, by how they
    // ended (passEnded).
    struct PassCounts {
        qint32 ok = 0;
        qint32 failed = 0;
        qint32 okAfterRetry = 0;
    };
    PassCounts passCounts() const { return passCounts_; }
    // How the last pass that ended did (at passCompleted: that pass).
    PassRecord::Result lastPassResult() const { return lastPassResult_; }
    // Failed passes one after another that stop a job with a recovery
    // macro: the recovery does not bring the handset back. At least 1.
    void setMaxFailuresInARow(int count) { maxFailuresInARow_ = std::max(1, count); }
    static constexpr int kMaxFailuresInARow = 5;
    // Passes (by counter) an earlier run of the job has done: a resumed run
    // passes over them, with their address lines, without sending.
    void setDonePasses(const QSet<qint32> &counters) { donePasses_ = counters; }
    // Where the run takes its passes from, instead of going on from its
    // counter: the counter of the next pass (pass counter c takes the
    // address lines after c × the GETSTRs of a pass), none when no pass is
    // left for this run (it ends then as at the end of the address file).
    // The counter box is not read; done passes are the source's business.
    using PassSource = std::function<std::optional<qint32>()>;
    void setPassSource(PassSource source) { passSource_ = std::move(source); }
    // Whether the last run ended because its pass source had no pass left.
    bool passesDone() const { return passesDone_; }
    // For a pass source between passes, while no pass is there to take:
    // closes the port once the line has carried everything (the next pass
    // opens it again). False when the line was lost meanwhile: the run then
    // fails at its next pass, with the passes that may not have arrived.
    bool restLine();
    // `text` of a WAITTEXT with {address} (the line GETSTR took last in this
    // pass) and {counter} (the pass counter) put in.
    QString passText(const QString &text) const;
    // The handset this run drives, in a job on many handsets: {handset} in
    // the names of SNAPSHOT's and READTEXT's files, in evidence file names
    // and in the pass records.
    void setHandsetName(const QString &name) { handsetName_ = name; }
    const QString &handsetName() const { return handsetName_; }
    // `name` of a file the run writes, with {counter} and {handset} put in.
    QString passFileName(const QString &name) const;
    // Whether the run's port, at the end of the last run, closed without
    // delivering everything handed to it (the line did not drain, or the
    // device went away); the run has shown why.
    bool closeFailed() const { return !closeFailure_.isEmpty(); }

Q_SIGNALS:
    // A statement is about to be executed: its line of the macro file, as
    // an editor counts it (empty lines included), in every pass.
    void statementStarted(qint64 lineNo, const QString &keyword);
    // A pass reached REPEAT: the counter now, how long the pass took from its
    // first statement to the next pass's, and the packets it sent.
    void passCompleted(qint32 counter, double durationMs, qint64 packets);
    // A screen wait starts (its line, keyword, template or text, level or
    // region; nothing of how it ends yet).
    void screenWaitStarted(const ScreenWaitReport &report);
    // A screen wait ended (found, run out, stopped or failed).
    void screenWaitEnded(const ScreenWaitReport &report);
    // A pass ended: at its REPEAT (after passCompleted), at the macro's
    // end or EXIT, when it failed, or when a stop or an error cut it. Not
    // for the pass whose first GETSTR finds the address file at its end.
    void passEnded(const PassRecord &record);

private:
    // What a statement leaves the run to do.
    enum class Flow {
        Next,   // the base wait, then the next statement
        Repeat, // the next pass
        End,    // the run ends with outcome_
    };

    Outcome runPasses();
    bool startRun();
    Flow runPass(bool firstPass);
    // The statements of the open macro file, to its end.
    Flow runLines();
    Flow step(const Statement &st);
    // The recovery macro (recovery.cpp): read before the first packet; the
    // steps after a pass whose screen wait ran out.
    bool prepareRecovery();
    bool recoverable() const;
    Flow afterFailedPass();
    Flow runRecovery();
    // A pass begins (a try of it again: `again`), ends with `result`.
    void beginPass(bool again);
    void endPass(PassRecord::Result result);
    // The run ended in the middle of a pass: how that pass ended.
    void passCut();
    // The counter to the next pass, as REPEAT does; false when it is full.
    bool nextPass();

    Flow sendKey(const Statement &st);
    Flow setBaseWait(const Statement &st);
    Flow sleep(const Statement &st);
    Flow switchPort(const Statement &st);
    Flow repeat(const Statement &st);
    Flow takeAddress(const Statement &st);
    Flow typeAddress(const Statement &st);
    Flow typeString(const Statement &st);
    Flow exitProgram(const Statement &st);
    // The screen's statements and the templates read at the start
    // (screenstatements.cpp).
    Flow screenStatement(const Statement &st);
    Flow openScreen(const Statement &st, RunScreen &screen);
    Flow waitForPicture(const Statement &st, RunScreen &screen);
    Flow snapshot(const Statement &st, RunScreen &screen);
    Flow readScreenText(const Statement &st, RunScreen &screen);
    // Waits until every packet handed over has crossed the line.
    void waitForTheLine();
    // Looks at a screen wait started on `screen` until it is done, the run
    // is stopped, the wait cannot go on (`failureText` says why) or
    // `deadline` has come; its state then.
    RunScreen::WaitState watchScreen(const Statement &st, RunScreen &screen, double deadline, QString *failureText);
    // Saves the newest frame as a failed wait's evidence; the sentence for
    // the message, and the file in `savedPath` when it was saved.
    QString saveEvidence(RunScreen &screen, const QString &name, QString *savedPath, const QRect &box = {},
                         const QRect &part = {});
    // Reads the templates of the macro at `path` (the run's, or its
    // recovery macro, for which `sourceSet` says the run's macro opens a
    // source itself).
    bool readTemplates(const QString &path, bool sourceSet = false);
    QString besideMacro(const QString &name) const;

    Flow end(Outcome outcome);
    // The run fails: `reason` is about the file `file` (or nothing, when
    // empty) as a whole.
    Flow fail(const QString &reason, const QString &file = QString());
    // The run fails at statement `st` of the macro file's current line.
    Flow failAt(const Statement &st, const QString &reason);
    // The same for a screen wait that ran out: a pass a recovery can mend.
    Flow waitRanOut(const Statement &st, const QString &reason);
    void closePort();
    void endRun();
    // A pass boundary (the run's start, each REPEAT), to resume from.
    void markPass();
    qint64 bytesSurelyAcross() const;

    MacroSettings &settings_;
    RunHost &host_;
    SerialLink &link_;
    Waiter &waiter_;
    TextSender sender_;

    bool running_ = false;
    Outcome outcome_ = Outcome::NotStarted;
    qint32 counter_ = 0;
    qint32 passesCompleted_ = 0;
    qint64 packetsSent_ = 0;
    qint64 lineNo_ = 0;
    int getStrsInPass_ = 0;
    bool addressFileDone_ = false;

    // The pass in progress.
    struct PassState {
        qint32 counter = 0;
        QDateTime start;
        double startMs = 0;
        qint64 packetsBefore = 0;
        qint64 addrLinesBefore = 0;
        QStringList taken; // address lines taken by this try
        int tries = 0;     // tries before this one
        RunFailure failure;
        QString evidence;
        bool recorded = false;
    };
    PassState pass_;
    PassCounts passCounts_;
    PassRecord::Result lastPassResult_ = PassRecord::Result::Ok;
    // The last passes recorded done, for those the line may not have
    // carried after all (listed again as not delivered at the run's end).
    QList<PassRecord> recentDone_;
    void listUndeliveredPasses();
    RecoveryPlan recovery_;
    bool inRecovery_ = false;
    bool ranOut_ = false; // the failure is a screen wait that ran out
    QString lastEvidence_;
    QStringList replay_; // the lines a pass tried again takes again
    int failuresInARow_ = 0;
    int maxFailuresInARow_ = kMaxFailuresInARow;
    QSet<qint32> donePasses_;
    // Passes over the done passes at the counter; false when the counter
    // is full.
    bool skipDonePasses();
    // The next pass from the pass source, with the address file at its
    // first line; Flow::End when none is left or the file fails.
    Flow takePass();
    PassSource passSource_;
    QString handsetName_;
    bool passesDone_ = false;
    float baseWait_ = 0;
    QString currentAddr_;
    QString macroPath_;
    QString addrPath_; // the address file opened at run start, if any
    TextLineReader macro_;
    TextLineReader addr_;
    RunFailure failure_;
    QString linkFailure_;
    // The port did not drain when it closed; shown after the run.
    QString closeFailure_;

    // The pass boundaries whose packets may not all have crossed the line
    // yet, and the last one before them that surely did.
    struct PassMark {
        qint64 handedBytes = 0; // handed to the line by then
        qint32 counter = 0;
        qint64 addrLines = 0; // address lines taken or skipped by then
        qint32 passes = 0;
    };
    QList<PassMark> marks_;
    qint64 startAddrLines_ = 0;
    qint64 runStartBytes_ = 0;
    qint64 lastTypedAddrLine_ = 0;
    qint64 currentAddrLine_ = 0;
    // What had surely crossed when a port that failed to drain was left for
    // another (PORTNO): nothing handed over later counts as across.
    std::optional<qint64> acrossBeforeSwitch_;
};
