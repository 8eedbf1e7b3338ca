// quillonemu-cli slurm: a job's passes as Slurm job-array tasks, one handset
// each, across the nodes of a lab; and the gres.conf lines of a node.

#include "console/arguments.h"
#include "cli/commands.h"
#include "console/console.h"
#include "console/exitstatus.h"
#include "cli/slurmhandset.h"
#include "cli/slurmmerge.h"
#include "cli/slurmsubmit.h"
#include "macro/amounts.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace {

const QString kCommand = QStringLiteral("slurm");

const QString kHelp = QStringLiteral(
    "使い方:\n"
    "  quillonemu-cli slurm gres 一覧ファイル\n"
    "  quillonemu-cli slurm submit マクロファイル --addr ファイル --results フォルダ\n"
    "                 [--passes-per-task 数] [--partition P] [--time T] [--handsets ファイル]\n"
    "                 [-- sbatch のオプション...]\n"
    "  quillonemu-cli slurm status フォルダ\n"
    "  quillonemu-cli slurm merge フォルダ\n"
    "  quillonemu-cli slurm resume フォルダ\n"
    "\n"
    "ジョブの巡を Slurm のジョブ配列のタスクに分け、研究室の PC の空いている携帯電話機で\n"
    "実行します（docs/lab.md）。携帯電話機は Slurm の GRES「handset」です。\n"
    "\n"
    "gres     ノードの携帯電話機の一覧ファイルから、gres.conf の行と slurm.conf の Gres= を\n"
    "         表示します。\n"
    "submit   マクロ、回復マクロ、マクロが名前を挙げるテンプレート、アドレスファイルを\n"
    "         フォルダ（ノードが共有するディスク上）に写し、1 タスクが --passes-per-task 巡\n"
    "         （既定 10）のスライスを実行するジョブ配列（フォルダの job.sbatch、--gres=handset:1）\n"
    "         と、それが終わったら結果をまとめるジョブを sbatch で投入します。各タスクは\n"
    "         run --passes --handset-from-slurm で、結果、ログ、証拠の画像はフォルダの\n"
    "         results/ と logs/ に書きます。--handsets はノードの一覧ファイル\n"
    "         （既定 /etc/quillonemu/handsets.ini）。-- の後は sbatch にそのまま渡します。\n"
    "status   巡の成功、失敗、実行中（ノード）、未実行の数と終了予定を表示します。\n"
    "merge    タスクの結果をまとめて、フォルダに results.csv（巡ごとに最新の行）と\n"
    "         results.xml（JUnit、未実行の巡はエラー）を書き、まとめを表示します。\n"
    "resume   成功していない巡（失敗、途中で終わった、未実行）だけを投入し直します。\n"
    "\n"
    "終了ステータス: 0 成功（merge と status ではすべての巡が成功）、1 エラー、2 使い方の誤り、\n"
    "3 成功していない巡がある（merge、status）。");

QString cliPath()
{
    return QCoreApplication::applicationFilePath();
}

int gres(const Arguments &args)
{
    if (args.positional.size() != 2)
        return usageError(kCommand, QStringLiteral("slurm gres には携帯電話機の一覧ファイルを 1 つ指定します。"));
    QString error;
    const std::optional<HandsetsFile> handsets = HandsetsFile::read(args.positional[1], &error);
    if (!handsets) {
        Console::report(kCommand, error);
        return ExitStatus::Failed;
    }
    if (handsets->handsets.isEmpty()) {
        Console::report(kCommand, QStringLiteral("一覧ファイル「%1」に携帯電話機がありません。").arg(handsets->path));
        return ExitStatus::Failed;
    }
    Console::writeOut(gresConfLines(*handsets));
    return ExitStatus::Ok;
}

std::optional<SlurmJob> readJob(const Arguments &args, int *status)
{
    if (args.positional.size() != 2) {
        *status = usageError(kCommand, QStringLiteral("slurm %1 にはジョブのフォルダを 1 つ指定します。").arg(args.positional[0]));
        return std::nullopt;
    }
    QString error;
    std::optional<SlurmJob> job = SlurmJob::read(args.positional[1], &error);
    if (!job) {
        Console::report(kCommand, error);
        *status = ExitStatus::Failed;
    }
    return job;
}

QString slicesText(const QList<PassSlice> &slices)
{
    QStringList parts;
    for (qsizetype i = 0; i < slices.size(); ++i)
        parts.append(QStringLiteral("%1: %2").arg(i).arg(slices[i].text()));
    return parts.join(QStringLiteral("、"));
}

