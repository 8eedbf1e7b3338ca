#pragma once

#include "link/keypacket.h"

#include <QString>
#include <QStringList>
#include <optional>

// One line of a macro file as a statement. The line is split into words at
// every single space (two spaces give an empty word, a leading space an empty
// word 0; tabs belong to the words). Word 0, upper-cased from a-z to A-Z, is
// the keyword; word 1, exactly as written, is the argument. Later words are
// remarks.
struct Statement {
    enum class Kind { None, Key, BaseWait, PortNo, Sleep, Repeat, GetStr, SendStr, String, Exit };

    Kind kind = Kind::None;
    QString keyword;
    // Word 1 when the line has one (possibly empty, after two spaces).
    std::optional<QString> argument;
    // The packet of a key statement.
    KeyPacket packet;
};

// The words of `line`, split at every single space.
QStringList splitWords(const QString &line);

// `word` with a-z turned into A-Z and everything else unchanged.
QString upperCaseKeyword(const QString &word);

Statement parseStatement(const QString &line);

// The eight control keywords, "BASEWAIT" ... "EXIT".
QStringList controlKeywords();
