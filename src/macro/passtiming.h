#pragma once

#include "link/keypacket.h"
#include "macro/statement.h"
#include "platform/linetiming.h"

#include <QList>
#include <QString>
#include <optional>

// How long one pass of a macro takes: the waits after its statements and the
// time its packets need on the line. The checker's summary and its warnings
// about packets that queue on the line reason from here.

// The time one packet takes on the line: ten bytes of 11 bit times at 600
// baud, about 0.183 s.
inline constexpr double kPacketWireSeconds = LineTiming::lineMs(KeyPacket::kSize) / 1000.0;

// One statement of a pass, with what it sends and waits.
struct PassStep {
    qint64 line = 0; // in the file, as an editor counts it
    Statement statement;
    int packets = 0;
    double sleep = 0;              // a SLEEP's own seconds (0 when negative)
    std::optional<float> baseWait; // the base wait a BASEWAIT sets
};

// The waits of a pass that starts with a given base wait.
struct PassWaits {
    QList<double> after; // after each step: its SLEEP and the base wait (none after REPEAT and EXIT)
    double baseWait = 0;
    double sleep = 0;
    float endBaseWait = 0; // the base wait the pass leaves in force
};

PassWaits passWaits(const QList<PassStep> &steps, float startBaseWait);

// From step `i` to the next step that sends packets: the seconds between
// their starts, later in this pass or, when the pass repeats (`later` gives
// the next pass's waits), in the next one.
struct Gap {
    double seconds = 0;
    qsizetype next = 0;
    bool nextPass = false;
};
std::optional<Gap> gapAfter(const QList<PassStep> &steps, qsizetype i, const QList<double> &current,
                            const QList<double> *later);

// What one pass of the run (from the first line to REPEAT, EXIT or the end of
// the file) does, with the address file read from its first line.
struct PassSummary {
    // The lines of the pass; both 0 when the file holds no statement.
    qint64 firstLine = 0;
    qint64 lastLine = 0;
    // "REPEAT" or "EXIT" when one ends the pass; empty at the end of the file.
    QString endKeyword;
    // Non-empty lines executed, the last one included.
    int statements = 0;
    int packets = 0;
    // Base waits after the statements, and SLEEPs; negative waits count 0.
    double baseWaitSeconds = 0;
    double sleepSeconds = 0;
    // The time the packets take on the line (kPacketWireSeconds each).
    double wireSeconds = 0;
    // With REPEAT, the base waits of every later pass when they differ from
    // the first: a later pass starts with the base wait the pass before left
    // in force, the first with 0.
    std::optional<double> laterBaseWaitSeconds;
};

PassSummary summarizePass(const QList<PassStep> &steps, const PassWaits &first, const PassWaits &later);

// Seconds with at most three decimals and no trailing zeros: "0.183", "11".
QString formatSeconds(double seconds);
