// quillonemu-cli run --handsets: the job (rack/handsetsjob.h) as the
// terminal shows it. The main thread keeps the one results file, the
// progress line and the signals; each handset's thread its own log.

#include "cli/handsetsrun.h"

#include "console/console.h"
#include "console/exitstatus.h"
#include "macro/progresstext.h"
#include "cli/runlog.h"
#include "cli/terminalhost.h"
#include "macro/amounts.h"
#include "macro/characters.h"
#include "macro/macrorunner.h"
#include "macro/passresults.h"
#include "macro/recovery.h"
#include "platform/terminationsignals.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <vector>

namespace {

const QString kCommand = QStringLiteral("run");
// Back to the start of the line and clear it.
const QString kRewriteLine = QStringLiteral("\r\x1b[K");

class Printer : public QObject {
public:
    Printer(const HandsetsRun &run, const HandsetsOutput &output)
        : run_(run), output_(output), live_(Console::stdoutIsTerminal()), logs_(run.handsets.size()),
          lastFailure_(run.handsets.size())
    {
    }

    int exec();

private:
    const QString &name(int index) const { return run_.handsets[index].name; }
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
    void follow(HandsetsJob &job);
    void showStatusLine(const HandsetsJob &job);
    QString summary(const HandsetsJob &job, const QList<PassRecord> &last, double seconds) const;
    int exitStatus(const HandsetsJob &job, const QList<PassRecord> &last) const;

    HandsetsRun run_;
    const HandsetsOutput &output_;
    bool live_;
    bool statusShown_ = false;
    PassResults results_;
    bool resultsFailed_ = false;
    bool logFailed_ = false;
    bool interrupted_ = false;
    // Each handset's log, made and used on its own thread.
    std::vector<std::unique_ptr<RunLog>> logs_;
    // Each handset's last failure line (the line lost between passes and
    // at the run's end: said once).
    QStringList lastFailure_;
};

} // namespace

void Printer::follow(HandsetsJob &job)
{
    connect(
        &job, &HandsetsJob::handsetStarting, this,
        [this, &job](int index, MacroRunner *runner, SerialLink *link, QString *refusal) {
            if (output_.logPath.isEmpty())
                return;
            auto log = std::make_unique<RunLog>();
            if (!log->open(output_.logPath)) {
                *refusal = log->errorText();
                return;
            }
            log->follow(*runner, *link);
            connect(log.get(), &RunLog::writeFailed, runner, [this, &job, runner](const QString &message) {
                QMetaObject::invokeMethod(this, [this, &job, message] {
                    logFailed_ = true;
                    report(message + QStringLiteral("\n実行中の文を終えたところで止めます。"));
                    job.stop(false);
                });
                runner->RequestStop();
            });
            logs_[index] = std::move(log);
        },
        Qt::DirectConnection);
    connect(
        &job, &HandsetsJob::handsetStopped, this,
        [this](int index, MacroRunner *runner) {
            std::unique_ptr<RunLog> log = std::move(logs_[index]);
            if (!log)
                return;
            if (runner->packetsDelivered() < runner->packetsSent())
                log->writeDelivery(*runner);
            log->close();
        },
        Qt::DirectConnection);
    connect(&job, &HandsetsJob::typing, this, [this](int index, const QString &text) {
        if (!live_)
            say(QStringLiteral("  [%1] 入力「%2」").arg(name(index), visibleText(text)));
    });
    connect(&job, &HandsetsJob::message, this, [this](int index, const QString &text) {
        report(QStringLiteral("[%1] %2").arg(name(index), joinedLines(text)));
    });
    connect(&job, &HandsetsJob::failed, this, [this](int index, const RunFailure &failure) {
        const QString line = QStringLiteral("[%1] %2").arg(name(index), failureLine(failure));
        if (line == lastFailure_[index])
            return;
        lastFailure_[index] = line;
        error(line);
    });
    connect(&job, &HandsetsJob::passEnded, this, [this, &job](int, const PassRecord &record) {
        if (results_.path().isEmpty() || resultsFailed_)
            return;
        QString error;
        if (!results_.write(record, &error)) {
            resultsFailed_ = true;
            report(error + QStringLiteral("\n実行中の文を終えたところで止めます。"));
            job.stop(false);
        }
    });
    connect(&job, &HandsetsJob::passCompleted, this, [this, &job](int index, double passMs) {
        if (!run_.repeats)
            return;
        if (live_) {
            showStatusLine(job);
            return;
        }
        const double now = double(QDateTime::currentMSecsSinceEpoch());
        say(QStringLiteral("巡完了 [%1]: %2、この巡 %3")
                .arg(name(index), ProgressText::passesField(job.progress(), now), formatDuration(passMs / 1000.0)));
    });
    connect(&job, &HandsetsJob::handsetLeft, this, [this, &job](int index, const QString &, const QList<qint32> &back) {
        if (back.isEmpty() || job.stopping())
            return;
        QStringList passes;
        for (const qint32 counter : back)
            passes.append(QString::number(qint64(counter) + 1));
        report(QStringLiteral("携帯電話機「%1」がジョブから抜けました。途中だった巡 %2 はほかの携帯電話機に回します。")
                   .arg(name(index), passes.join(QStringLiteral("、"))));
    });
}

