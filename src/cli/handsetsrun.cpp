// quillonemu-cli run --handsets: a thread a handset, each with its own
// MacroRunner, serial link and screen (objects that belong to the thread
// they are made on, made there), taking its passes from one PassDealer. The
// main thread keeps the one results file, the progress line and the signals.

#include "cli/handsetsrun.h"

#include "console/console.h"
#include "console/exitstatus.h"
#include "cli/progresstext.h"
#include "cli/runlog.h"
#include "cli/terminalhost.h"
#include "link/seriallink.h"
#include "macro/amounts.h"
#include "macro/characters.h"
#include "macro/filelines.h"
#include "macro/jobprogress.h"
#include "macro/macrorunner.h"
#include "macro/passdealer.h"
#include "macro/passresults.h"
#include "macro/recovery.h"
#include "macro/runhost.h"
#include "macro/statement.h"
#include "platform/terminationsignals.h"
#include "platform/waiter.h"
#include "screen/screenplugin.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QSet>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <mutex>

namespace {

const QString kCommand = QStringLiteral("run");
// Back to the start of the line and clear it.
const QString kRewriteLine = QStringLiteral("\r\x1b[K");
// How often a handset with no pass to do asks the dealer again.
constexpr double kDealerPollMs = 50.0;

// What the job shows of one handset. Written from the handset's thread,
// read from the main thread, under the job's mutex.
struct HandsetState {
    std::optional<qint32> counter; // the pass it is doing
    QString statement;
    // Passes it ended (ok or failed) and failed, less those it gave back.
    QSet<qint32> ended;
    QSet<qint32> failed;
    QString left; // why it left the job; empty while it is in it
    bool running = false;
    MacroRunner *runner = nullptr; // while it runs
};

class Job;

// A handset's window for its runner: what the runner shows goes to the
// job's view of it, messages to the main thread.
class HandsetHost : public RunHost {
public:
    HandsetHost(Job &job, int index, const QString &port) : job_(job), index_(index), port_(port) {}

    QString counterText() const override { return QStringLiteral("0"); }
    void setCounterText(const QString &text) override;
    QString portText() const override { return port_; }
    void setPortText(const QString &) override {}
    void setStatusText(const QString &text) override;
    void setAddrText(const QString &text) override;
    void setRunning(bool) override {}
    void showMessage(const QString &text) override;
    void showFailure(const RunFailure &failure) override;
    void exitProgram() override {}
    RunScreen *screen() override { return screen_; }
    void setScreen(RunScreen *screen) { screen_ = screen; }

private:
    Job &job_;
    int index_;
    QString port_;
    RunScreen *screen_ = nullptr;
    QString lastFailure_;
};

class Job : public QObject {
public:
    explicit Job(const HandsetsRun &run)
        : run_(run), dealer_(run.firstCounter, run.lastCounter, run.donePasses, int(run.handsets.size())), states_(run.handsets.size()),
          live_(Console::stdoutIsTerminal())
    {
    }

    int exec();

    // From the handsets' threads.
    void update(int index, const std::function<void(HandsetState &)> &change)
    {
        const std::lock_guard lock(mutex_);
        change(states_[index]);
    }
    // Runs `f` on the main thread.
    void post(std::function<void()> f) { QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection); }
    const QString &name(int index) const { return run_.handsets[index].name; }
    bool live() const { return live_; }
    void endStatusLine();
    void say(const QString &text)
    {
        endStatusLine();
        Console::out(text);
    }
    void error(const QString &line)
    {
        endStatusLine();
        Console::err(line);
    }
    void report(const QString &text)
    {
        endStatusLine();
        Console::report(kCommand, text);
    }

private:
    void runHandset(int index);
    void passEnded(int index, const PassRecord &record);
    void passCompleted(int index, double passMs, qint64 packets);
    void handsetEnded(int index, MacroRunner::Outcome outcome, const QList<qint32> &back);
    // Every handset stops: after its statement, or `atOnce` at the next
    // packet boundary.
    void stopAll(bool atOnce);
    void showStatusLine();
    QString summary(const QList<PassRecord> &last, double seconds) const;
    int exitStatus(const QList<PassRecord> &last) const;

    const HandsetsRun &run_;
    PassDealer dealer_;
    std::mutex mutex_;
    QList<HandsetState> states_;
    bool live_;
    bool statusShown_ = false;
    QString evidenceFolder_;
    QString jobId_;

