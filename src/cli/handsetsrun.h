#pragma once

#include "cli/handsetsfile.h"
#include "macro/macrosettings.h"

#include <QList>
#include <QSet>
#include <QString>
#include <optional>

// quillonemu-cli run --handsets: one job on many handsets. Every handset
// runs the same macro in a thread of its own, with its own runner, serial
// link and screen; the job's passes are dealt out one at a time to whichever
// handset is free. A handset that fails (its port, its screen, its recovery,
// too many failures in a row) leaves the job, and the pass it was doing goes
// to the others. One progress line, one results file, one closing line.
struct HandsetsRun {
    MacroSettings settings; // the macro and the address file
    QList<HandsetEntry> handsets;
    // The passes, by counter: first to last (none: without end), less done.
    qint32 firstCounter = 0;
    std::optional<qint32> lastCounter;
    QSet<qint32> donePasses;
    bool repeats = false;
    QString resultsPath;
    QString junitPath;
    QString logPath;
    std::optional<int> maxFailuresInARow;
};

// What refuses a macro on many handsets: PORTNO or SCREEN (the handsets file
// names each handset's port and screen), in the macro or its recovery; the
// message names the file and the line. Empty when none.
QString handsetsMacroProblem(const QString &macroPath);

// Runs the job; returns the exit status, as run's.
int runOnHandsets(const HandsetsRun &run);