void Printer::showStatusLine(const HandsetsJob &job)
{
    if (!live_)
        return;
    QString line = ProgressText::passesField(job.progress(), double(QDateTime::currentMSecsSinceEpoch()));
    const QList<HandsetState> states = job.states();
    for (qsizetype i = 0; i < states.size(); ++i) {
        const HandsetState &s = states[i];
        line += QStringLiteral(" | %1 ").arg(name(int(i)));
        if (!s.left.isEmpty())
            line += QStringLiteral("抜けた（%1）").arg(s.left.left(24));
        else if (s.counter && s.running)
            line += QStringLiteral("%1: %2").arg(*s.counter).arg(s.statement);
        else
            line += s.running ? QStringLiteral("待ち") : QStringLiteral("終了");
    }
    Console::writeOut(kRewriteLine + Console::fitWidth(visibleText(line), Console::terminalColumns() - 1));
    statusShown_ = true;
}

void Printer::endStatusLine()
{
    if (statusShown_)
        Console::writeOut(QStringLiteral("\n"));
    statusShown_ = false;
}

int Printer::exec()
{
    const MacroSettings &settings = run_.settings;
    const QString jobId = PassResults::jobId(settings.MacroFile, readRecoveryPlan(settings.MacroFile).path, settings.AddrFile);
    if (!output_.resultsPath.isEmpty()) {
        QString error;
        if (!results_.open(output_.resultsPath, jobId, &error, true)) {
            Console::report(kCommand, error);
            return ExitStatus::Failed;
        }
    }
    // A log that cannot be opened refuses the job before the first packet.
    if (!output_.logPath.isEmpty()) {
        RunLog probe;
        if (!probe.open(output_.logPath)) {
            Console::report(kCommand, probe.errorText());
            return ExitStatus::Failed;
        }
        probe.close();
        run_.evidenceFolder = QFileInfo(output_.logPath).absolutePath();
    } else if (!output_.resultsPath.isEmpty()) {
        run_.evidenceFolder = QFileInfo(output_.resultsPath).absolutePath();
    }

    HandsetsJob job(run_);
    follow(job);
    TerminationSignals terminations;
    QObject::connect(&terminations, &TerminationSignals::received, this, [this, &job](TerminationSignals::Kind kind) {
        using Kind = TerminationSignals::Kind;
        const bool again = interrupted_;
        interrupted_ = interrupted_ || kind == Kind::Interrupt;
        job.stop(kind == Kind::Terminate || (kind == Kind::Interrupt && again));
    });
    QTimer redraw;
    if (live_) {
        QObject::connect(&redraw, &QTimer::timeout, this, [this, &job] { showStatusLine(job); });
        redraw.start(250);
    }

    QElapsedTimer runTime;
    runTime.start();
    QEventLoop loop;
    QObject::connect(&job, &HandsetsJob::finished, &loop, &QEventLoop::quit);
    job.start();
    loop.exec();
    redraw.stop();
    endStatusLine();
    results_.close();

    const QList<PassRecord> last = lastRowOfEachPass(job.records());
    if (!output_.junitPath.isEmpty()) {
        // The whole job when the results file holds it, resumed or not.
        QList<PassRecord> rows = job.records();
        QString error;
        if (!output_.resultsPath.isEmpty()) {
            if (const std::optional<PassResults::Contents> all = PassResults::read(output_.resultsPath, &error))
                rows = all->rows;
        }
        if (!writeJUnit(output_.junitPath, QFileInfo(settings.MacroFile).completeBaseName(), lastRowOfEachPass(rows), &error)) {
            Console::report(kCommand, error);
            resultsFailed_ = true;
        }
    }
    Console::out(summary(job, last, double(runTime.elapsed()) / 1000.0));
    return exitStatus(job, last);
}

