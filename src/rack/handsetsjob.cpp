// A thread a handset, each with its own MacroRunner, serial link and screen
// (objects that belong to the thread they are made on, made there), taking
// its passes from one PassDealer. What they do reaches the job's thread as
// posted calls, and its signals from there.

#include "rack/handsetsjob.h"

#include "link/seriallink.h"
#include "macro/filelines.h"
#include "macro/jobestimate.h"
#include "macro/macrorunner.h"
#include "macro/recovery.h"
#include "macro/runhost.h"
#include "macro/statement.h"
#include "platform/waiter.h"
#include "screen/screenplugin.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QThread>
#include <algorithm>

namespace {

// How often a handset with no pass to do asks the dealer again.
constexpr double kDealerPollMs = 50.0;

} // namespace

// A handset's window for its runner: what the runner shows goes to the
// job's view of it, messages to the job's thread.
class HandsetHost : public RunHost {
public:
    HandsetHost(HandsetsJob &job, int index, const QString &port) : job_(job), index_(index), port_(port) {}

    QString counterText() const override { return QStringLiteral("0"); }
    void setCounterText(const QString &text) override
    {
        const std::optional<qint32> counter = text.toInt();
        job_.update(index_, [&](HandsetState &s) { s.counter = counter; });
    }
    QString portText() const override { return port_; }
    void setPortText(const QString &) override {}
    void setStatusText(const QString &text) override
    {
        job_.update(index_, [&](HandsetState &s) { s.statement = text; });
    }
    void setAddrText(const QString &text) override
    {
        if (text.isEmpty() || text == QStringLiteral("糸冬了"))
            return;
        HandsetsJob *job = &job_;
        const int index = index_;
        job_.post([job, index, text] { Q_EMIT job->typing(index, text); });
    }
    void setRunning(bool) override {}
    void showMessage(const QString &text) override
    {
        HandsetsJob *job = &job_;
        const int index = index_;
        job_.post([job, index, text] { Q_EMIT job->message(index, text); });
    }
    void showFailure(const RunFailure &failure) override
    {
        const QString reason = joinedLines(failure.reason);
        job_.update(index_, [&](HandsetState &s) {
            if (s.left.isEmpty())
                s.left = reason;
        });
        HandsetsJob *job = &job_;
        const int index = index_;
        job_.post([job, index, failure] { Q_EMIT job->failed(index, failure); });
    }
    void exitProgram() override {}
    RunScreen *screen() override { return screen_; }
    void setScreen(RunScreen *screen) { screen_ = screen; }

private:
    HandsetsJob &job_;
    int index_;
    QString port_;
    RunScreen *screen_ = nullptr;
};

HandsetsJob::HandsetsJob(const HandsetsRun &run, QObject *parent)
    : QObject(parent), run_(run), dealer_(run.firstCounter, run.lastCounter, run.donePasses, int(run.handsets.size())),
      states_(run.handsets.size()), runners_(run.handsets.size(), nullptr)
{
    const qint64 total = dealer_.total();
    progress_ = std::make_unique<JobProgress>(0, total < 0 ? std::nullopt : std::optional<qint64>(total), 0.0);
    progress_->setHandsets(int(run_.handsets.size()));
}

HandsetsJob::~HandsetsJob()
{
    stop(true);
    for (QThread *thread : std::as_const(threads_)) {
        thread->wait();
        delete thread;
    }
}

void HandsetsJob::update(int index, const std::function<void(HandsetState &)> &change)
{
    {
        const std::lock_guard lock(mutex_);
        change(states_[index]);
    }
    Q_EMIT handsetChanged(index);
}

void HandsetsJob::post(std::function<void()> f)
{
    QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
}

QList<HandsetState> HandsetsJob::states() const
{
    const std::lock_guard lock(mutex_);
    return states_;
}

void HandsetsJob::start()
{
    running_ = int(run_.handsets.size());
    for (int i = 0; i < run_.handsets.size(); ++i) {
        states_[i].running = true;
        threads_.append(QThread::create([this, i] { runHandset(i); }));
        threads_.last()->start();
    }
}

