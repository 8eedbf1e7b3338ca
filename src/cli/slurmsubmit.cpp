// slurm submit and slurm resume: a job's files copied into its folder, its
// passes cut into slices, one Slurm job-array task a slice.

#include "cli/slurmsubmit.h"

#include "macro/filelines.h"
#include "macro/jobestimate.h"
#include "macro/passresults.h"
#include "macro/recovery.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace {

// Copies `from` to `to` (a copy left by a submission that failed before
// any task existed is replaced): false and `error` when it cannot.
bool copyInto(const QString &from, const QString &to, QString *error)
{
    QFile::remove(to);
    if (!QDir().mkpath(QFileInfo(to).absolutePath()) || !QFile::copy(from, to)) {
        *error = QStringLiteral("「%1」を「%2」に写せません。").arg(from, to);
        return false;
    }
    return true;
}

// The files beside the macro that its lines (or its recovery macro's) name:
// the templates, relative to the macro's folder.
QStringList namedFilesBeside(const QString &macroDir, const QString &text)
{
    QStringList named;
    QDirIterator files(macroDir, QDir::Files, QDirIterator::Subdirectories);
    const QString folded = QString(text).replace(u'\\', u'/').toCaseFolded();
    for (int seen = 0; files.hasNext() && seen < 20000; ++seen) {
        const QString relative = QDir(macroDir).relativeFilePath(files.next());
        if (folded.contains(relative.toCaseFolded()))
            named.append(relative);
    }
    return named;
}

} // namespace

std::optional<SlurmJob> prepareSlurmJob(const QString &macroPath, const QString &addrPath, const QString &dir,
                                        QString *error)
{
    const FileLines macro = readFileLines(macroPath);
    if (!macro.opened || macro.failed) {
        *error = QStringLiteral("マクロファイル「%1」を読めません。").arg(macroPath);
        return std::nullopt;
    }
    const PassShape shape = passShape(macro.lines);
    if (!shape.repeats || shape.getStrs < 1) {
        *error = QStringLiteral("マクロ「%1」は巡ごとにアドレスファイルの行を読んで（GETSTR）REPEAT で繰り返すマクロでは"
                                "ありません。Slurm には巡をスライスに分けられるジョブだけを投入できます。")
                     .arg(macroPath);
        return std::nullopt;
    }
    const std::optional<qint64> lines = countFileLines(addrPath);
    if (!lines) {
        *error = QStringLiteral("アドレスファイル「%1」を読めません。").arg(addrPath);
        return std::nullopt;
    }
    const RecoveryPlan recovery = readRecoveryPlan(macroPath);
    if (!recovery.problems.isEmpty()) {
        *error = recovery.problems.first().messageText();
        return std::nullopt;
    }
    if (QFileInfo(QDir(dir).filePath(QStringLiteral("job.ini"))).exists()) {
        *error = QStringLiteral("フォルダ「%1」にはもうジョブがあります。続きは slurm resume %1 で投入します。").arg(dir);
        return std::nullopt;
    }

    // The copies the tasks run: the job must not change under them.
    SlurmJob job;
    job.dir = QFileInfo(dir).absoluteFilePath();
    job.name = QFileInfo(macroPath).completeBaseName();
    const QString macroDir = QFileInfo(macroPath).absolutePath();
    const QString jobDir = job.path(QStringLiteral("job"));
    job.macro = QDir(jobDir).filePath(QFileInfo(macroPath).fileName());
    job.addr = QDir(job.path(QStringLiteral("addr"))).filePath(QFileInfo(addrPath).fileName());
    if (!copyInto(macroPath, job.macro, error) || !copyInto(addrPath, job.addr, error))
        return std::nullopt;
    QString text = macro.lines.join(u'\n');
    if (!recovery.path.isEmpty()) {
        const QString relative = QDir(macroDir).relativeFilePath(recovery.path);
        if (QDir::isAbsolutePath(recovery.written) || relative.startsWith(QLatin1String(".."))) {
            *error = QStringLiteral("%1:%2: 回復マクロ「%3」はマクロのフォルダの外にあります。ジョブのフォルダに写せるよう、"
                                    "マクロと同じフォルダかその下に置いてください。")
                         .arg(macroPath)
                         .arg(recovery.line)
                         .arg(recovery.written);
            return std::nullopt;
        }
        if (!copyInto(recovery.path, QDir(jobDir).filePath(relative), error))
            return std::nullopt;
        text += u'\n' + readFileLines(recovery.path).lines.join(u'\n');
    }
    for (const QString &relative : namedFilesBeside(macroDir, text)) {
        const QString to = QDir(jobDir).filePath(relative);
        if (!QFileInfo::exists(to) && !copyInto(QDir(macroDir).filePath(relative), to, error))
            return std::nullopt;
    }
    job.getStrs = shape.getStrs;
    job.passes = passesAllowed(*lines, 0, shape.getStrs);
    if (job.passes < 1) {
        *error = QStringLiteral("アドレスファイル「%1」には 1 巡分の行もありません。").arg(addrPath);
        return std::nullopt;
    }
    job.jobId = PassResults::jobId(job.macro, readRecoveryPlan(job.macro).path, job.addr);
    return job;
}
