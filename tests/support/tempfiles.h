#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A scratch directory with helpers to write files in Shift-JIS.
class TempFiles {
public:
    // Writes `bytes` as they are; returns the full path.
    QString writeBytes(const QString &name, const QByteArray &bytes);
    // Writes `text` encoded in code page 932; returns the full path.
    QString writeShiftJis(const QString &name, const QString &text);
    QString path(const QString &name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
};

// The lines of a macro file as a recording writes it (Shift-JIS, each line
// ended by CR LF), its SLEEP lines left out unless `withSleeps` (they depend
// on how fast the test went).
QStringList macroFileLines(const QString &path, bool withSleeps = true);