int submitted(const SlurmJob &job)
{
    const SlurmJob::Round &round = job.rounds.last();
    Console::out(QStringLiteral("Slurm のジョブ %1 を投入しました（タスク %2、結果のまとめはジョブ %3）。\nスライス（タスク: 巡）: %4\n"
                                "進み具合: quillonemu-cli slurm status %5")
                     .arg(round.arrayJob)
                     .arg(round.slices.size())
                     .arg(round.mergeJob, slicesText(round.slices), job.dir));
    return ExitStatus::Ok;
}

int submit(const Arguments &args, const QStringList &sbatchOptions)
{
    if (args.positional.size() != 2)
        return usageError(kCommand, QStringLiteral("slurm submit にはマクロファイルを 1 つ指定します。"));
    if (args.value(QStringLiteral("addr")).isEmpty())
        return usageError(kCommand, QStringLiteral("slurm submit には --addr でアドレスファイルを指定します。"));
    if (args.value(QStringLiteral("results")).isEmpty())
        return usageError(kCommand, QStringLiteral("slurm submit には --results でジョブのフォルダ（ノードが共有するディスク上）を指定します。"));
    const QString perTask = args.value(QStringLiteral("passes-per-task"), QStringLiteral("10"));
    bool ok = false;
    const qint64 passesPerTask = perTask.toLongLong(&ok);
    if (!ok || passesPerTask < 1)
        return usageError(kCommand, QStringLiteral("--passes-per-task の値「%1」は 1 以上の整数ではありません。").arg(perTask));

    QString error;
    std::optional<SlurmJob> job = prepareSlurmJob(args.positional[1], args.value(QStringLiteral("addr")),
                                                  args.value(QStringLiteral("results")), &error);
    if (!job) {
        Console::report(kCommand, error);
        return ExitStatus::Failed;
    }
    job->passesPerTask = passesPerTask;
    job->handsets = args.value(QStringLiteral("handsets"));
    if (!job->handsets.isEmpty())
        job->handsets = QFileInfo(job->handsets).absoluteFilePath();
    for (const char *name : {"partition", "time"}) {
        if (args.has(QLatin1String(name)))
            job->sbatchOptions.append(QStringLiteral("--%1=%2").arg(QLatin1String(name), args.value(QLatin1String(name))));
    }
    job->sbatchOptions += sbatchOptions;
    QList<qint64> passes;
    for (qint64 k = 1; k <= job->passes; ++k)
        passes.append(k);
    if (!job->submit(rangesOf(passes, passesPerTask), job->path(QStringLiteral("job.sbatch")), cliPath(), &error)) {
        Console::report(kCommand, error);
        return ExitStatus::Failed;
    }
    return submitted(*job);
}

// The job of the folder the arguments name, and where it stands: with
// Slurm's queue, or from the results files alone when the queue cannot be
// seen (`queueError` says why).
struct Observed {
    SlurmJob job;
    QList<QueuedTask> queued;
    QString queueError;
    JobState state;
};

std::optional<Observed> observe(const Arguments &args, int *status)
{
    std::optional<SlurmJob> job = readJob(args, status);
    if (!job)
        return std::nullopt;
    Observed seen{*job, {}, {}, {}};
    if (const std::optional<QList<QueuedTask>> tasks = queuedTasks(seen.job, &seen.queueError))
        seen.queued = *tasks;
    seen.state = jobState(seen.job, seen.queued);
    return seen;
}

// 0 once every pass of the job is ok, 3 before.
int jobExit(const Observed &seen)
{
    return seen.state.count(PassState::Kind::Ok) == seen.job.passes ? ExitStatus::Ok : ExitStatus::PassesFailed;
}

int status(const Observed *seen)
{
    const SlurmJob *job = &seen->job;
    const JobState &state = seen->state;
    const QString &queueError = seen->queueError;
    Console::out(QStringLiteral("ジョブ「%1」（%2）").arg(job->name, job->dir));
    Console::out(jobSummary(*job, state));
    QMap<QString, QStringList> where;
    qint64 runningTasks = 0;
    qint64 waitingTasks = 0;
    for (const QueuedTask &task : seen->queued) {
        if (task.state == QLatin1String("RUNNING")) {
            ++runningTasks;
            for (const SlurmJob::Round &round : job->rounds) {
                if (round.arrayJob == task.arrayJob && task.arrayIndex < round.slices.size())
                    where[task.node].append(round.slices[task.arrayIndex].text());
            }
        } else {
            ++waitingTasks;
        }
    }
    for (auto it = where.cbegin(); it != where.cend(); ++it)
        Console::out(QStringLiteral("実行中: ノード %1 で巡 %2").arg(it.key(), it.value().join(QStringLiteral("、"))));
    if (!queueError.isEmpty())
        Console::out(QStringLiteral("Slurm の待ち行列を見られませんでした（%1）。結果ファイルだけから数えています。").arg(queueError));
    else
        Console::out(QStringLiteral("Slurm のタスク: 実行中 %1、待ち %2").arg(runningTasks).arg(waitingTasks));
    const qint64 left = state.count(PassState::Kind::Running) + state.count(PassState::Kind::Pending);
    const double mean = state.meanPassSeconds();
    if (left > 0 && mean > 0 && runningTasks > 0) {
        const double seconds = double(left) * mean / double(runningTasks);
        Console::out(QStringLiteral("終了予定: %1（残り約 %2、1 巡 %3、実行中のタスク %4 で）")
                         .arg(QDateTime::currentDateTime().addSecs(qint64(seconds)).toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                              formatDuration(seconds), formatDuration(mean))
                         .arg(runningTasks));
    }
    return jobExit(*seen);
}

