#pragma once

#include "rack/handsetsfile.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <optional>

// The handsets of a node as Slurm knows them: generic resources named
// "handset", one a device file, listed in gres.conf in the order of the
// node's handsets file. A job-array task is allocated one of them; Slurm
// names it by its index in that list (scontrol show job -d: GRES=handset:1(IDX:N)).

// Where the handsets file of a node lies unless told.
inline const QString kDefaultHandsetsFile = QStringLiteral("/etc/quillonemu/handsets.ini");

// Runs Slurm's command `program` (sbatch, squeue, scontrol) in
// `environment`; its standard output, or no value and a message in `error`
// when it cannot start, fails or has not answered within a minute.
std::optional<QString> slurmCommand(const QString &program, const QStringList &arguments, QString *error,
                                    const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

// The gres.conf lines of `handsets` (one a handset, in the file's order,
// each with its name in a comment line above it) and the node's Gres= for
// slurm.conf.
QString gresConfLines(const HandsetsFile &handsets);

// Names in a Slurm host list or device range: "lab[01-03,07]" is lab01,
// lab02, lab03, lab07; "/dev/ttyUSB[0-1]" is /dev/ttyUSB0, /dev/ttyUSB1.
// One bracket group; a word without brackets is itself.
QStringList expandSlurmRange(const QString &text);

// The device files of the handsets gres.conf gives node `node`, in the order
// Slurm counts them.
QStringList handsetDevicesOfNode(const QString &gresConf, const QString &node);

// The indexes of the handsets allocated to job `jobId`, from what
// `scontrol show job -d` printed (a job array's first task shows the others
// too: only the record of `jobId` counts).
QList<int> allocatedHandsetIndexes(const QString &scontrolText, const QString &jobId);

// The handset of the handsets file at `handsetsPath` that Slurm allocated to
// this task, from the task's environment (SLURM_JOB_ID, SLURMD_NODENAME,
// SLURM_CONF), `scontrol show job -d` and the node's gres.conf. No value and
// a message in `error` outside a Slurm job, without a handset allocated, and
// when the handsets file and the allocation disagree.
std::optional<HandsetEntry> handsetFromSlurm(const QString &handsetsPath, const QProcessEnvironment &environment,
                                             QString *error);

struct Arguments;
// run --handset-from-slurm [--handsets FILE]: points the run's --port and
// --screen at the handset Slurm allocated (--handsets then only said where
// to look: it is taken out, and the run is on that one handset). False with `*status` set when it
// cannot (the message already shown); true and nothing changed without
// --handset-from-slurm.
bool takeHandsetFromSlurm(const QString &command, Arguments &args, int *status);
