#pragma once

#include "macro/runfailure.h"

#include <QList>
#include <QString>

// The recovery a macro names with ONFAIL FILE [RETRY N], read before a run
// or a check: the macro that brings the handset back to where a pass starts
// when a screen wait of a pass runs out, and what stands in its way. Its
// file is named from the macro's folder; it may hold keys, STRING, SLEEP,
// BASEWAIT and the screen statements, nothing that takes addresses, ends
// passes or the program, or changes the port.
struct RecoveryPlan {
    // The recovery macro's path as the run opens it; empty: no ONFAIL.
    QString path;
    // As the ONFAIL line wrote it.
    QString written;
    int retries = 0;
    qint64 line = 0; // ONFAIL's line in the macro
    // The macro opens a screen source itself (SCREEN): the recovery's
    // screen statements may rely on it.
    bool macroOpensScreen = false;
    // The GETSTRs of the macro's pass: the address lines a pass takes.
    int getStrs = 0;
    // What refuses the run, in line order: the ONFAIL line's own problems,
    // then the recovery macro's lines.
    QList<RunFailure> problems;
};

// Reads the macro at `macroPath` for its ONFAIL and the recovery macro it
// names. A macro that cannot be read gives an empty plan (the run and the
// check say why elsewhere).
RecoveryPlan readRecoveryPlan(const QString &macroPath);

// Whether a statement of `kind` may stand in a recovery macro.
bool allowedInRecovery(int kind);
