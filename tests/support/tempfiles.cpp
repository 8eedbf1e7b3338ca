#include "tempfiles.h"

#include "platform/cp932.h"

#include <QFile>

QString TempFiles::writeBytes(const QString &name, const QByteArray &bytes)
{
    const QString full = dir_.filePath(name);
    QFile file(full);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
    return full;
}

QString TempFiles::writeShiftJis(const QString &name, const QString &text)
{
    return writeBytes(name, encodeCp932(text));
}

QStringList macroFileLines(const QString &path, bool withSleeps)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {QStringLiteral("cannot read ") + path};
    const QByteArray bytes = file.readAll();
    if (!bytes.endsWith("\r\n"))
        return {QStringLiteral("no CR LF at the end")};
    QStringList lines = decodeCp932(bytes.chopped(2)).split(QStringLiteral("\r\n"));
    if (!withSleeps)
        lines.removeIf([](const QString &line) { return line.startsWith(QLatin1String("SLEEP ")); });
    return lines;
}
