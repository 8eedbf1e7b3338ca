#include "link/textsender.h"

#include "link/chartable.h"
#include "link/seriallink.h"
#include "platform/cp932.h"

TextSender::TextSender(SerialLink &link, std::function<void(const QString &)> showText)
    : link_(link), showText_(std::move(showText))
{
}

void TextSender::show(const QString &text)
{
    if (showText_)
        showText_(text);
}

void TextSender::send(const QList<KeyPacket> &packets)
{
    for (const KeyPacket &packet : packets)
        link_.SendPacket(packet);
}

void TextSender::SendString(const QString &text)
{
    show(text);
    send(packetsForString(text));
}

void TextSender::SendStringByCharacter(const QString &text, const std::function<bool()> &carryOn,
                                       const std::function<void(QChar)> &typed)
{
    for (const QChar ch : text) {
        if (!carryOn())
            return;
        send(packetsForString(QString(ch)));
        // A packet the link did not take closed its port.
        if (!link_.isOpen())
            return;
        typed(ch);
    }
}

void TextSender::SendCharacters(const QString &text)
{
    show(text);
    send(packetsForCharacters(text));
}

void TextSender::SendCharacter(const QString &ch)
{
    if (const std::optional<KeyPacket> packet = packetForCharacter(ch))
        link_.SendPacket(*packet);
}

QList<KeyPacket> TextSender::packetsForString(const QString &text)
{
    QList<KeyPacket> packets;
    // Walked in UTF-16 units: half of a surrogate pair has no code and is
    // skipped like any other character code page 932 lacks.
    for (const QChar ch : text) {
        const std::optional<quint16> code = cp932Code(ch);
        if (!code)
            continue;
        if (*code > 0xFF) {
            packets.append(KeyPacket::forCode(KeyPacket::DoubleByte, *code));
        } else if (const std::optional<KeyPacket> packet = packetForCharacter(QString(ch))) {
            packets.append(*packet);
        }
    }
    return packets;
}

QList<KeyPacket> TextSender::packetsForCharacters(const QString &text)
{
    QList<KeyPacket> packets;
    for (const QChar ch : text) {
        if (const std::optional<KeyPacket> packet = packetForCharacter(QString(ch)))
            packets.append(*packet);
    }
    return packets;
}

std::optional<KeyPacket> TextSender::packetForCharacter(const QString &ch)
{
    const std::optional<quint16> code = CharacterTable::find(ch);
    if (!code)
        return std::nullopt;
    return KeyPacket::forCode(KeyPacket::Character, *code);
}

int TextSender::HexDigitValue(const QString &digit)
{
    static const QString kDigits = QStringLiteral("0123456789ABCDEF");
    if (digit.size() == 1) {
        const qsizetype i = kDigits.indexOf(digit[0]);
        if (i >= 0)
            return static_cast<int>(i);
    }
    return 16;
}
