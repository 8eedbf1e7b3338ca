#pragma once

#include "link/keypacket.h"
#include "platform/linetiming.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// A check of a macro file before it runs: the file is read exactly as the run
// reads it (the same line reader, the same statement parsing), and every
// statement one pass would execute is looked at for what would stop the run
// (errors) and what would not do what the writer most likely meant
// (warnings). Nothing is sent and no file is written.

// The time one packet takes on the line: ten bytes of 11 bit times at 600
// baud, about 0.183 s.
inline constexpr double kPacketWireSeconds = LineTiming::lineMs(KeyPacket::kSize) / 1000.0;

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

struct MacroCheck {
    // The macro file's findings in line order, then the address file's.
    QList<MacroDiagnostic> diagnostics;
    // No value when the macro file could not be read.
    std::optional<PassSummary> pass;
};

// Checks the macro file at `macroPath` against the address file at
// `addrPath` (empty: none given). Both are only read.
MacroCheck checkMacro(const QString &macroPath, const QString &addrPath);

// The characters of `text` that STRING (TextSender::SendString) cannot type:
// each once, in order of first appearance; a surrogate pair is one character.
QStringList untypableCharacters(const QString &text);
// The same for SENDSTR (TextSender::SendCharacters), which types only the
// characters of the character table.
QStringList unsentAddressCharacters(const QString &text);

// The characters for a message: 「<」、「€」、半角スペース、タブ.
QString describeCharacters(const QStringList &characters);

// Seconds with at most three decimals and no trailing zeros: "0.183", "11".
QString formatSeconds(double seconds);
