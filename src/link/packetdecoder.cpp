#include "link/packetdecoder.h"

#include "link/chartable.h"
#include "link/keytable.h"
#include "platform/cp932.h"

#include <QHash>
#include <algorithm>

namespace {

constexpr QByteArrayView kFrameStart("\xC4\x01\x02", 3);
constexpr qsizetype kFrameStartSize = 3;
constexpr qsizetype kPacketSize = KeyPacket::kSize;

// The character table turned round: code -> single-byte character.
const QHash<quint16, QString> &tableCharacters()
{
    static const QHash<quint16, QString> byCode = [] {
        QHash<quint16, QString> h;
        for (const QString &c : CharacterTable::characters())
            h.insert(*CharacterTable::find(c), c);
        return h;
    }();
    return byCode;
}

QString hex2(unsigned value)
{
    return upperHex(value, 2);
}

QString hex4(unsigned value)
{
    return upperHex(value, 4);
}

} // namespace

DecodedPacket decodePacket(const KeyPacket &packet)
{
    using Problem = DecodedPacket::Problem;
    DecodedPacket d;
    d.packet = packet;
    d.keyName = KeyTable::nameOf(packet);
    const auto &b = packet.bytes;
    if (b[8] != 0 || b[9] != 0) {
        d.problem = Problem::BadTrailer;
        return d;
    }
    switch (packet.kind()) {
    case KeyPacket::Key:
        if (d.keyName.isEmpty())
            d.problem = Problem::UnknownKey;
        return d;
    case KeyPacket::Character:
    case KeyPacket::DoubleByte:
        break;
    default:
        d.problem = Problem::UnknownKind;
        return d;
    }

    quint16 code = 0;
    for (std::size_t i = 4; i < 8; ++i) {
        if (b[i] > 0x0F) {
            d.problem = Problem::DigitTooLarge;
            return d;
        }
        code = static_cast<quint16>(code << 4 | b[i]);
    }
    d.code = code;
    if (code < 0x100) {
        d.problem = Problem::NotDoubleByte;
        return d;
    }
    const char pair[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
    const QString text = decodeCp932(QByteArrayView(pair, 2));
    if (text.size() != 1 || text[0] == QChar::ReplacementCharacter) {
        d.problem = Problem::NoCharacter;
        return d;
    }
    d.character = text;
    if (packet.kind() == KeyPacket::Character)
        d.tableCharacter = tableCharacters().value(code);
    return d;
}

QString DecodedPacket::problemId() const
{
    switch (problem) {
    case Problem::None:
        return {};
    case Problem::BadTrailer:
        return QStringLiteral("bad-trailer");
    case Problem::UnknownKind:
        return QStringLiteral("unknown-kind");
    case Problem::DigitTooLarge:
        return QStringLiteral("digit-too-large");
    case Problem::NotDoubleByte:
        return QStringLiteral("not-double-byte");
    case Problem::NoCharacter:
        return QStringLiteral("no-character");
    case Problem::UnknownKey:
        return QStringLiteral("unknown-key");
    }
    return {};
}

QString DecodedPacket::problemText() const
{
    const auto &b = packet.bytes;
    switch (problem) {
    case Problem::None:
        return {};
    case Problem::BadTrailer:
        return QStringLiteral("末尾の 2 バイトが 00 00 ではなく %1 %2 です。").arg(hex2(b[8]), hex2(b[9]));
    case Problem::UnknownKind:
        return QStringLiteral("種別のバイト %1 は 01（文字）、02（2 バイト文字）、03（キー）のどれでもありません。")
            .arg(hex2(b[3]));
    case Problem::DigitTooLarge: {
        const auto digit = std::find_if(b.begin() + 4, b.begin() + 8, [](std::uint8_t v) { return v > 0x0F; });
        return QStringLiteral("文字コードの桁 %1 が 0F を超えています。").arg(hex2(*digit));
    }
    case Problem::NotDoubleByte:
        return QStringLiteral("文字コード %1 は 2 バイト文字のコードではありません。").arg(hex4(code.value_or(0)));
    case Problem::NoCharacter:
        return QStringLiteral("文字コード %1 に当たる文字はコードページ 932 にありません。").arg(hex4(code.value_or(0)));
    case Problem::UnknownKey:
        return QStringLiteral("キー表にないキーです。");
    }
    return {};
}

QList<DecoderEvent> PacketDecoder::feed(QByteArrayView bytes)
{
    buffer_.append(bytes);
    QList<DecoderEvent> events;
    for (;;) {
        const qsizetype start = buffer_.indexOf(kFrameStart);
        if (start < 0)
            return events; // bytes outside frames so far, or a frame start still arriving
        if (start > 0)
            take(events, DecoderEvent::Type::Unframed, start);
        if (buffer_.size() < kPacketSize)
            return events;

        KeyPacket packet;
        std::copy_n(buffer_.constData(), kPacketSize, packet.bytes.begin());
        const DecodedPacket decoded = decodePacket(packet);
        if (!decoded.isValid()) {
            const qsizetype next = buffer_.indexOf('\xC4', kFrameStartSize);
            if (next >= 0 && next < kPacketSize) {
                take(events, DecoderEvent::Type::Truncated, next);
                continue;
            }
        }
        take(events, DecoderEvent::Type::Packet, kPacketSize);
        events.last().packet = decoded;
    }
}

QList<DecoderEvent> PacketDecoder::finish()
{
    QList<DecoderEvent> events;
    // Held back: bytes outside frames, or a frame start without all its bytes.
    const qsizetype start = buffer_.indexOf(kFrameStart);
    if (start != 0 && !buffer_.isEmpty())
        take(events, DecoderEvent::Type::Unframed, start < 0 ? buffer_.size() : start);
    if (!buffer_.isEmpty())
        take(events, DecoderEvent::Type::Truncated, buffer_.size());
    return events;
}

void PacketDecoder::take(QList<DecoderEvent> &events, DecoderEvent::Type type, qsizetype length)
{
    DecoderEvent event;
    event.type = type;
    event.offset = offset_;
    event.bytes = buffer_.first(length);
    events.append(event);
    buffer_.remove(0, length);
    offset_ += length;
}