    PassResults results_;
    bool resultsFailed_ = false;
    bool logFailed_ = false;
    QList<PassRecord> records_; // this run's, in the order they ended
    std::unique_ptr<JobProgress> progress_;
    qint64 passesEnded_ = 0;
    int handsetsRunning_ = 0;
    bool stopping_ = false;
    bool interrupted_ = false;
    QEventLoop loop_;
};

} // namespace

void HandsetHost::setCounterText(const QString &text)
{
    const std::optional<qint32> counter = text.toInt();
    job_.update(index_, [&](HandsetState &s) { s.counter = counter; });
}

void HandsetHost::setStatusText(const QString &text)
{
    job_.update(index_, [&](HandsetState &s) { s.statement = text; });
}

void HandsetHost::setAddrText(const QString &text)
{
    if (job_.live() || text.isEmpty() || text == QStringLiteral("糸冬了"))
        return;
    const QString line = QStringLiteral("  [%1] 入力「%2」").arg(job_.name(index_), visibleText(text));
    Job *job = &job_;
    job_.post([job, line] { job->say(line); });
}

void HandsetHost::showMessage(const QString &text)
{
    const QString line = QStringLiteral("[%1] %2").arg(job_.name(index_), joinedLines(text));
    Job *job = &job_;
    job_.post([job, line] { job->report(line); });
}

void HandsetHost::showFailure(const RunFailure &failure)
{
    const QString reason = joinedLines(failure.reason);
    QString line = failureLine(failure);
    job_.update(index_, [&](HandsetState &s) {
        if (s.left.isEmpty())
            s.left = reason;
    });
    line = QStringLiteral("[%1] %2").arg(job_.name(index_), line);
    // (The line lost between passes and at the run's end: said once.)
    if (line == lastFailure_)
        return;
    lastFailure_ = line;
    Job *job = &job_;
    job_.post([job, line] { job->error(line); });
}

void Job::runHandset(int index)
{
    const HandsetEntry &entry = run_.handsets[index];
    MacroSettings settings = run_.settings;
    EventLoopWaiter waiter;
    HandsetHost host(*this, index, entry.port);
    SerialLink link([&settings] { return settings.CommPort; }, &waiter);
    LazyScreen screen;
    host.setScreen(&screen);
    screen.setEvidenceFolder(evidenceFolder_);
    const auto endWithout = [&](const QString &why) {
        dealer_.leave(index);
        update(index, [&](HandsetState &s) { s.left = why; });
        const QString line = QStringLiteral("[%1] %2").arg(entry.name, joinedLines(why));
        post([this, line, index] {
            report(line);
            handsetEnded(index, MacroRunner::Outcome::NotStarted, {});
        });
    };
    if (!entry.screen.isEmpty()) {
        // The screen module loads once, for every thread; the sources open
        // side by side (a stream's first frame can take a second).
        static std::mutex loading;
        QString error;
        bool loaded = false;
        {
            const std::lock_guard lock(loading);
            loaded = screen.prepare(&error);
        }
        if (!loaded || !screen.openSource(entry.screen, &error))
            return endWithout(error);
    }
    RunLog log;
    if (!run_.logPath.isEmpty()) {
        if (!log.open(run_.logPath))
            return endWithout(log.errorText());
    }
    MacroRunner runner(settings, host, link, waiter);
    runner.setHandsetName(entry.name);
    if (run_.maxFailuresInARow)
        runner.setMaxFailuresInARow(*run_.maxFailuresInARow);
    if (!run_.logPath.isEmpty()) {
        log.follow(runner, link);
        QObject::connect(&log, &RunLog::writeFailed, &runner, [this, &runner](const QString &message) {
            post([this, message] {
                logFailed_ = true;
                report(message + QStringLiteral("\n実行中の文を終えたところで止めます。"));
                stopAll(false);
            });
            runner.RequestStop();
        });
    }
    // A pass's record waits until the handset takes its next pass or the
    // run ends: a pass it leaves unfinished is given to the others, and its
    // record says so.
    QList<PassRecord> held;
    const auto sendHeld = [&] {
        for (const PassRecord &record : std::as_const(held))
            post([this, index, record] { passEnded(index, record); });
        held.clear();
    };
    // Between passes, while another handset may still give one back, the
    // handset waits with its events running: its own line may fail, a stop
    // may come.
    runner.setPassSource([&]() -> std::optional<qint32> {
        sendHeld();
        for (bool rested = false;;) {
            const PassDealer::Deal deal = dealer_.take(index, rested);
            if (!deal.wait)
                return deal.counter;
            update(index, [](HandsetState &s) { s.statement = QStringLiteral("待ち"); });
            // Nothing to take now: the line carries the rest, and its close
            // finds a device that went away (the run then fails, and its
            // passes go back).
            if (!rested) {
                if (!runner.restLine())
                    return std::nullopt;
                rested = true;
            }
            waiter.sleepUntil(waiter.elapsedMs() + kDealerPollMs);
            if (!settings.MacroExe)
                return std::nullopt;
        }
    });
    QObject::connect(&runner, &MacroRunner::passEnded, &runner, [&held](const PassRecord &record) { held.append(record); });
    QObject::connect(&runner, &MacroRunner::passCompleted, &runner, [this, index](qint32, double passMs, qint64 packets) {
        post([this, index, passMs, packets] { passCompleted(index, passMs, packets); });
    });

    update(index, [&](HandsetState &s) { s.runner = &runner; });
    const MacroRunner::Outcome outcome = runner.RunMacro();
    update(index, [&](HandsetState &s) { s.runner = nullptr; });
    if (runner.packetsDelivered() < runner.packetsSent())
        log.writeDelivery(runner);
    log.close();

    QList<qint32> cut;
    for (const PassRecord &record : std::as_const(held)) {
        if (!record.done())
            cut.append(record.counter);
    }
    const bool leaves = outcome == MacroRunner::Outcome::Failed || runner.closeFailed();
    const QList<qint32> back = dealer_.leave(index, leaves ? cut : QList<qint32>{});
    for (PassRecord &record : held) {
        if (leaves && back.contains(record.counter)) {
            record.message += QStringLiteral("（携帯電話機「%1」がジョブから抜けたため、この巡はほかの携帯電話機に回します。"
                                             "「%1」で途中まで入力された可能性があります。）")
                                  .arg(entry.name);
        }
    }
    sendHeld();
    post([this, index, outcome, back] { handsetEnded(index, outcome, back); });
}

