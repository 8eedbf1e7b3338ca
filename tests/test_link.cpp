// Key packets on the wire: the key and character tables, text sending, and
// the serial link against real pseudo-terminals. (A device that vanishes
// under the link: the run and the keypad, test_macro and test_keypad.)

#include "link/chartable.h"
#include "link/keytable.h"
#include "link/seriallink.h"
#include "link/textsender.h"
#include "platform/linetiming.h"
#include "support/fakerun.h"
#include "support/linespeedreader.h"
#include "support/packets.h"
#include "support/pseudoterminal.h"
#include "support/testshare.h"

#include <QSignalSpy>
#include <QtTest>
#include <memory>
#include <stdexcept>

namespace {

// A link whose port number is whatever `port` holds when it opens.
struct LinkOnPty {
    QString port;
    SerialLink link{[this] { return port; }};
};

} // namespace

class TestLink : public QObject {
    Q_OBJECT
private slots:
    void keyTableExamples_data();
    void keyTableExamples();
    void characterTable();

    void lineSettings();
    void queueStaysBoundedAtLineSpeed();
    void aLineThatDoesNotDrain();
    void heldBytesKeepTheLineBusy();
    void deviceLostWithBytesInTheDriver();
    void bytesOutOfRangeAreRefused();

    void textSending_data();
    void textSending();
};

void TestLink::keyTableExamples_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("packet"); // empty: no entry

    QTest::newRow("F10 is 0x10") << "F10" << "C4 01 02 03 00 00 00 10 00 00";
    QTest::newRow("0") << "0" << "C4 01 02 01 08 02 04 0F 00 00";
    QTest::newRow("#") << "#" << "C4 01 02 01 08 01 09 04 00 00";
    QTest::newRow("OFFOOK") << "OFFOOK" << "C4 01 02 03 00 00 02 09 00 00";
    QTest::newRow("OFFHOOK") << "OFFHOOK" << "";
    QTest::newRow("&OFFOOK") << "&OFFOOK" << "";
    QTest::newRow("ampersand digit") << "&1" << "";
}

void TestLink::keyTableExamples()
{
    QFETCH(QString, name);
    QFETCH(QString, packet);
    const std::optional<KeyPacket> found = KeyTable::find(name);
    QCOMPARE(found ? found->toHex() : QString(), packet);
}

void TestLink::characterTable()
{
    // Characters a text may hold that the table types as something else, or
    // not at all.
    QCOMPARE(CharacterTable::find("\\").value(), 0x818F);
    QCOMPARE(CharacterTable::find("\"").value(), 0x8168);
    for (const char *absent : {" ", "'", "<", ">", "[", "]", "`", "{", "}", "~", "\t", "ab", ""})
        QVERIFY2(!CharacterTable::find(QString::fromLatin1(absent)), absent);
}

