#include "link/keypacket.h"

QByteArray KeyPacket::toByteArray() const
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

QString KeyPacket::toHex() const
{
    return QString::fromLatin1(toByteArray().toHex(' ').toUpper());
}
