#include "link/keytable.h"

#include <QHash>

namespace {

struct PlainKey {
    const char *name;
    const char *ampersandName; // nullptr where there is none
    KeyPacket packet;
};

constexpr KeyPacket key(std::uint8_t group, std::uint8_t code)
{
    return KeyPacket::make(KeyPacket::Key, 0x00, 0x00, group, code);
}

constexpr KeyPacket character(std::uint16_t code)
{
    return KeyPacket::forCode(KeyPacket::Character, code);
}

// The plain keys; an ampersand form is its plain key with byte 5 = 0x02.
constexpr PlainKey kPlainKeys[] = {
    {"UP", "&UP", key(0x01, 0x01)},
    {"DOWN", "&DOWN", key(0x01, 0x02)},
    {"LEFT", "&LEFT", key(0x01, 0x03)},
    {"RIGHT", "&RIGHT", key(0x01, 0x04)},
    {"0", nullptr, character(0x824F)},
    {"1", nullptr, character(0x8250)},
    {"2", nullptr, character(0x8251)},
    {"3", nullptr, character(0x8252)},
    {"4", nullptr, character(0x8253)},
    {"5", nullptr, character(0x8254)},
    {"6", nullptr, character(0x8255)},
    {"7", nullptr, character(0x8256)},
    {"8", nullptr, character(0x8257)},
    {"9", nullptr, character(0x8258)},
    {"#", nullptr, character(0x8194)},
    {"*", nullptr, character(0x8196)},
    {"ONHOOK", "&ONHOOK", key(0x02, 0x08)},
    {"OFFOOK", "&OFFHOOK", key(0x02, 0x09)},
    {"ENTER", "&ENTER", key(0x04, 0x06)},
    {"FUNCTION", "&FUNCTION", key(0x04, 0x02)},
    {"ADDRESS", "&ADDRESS", key(0x04, 0x0C)},
    {"CALL", "&CALL", key(0x04, 0x08)},
    {"INCOMING", "&INCOMING", key(0x04, 0x09)},
    {"EZ", "&EZ", key(0x03, 0x02)},
    {"MAIL", "&MAIL", key(0x02, 0x06)},
    {"CLEAR", "&CLEAR", key(0x04, 0x03)},
    {"L", "&L", key(0x01, 0x09)},
    {"C", "&C", key(0x01, 0x0A)},
    {"R", "&R", key(0x01, 0x0B)},
    {"F1", "&F1", key(0x00, 0x01)},
    {"F2", "&F2", key(0x00, 0x02)},
    {"F3", "&F3", key(0x00, 0x03)},
    {"F4", "&F4", key(0x00, 0x04)},
    {"F5", "&F5", key(0x00, 0x05)},
    {"F6", "&F6", key(0x00, 0x06)},
    {"F7", "&F7", key(0x00, 0x07)},
    {"F8", "&F8", key(0x00, 0x08)},
    {"F9", "&F9", key(0x00, 0x09)},
    {"F10", "&F10", key(0x00, 0x10)},
};

struct Entry {
    QString name;
    KeyPacket packet;
};

const QList<Entry> &entries()
{
    static const QList<Entry> all = [] {
        QList<Entry> list;
        for (const PlainKey &k : kPlainKeys)
            list.append({QString::fromLatin1(k.name), k.packet});
        for (const PlainKey &k : kPlainKeys) {
            if (!k.ampersandName)
                continue;
            KeyPacket packet = k.packet;
            packet.bytes[5] = 0x02;
            list.append({QString::fromLatin1(k.ampersandName), packet});
        }
        return list;
    }();
    return all;
}

const QHash<QString, KeyPacket> &byName()
{
    static const QHash<QString, KeyPacket> hash = [] {
        QHash<QString, KeyPacket> h;
        for (const Entry &e : entries())
            h.insert(e.name, e.packet);
        return h;
    }();
    return hash;
}

} // namespace

std::optional<KeyPacket> KeyTable::find(const QString &name)
{
    const auto it = byName().constFind(name);
    if (it == byName().cend())
        return std::nullopt;
    return *it;
}

QStringList KeyTable::names()
{
    QStringList list;
    for (const Entry &e : entries())
        list.append(e.name);
    return list;
}

QString KeyTable::nameOf(const KeyPacket &packet)
{
    for (const Entry &e : entries()) {
        if (e.packet == packet)
            return e.name;
    }
    return {};
}
