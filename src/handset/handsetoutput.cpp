#include "handset/handsetoutput.h"

#include "console/jsonline.h"

#include <QJsonArray>
#include <QJsonObject>

namespace {

QString eventName(DecoderEvent::Type type)
{
    switch (type) {
    case DecoderEvent::Type::Packet:
        return QStringLiteral("packet");
    case DecoderEvent::Type::Unframed:
        return QStringLiteral("unframed");
    case DecoderEvent::Type::Truncated:
        return QStringLiteral("truncated");
    }
    return {};
}

void addPacketFields(QJsonObject &o, const DecodedPacket &p)
{
    o.insert(QStringLiteral("kind"), p.packet.bytes[3]);
    o.insert(QStringLiteral("valid"), p.isValid());
    if (!p.keyName.isEmpty())
        o.insert(QStringLiteral("key"), p.keyName);
    if (p.code)
        o.insert(QStringLiteral("code"), upperHex(*p.code, 4));
    if (!p.character.isEmpty())
        o.insert(QStringLiteral("character"), p.character);
    if (!p.tableCharacter.isEmpty())
        o.insert(QStringLiteral("tableCharacter"), p.tableCharacter);
    if (!p.isValid()) {
        o.insert(QStringLiteral("problem"), p.problemId());
        o.insert(QStringLiteral("message"), p.problemText());
    }
}

} // namespace

QString HandsetOutput::meaning(const DecoderEvent &event)
{
    const int size = static_cast<int>(event.bytes.size());
    switch (event.type) {
    case DecoderEvent::Type::Unframed:
        return QStringLiteral("パケットの形になっていないバイト（%1 バイト）").arg(size);
    case DecoderEvent::Type::Truncated:
        return QStringLiteral("途中で切れたパケット（%1 バイト）").arg(size);
    case DecoderEvent::Type::Packet:
        break;
    }
    const DecodedPacket &p = event.packet;
    if (!p.isValid())
        return QStringLiteral("不正なパケット: %1").arg(p.problemText());
    switch (p.packet.kind()) {
    case KeyPacket::Key:
        return QStringLiteral("キー %1").arg(p.keyName);
    case KeyPacket::DoubleByte:
        return QStringLiteral("2 バイト文字 %1").arg(p.character);
    case KeyPacket::Character:
        break;
    }
    QString text = QStringLiteral("文字 %1").arg(p.character);
    if (p.tableCharacter.isEmpty())
        text += QStringLiteral("（文字表にない文字）");
    else
        text += QStringLiteral("（%1）").arg(p.tableCharacter);
    if (!p.keyName.isEmpty())
        text += QStringLiteral(" = キー %1").arg(p.keyName);
    return text;
}

QString HandsetOutput::ready(const QString &device, const QString &link, bool pseudoTerminal) const
{
    if (json_) {
        QJsonObject o{{QStringLiteral("event"), QStringLiteral("ready")}, {QStringLiteral("device"), device}};
        if (!link.isEmpty())
            o.insert(QStringLiteral("link"), link);
        return jsonLine(o);
    }
    QStringList lines;
    if (pseudoTerminal) {
        lines << QStringLiteral("仮想端末 %1 で受信を待っています。").arg(device);
        const QString path = link.isEmpty() ? device : link;
        if (!link.isEmpty())
            lines << QStringLiteral("リンク %1 → %2").arg(link, device);
        lines << QStringLiteral("送り手のポート番号 N をここへ向けるには QUILLONEMU_COM<N>=%1 を設定してください。").arg(path);
    } else {
        lines << QStringLiteral("シリアルポート %1 で受信を待っています（600 ボー、偶数パリティ、8 ビット、ストップビット 1）。")
                     .arg(device);
    }
    lines << QStringLiteral("各行: 到着時刻、600 ボーの回線で届き終わる時刻（到着から何秒後か）、バイト列、意味");
    return lines.join(u'\n');
}

QString HandsetOutput::event(const DecoderEvent &event, double arrivalMs, double lineDoneMs) const
{
    if (json_) {
        QJsonObject o{
            {QStringLiteral("event"), eventName(event.type)},
            {QStringLiteral("offset"), event.offset},
            {QStringLiteral("arrival"), isoTime(arrivalMs)},
            {QStringLiteral("lineDone"), isoTime(lineDoneMs)},
            {QStringLiteral("bytes"), spacedHex(event.bytes)},
        };
        if (event.type == DecoderEvent::Type::Packet)
            addPacketFields(o, event.packet);
        else
            o.insert(QStringLiteral("message"), meaning(event));
        return jsonLine(o);
    }
    return QStringLiteral("%1  %2 (+%3)  %4  %5")
        .arg(clockTime(arrivalMs), clockTime(lineDoneMs))
        .arg((lineDoneMs - arrivalMs) / 1000.0, 0, 'f', 3)
        .arg(spacedHex(event.bytes).leftJustified(3 * KeyPacket::kSize - 1), meaning(event));
}

QString HandsetOutput::parityError(qint64 offset, quint8 byte, double arrivalMs) const
{
    const QString byteHex = upperHex(byte, 2);
    if (json_) {
        return jsonLine({{QStringLiteral("event"), QStringLiteral("parity-error")},
                         {QStringLiteral("offset"), offset},
                         {QStringLiteral("arrival"), isoTime(arrivalMs)},
                         {QStringLiteral("byte"), byteHex}});
    }
    return QStringLiteral("%1  パリティエラー: %2 バイト目（%3）が偶数パリティに合いません。")
        .arg(clockTime(arrivalMs))
        .arg(offset + 1)
        .arg(byteHex);
}

QString HandsetOutput::lineSettings(const QString &device, const QStringList &differences) const
{
    if (json_) {
        return jsonLine({{QStringLiteral("event"), QStringLiteral("line-settings")},
                         {QStringLiteral("device"), device},
                         {QStringLiteral("differences"), QJsonArray::fromStringList(differences)}});
    }
    return QStringLiteral("警告: 送り手が %1 に設定した回線が違います: %2。").arg(device, differences.join(QStringLiteral("、")));
}

QString HandsetOutput::lineSettingsUnseen(const QString &device) const
{
    if (json_) {
        return jsonLine({{QStringLiteral("event"), QStringLiteral("line-settings-unseen")},
                         {QStringLiteral("device"), device}});
    }
    return QStringLiteral("注意: %1 の回線設定を確かめられませんでした（送り手が設定しなかったか、"
                          "バイトを読む前にポートを閉じて設定を戻しました）。")
        .arg(device);
}