void Job::passEnded(int index, const PassRecord &record)
{
    records_.append(record);
    update(index, [&](HandsetState &s) {
        if (record.done() || record.result == PassRecord::Result::Failed)
            s.ended.insert(record.counter);
        else
            s.ended.remove(record.counter);
        if (record.result == PassRecord::Result::Failed)
            s.failed.insert(record.counter);
        else
            s.failed.remove(record.counter);
    });
    if (record.result == PassRecord::Result::Failed)
        progress_->passFailed();
    if (!results_.path().isEmpty() && !resultsFailed_) {
        QString error;
        if (!results_.write(record, &error)) {
            resultsFailed_ = true;
            report(error + QStringLiteral("\n実行中の文を終えたところで止めます。"));
            stopAll(false);
        }
    }
}

void Job::passCompleted(int index, double passMs, qint64 packets)
{
    int running = 0;
    {
        const std::lock_guard lock(mutex_);
        for (const HandsetState &s : std::as_const(states_))
            running += s.running ? 1 : 0;
    }
    progress_->setHandsets(running);
    progress_->passCompleted(++passesEnded_, passMs, packets, double(QDateTime::currentMSecsSinceEpoch()));
    if (!run_.repeats)
        return;
    if (live_) {
        showStatusLine();
        return;
    }
    const double now = double(QDateTime::currentMSecsSinceEpoch());
    say(QStringLiteral("巡完了 [%1]: %2、この巡 %3")
            .arg(name(index), ProgressText::passesField(*progress_, now), formatDuration(passMs / 1000.0)));
}

void Job::handsetEnded(int index, MacroRunner::Outcome outcome, const QList<qint32> &back)
{
    bool left = false;
    update(index, [&](HandsetState &s) {
        s.running = false;
        s.counter.reset();
        left = !s.left.isEmpty() || outcome == MacroRunner::Outcome::Failed;
        if (outcome == MacroRunner::Outcome::Failed && s.left.isEmpty())
            s.left = QStringLiteral("エラー");
        for (const qint32 counter : back) {
            s.ended.remove(counter);
            s.failed.remove(counter);
        }
    });
    if (left && !back.isEmpty() && !stopping_) {
        QStringList passes;
        for (const qint32 counter : back)
            passes.append(QString::number(qint64(counter) + 1));
        report(QStringLiteral("携帯電話機「%1」がジョブから抜けました。途中だった巡 %2 はほかの携帯電話機に回します。")
                   .arg(name(index), passes.join(QStringLiteral("、"))));
    }
    if (--handsetsRunning_ == 0)
        loop_.quit();
}

