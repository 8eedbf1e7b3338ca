#pragma once

#include "rack/handsetsjob.h"

#include <QString>

// quillonemu-cli run --handsets: what the job on many handsets writes. One
// progress line, one results file, one log, one closing line.
struct HandsetsOutput {
    QString resultsPath;
    QString junitPath;
    QString logPath;
};

// Runs the job; returns the exit status, as run's.
int runOnHandsets(HandsetsRun run, const HandsetsOutput &output);
