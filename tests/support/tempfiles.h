#pragma once

#include <QByteArray>
#include <QString>
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

// `text` encoded in code page 932 (characters it lacks are left out).
QByteArray toShiftJis(const QString &text);
