#pragma once

#include <QList>
#include <QString>
#include <optional>

// The command line's switches: "/M" macro file, "/A" address file, "/P" port,
// "/S" the screen's source (a camera, a stream's URL, a video or picture file),
// "/R" the results file of the job, "/F" the failed passes in a row that stop
// a job with a recovery macro, "/H" the handsets file (the job's passes dealt
// out to every handset it names).
// The text is split at every double quote followed by a space; each piece
// loses its double quotes, its first two characters are the switch (compared
// exactly, case-sensitive) and the rest, untouched, is the value. Pieces with
// no known switch are ignored; a switch given twice is applied twice.
struct CommandLineSwitch {
    QChar letter; // 'M', 'A', 'P', 'S', 'R', 'F' or 'H'
    QString value;

    friend bool operator==(const CommandLineSwitch &, const CommandLineSwitch &) = default;
};

QList<CommandLineSwitch> parseCommandLineSwitches(const QString &text);

// What the switches set, a later switch overriding an earlier one: the
// macro file, the address file and, when a /P was given, the port text.
struct StartSettings {
    QString macroFile;
    QString addrFile;
    std::optional<QString> port;
    std::optional<QString> screen;
    std::optional<QString> results;
    std::optional<QString> maxFailuresInARow;
    std::optional<QString> handsets;
};

// The switches of a whole command line (spaces around it trimmed), applied.
StartSettings startSettings(const QString &commandLine);

// `text` without leading and trailing space characters (spaces only).
QString trimSpaces(const QString &text);
