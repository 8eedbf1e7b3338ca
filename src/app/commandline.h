#pragma once

#include <QList>
#include <QString>

// The command line's switches: "/M" macro file, "/A" address file, "/P" port.
// The text is split at every double quote followed by a space; each piece
// loses its double quotes, its first two characters are the switch (compared
// exactly, case-sensitive) and the rest, untouched, is the value. Pieces with
// no known switch are ignored; a switch given twice is applied twice.
struct CommandLineSwitch {
    QChar letter; // 'M', 'A' or 'P'
    QString value;

    friend bool operator==(const CommandLineSwitch &, const CommandLineSwitch &) = default;
};

QList<CommandLineSwitch> parseCommandLineSwitches(const QString &text);

// `text` without leading and trailing space characters (spaces only).
QString trimSpaces(const QString &text);
