#pragma once

#include "link/seriallink.h"
#include "macro/jobprogress.h"
#include "macro/macrorunner.h"
#include "macro/macrosettings.h"
#include "macro/passdealer.h"
#include "macro/passrecord.h"
#include "macro/runfailure.h"
#include "rack/handsetsfile.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QThread;

// One job on many handsets: what it runs and on which handsets.
struct HandsetsRun {
    MacroSettings settings; // the macro and the address file
    QList<HandsetEntry> handsets;
    // The passes, by counter: first to last (none: without end), less done.
    qint32 firstCounter = 0;
    std::optional<qint32> lastCounter;
    QSet<qint32> donePasses;
    bool repeats = false;
    // Where the evidence pictures of failed waits go (empty: the system's
    // temporary folder).
    QString evidenceFolder;
    std::optional<int> maxFailuresInARow;
};

// What the job shows of one handset.
struct HandsetState {
    std::optional<qint32> counter; // the pass it is doing
    QString statement;
    // Passes it ended (ok or failed) and failed, less those it gave back.
    QSet<qint32> ended;
    QSet<qint32> failed;
    QString left; // why it left the job; empty while it is in it
    bool running = false;
};

// The job's passes on the handsets of a handsets file. Every handset runs
// the same macro in a thread of its own, with its own runner, serial link
// and screen; the passes are dealt out one at a time to whichever handset
// is free. A handset that fails (its port, its screen, its recovery, too
// many failures in a row) leaves the job, and the pass it was doing goes to
// the others. No printing and no widgets: the command line and the main
// window show what its signals say.
class HandsetsJob : public QObject {
    Q_OBJECT
public:
    explicit HandsetsJob(const HandsetsRun &run, QObject *parent = nullptr);
    // Stops every handset at the next packet boundary and waits for them.
    ~HandsetsJob() override;

    // Starts every handset; finished() follows when the last has ended.
    void start();
    // Every handset stops: after its statement, or `atOnce` at the next
    // packet boundary. No pass is dealt any more.
    void stop(bool atOnce);

    const HandsetsRun &run() const { return run_; }
    const QString &name(int index) const { return run_.handsets[index].name; }
    bool isRunning() const { return running_ > 0; }
    bool stopping() const { return stopping_; }
    // What the job shows of each handset now.
    QList<HandsetState> states() const;
    // The whole job's progress, in passes done.
    const JobProgress &progress() const { return *progress_; }
    // This run's passes, in the order they ended.
    const QList<PassRecord> &records() const { return records_; }
    // The passes not dealt yet; -1 without end.
    qint64 waiting() const { return dealer_.waiting(); }

Q_SIGNALS:
    // On the handset's own thread (connect with Qt::DirectConnection): its
    // runner and link are made and about to run; `refusal` set keeps the
    // handset out of the job for that reason. handsetStopped: its runner
    // has ended and goes.
    void handsetStarting(int index, MacroRunner *runner, SerialLink *link, QString *refusal);
    void handsetStopped(int index, MacroRunner *runner);

    // The rest on the job's thread.
    // What the job shows of handset `index` changed (states()).
    void handsetChanged(int index);
    // A pass ended on it (ok or not), and is recorded.
    void passEnded(int index, const PassRecord &record);
    // A pass it did reached REPEAT, in `passMs`; progress() counts it.
    void passCompleted(int index, double passMs);
    // It types `text` (SENDSTR, STRING).
    void typing(int index, const QString &text);
    // Its run says `text` (the message box of a single run).
    void message(int index, const QString &text);
    // Its run failed at a statement.
    void failed(int index, const RunFailure &failure);
    // It left the job for `why`; `back`: the passes it gave back to the
    // others (its pass, and those its line may not have carried).
    void handsetLeft(int index, const QString &why, const QList<qint32> &back);
    // Every handset has ended.
    void finished();

private:
    friend class HandsetHost;
    void update(int index, const std::function<void(HandsetState &)> &change);
    // Runs `f` on the job's thread.
    void post(std::function<void()> f);
    void runHandset(int index);
    void recordPass(int index, const PassRecord &record);
    void completePass(int index, double passMs, qint64 packets);
    void handsetEnded(int index, bool failed, const QList<qint32> &back);

    const HandsetsRun run_;
    PassDealer dealer_;
    mutable std::mutex mutex_;
    QList<HandsetState> states_;
    QList<MacroRunner *> runners_; // while they run, under mutex_
    std::unique_ptr<JobProgress> progress_;
    QList<PassRecord> records_;
    QList<QThread *> threads_;
    qint64 passesEnded_ = 0;
    int running_ = 0;
    bool stopping_ = false;
};

// What refuses a macro on many handsets: PORTNO or SCREEN (the handsets file
// names each handset's port and screen), in the macro or its recovery; the
// message names the file and the line. Empty when none.
QString handsetsMacroProblem(const QString &macroPath);

// The counter of the job's last pass as its address file allows (none: the
// passes have no end), and whether the macro repeats.
struct HandsetsPasses {
    std::optional<qint32> lastCounter;
    bool repeats = false;
};
HandsetsPasses jobPasses(const MacroSettings &settings);

// How the passes of `last` (the last row of each) ended: ok, failed, ok
// after a retry, and cut (a stop or a port that failed ended them).
struct PassTally {
    qint64 ok = 0;
    qint64 failed = 0;
    qint64 okAfterRetry = 0;
    qint64 cut = 0;
};
PassTally tallyPasses(const QList<PassRecord> &last);
