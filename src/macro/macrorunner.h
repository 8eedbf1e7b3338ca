#pragma once

#include "link/textsender.h"
#include "macro/macrosettings.h"
#include "macro/statement.h"
#include "platform/textlinereader.h"

#include <QObject>
#include <QString>

class RunHost;
class SerialLink;
class Waiter;

// Runs a macro file against a window's serial link: statement after
// statement, each followed by the base wait, pass after pass while REPEAT
// starts the file over, until the file ends, a stop is requested, EXIT ends
// the program, or something fails. Failures end the run in order, with a
// message that names the file, the line or the port.
class MacroRunner : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        NotStarted, // no macro file
        Finished,   // the end of the macro file
        Stopped,    // a stop request
        Failed,     // failureMessage() says why
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

    bool isRunning() const { return running_; }
    qint32 counter() const { return counter_; }
    QString failureMessage() const { return failure_; }

Q_SIGNALS:
    // A statement is about to be executed.
    void statementStarted(qint64 lineNo, const QString &keyword);

private:
    Outcome execute();
    Outcome startRun();
    Outcome executeStatement(const Statement &st, bool *repeat);
    Outcome fail(const QString &message);
    Outcome failAtLine(const Statement &st, const QString &message);
    void endRun();
    void closePort();

    MacroSettings &settings_;
    RunHost &host_;
    SerialLink &link_;
    Waiter &waiter_;
    TextSender sender_;

    bool running_ = false;
    qint32 counter_ = 0;
    qint64 lineNo_ = 0;
    QString baseWait_;
    QString currentAddr_;
    QString macroPath_;
    QString addrPath_; // the address file opened at run start, if any
    TextLineReader macro_;
    TextLineReader addr_;
    QString failure_;
    QString linkFailure_;
    // The port did not drain when it closed; shown after the run.
    QString closeFailure_;
};