void TestLink::lineSettings()
{
    PseudoTerminal pty;
    pty.bindPort(4);
    LinkOnPty l{"4"};
    QVERIFY2(l.link.OpenPort(), qPrintable(l.link.errorText()));
    const termios t = pty.settings();
    QCOMPARE(cfgetospeed(&t), speed_t(B600));
    QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(t.c_cflag & (PARODD | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(t.c_iflag & (IXON | IXOFF), tcflag_t(0));
    QCOMPARE(t.c_oflag & OPOST, tcflag_t(0)); // 0x0A leaves as it is
    // A pseudo-terminal drops PARENB; the port itself holds even parity.
    QCOMPARE(l.link.port().parity(), QSerialPort::EvenParity);

    // Bytes arrive as written, in order; 0x0A stays one byte.
    l.link.SendPacket(KeyTable::find("F7").value());
    l.link.SendPacket(0xC4, 1, 2, 1, 8, 2, 0x0A, 0, 0, 0);
    QCOMPARE(pty.read(20), hexBytes("C4 01 02 03 00 00 00 07 00 00 C4 01 02 01 08 02 0A 00 00 00"));
}

void TestLink::queueStaysBoundedAtLineSpeed()
{
    // A sender far ahead of a line that carries one packet in 183 ms: the
    // bytes written but not yet across never pass the bound, every packet
    // arrives whole and in order, and the line never idles meanwhile.
    PseudoTerminal pty;
    pty.bindPort(15);
    LinkOnPty l{"15"};
    QSignalSpy failed(&l.link, &SerialLink::failed);
    LineSpeedReader handset(pty);
    QVERIFY(l.link.OpenPort());
    constexpr int kPackets = LineTiming::kQueueBoundBytes / 10 + 10;
    QByteArray expected;
    qint64 largest = 0;
    for (int i = 0; i < kPackets; ++i) {
        const KeyPacket p = KeyPacket::forCode(KeyPacket::DoubleByte, static_cast<quint16>(0x8800 + i));
        l.link.SendPacket(p);
        expected += p.toByteArray();
        largest = std::max(largest, l.link.port().pendingBytes());
    }
    QVERIFY2(largest <= LineTiming::kQueueBoundBytes && largest > LineTiming::kQueueBoundBytes - 20,
             qPrintable(QString::number(largest)));
    QVERIFY(l.link.ClosePort());
    QVERIFY(handset.waitFor(expected.size(), 5000));
    QCOMPARE(handset.bytes(), expected);
    const QList<double> times = handset.times();
    for (qsizetype i = 1; i < times.size(); ++i)
        QVERIFY2(times[i] - times[i - 1] < 3 * LineTiming::kByteMs, qPrintable(QString::number(i)));
    QVERIFY(failed.isEmpty());
}

void TestLink::aLineThatDoesNotDrain()
{
    // A line nobody reads, already full: the program holds what it writes.
    // Neither a send waiting for room nor a close hangs, and neither drops a
    // packet without saying so (on a fake clock: the time-outs cost nothing).
    FakeWaiter clock;
    PseudoTerminal pty;
    pty.bindPort(16);
    QVERIFY(pty.fillUp() > 1000);
    SerialLink link([] { return QStringLiteral("16"); }, &clock);
    QSignalSpy failed(&link, &SerialLink::failed);
    QVERIFY(link.OpenPort());
    for (int i = 0; i < 200 && failed.isEmpty(); ++i)
        link.SendPacket(KeyTable::find("UP").value());
    QCOMPARE(failed.size(), 1);
    const QString message = failed.first().first().toString();
    QVERIFY2(message.contains("16") && message.contains(pty.slavePath()) && message.contains(QStringLiteral("回線")),
             qPrintable(message));
    QVERIFY(!link.isOpen());

    QVERIFY(link.OpenPort());
    for (int i = 0; i < 5; ++i)
        link.SendPacket(KeyTable::find("UP").value());
    const double start = clock.now;
    QVERIFY(!link.ClosePort());
    QVERIFY(!link.isOpen());
    QVERIFY(clock.now - start < LineTiming::lineMs(50) + 1500);
    QVERIFY2(link.errorText().contains(QStringLiteral("パケット 5 個分")) && link.errorText().contains(pty.slavePath()),
             qPrintable(link.errorText()));

    // The device goes while the port drains: the close says so.
    QVERIFY(link.OpenPort());
    for (int i = 0; i < 5; ++i)
        link.SendPacket(KeyTable::find("UP").value());
    clock.onPause = [&pty] { pty.closeMaster(); };
    QVERIFY(!link.ClosePort());
    QVERIFY2(link.errorText().contains(pty.slavePath()), qPrintable(link.errorText()));
}

void TestLink::heldBytesKeepTheLineBusy()
{
    // A driver that took nothing for a while (an earlier sender's bytes
    // filled it): what the program held meanwhile has not crossed the line,
    // however long ago it was handed over. Once the driver takes it, the
    // next packets wait for the line instead of following at once.
    FakeWaiter clock;
    PseudoTerminal pty;
    pty.bindPort(17);
    QVERIFY(pty.fillUp() > 1000);
    SerialLink link([] { return QStringLiteral("17"); }, &clock);
    QSignalSpy failed(&link, &SerialLink::failed);
    QVERIFY(link.OpenPort());
    const double start = clock.now;
    for (int i = 0; i < 50; ++i)
        link.SendPacket(KeyTable::find("UP").value());
    QCOMPARE(link.port().heldBytes(), 500);
    double takenAt = 0;
    clock.onPause = [&] {
        if (takenAt == 0 && clock.now > start + LineTiming::lineMs(500)) {
            pty.readAvailable(50); // the earlier bytes and the program's 500
            takenAt = clock.now;
        }
    };
    int sentAfter = 0;
    while (sentAfter < 30 && failed.isEmpty()) {
        link.SendPacket(KeyTable::find("UP").value());
        if (takenAt > 0)
            ++sentAfter;
    }
    QVERIFY(failed.isEmpty());
    QCOMPARE(link.port().heldBytes(), 0);
    // The 500 bytes just taken and 30 packets more, less the bound.
    QVERIFY2(clock.now - takenAt >= LineTiming::lineMs(500 + 300 - LineTiming::kQueueBoundBytes) - 1,
             qPrintable(QString::number(clock.now - takenAt)));
    link.ClosePort();
}

void TestLink::deviceLostWithBytesInTheDriver()
{
    // The driver took every byte at once (nothing waits in the program),
    // and the device goes while the line still carries them: the close fails,
    // naming the port and the packets that may not have arrived, and only
    // the bytes the line carried before are counted across.
    FakeWaiter clock;
    PseudoTerminal pty;
    pty.bindPort(18);
    SerialLink link([] { return QStringLiteral("18"); }, &clock);
    QVERIFY(link.OpenPort());
    for (int i = 0; i < 5; ++i)
        link.SendPacket(KeyTable::find("UP").value());
    QCOMPARE(link.port().heldBytes(), 0); // a pseudo-terminal says it holds nothing
    const double start = clock.now;
    clock.onPause = [&] {
        if (clock.now - start > LineTiming::lineMs(20))
            pty.closeMaster();
    };
    QVERIFY(!link.ClosePort());
    const QString message = link.errorText();
    QVERIFY2(message.contains(pty.slavePath()) && message.contains("18"), qPrintable(message));
    const QRegularExpressionMatch lost = QRegularExpression(QStringLiteral("最大 (\\d+) 個")).match(message);
    QVERIFY2(lost.hasMatch(), qPrintable(message));
    QVERIFY2(lost.captured(1).toInt() >= 3 && lost.captured(1).toInt() <= 4, qPrintable(message));
    QCOMPARE(link.port().bytesHandedOver(), 50);
    QVERIFY(link.port().bytesSurelyAcross() < 30);
}

void TestLink::bytesOutOfRangeAreRefused()
{
    // Before anything is written, open or not. (A closed port drops a
    // packet without a word: the keypad's clicks while disconnected.)
    PseudoTerminal pty;
    pty.bindPort(11);
    LinkOnPty l{"11"};
    QVERIFY_THROWS_EXCEPTION(std::overflow_error, l.link.SendPacket(0xC4, 1, 2, 3, 0, 0, 0, 256, 0, 0));
    QVERIFY(l.link.OpenPort());
    QVERIFY_THROWS_EXCEPTION(std::overflow_error, l.link.SendPacket(0xC4, 1, 2, 3, 0, 0, 0, 1, 0, 256));
    QVERIFY_THROWS_EXCEPTION(std::overflow_error, l.link.SendPacket(-1, 1, 2, 3, 0, 0, 0, 1, 0, 0));
    QVERIFY(pty.readAvailable(50).isEmpty());
}

void TestLink::textSending_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("sent");

    // (Letters and a double-byte character: the run's STRING, test_macro.)
    QTest::newRow("space dropped") << "a b"
                                   << QStringList{"C4 01 02 01 08 02 08 01 00 00", "C4 01 02 01 08 02 08 02 00 00"};
    QTest::newRow("underscore") << "_" << QStringList{"C4 01 02 01 08 01 05 01 00 00"};
    QTest::newRow("half-width dot") << "･" << QStringList{"C4 01 02 01 08 01 04 05 00 00"};
    QTest::newRow("half-width katakana") << "ｱ" << QStringList{};
    QTest::newRow("no code page 932 code") << "€😀x" << QStringList{"C4 01 02 01 08 02 09 08 00 00"};
    QTest::newRow("wave dash") << "〜" << QStringList{"C4 01 02 02 08 01 06 00 00 00"};
    QTest::newRow("full-width tilde") << "～" << QStringList{"C4 01 02 02 08 01 06 00 00 00"};
    QTest::newRow("reverse solidus") << "\\" << QStringList{"C4 01 02 01 08 01 08 0F 00 00"};
}

void TestLink::textSending()
{
    QFETCH(QString, text);
    QFETCH(QStringList, sent);
    PseudoTerminal pty;
    pty.bindPort(13);
    LinkOnPty l{"13"};
    QStringList shown;
    TextSender sender(l.link, [&](const QString &t) { shown.append(t); });
    QVERIFY(l.link.OpenPort());
    sender.SendString(text);
    QCOMPARE(shown, QStringList{text});
    const QByteArray expected = hexBytes(sent.join(u' ').toLatin1());
    QCOMPARE(pty.read(expected.size(), 2000), expected);
    QVERIFY(pty.readAvailable(30).isEmpty());
}

QUILLON_TEST_GUILESS_MAIN(TestLink)
#include "test_link.moc"
