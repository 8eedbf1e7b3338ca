#pragma once

#include "link/keypacket.h"

#include <QString>
#include <QStringList>
#include <optional>

// One line of a macro file as a statement, parsed and typed once: the run
// executes it and the checker looks it over from the same values. The line
// is split into words at every single space (two spaces give an empty word, a
// leading space an empty word 0; tabs belong to the words). Word 0,
// upper-cased from a-z to A-Z, is the keyword; word 1, exactly as written,
// is the argument. Later words are remarks.
struct Statement {
    enum class Kind { None, Key, BaseWait, PortNo, Sleep, Repeat, GetStr, SendStr, String, Exit };

    // Why a BASEWAIT, SLEEP or PORTNO cannot run.
    enum class Problem {
        None,
        Missing,     // the line has no word 1
        Empty,       // word 1 is empty (two spaces after the keyword)
        NotSeconds,  // BASEWAIT, SLEEP: word 1 is no number of seconds
        NotAPortNumber, // PORTNO: word 1 is no whole number
    };

    Kind kind = Kind::None;
    QString keyword;
    // Word 1 when the line has one (possibly empty, after two spaces).
    std::optional<QString> argument;
    // Kind::Key: the packet.
    KeyPacket packet;
    // BASEWAIT, SLEEP: the seconds (any sign; see parseSeconds).
    float seconds = 0;
    // PORTNO: the port number.
    qint32 port = 0;
    // STRING: the text it types (empty when the line has no word 1).
    QString text;
    Problem problem = Problem::None;

    bool isValid() const { return problem == Problem::None; }
};

// The words of `line`, split at every single space.
QStringList splitWords(const QString &line);

// `word` with a-z turned into A-Z and everything else unchanged.
QString upperCaseKeyword(const QString &word);

Statement parseStatement(const QString &line);

// The eight control keywords, "BASEWAIT" ... "EXIT".
QStringList controlKeywords();
