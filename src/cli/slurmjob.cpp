// A job's folder on Slurm: what was submitted, and where its passes stand.

#include "cli/slurmjob.h"

#include "cli/slurmhandset.h"
#include "macro/passresults.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QSettings>
#include <algorithm>

namespace {

// `text` for a POSIX shell, as one word.
QString shellWord(const QString &text)
{
    QString quoted = text;
    quoted.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + quoted + u'\'';
}

std::optional<PassSlice> rangeFromText(const QString &text)
{
    bool firstOk = false;
    bool lastOk = false;
    const PassSlice range{text.section(u'-', 0, 0).toLongLong(&firstOk), text.section(u'-', -1).toLongLong(&lastOk)};
    if (!firstOk || !lastOk || range.first < 1 || range.last < range.first)
        return std::nullopt;
    return range;
}

} // namespace

QList<PassSlice> rangesOf(const QList<qint64> &passes, qint64 most)
{
    QList<PassSlice> ranges;
    for (const qint64 pass : passes) {
        if (!ranges.isEmpty() && ranges.last().last == pass - 1 && ranges.last().last - ranges.last().first + 1 < most)
            ranges.last().last = pass;
        else
            ranges.append({pass, pass});
    }
    return ranges;
}

QString rangesText(const QList<PassSlice> &ranges)
{
    QStringList parts;
    for (const PassSlice &r : ranges)
        parts.append(r.text());
    return parts.join(QStringLiteral(", "));
}

QString SlurmJob::path(const QString &name) const
{
    return QDir(dir).filePath(name);
}

QString SlurmJob::resultsFile(const PassSlice &slice) const
{
    return path(QStringLiteral("results/passes-%1-%2.csv").arg(slice.first).arg(slice.last));
}

std::optional<SlurmJob> SlurmJob::read(const QString &dir, QString *error)
{
    SlurmJob job;
    job.dir = QFileInfo(dir).absoluteFilePath();
    if (!QFileInfo(job.path(QStringLiteral("job.ini"))).isFile()) {
        *error = QStringLiteral("「%1」は slurm submit で作ったジョブのフォルダではありません（job.ini がありません）。").arg(dir);
        return std::nullopt;
    }
    QSettings ini(job.path(QStringLiteral("job.ini")), QSettings::IniFormat);
    job.name = ini.value(QStringLiteral("name")).toString();
    job.macro = job.path(ini.value(QStringLiteral("macro")).toString());
    job.addr = job.path(ini.value(QStringLiteral("addr")).toString());
    job.jobId = ini.value(QStringLiteral("jobId")).toString();
    job.handsets = ini.value(QStringLiteral("handsets")).toString();
    job.passes = ini.value(QStringLiteral("passes")).toLongLong();
    job.getStrs = std::max(1, ini.value(QStringLiteral("getStrs")).toInt());
    job.passesPerTask = std::max<qint64>(1, ini.value(QStringLiteral("passesPerTask")).toLongLong());
    job.sbatchOptions = ini.value(QStringLiteral("sbatchOptions")).toStringList();
    const int rounds = ini.beginReadArray(QStringLiteral("round"));
    for (int i = 0; i < rounds; ++i) {
        ini.setArrayIndex(i);
        Round round{ini.value(QStringLiteral("arrayJob")).toString(), ini.value(QStringLiteral("mergeJob")).toString(), {}};
        for (const QString &text : ini.value(QStringLiteral("slices")).toString().split(u',', Qt::SkipEmptyParts)) {
            if (const std::optional<PassSlice> slice = rangeFromText(text))
                round.slices.append(*slice);
        }
        job.rounds.append(round);
    }
    ini.endArray();
    if (ini.status() != QSettings::NoError || job.passes < 1) {
        *error = QStringLiteral("ジョブのファイル「%1」を読めません。").arg(job.path(QStringLiteral("job.ini")));
        return std::nullopt;
    }
    return job;
}

