#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The single-byte characters that can be typed, each with the code page 932
// code of the full-width character the handset receives for it: digits,
// letters and 24 signs, 86 in all. Characters not in the table (space, "<",
// ">", "~", half-width katakana but "･", ...) are never typed.
class CharacterTable {
public:
    // The code for `ch`, compared exactly; a string of more or fewer than one
    // character never matches.
    static std::optional<quint16> find(const QString &ch);

    // Every character of the table, in table order.
    static QStringList characters();
};
