#include "tempfiles.h"

#include "platform/cp932.h"

#include <QFile>

QByteArray toShiftJis(const QString &text)
{
    QByteArray bytes;
    for (QChar ch : text) {
        const std::optional<quint16> code = cp932Code(ch);
        if (!code)
            continue;
        if (*code > 0xFF)
            bytes.append(static_cast<char>(*code >> 8));
        bytes.append(static_cast<char>(*code & 0xFF));
    }
    return bytes;
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