bool SlurmJob::write(QString *error) const
{
    const QString iniPath = path(QStringLiteral("job.ini"));
    {
        QSettings ini(iniPath, QSettings::IniFormat);
        ini.clear();
        ini.setValue(QStringLiteral("name"), name);
        ini.setValue(QStringLiteral("macro"), QDir(dir).relativeFilePath(macro));
        ini.setValue(QStringLiteral("addr"), QDir(dir).relativeFilePath(addr));
        ini.setValue(QStringLiteral("jobId"), jobId);
        ini.setValue(QStringLiteral("handsets"), handsets);
        ini.setValue(QStringLiteral("passes"), passes);
        ini.setValue(QStringLiteral("getStrs"), getStrs);
        ini.setValue(QStringLiteral("passesPerTask"), passesPerTask);
        ini.setValue(QStringLiteral("sbatchOptions"), sbatchOptions);
        ini.beginWriteArray(QStringLiteral("round"), int(rounds.size()));
        for (int i = 0; i < rounds.size(); ++i) {
            ini.setArrayIndex(i);
            ini.setValue(QStringLiteral("arrayJob"), rounds[i].arrayJob);
            ini.setValue(QStringLiteral("mergeJob"), rounds[i].mergeJob);
            QStringList slices;
            for (const PassSlice &s : rounds[i].slices)
                slices.append(QStringLiteral("%1-%2").arg(s.first).arg(s.last));
            ini.setValue(QStringLiteral("slices"), slices.join(u','));
        }
        ini.endArray();
        ini.sync();
        if (ini.status() == QSettings::NoError)
            return true;
    }
    *error = QStringLiteral("ジョブのファイル「%1」に書けません。").arg(iniPath);
    return false;
}

bool SlurmJob::submit(const QList<PassSlice> &slices, const QString &scriptPath, const QString &cli, QString *error)
{
    QString script = QStringLiteral("#!/bin/sh\n"
                                    "# QuillonEmu のジョブ「%1」: 1 タスクが 1 スライスの巡を、Slurm が割り当てた携帯電話機で実行します。\n"
                                    "#SBATCH --array=0-%2\n"
                                    "#SBATCH --gres=handset:1\n"
                                    "#SBATCH --ntasks=1\n"
                                    "case \"$SLURM_ARRAY_TASK_ID\" in\n")
                         .arg(name)
                         .arg(slices.size() - 1);
    for (qsizetype i = 0; i < slices.size(); ++i)
        script += QStringLiteral("  %1) passes=%2-%3 ;;\n").arg(i).arg(slices[i].first).arg(slices[i].last);
    script += QStringLiteral("  *) echo \"配列の番号 $SLURM_ARRAY_TASK_ID のスライスはありません\" >&2; exit 2 ;;\nesac\n");
    const QString results = path(QStringLiteral("results/passes-"));
    const QString logs = path(QStringLiteral("logs/passes-"));
    // A slice run before (a task Slurm requeued) goes on in its own results
    // file: its passes already ok are not typed again.
    script += QStringLiteral("results=%5\"$passes\".csv\n"
                             "record=--results\n"
                             "[ -s \"$results\" ] && record=--resume\n"
                             "exec %1 run %2 --addr %3 --passes \"$passes\" --handset-from-slurm%4 \\\n"
                             "  \"$record\" \"$results\" --log %6\"$passes\".jsonl\n")
                  .arg(shellWord(cli), shellWord(macro), shellWord(addr),
                       handsets.isEmpty() ? QString() : QStringLiteral(" --handsets ") + shellWord(handsets),
                       shellWord(results), shellWord(logs));
    QSaveFile file(scriptPath);
    if (!QDir().mkpath(path(QStringLiteral("results"))) || !QDir().mkpath(path(QStringLiteral("logs"))) ||
        !file.open(QIODevice::WriteOnly) || file.write(script.toUtf8()) < 0 || !file.commit()) {
        *error = QStringLiteral("「%1」に書けません: %2").arg(scriptPath, file.errorString());
        return false;
    }
    QFile::setPermissions(scriptPath, QFile::permissions(scriptPath) | QFileDevice::ExeOwner);

    Round round;
    round.slices = slices;
    const std::optional<QString> array = slurmCommand(
        QStringLiteral("sbatch"),
        QStringList{QStringLiteral("--parsable"), QStringLiteral("--job-name=quillonemu-") + name,
                    QStringLiteral("--output=") + path(QStringLiteral("logs/task-%A_%a.out"))} +
            sbatchOptions + QStringList{scriptPath},
        error);
    if (!array)
        return false;
    round.arrayJob = array->trimmed().section(u';', 0, 0);
    // The job that merges the results once every task has ended, however.
    const std::optional<QString> merge = slurmCommand(
        QStringLiteral("sbatch"),
        QStringList{QStringLiteral("--parsable"), QStringLiteral("--dependency=afterany:") + round.arrayJob,
                    QStringLiteral("--job-name=quillonemu-merge-") + name,
                    QStringLiteral("--output=") + path(QStringLiteral("logs/merge-%j.out"))} +
            sbatchOptions +
            QStringList{QStringLiteral("--wrap=") + shellWord(cli) + QStringLiteral(" slurm merge ") + shellWord(dir)},
        error);
    round.mergeJob = merge ? merge->trimmed().section(u';', 0, 0) : QString();
    rounds.append(round);
    QString writeError;
    if (!write(&writeError)) {
        *error = merge ? writeError : *error + u'\n' + writeError;
        return false;
    }
    return merge.has_value();
}

