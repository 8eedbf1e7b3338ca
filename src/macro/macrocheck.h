#pragma once

#include "macro/jobestimate.h"
#include "macro/passtiming.h"

#include <QList>
#include <QString>
#include <functional>
#include <optional>

// A check of a macro file before it runs: the file is read exactly as the run
// reads it (the same line reader, the same statement parsing and typing), and
// every statement one pass would execute is looked at for what would stop the
// run (errors, in the run's own words) and what would not do what the writer
// most likely meant (warnings). Nothing is sent and no file is written.

struct MacroDiagnostic {
    enum class Level { Warning, Error };

    Level level = Level::Warning;
    // The macro file or the address file, as the caller named it.
    QString file;
    // The line in that file as an editor counts it (empty lines included),
    // from 1; 0 when the finding is about the file as a whole.
    qint64 line = 0;
    // What is wrong, in Japanese, on one line.
    QString message;
};

struct MacroCheck {
    // The macro file's findings in line order, then the address file's.
    QList<MacroDiagnostic> diagnostics;
    // No value when the macro file could not be read.
    std::optional<PassSummary> pass;
    // The lines of the address file, when one was given and could be read.
    std::optional<qint64> addressLines;
    // The whole job from the counter on; no value when the macro file holds
    // no statement, or the address file could not be read or is shorter
    // than the counter.
    std::optional<JobEstimate> job;
    // The pass's screen waits (WAITIMAGE, WAITGONE, WAITTEXT): the estimates count
    // each as its whole time-out, the longest it can take.
    int screenWaits = 0;
    // The recovery macro (ONFAIL) when the macro names one that can run:
    // its path, the tries again, and how long it takes once (its waits at
    // their time-outs); it runs only after a failed pass, so it is not in
    // the job's estimate.
    struct Recovery {
        QString path;
        int retries = 0;
        std::optional<double> seconds;
    };
    std::optional<Recovery> recovery;
};

// What the checker needs to know of the screen: whether the run is given a
// source from outside (--screen, /S), and why a template cannot be used
// (empty when it can; by default a file that is missing or unreadable).
struct ScreenCheck {
    bool sourceGiven = false;
    std::function<QString(const QString &path)> templateProblem;
};

// Checks the macro file at `macroPath` against the address file at
// `addrPath` (empty: none given) for a run that starts at `counter`: the
// first pass reads the address lines after the first `counter` ones. Both
// files are only read.
MacroCheck checkMacro(const QString &macroPath, const QString &addrPath, qint64 counter = 0,
                      const ScreenCheck &screen = {});
