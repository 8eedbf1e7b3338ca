#pragma once

#include "macro/passtiming.h"

#include <QList>
#include <QStringList>
#include <optional>

// How long a whole job takes: every pass the address file allows, replayed
// the way the run paces them. Pure reckoning; nothing is read or sent here.

// What one pass of a macro file is made of.
struct PassShape {
    // The indexes of the lines one pass executes: the non-empty lines from
    // the first up to the first REPEAT or EXIT, that one included.
    QList<qsizetype> lines;
    int getStrs = 0;
    bool repeats = false; // REPEAT ends the pass: the run goes on pass after pass
};

PassShape passShape(const QStringList &lines);

// The passes an address file of `addressLines` lines allows a run that
// starts at `counter` (it skips that many lines first) and reads `getStrs`
// lines a pass: the pass after them ends at a GETSTR that finds no line.
qint64 passesAllowed(qint64 addressLines, qint64 counter, int getStrs);

struct JobEstimate {
    enum class Length {
        OnePass, // no REPEAT: the file runs once, to its end or to EXIT
        Counted, // REPEAT and GETSTR: as many passes as the address lines allow
        Endless, // REPEAT without GETSTR, or without an address file: until stopped
    };
    Length length = Length::OnePass;
    int getStrs = 0; // in one pass
    // OnePass: 1; Counted: the passes the address lines allow; Endless: 0.
    qint64 passes = 0;
    // OnePass, Counted: from the start until the line has carried the last
    // packet (the run closes the port only then). Endless: one pass, once the
    // line's queue has settled.
    double seconds = 0;
    // The waits of the same passes (SLEEPs and base waits, none shorter than
    // the shortest wait), and the time their packets take on the line. The
    // longer of the two mostly governs: a sender ahead of the line waits for
    // room in its bounded queue.
    double waitSeconds = 0;
    double wireSeconds = 0;
};

// The job of `steps` (one pass, as the checker reads it). `addressPackets`:
// the packets SENDSTR types for each address line the run reads, from the
// first line after the counter's skip; no value without an address file.
JobEstimate estimateJob(const QList<PassStep> &steps, const std::optional<QList<int>> &addressPackets);