void Job::stopAll(bool atOnce)
{
    stopping_ = true;
    dealer_.close();
    const std::lock_guard lock(mutex_);
    for (const HandsetState &s : std::as_const(states_)) {
        if (MacroRunner *runner = s.runner) {
            QMetaObject::invokeMethod(
                runner, [runner, atOnce] { atOnce ? runner->StopAtOnce() : runner->RequestStop(); }, Qt::QueuedConnection);
        }
    }
}

void Job::showStatusLine()
{
    if (!live_)
        return;
    QString line = ProgressText::passesField(*progress_, double(QDateTime::currentMSecsSinceEpoch()));
    {
        const std::lock_guard lock(mutex_);
        for (qsizetype i = 0; i < states_.size(); ++i) {
            const HandsetState &s = states_[i];
            line += QStringLiteral(" | %1 ").arg(name(int(i)));
            if (!s.left.isEmpty())
                line += QStringLiteral("抜けた（%1）").arg(s.left.left(24));
            else if (s.counter && s.running)
                line += QStringLiteral("%1: %2").arg(*s.counter).arg(s.statement);
            else
                line += s.running ? QStringLiteral("待ち") : QStringLiteral("終了");
        }
    }
    Console::writeOut(kRewriteLine + Console::fitWidth(visibleText(line), Console::terminalColumns() - 1));
    statusShown_ = true;
}

void Job::endStatusLine()
{
    if (statusShown_)
        Console::writeOut(QStringLiteral("\n"));
    statusShown_ = false;
}

int Job::exec()
{
    const MacroSettings &settings = run_.settings;
    jobId_ = PassResults::jobId(settings.MacroFile, readRecoveryPlan(settings.MacroFile).path, settings.AddrFile);
    if (!run_.resultsPath.isEmpty()) {
        QString error;
        if (!results_.open(run_.resultsPath, jobId_, &error, true)) {
            Console::report(kCommand, error);
            return ExitStatus::Failed;
        }
    }
    // A log that cannot be opened refuses the job before the first packet.
    if (!run_.logPath.isEmpty()) {
        RunLog probe;
        if (!probe.open(run_.logPath)) {
            Console::report(kCommand, probe.errorText());
            return ExitStatus::Failed;
        }
        probe.close();
        evidenceFolder_ = QFileInfo(run_.logPath).absolutePath();
    } else if (!run_.resultsPath.isEmpty()) {
        evidenceFolder_ = QFileInfo(run_.resultsPath).absolutePath();
    }

    const qint64 total = dealer_.total();
    progress_ = std::make_unique<JobProgress>(0, total < 0 ? std::nullopt : std::optional<qint64>(total), 0.0);
    progress_->setHandsets(int(run_.handsets.size()));

    TerminationSignals terminations;
    QObject::connect(&terminations, &TerminationSignals::received, this, [this](TerminationSignals::Kind kind) {
        using Kind = TerminationSignals::Kind;
        const bool again = interrupted_;
        interrupted_ = interrupted_ || kind == Kind::Interrupt;
        stopAll(kind == Kind::Terminate || (kind == Kind::Interrupt && again));
    });
    QTimer redraw;
    if (live_) {
        QObject::connect(&redraw, &QTimer::timeout, this, [this] { showStatusLine(); });
        redraw.start(250);
    }

    QElapsedTimer runTime;
    runTime.start();
    QList<QThread *> threads;
    handsetsRunning_ = int(run_.handsets.size());
    for (int i = 0; i < run_.handsets.size(); ++i) {
        states_[i].running = true;
        threads.append(QThread::create([this, i] { runHandset(i); }));
        threads.last()->start();
    }
    loop_.exec();
    for (QThread *thread : std::as_const(threads)) {
        thread->wait();
        delete thread;
    }
    // What the handsets' last posts said.
    QCoreApplication::sendPostedEvents(this);
    redraw.stop();
    endStatusLine();
    results_.close();

    const QList<PassRecord> last = lastRowOfEachPass(records_);
    if (!run_.junitPath.isEmpty()) {
        // The whole job when the results file holds it, resumed or not.
        QList<PassRecord> rows = records_;
        QString error;
        if (!run_.resultsPath.isEmpty()) {
            if (const std::optional<PassResults::Contents> all = PassResults::read(run_.resultsPath, &error))
                rows = all->rows;
        }
        if (!writeJUnit(run_.junitPath, QFileInfo(settings.MacroFile).completeBaseName(), lastRowOfEachPass(rows), &error)) {
            Console::report(kCommand, error);
            resultsFailed_ = true;
        }
    }
    Console::out(summary(last, double(runTime.elapsed()) / 1000.0));
    return exitStatus(last);
}

