#include "link/keypacket.h"

QByteArray KeyPacket::toByteArray() const
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

QString KeyPacket::toHex() const
{
    return spacedHex(toByteArray());
}

QString spacedHex(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toHex(' ').toUpper());
}

QString upperHex(unsigned value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}