int merge(const Observed *seen)
{
    const SlurmJob *job = &seen->job;
    const JobState &state = seen->state;
    QString error;
    if (!mergeSlurmJob(*job, state, &error)) {
        Console::report(kCommand, error);
        return ExitStatus::Failed;
    }
    Console::out(QStringLiteral("結果をまとめました: %1、%2").arg(job->path(QStringLiteral("results.csv")),
                                                                  job->path(QStringLiteral("results.xml"))));
    Console::out(jobSummary(*job, state));
    return jobExit(*seen);
}

int resume(const Arguments &args)
{
    int exit = ExitStatus::Ok;
    std::optional<SlurmJob> job = readJob(args, &exit);
    if (!job)
        return exit;
    QString error;
    const std::optional<QList<QueuedTask>> tasks = queuedTasks(*job, &error);
    if (!tasks) {
        Console::report(kCommand, error);
        return ExitStatus::Failed;
    }
    if (!tasks->isEmpty()) {
        Console::report(kCommand, QStringLiteral("ジョブのタスクがまだ Slurm の待ち行列にあります（%1 個）。終わってから"
                                                 "投入し直してください（止めるなら scancel %2）。")
                                      .arg(tasks->size())
                                      .arg(job->rounds.last().arrayJob));
        return ExitStatus::Failed;
    }
    const JobState state = jobState(*job, {});
    QList<qint64> notOk;
    for (qsizetype i = 0; i < state.passes.size(); ++i) {
        if (state.passes[i].kind != PassState::Kind::Ok)
            notOk.append(i + 1);
    }
    if (notOk.isEmpty()) {
        Console::out(QStringLiteral("全 %1 巡が成功しています。投入し直す巡はありません。").arg(formatCount(job->passes)));
        return ExitStatus::Ok;
    }
    const QString script = job->path(QStringLiteral("resume-%1.sbatch").arg(job->rounds.size()));
    if (!job->submit(rangesOf(notOk, job->passesPerTask), script, cliPath(), &error)) {
        Console::report(kCommand, error);
        return ExitStatus::Failed;
    }
    Console::out(QStringLiteral("成功していない %1 巡（%2）を投入し直します。")
                     .arg(formatCount(notOk.size()), rangesText(rangesOf(notOk, job->passes))));
    return submitted(*job);
}

} // namespace

int slurmCommand(const QStringList &arguments)
{
    // What follows "--" is sbatch's.
    const qsizetype dashes = arguments.indexOf(QStringLiteral("--"));
    const QStringList own = dashes < 0 ? arguments : arguments.mid(0, dashes);
    const QStringList sbatchOptions = dashes < 0 ? QStringList() : arguments.mid(dashes + 1);
    int exit = ExitStatus::Ok;
    const std::optional<Arguments> args =
        openCommand(kCommand, kHelp, own,
                    {{QStringLiteral("addr"), true},
                     {QStringLiteral("results"), true},
                     {QStringLiteral("passes-per-task"), true},
                     {QStringLiteral("partition"), true},
                     {QStringLiteral("time"), true},
                     {QStringLiteral("handsets"), true}},
                    -1, QStringLiteral("slurm のコマンド（gres、submit、status、merge、resume）がありません。"), &exit);
    if (!args)
        return exit;
    const QString what = args->positional.first();
    if (what != QLatin1String("submit") && (args->values.size() > 0 || !sbatchOptions.isEmpty()))
        return usageError(kCommand, QStringLiteral("slurm %1 はオプションを取りません。").arg(what));
    if (what == QLatin1String("gres"))
        return gres(*args);
    if (what == QLatin1String("submit"))
        return submit(*args, sbatchOptions);
    if (what == QLatin1String("status") || what == QLatin1String("merge")) {
        const std::optional<Observed> seen = observe(*args, &exit);
        if (!seen)
            return exit;
        return what == QLatin1String("status") ? status(&*seen) : merge(&*seen);
    }
    if (what == QLatin1String("resume"))
        return resume(*args);
    return usageError(kCommand, QStringLiteral("slurm のコマンド「%1」はありません（gres、submit、status、merge、resume）。").arg(what));
}
