#include "packets.h"

#include "link/keytable.h"
#include "link/textsender.h"

QByteArray hexBytes(QByteArrayView spacedHex)
{
    return QByteArray::fromHex(spacedHex.toByteArray().replace(' ', ""));
}

QByteArray keyBytes(const QString &names)
{
    QByteArray bytes;
    for (const QString &name : names.split(u' ', Qt::SkipEmptyParts))
        bytes += KeyTable::find(name).value().toByteArray();
    return bytes;
}

QByteArray textBytes(const QString &text)
{
    QByteArray bytes;
    for (const KeyPacket &packet : TextSender::packetsForString(text))
        bytes += packet.toByteArray();
    return bytes;
}

QStringList packetList(QByteArrayView bytes)
{
    QStringList list;
    for (qsizetype i = 0; i < bytes.size(); i += KeyPacket::kSize)
        list.append(spacedHex(bytes.sliced(i, std::min<qsizetype>(KeyPacket::kSize, bytes.size() - i))));
    return list;
}
