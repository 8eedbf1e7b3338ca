#include "tempfiles.h"

#include "platform/cp932.h"

#include <QFile>

QByteArray toShiftJis(const QString &text)
{
    return encodeCp932(text);
}

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
    return writeBytes(name, toShiftJis(text));
}