QString Printer::summary(const HandsetsJob &job, const QList<PassRecord> &last, double seconds) const
{
    const qint64 waiting = job.waiting();
    QString text;
    if (interrupted_ || (job.stopping() && !logFailed_ && !resultsFailed_))
        text = QStringLiteral("停止しました。");
    else if (waiting > 0)
        text = QStringLiteral("携帯電話機がすべて抜けたため、%1 巡が残りました。").arg(formatCount(waiting));
    else if (waiting == 0)
        text = QStringLiteral("ジョブの巡をすべて実行しました。");
    else
        text = QStringLiteral("終わりました。");
    if (waiting != 0 && !output_.resultsPath.isEmpty())
        text += QStringLiteral("続きは --resume %1 で再開できます。").arg(output_.resultsPath);

    // Each handset: its passes, or why it left.
    QStringList handsets;
    const QList<HandsetState> states = job.states();
    for (qsizetype i = 0; i < states.size(); ++i) {
        const HandsetState &s = states[i];
        QString part = QStringLiteral("%1 %2 巡").arg(name(int(i)), formatCount(s.ended.size()));
        if (!s.failed.isEmpty())
            part += QStringLiteral("（失敗 %1）").arg(formatCount(s.failed.size()));
        if (!s.left.isEmpty())
            part += QStringLiteral("、抜けました: %1").arg(s.left);
        handsets.append(part);
    }
    text += QStringLiteral("この実行: %1 台で %2、%3（%4）。")
                .arg(states.size())
                .arg(formatCount(qint64(last.size())) + QStringLiteral(" 巡"), formatDuration(seconds),
                     handsets.join(QStringLiteral("、")));
    const PassTally tally = tallyPasses(last);
    text += QStringLiteral("巡の結果: 成功 %1、失敗 %2、やり直して成功 %3")
                .arg(formatCount(tally.ok), formatCount(tally.failed), formatCount(tally.okAfterRetry));
    if (tally.cut > 0)
        text += QStringLiteral("、途中で終わった巡 %1").arg(formatCount(tally.cut));
    if (!output_.resultsPath.isEmpty())
        text += QStringLiteral("（結果ファイル「%1」）").arg(output_.resultsPath);
    return text + QStringLiteral("。");
}

int Printer::exitStatus(const HandsetsJob &job, const QList<PassRecord> &last) const
{
    if (interrupted_)
        return ExitStatus::Interrupted;
    if (logFailed_ || resultsFailed_ || job.stopping() || job.waiting() > 0)
        return ExitStatus::Failed;
    const bool anyFailed = std::any_of(last.begin(), last.end(), [](const PassRecord &r) { return !r.done(); });
    return anyFailed ? ExitStatus::PassesFailed : ExitStatus::Ok;
}

int runOnHandsets(HandsetsRun run, const HandsetsOutput &output)
{
    Printer printer(run, output);
    return printer.exec();
}