QString Job::summary(const QList<PassRecord> &last, double seconds) const
{
    const qint64 waiting = dealer_.waiting();
    QString text;
    if (interrupted_ || (stopping_ && !logFailed_ && !resultsFailed_))
        text = QStringLiteral("停止しました。");
    else if (waiting > 0)
        text = QStringLiteral("携帯電話機がすべて抜けたため、%1 巡が残りました。").arg(formatCount(waiting));
    else if (waiting == 0)
        text = QStringLiteral("ジョブの巡をすべて実行しました。");
    else
        text = QStringLiteral("終わりました。");
    if (waiting != 0 && !run_.resultsPath.isEmpty())
        text += QStringLiteral("続きは --resume %1 で再開できます。").arg(run_.resultsPath);

    // Each handset: its passes, or why it left.
    QStringList handsets;
    for (qsizetype i = 0; i < states_.size(); ++i) {
        const HandsetState &s = states_[i];
        QString part = QStringLiteral("%1 %2 巡").arg(name(int(i)), formatCount(s.ended.size()));
        if (!s.failed.isEmpty())
            part += QStringLiteral("（失敗 %1）").arg(formatCount(s.failed.size()));
        if (!s.left.isEmpty())
            part += QStringLiteral("、抜けました: %1").arg(s.left);
        handsets.append(part);
    }
    text += QStringLiteral("この実行: %1 台で %2、%3（%4）。")
                .arg(states_.size())
                .arg(formatCount(qint64(last.size())) + QStringLiteral(" 巡"), formatDuration(seconds),
                     handsets.join(QStringLiteral("、")));
    qint64 ok = 0, failed = 0, okAfterRetry = 0, cut = 0;
    for (const PassRecord &r : last) {
        ok += r.result == PassRecord::Result::Ok;
        failed += r.result == PassRecord::Result::Failed;
        okAfterRetry += r.result == PassRecord::Result::OkAfterRetry;
        cut += r.result == PassRecord::Result::Stopped || r.result == PassRecord::Result::NotDelivered;
    }
    text += QStringLiteral("巡の結果: 成功 %1、失敗 %2、やり直して成功 %3")
                .arg(formatCount(ok), formatCount(failed), formatCount(okAfterRetry));
    if (cut > 0)
        text += QStringLiteral("、途中で終わった巡 %1").arg(formatCount(cut));
    if (!run_.resultsPath.isEmpty())
        text += QStringLiteral("（結果ファイル「%1」）").arg(run_.resultsPath);
    return text + QStringLiteral("。");
}

int Job::exitStatus(const QList<PassRecord> &last) const
{
    if (interrupted_)
        return ExitStatus::Interrupted;
    if (logFailed_ || resultsFailed_ || stopping_ || dealer_.waiting() > 0)
        return ExitStatus::Failed;
    const bool anyFailed = std::any_of(last.begin(), last.end(), [](const PassRecord &r) { return !r.done(); });
    return anyFailed ? ExitStatus::PassesFailed : ExitStatus::Ok;
}

QString handsetsMacroProblem(const QString &macroPath)
{
    const QString recovery = readRecoveryPlan(macroPath).path;
    for (const QString &path : {macroPath, recovery}) {
        if (path.isEmpty())
            continue;
        const FileLines file = readFileLines(path);
        for (qsizetype i = 0; i < file.lines.size(); ++i) {
            const Statement st = parseStatement(file.lines[i]);
            if (st.kind == Statement::Kind::PortNo || st.kind == Statement::Kind::Screen) {
                return QStringLiteral("%1:%2: error: %3 は --handsets のジョブでは使えません（携帯電話機の一覧が"
                                      "携帯電話機ごとのポートと画面を決めます）。")
                    .arg(path)
                    .arg(i + 1)
                    .arg(st.keyword);
            }
        }
    }
    return QString();
}

int runOnHandsets(const HandsetsRun &run)
{
    Job job(run);
    return job.exec();
}
