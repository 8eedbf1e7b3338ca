// slurm merge: one results file and one JUnit file for a job whose passes
// ran as Slurm tasks.

#include "cli/slurmmerge.h"

#include "macro/amounts.h"
#include "macro/filelines.h"
#include "macro/passresults.h"

#include <QFile>

bool mergeSlurmJob(const SlurmJob &job, const JobState &state, QString *error)
{
    const QString csvPath = job.path(QStringLiteral("results.csv"));
    const QString partPath = csvPath + QStringLiteral(".part");
    QFile::remove(partPath);
    QList<PassRecord> rows;
    QList<PassRecord> cases;
    const QStringList addrLines = readFileLines(job.addr).lines;
    for (qsizetype i = 0; i < state.passes.size(); ++i) {
        const PassState &p = state.passes[i];
        if (p.last) {
            rows.append(*p.last);
            cases.append(*p.last);
            continue;
        }
        // A pass no task has run yet stands in the JUnit file as an error.
        PassRecord pending;
        pending.counter = qint32(i);
        pending.firstAddrLine = i * job.getStrs + 1;
        pending.lastAddrLine = (i + 1) * job.getStrs;
        pending.address = addrLines.mid(i * job.getStrs, job.getStrs).join(QStringLiteral(" / "));
        pending.result = PassRecord::Result::Stopped;
        pending.message = p.kind == PassState::Kind::Running
                              ? QStringLiteral("実行中です（ノード %1）。").arg(p.node)
                              : QStringLiteral("まだ実行されていません。slurm resume %1 で実行します。").arg(job.dir);
        cases.append(pending);
    }
    PassResults merged;
    if (!merged.open(partPath, job.jobId, error))
        return false;
    for (const PassRecord &row : rows) {
        if (!merged.write(row, error)) {
            merged.close();
            QFile::remove(partPath);
            return false;
        }
    }
    merged.close();
    QFile::remove(csvPath);
    if (!QFile::rename(partPath, csvPath)) {
        *error = QStringLiteral("結果ファイル「%1」に書けません。").arg(csvPath);
        return false;
    }
    return writeJUnit(job.path(QStringLiteral("results.xml")), job.name, cases, error);
}

QString jobSummary(const SlurmJob &job, const JobState &state)
{
    using Kind = PassState::Kind;
    QString text = QStringLiteral("全 %1 巡: 成功 %2、失敗 %3、実行中 %4、未実行 %5。")
                       .arg(formatCount(job.passes), formatCount(state.count(Kind::Ok)),
                            formatCount(state.count(Kind::Failed)), formatCount(state.count(Kind::Running)),
                            formatCount(state.count(Kind::Pending)));
    if (state.count(Kind::Failed) > 0)
        text += QStringLiteral("\n失敗した巡: %1").arg(rangesText(state.ranges(Kind::Failed)));
    if (state.count(Kind::Pending) > 0)
        text += QStringLiteral("\n未実行の巡: %1").arg(rangesText(state.ranges(Kind::Pending)));
    QList<qint64> twice;
    for (qsizetype i = 0; i < state.passes.size(); ++i) {
        if (state.passes[i].timesDone > 1)
            twice.append(i + 1);
    }
    if (!twice.isEmpty()) {
        text += QStringLiteral("\n結果ファイルに 2 回以上成功と記録された巡（同じアドレスが 2 回以上入力されています）: %1")
                    .arg(rangesText(rangesOf(twice, job.passes)));
    }
    for (const QString &unreadable : state.unreadable)
        text += QStringLiteral("\n読めない結果ファイル: %1").arg(unreadable);
    if (state.count(Kind::Failed) + state.count(Kind::Pending) > 0 && state.queuedTasks == 0)
        text += QStringLiteral("\n成功していない巡は slurm resume %1 で投入し直せます。").arg(job.dir);
    return text;
}
