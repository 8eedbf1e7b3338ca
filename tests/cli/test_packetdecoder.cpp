// The packet decoder: what every form of frame means, and how a byte stream
// with damage in it splits into packets, however it is chunked.

#include "link/packetdecoder.h"

#include <QtTest>
#include <algorithm>

namespace {

QByteArray bytes(const char *spacedHex)
{
    return QByteArray::fromHex(QByteArray(spacedHex).replace(' ', ""));
}

KeyPacket packet(const char *spacedHex)
{
    const QByteArray b = bytes(spacedHex);
    KeyPacket p;
    std::copy_n(b.constData(), KeyPacket::kSize, p.bytes.begin());
    return p;
}

// One event in a few characters: "P0:UP", "P10:あ", "P20!bad-trailer",
// "U30:41 42", "T32:C4 01 02".
QString summary(const DecoderEvent &e)
{
    const QString at = QString::number(e.offset);
    switch (e.type) {
    case DecoderEvent::Type::Unframed:
        return u'U' + at + u':' + QString::fromLatin1(e.bytes.toHex(' ').toUpper());
    case DecoderEvent::Type::Truncated:
        return u'T' + at + u':' + QString::fromLatin1(e.bytes.toHex(' ').toUpper());
    case DecoderEvent::Type::Packet:
        break;
    }
    if (!e.packet.isValid())
        return u'P' + at + u'!' + e.packet.problemId();
    const bool key = e.packet.packet.kind() == KeyPacket::Key;
    return u'P' + at + u':' + (key ? e.packet.keyName : e.packet.character);
}

QStringList decodeInChunks(const QByteArray &stream, qsizetype chunk)
{
    PacketDecoder decoder;
    QList<DecoderEvent> events;
    for (qsizetype i = 0; i < stream.size(); i += chunk)
        events += decoder.feed(QByteArrayView(stream).sliced(i, std::min(chunk, stream.size() - i)));
    events += decoder.finish();
    QStringList list;
    for (const DecoderEvent &e : events)
        list.append(summary(e));
    return list;
}

const char *const kUp = "C4 01 02 03 00 00 01 01 00 00";

} // namespace

class TestPacketDecoder : public QObject {
    Q_OBJECT
private slots:
    void meaning_data();
    void meaning();
    void stream_data();
    void stream();
    void eventsComeOutWhenCertain();
};

void TestPacketDecoder::meaning_data()
{
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("problem");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("character");
    QTest::addColumn<QString>("tableCharacter");

    QTest::newRow("OFFOOK has no H") << "C4 01 02 03 00 00 02 09 00 00" << "" << "OFFOOK" << "" << "";
    QTest::newRow("digit is key too") << "C4 01 02 01 08 02 04 0F 00 00" << "" << "0" << "０" << "0";
    QTest::newRow("half-width dot") << "C4 01 02 01 08 01 04 05 00 00" << "" << "" << "・" << "･";
    QTest::newRow("outside table") << "C4 01 02 01 08 02 0A 00 00 00" << "" << "" << "あ" << "";

    QTest::newRow("trailer") << "C4 01 02 03 00 00 01 01 00 01" << "bad-trailer" << "" << "" << "";
    QTest::newRow("kind 0") << "C4 01 02 00 00 00 01 01 00 00" << "unknown-kind" << "" << "" << "";
    QTest::newRow("digit 16") << "C4 01 02 02 08 02 10 00 00 00" << "digit-too-large" << "" << "" << "";
    QTest::newRow("single-byte code") << "C4 01 02 02 00 00 04 01 00 00" << "not-double-byte" << "" << "" << "";
    QTest::newRow("bad trail byte") << "C4 01 02 02 08 02 00 00 00 00" << "no-character" << "" << "" << "";
    QTest::newRow("unassigned row") << "C4 01 02 01 08 05 04 00 00 00" << "no-character" << "" << "" << "";
    QTest::newRow("no such key") << "C4 01 02 03 00 00 07 07 00 00" << "unknown-key" << "" << "" << "";
}

void TestPacketDecoder::meaning()
{
    QFETCH(QString, hex);
    QFETCH(QString, problem);
    QFETCH(QString, key);
    QFETCH(QString, character);
    QFETCH(QString, tableCharacter);

    const DecodedPacket d = decodePacket(packet(hex.toLatin1().constData()));
    QCOMPARE(d.problemId(), problem);
    QCOMPARE(d.isValid(), problem.isEmpty());
    QCOMPARE(d.problemText().isEmpty(), problem.isEmpty());
    QCOMPARE(d.keyName, key);
    QCOMPARE(d.character, character);
    QCOMPARE(d.tableCharacter, tableCharacter);
}

void TestPacketDecoder::stream_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QStringList>("events");

    const QByteArray up = bytes(kUp);
    QTest::newRow("nothing") << QByteArray() << QStringList();
    QTest::newRow("C4 starting nothing") << bytes("C4 41") + up << QStringList{"U0:C4 41", "P2:UP"};
    QTest::newRow("C4 01 starting nothing") << bytes("C4 01 C4") + up << QStringList{"U0:C4 01 C4", "P3:UP"};
    QTest::newRow("wrong first byte") << bytes("C5 01 02 03 00 00 01 01 00 00") + up
                                      << QStringList{"U0:C5 01 02 03 00 00 01 01 00 00", "P10:UP"};
    QTest::newRow("frame start only") << bytes("C4 01 02") + up << QStringList{"T0:C4 01 02", "P3:UP"};
    QTest::newRow("nine bytes") << up.first(9) + up << QStringList{"T0:C4 01 02 03 00 00 01 01 00", "P9:UP"};
    QTest::newRow("C4 as kind byte") << bytes("C4 01 02 C4 01 02 03 00 00 01 01 00 00")
                                     << QStringList{"T0:C4 01 02", "P3:UP"};
    QTest::newRow("lone C4 at end") << up + bytes("C4") << QStringList{"P0:UP", "U10:C4"};
}

void TestPacketDecoder::stream()
{
    QFETCH(QByteArray, stream);
    QFETCH(QStringList, events);
    for (qsizetype chunk = 1; chunk <= std::max<qsizetype>(1, stream.size()); ++chunk)
        QCOMPARE(decodeInChunks(stream, chunk), events);
}

void TestPacketDecoder::eventsComeOutWhenCertain()
{
    PacketDecoder decoder;
    QCOMPARE(decoder.feed(bytes(kUp)).size(), 1);
    QCOMPARE(decoder.pendingBytes(), 0);
    // Stray bytes wait for the end of their run: the next frame start.
    QVERIFY(decoder.feed(bytes("41 42")).isEmpty());
    QVERIFY(decoder.feed(bytes("C4 01")).isEmpty());
    const QList<DecoderEvent> stray = decoder.feed(bytes("02 03"));
    QCOMPARE(stray.size(), 1);
    QCOMPARE(summary(stray[0]), QStringLiteral("U10:41 42"));
    // A frame start waits for the rest of its frame.
    QCOMPARE(decoder.pendingBytes(), 4);
    const QList<DecoderEvent> rest = decoder.feed(bytes("00 00 01 01 00 00"));
    QCOMPARE(rest.size(), 1);
    QCOMPARE(summary(rest[0]), QStringLiteral("P12:UP"));
    QVERIFY(decoder.finish().isEmpty());
}

QTEST_GUILESS_MAIN(TestPacketDecoder)
#include "test_packetdecoder.moc"