std::optional<QList<QueuedTask>> queuedTasks(const SlurmJob &job, QString *error)
{
    QSet<QString> ours;
    for (const SlurmJob::Round &r : job.rounds)
        ours.insert(r.arrayJob);
    // Every job in the queue: squeue -j refuses ids that have left it.
    const std::optional<QString> out =
        slurmCommand(QStringLiteral("squeue"), {QStringLiteral("-h"), QStringLiteral("-r"), QStringLiteral("-o"),
                                                QStringLiteral("%F|%K|%T|%N")},
                     error);
    if (!out)
        return std::nullopt;
    QList<QueuedTask> tasks;
    for (const QString &line : out->split(u'\n', Qt::SkipEmptyParts)) {
        const QStringList fields = line.trimmed().split(u'|');
        if (fields.size() < 4 || !ours.contains(fields[0]))
            continue;
        bool ok = false;
        const qint64 index = fields[1].toLongLong(&ok);
        if (ok)
            tasks.append({fields[0], index, fields[2], fields[3]});
    }
    return tasks;
}

qint64 JobState::count(PassState::Kind kind) const
{
    return std::count_if(passes.begin(), passes.end(), [kind](const PassState &p) { return p.kind == kind; });
}

QList<PassSlice> JobState::ranges(PassState::Kind kind) const
{
    QList<qint64> numbers;
    for (qsizetype i = 0; i < passes.size(); ++i) {
        if (passes[i].kind == kind)
            numbers.append(i + 1);
    }
    return rangesOf(numbers, passes.size());
}

double JobState::meanPassSeconds() const
{
    double seconds = 0;
    qint64 done = 0;
    for (const PassState &p : passes) {
        if (p.kind == PassState::Kind::Ok && p.last) {
            seconds += p.last->seconds;
            ++done;
        }
    }
    return done > 0 ? seconds / double(done) : 0;
}

JobState jobState(const SlurmJob &job, const QList<QueuedTask> &queued)
{
    JobState state;
    state.passes.resize(job.passes);
    state.queuedTasks = queued.size();
    const QDir results(job.path(QStringLiteral("results")));
    for (const QFileInfo &file : results.entryInfoList({QStringLiteral("passes-*.csv")}, QDir::Files, QDir::Name)) {
        QString error;
        const std::optional<PassResults::Contents> contents = PassResults::read(file.filePath(), &error);
        if (!contents) {
            state.unreadable.append(error);
            continue;
        }
        for (const PassRecord &row : contents->rows) {
            if (row.firstAddrLine < 1)
                continue;
            const qint64 pass = (row.firstAddrLine - 1) / job.getStrs + 1;
            if (pass > job.passes)
                continue;
            PassState &p = state.passes[pass - 1];
            if (row.done())
                ++p.timesDone;
            // The newest row is the pass's truth, from whichever task.
            if (!p.last || !(row.start < p.last->start))
                p.last = row;
        }
    }
    for (PassState &p : state.passes) {
        if (p.last)
            p.kind = p.last->done() ? PassState::Kind::Ok : PassState::Kind::Failed;
    }
    // A running task's passes not yet done are running.
    for (const QueuedTask &task : queued) {
        if (task.state != QLatin1String("RUNNING"))
            continue;
        for (const SlurmJob::Round &round : job.rounds) {
            if (round.arrayJob != task.arrayJob || task.arrayIndex < 0 || task.arrayIndex >= round.slices.size())
                continue;
            const PassSlice slice = round.slices[task.arrayIndex];
            for (qint64 pass = slice.first; pass <= std::min(slice.last, job.passes); ++pass) {
                PassState &p = state.passes[pass - 1];
                if (p.kind != PassState::Kind::Ok) {
                    p.kind = PassState::Kind::Running;
                    p.node = task.node;
                }
            }
        }
    }
    return state;
}