void HandsetsJob::runHandset(int index)
{
    const HandsetEntry &entry = run_.handsets[index];
    MacroSettings settings = run_.settings;
    EventLoopWaiter waiter;
    HandsetHost host(*this, index, entry.port);
    SerialLink link([&settings] { return settings.CommPort; }, &waiter);
    LazyScreen screen;
    host.setScreen(&screen);
    screen.setEvidenceFolder(run_.evidenceFolder);
    const auto endWithout = [&](const QString &why) {
        dealer_.leave(index);
        update(index, [&](HandsetState &s) { s.left = why; });
        post([this, index, why] {
            Q_EMIT message(index, why);
            handsetEnded(index, false, {});
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
    MacroRunner runner(settings, host, link, waiter);
    runner.setHandsetName(entry.name);
    if (run_.maxFailuresInARow)
        runner.setMaxFailuresInARow(*run_.maxFailuresInARow);
    QString refusal;
    Q_EMIT handsetStarting(index, &runner, &link, &refusal);
    if (!refusal.isEmpty()) {
        Q_EMIT handsetStopped(index, &runner);
        return endWithout(refusal);
    }
    // A pass's record waits until the handset takes its next pass or the
    // run ends: a pass it leaves unfinished is given to the others, and its
    // record says so.
    QList<PassRecord> held;
    const auto sendHeld = [&] {
        for (const PassRecord &record : std::as_const(held))
            post([this, index, record] { recordPass(index, record); });
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
        post([this, index, passMs, packets] { completePass(index, passMs, packets); });
    });

    {
        const std::lock_guard lock(mutex_);
        runners_[index] = &runner;
    }
    const MacroRunner::Outcome outcome = runner.RunMacro();
    {
        const std::lock_guard lock(mutex_);
        runners_[index] = nullptr;
    }
    Q_EMIT handsetStopped(index, &runner);

    QList<qint32> cut;
    for (const PassRecord &record : std::as_const(held)) {
        if (!record.done())
            cut.append(record.counter);
    }
    const bool failed = outcome == MacroRunner::Outcome::Failed;
    const bool leaves = failed || runner.closeFailed();
    const QList<qint32> back = dealer_.leave(index, leaves ? cut : QList<qint32>{});
    for (PassRecord &record : held) {
        if (leaves && back.contains(record.counter)) {
            record.message += QStringLiteral("（携帯電話機「%1」がジョブから抜けたため、この巡はほかの携帯電話機に回します。"
                                             "「%1」で途中まで入力された可能性があります。）")
                                  .arg(entry.name);
        }
    }
    sendHeld();
    post([this, index, failed, back] { handsetEnded(index, failed, back); });
}

void HandsetsJob::recordPass(int index, const PassRecord &record)
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
    Q_EMIT passEnded(index, record);
}

void HandsetsJob::completePass(int index, double passMs, qint64 packets)
{
    int running = 0;
    {
        const std::lock_guard lock(mutex_);
        for (const HandsetState &s : std::as_const(states_))
            running += s.running ? 1 : 0;
    }
    progress_->setHandsets(running);
    progress_->passCompleted(++passesEnded_, passMs, packets, double(QDateTime::currentMSecsSinceEpoch()));
    Q_EMIT passCompleted(index, passMs);
}

void HandsetsJob::handsetEnded(int index, bool failed, const QList<qint32> &back)
{
    bool left = false;
    QString why;
    update(index, [&](HandsetState &s) {
        s.running = false;
        s.counter.reset();
        left = !s.left.isEmpty() || failed;
        if (failed && s.left.isEmpty())
            s.left = QStringLiteral("エラー");
        for (const qint32 counter : back) {
            s.ended.remove(counter);
            s.failed.remove(counter);
        }
        why = s.left;
    });
    if (left)
        Q_EMIT handsetLeft(index, why, back);
    if (--running_ > 0)
        return;
    for (QThread *thread : std::as_const(threads_)) {
        thread->wait();
        delete thread;
    }
    threads_.clear();
    // After what the handsets' last posts said.
    post([this] { Q_EMIT finished(); });
}

void HandsetsJob::stop(bool atOnce)
{
    stopping_ = true;
    dealer_.close();
    const std::lock_guard lock(mutex_);
    for (MacroRunner *runner : std::as_const(runners_)) {
        if (runner) {
            QMetaObject::invokeMethod(
                runner, [runner, atOnce] { atOnce ? runner->StopAtOnce() : runner->RequestStop(); }, Qt::QueuedConnection);
        }
    }
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
                return QStringLiteral("%1:%2: error: %3 は携帯電話機の一覧（--handsets、/H）のジョブでは使えません"
                                      "（一覧が携帯電話機ごとのポートと画面を決めます）。")
                    .arg(path)
                    .arg(i + 1)
                    .arg(st.keyword);
            }
        }
    }
    return QString();
}

HandsetsPasses jobPasses(const MacroSettings &settings)
{
    HandsetsPasses passes;
    const PassShape shape = passShape(readFileLines(settings.MacroFile).lines);
    passes.repeats = shape.repeats;
    if (shape.getStrs > 0 && !settings.AddrFile.isEmpty()) {
        if (const std::optional<qint64> lines = countFileLines(settings.AddrFile))
            passes.lastCounter = static_cast<qint32>(passesAllowed(*lines, 0, shape.getStrs) - 1);
    }
    return passes;
}

PassTally tallyPasses(const QList<PassRecord> &last)
{
    PassTally tally;
    for (const PassRecord &r : last) {
        tally.ok += r.result == PassRecord::Result::Ok;
        tally.failed += r.result == PassRecord::Result::Failed;
        tally.okAfterRetry += r.result == PassRecord::Result::OkAfterRetry;
        tally.cut += r.result == PassRecord::Result::Stopped || r.result == PassRecord::Result::NotDelivered;
    }
    return tally;
}
