#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Every line of a text file as the run's reader gives it (Shift-JIS, CR LF,
// CR or LF), empty lines included, so that line i is the file's line i + 1.
struct FileLines {
    QStringList lines;
    bool opened = false;
    // The file could not be opened, or not read to its end: `reason` says why.
    bool failed = false;
    QString reason;
};

FileLines readFileLines(const QString &path);

// How many lines the file at `path` has, counted as the run's reader counts
// them, without decoding them; no value when it cannot be read to its end.
std::optional<qint64> countFileLines(const QString &path);
