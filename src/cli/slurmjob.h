#pragma once

#include "macro/passrecord.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// A job run as Slurm tasks: its folder on a disk the nodes share holds the
// copies of its files (job/), what was submitted (job.ini, the sbatch
// scripts), every task's results file (results/passes-FROM-TO.csv), their
// logs and evidence (logs/), and the merged results.
//
// Passes are numbered from 1 in address-file order: pass k takes the k-th
// GETSTRs' worth of address lines. A slice is a range of them that one task
// runs (run --passes FROM-TO).
struct PassSlice {
    qint64 first = 0;
    qint64 last = 0;
    QString text() const { return first == last ? QString::number(first) : QStringLiteral("%1-%2").arg(first).arg(last); }
};

// The ranges of `passes` (sorted, distinct), cut so that none holds more
// than `most`.
QList<PassSlice> rangesOf(const QList<qint64> &passes, qint64 most);

struct SlurmJob {
    // One sbatch: a job array, a slice a task, and the job that merges after it.
    struct Round {
        QString arrayJob;
        QString mergeJob;
        QList<PassSlice> slices;
    };

    QString dir;
    QString name;    // the macro's name, for Slurm's job names
    QString macro;   // the copies in dir/job
    QString addr;
    QString jobId;   // of the results (PassResults::jobId of the copies)
    QString handsets; // the handsets file on the nodes; empty: their default
    qint64 passes = 0;
    int getStrs = 1;
    qint64 passesPerTask = 10;
    QStringList sbatchOptions; // for every sbatch, before the script
    QList<Round> rounds;

    QString path(const QString &name) const;
    // The results file of slice `slice`.
    QString resultsFile(const PassSlice &slice) const;

    // Reads dir/job.ini; no value and `error` when it is not a job's folder.
    static std::optional<SlurmJob> read(const QString &dir, QString *error);
    bool write(QString *error) const;

    // Writes the sbatch script of `slices` (a job array, one task a slice,
    // each a run of its slice on the handset Slurm allocates) at
    // `scriptPath`, submits it and the job that merges after it, and adds
    // the round. `cli`: quillonemu-cli as the nodes start it.
    bool submit(const QList<PassSlice> &slices, const QString &scriptPath, const QString &cli, QString *error);
};

// A task of the job as squeue shows it.
struct QueuedTask {
    QString arrayJob;
    qint64 arrayIndex = -1;
    QString state; // RUNNING, PENDING, ...
    QString node;
};

// The job's tasks still in Slurm's queue; no value and `error` when squeue
// cannot be asked.
std::optional<QList<QueuedTask>> queuedTasks(const SlurmJob &job, QString *error);

// Where each pass of the job stands.
struct PassState {
    enum class Kind { Ok, Failed, Running, Pending };
    Kind kind = Kind::Pending;
    std::optional<PassRecord> last; // its newest row in any results file
    int timesDone = 0;              // rows ok or ok-after-retry
    QString node;                   // Running: where
};

struct JobState {
    QList<PassState> passes; // pass k at index k - 1
    QStringList unreadable;  // results files that could not be read
    qint64 queuedTasks = 0;  // the job's tasks still in Slurm's queue, running or not
    qint64 count(PassState::Kind kind) const;
    // The passes of `kind`, as ranges.
    QList<PassSlice> ranges(PassState::Kind kind) const;
    double meanPassSeconds() const; // of the passes done; 0: none yet
};

JobState jobState(const SlurmJob &job, const QList<QueuedTask> &queued);

// "1-2, 5, 7-9"
QString rangesText(const QList<PassSlice> &ranges);
