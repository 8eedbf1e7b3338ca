// The virtual handset: the pieces that model the line (the packet decoder,
// what every form of frame means and how a damaged stream splits into
// packets however it is chunked; the parity marks), then the real
// quillonemu-cli handset on a pseudo-terminal fed by the system's own
// SerialLink, on a pseudo-terminal set up badly, and reading a device.

#include "handset/paritymarks.h"
#include "link/keytable.h"
#include "link/packetdecoder.h"
#include "link/seriallink.h"
#include "link/textsender.h"
#include "support/packets.h"
#include "support/programprocess.h"
#include "support/tempfiles.h"
#include "support/testshare.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QtTest>
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

namespace {

const QByteArray kUp = hexBytes("C4 01 02 03 00 00 01 01 00 00");
const QByteArray kA = hexBytes("C4 01 02 02 08 02 0A 00 00 00"); // あ

// One decoder event in a few characters: "P0:UP", "P10:あ", "P20!bad-trailer",
// "U30:41 42", "T32:C4 01 02".
QString summary(const DecoderEvent &e)
{
    const QString at = QString::number(e.offset);
    switch (e.type) {
    case DecoderEvent::Type::Unframed:
        return u'U' + at + u':' + spacedHex(e.bytes);
    case DecoderEvent::Type::Truncated:
        return u'T' + at + u':' + spacedHex(e.bytes);
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

// One event of the handset's JSON output in a few words: "packet UP", "packet Ａ", "packet bad-trailer",
// "unframed 41 42".
QString summary(const QJsonObject &o)
{
    const QString event = o.value("event").toString();
    if (event != "packet")
        return event + u' ' + o.value("bytes").toString();
    if (!o.value("valid").toBool())
        return event + u' ' + o.value("problem").toString();
    const QString key = o.value("key").toString();
    return event + u' ' + (o.value("kind").toInt() == 3 ? key : o.value("character").toString());
}

QStringList summaries(const QList<QJsonObject> &events)
{
    QStringList list;
    for (const QJsonObject &o : events) {
        if (o.value("event").toString() != "ready")
            list.append(summary(o));
    }
    return list;
}

bool isLink(const QString &path)
{
    return QFileInfo(path).isSymLink();
}

// A sender that sets the line itself, by hand, on the handset's terminal.
struct RawSender {
    int fd = -1;
    explicit RawSender(const QString &path) { fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NOCTTY); }
    ~RawSender()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool write(const QByteArray &b) const { return ::write(fd, b.constData(), size_t(b.size())) == b.size(); }
};

} // namespace

class TestCliHandset : public QObject {
    Q_OBJECT
private slots:
    void meaning_data();
    void meaning();
    void stream_data();
    void stream();
    void parityMarks_data();
    void parityMarks();

    void decodesWhatSerialLinkSends();
    void checksTheSendersLineSettings_data();
    void checksTheSendersLineSettings();
    void endsCleanly_data();
    void endsCleanly();
    void endsWhenItsReaderGoesAway();
    void readsADevice();
    void badCommandLines_data();
    void badCommandLines();

private:
    TempFiles files_;
};

void TestCliHandset::meaning_data()
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

void TestCliHandset::meaning()
{
    QFETCH(QString, hex);
    QFETCH(QString, problem);
    QFETCH(QString, key);
    QFETCH(QString, character);
    QFETCH(QString, tableCharacter);

    const QByteArray bytes = hexBytes(hex.toLatin1());
    KeyPacket packet;
    std::copy_n(bytes.constData(), KeyPacket::kSize, packet.bytes.begin());
    const DecodedPacket d = decodePacket(packet);
    QCOMPARE(d.problemId(), problem);
    QCOMPARE(d.isValid(), problem.isEmpty());
    QCOMPARE(d.problemText().isEmpty(), problem.isEmpty());
    QCOMPARE(d.keyName, key);
    QCOMPARE(d.character, character);
    QCOMPARE(d.tableCharacter, tableCharacter);
}

void TestCliHandset::stream_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QStringList>("events");

    QTest::newRow("nothing") << QByteArray() << QStringList();
    QTest::newRow("C4 starting nothing") << hexBytes("C4 41") + kUp << QStringList{"U0:C4 41", "P2:UP"};
    QTest::newRow("C4 01 starting nothing") << hexBytes("C4 01 C4") + kUp << QStringList{"U0:C4 01 C4", "P3:UP"};
    QTest::newRow("wrong first byte") << hexBytes("C5 01 02 03 00 00 01 01 00 00") + kUp
                                      << QStringList{"U0:C5 01 02 03 00 00 01 01 00 00", "P10:UP"};
    QTest::newRow("frame start only") << hexBytes("C4 01 02") + kUp << QStringList{"T0:C4 01 02", "P3:UP"};
    QTest::newRow("nine bytes") << kUp.first(9) + kUp << QStringList{"T0:C4 01 02 03 00 00 01 01 00", "P9:UP"};
    QTest::newRow("C4 as kind byte") << hexBytes("C4 01 02 C4 01 02 03 00 00 01 01 00 00")
                                     << QStringList{"T0:C4 01 02", "P3:UP"};
    QTest::newRow("lone C4 at end") << kUp + hexBytes("C4") << QStringList{"P0:UP", "U10:C4"};
}

void TestCliHandset::stream()
{
    QFETCH(QByteArray, stream);
    QFETCH(QStringList, events);
    for (qsizetype chunk = 1; chunk <= std::max<qsizetype>(1, stream.size()); ++chunk)
        QCOMPARE(decodeInChunks(stream, chunk), events);
}

void TestCliHandset::parityMarks_data()
{
    QTest::addColumn<QByteArray>("marked");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QList<qsizetype>>("errors");

    // (A data byte FF, doubled by the port: readsADevice.)
    QTest::newRow("parity error") << hexBytes("41 FF 00 43 42") << hexBytes("41 43 42") << QList<qsizetype>{1};
    QTest::newRow("error on FF") << hexBytes("FF 00 FF FF FF") << hexBytes("FF FF") << QList<qsizetype>{0};
    QTest::newRow("FF before other") << hexBytes("FF 41") << hexBytes("FF 41") << QList<qsizetype>{};
}

void TestCliHandset::parityMarks()
{
    QFETCH(QByteArray, marked);
    QFETCH(QByteArray, data);
    QFETCH(QList<qsizetype>, errors);
    // Split into two reads at every point: a mark may straddle them.
    for (qsizetype cut = 0; cut <= marked.size(); ++cut) {
        ParityMarks marks;
        const ParityMarks::Bytes first = marks.feed(marked.first(cut));
        const ParityMarks::Bytes second = marks.feed(marked.sliced(cut));
        QList<qsizetype> allErrors = first.errors;
        for (const qsizetype e : second.errors)
            allErrors.append(first.data.size() + e);
        QCOMPARE(first.data + second.data, data);
        QCOMPARE(allErrors, errors);
    }
}

void TestCliHandset::decodesWhatSerialLinkSends()
{
    const QString link = files_.path("handset");
    CliProcess handset({"handset", "--pty", "--link", link, "--json", "--count", "7"});
    QTRY_VERIFY_WITH_TIMEOUT(isLink(link), 10000);

    qputenv("QUILLONEMU_COM9", QFile::encodeName(link));
    SerialLink serial([] { return QStringLiteral("9"); });
    QVERIFY2(serial.OpenPort(), qPrintable(serial.errorText()));
    TextSender text(serial);
    serial.SendPacket(*KeyTable::find("UP"));
    serial.SendPacket(*KeyTable::find("&OFFHOOK"));
    text.SendString(QStringLiteral("Aあ"));
    serial.SendPacket(0xC4, 0x01, 0x02, 0x03, 0x00, 0x00, 0x01, 0x01, 0x12, 0x34);
    serial.SendPacket(0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A);
    serial.SendPacket(*KeyTable::find("F10"));
    serial.SendPacket(*KeyTable::find("0"));
    // The port stays open until the handset has seen everything: its line
    // settings are those the link chose.
    QVERIFY2(handset.waitForEnd(), qPrintable(handset.err()));
    serial.ClosePort();

    QCOMPARE(handset.exitCode(), 0);
    const QList<QJsonObject> events = handset.jsonLines();
    QCOMPARE(events.value(0).value("event").toString(), QStringLiteral("ready"));
    QCOMPARE(events.value(0).value("link").toString(), link);
    QCOMPARE(summaries(events), (QStringList{"packet UP", "packet &OFFHOOK", "packet Ａ", "packet あ",
                                             "packet bad-trailer", "unframed 41 42 43 44 45 46 47 48 49 4A",
                                             "packet F10", "packet ０"}));
    QCOMPARE(events[3].value("tableCharacter").toString(), QStringLiteral("A"));
    QCOMPARE(events[8].value("key").toString(), QStringLiteral("0"));

    // Sent back to back, each packet finishes one wire time (110 bits at
    // 600 baud) after the one before, or later; and the handset reads at the
    // line's pace, so they also arrive about a wire time apart.
    auto msOf = [](const QJsonObject &e, const char *field) {
        return double(QDateTime::fromString(e.value(field).toString(), Qt::ISODateWithMs).toMSecsSinceEpoch());
    };
    for (qsizetype i = 2; i < events.size(); ++i) {
        QVERIFY2(msOf(events[i], "lineDone") - msOf(events[i - 1], "lineDone") >= 183, qPrintable(QString::number(i)));
        QVERIFY2(msOf(events[i], "arrival") - msOf(events[i - 1], "arrival") >= 150, qPrintable(QString::number(i)));
    }
    QVERIFY(!isLink(link));
    QVERIFY(handset.err().contains(QStringLiteral("パケット 7 個（うち不正 1 個）、パケットにならないバイト 10 個")));
}

void TestCliHandset::checksTheSendersLineSettings_data()
{
    QTest::addColumn<bool>("setLine");
    QTest::addColumn<QString>("event");     // what the handset says about the settings
    QTest::addColumn<QStringList>("mentions");

    QTest::newRow("speed and stop bits") << true << "line-settings" << QStringList{"9600", "ストップビット"};
    QTest::newRow("never set") << false << "line-settings-unseen" << QStringList{};
}

void TestCliHandset::checksTheSendersLineSettings()
{
    QFETCH(bool, setLine);
    QFETCH(QString, event);
    QFETCH(QStringList, mentions);

    const QString link = files_.path("settings");
    CliProcess handset({"handset", "--pty", "--link", link, "--json", "--count", "2"});
    QTRY_VERIFY_WITH_TIMEOUT(isLink(link), 10000);
    const QString device = QFileInfo(link).symLinkTarget();
    RawSender sender(link);
    QVERIFY(sender.fd >= 0);
    if (setLine) {
        termios t{};
        ::tcgetattr(sender.fd, &t);
        ::cfmakeraw(&t);
        ::cfsetospeed(&t, B9600);
        t.c_cflag |= CSTOPB;
        QCOMPARE(::tcsetattr(sender.fd, TCSANOW, &t), 0);
    }
    QVERIFY(sender.write(kUp));
    QVERIFY(handset.waitForOutput("\"packet\""));
    QVERIFY(sender.write(kUp));
    QVERIFY(handset.waitForEnd());

    QList<QJsonObject> said;
    for (const QJsonObject &o : handset.jsonLines()) {
        if (o.value("event").toString().startsWith("line-settings"))
            said.append(o);
    }
    QCOMPARE(said.size(), 1); // once, however many packets
    QCOMPARE(said[0].value("event").toString(), event);
    QCOMPARE(said[0].value("device").toString(), device);
    const QString differences = said[0].value("differences").toVariant().toStringList().join(u'\n');
    for (const QString &m : mentions)
        QVERIFY2(differences.contains(m), qPrintable(differences));
}

void TestCliHandset::endsCleanly_data()
{
    QTest::addColumn<int>("signalNumber"); // 0: --timeout ends it
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("timeout") << 0;
}

void TestCliHandset::endsCleanly()
{
    QFETCH(int, signalNumber);
    const QString link = files_.path("ending");
    QStringList arguments{"handset", "--pty", "--link", link};
    if (signalNumber == 0)
        arguments << "--timeout" << "1.5";
    CliProcess handset(arguments);
    QTRY_VERIFY_WITH_TIMEOUT(isLink(link), 10000);
    RawSender sender(link);
    QVERIFY(sender.write(kUp + hexBytes("C4 01 02 03")));
    QVERIFY(handset.waitForOutput(QStringLiteral("キー UP")));
    if (signalNumber != 0)
        handset.sendSignal(signalNumber);
    QVERIFY(handset.waitForEnd());
    QCOMPARE(handset.exitCode(), 0);
    // What was held back is reported, the link is gone.
    QVERIFY2(handset.out().contains(QStringLiteral("C4 01 02 03")) &&
                 handset.out().contains(QStringLiteral("途中で切れたパケット（4 バイト）")),
             qPrintable(handset.out()));
    QVERIFY(!isLink(link));
    QVERIFY(handset.err().contains(QStringLiteral("受信: パケット 1 個")));
}

void TestCliHandset::endsWhenItsReaderGoesAway()
{
    // `handset | head`: once the reader has gone, the handset ends as it does
    // on a signal, and its link goes with it.
    const QString link = files_.path("piped");
    ProgramProcess pipeline(QStringLiteral("sh"), {"-c", R"("$0" handset --pty --link "$1" | head -c 1 > /dev/null)",
                                                   ProgramProcess::built("quillonemu-cli"), link});
    QTRY_VERIFY_WITH_TIMEOUT(isLink(link), 10000);
    RawSender sender(link);
    QDeadlineTimer deadline(10'000);
    while (!pipeline.endsWithin(100) && !deadline.hasExpired())
        sender.write(kUp); // every packet is a line of output
    QVERIFY(!pipeline.isRunning());
    QVERIFY(!isLink(link));
}

void TestCliHandset::readsADevice()
{
    // The far side of a pseudo-terminal stands in for the serial port.
    int master = -1;
    int slave = -1;
    char name[256] = {};
    QCOMPARE(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    CliProcess handset({"handset", "--device", QString::fromLocal8Bit(name), "--json", "--count", "2"});
    QVERIFY(handset.waitForOutput("\"ready\""));
    // A data byte FF comes doubled from a port that marks errors; the
    // handset sees it once.
    const QByteArray stream = hexBytes("FF") + kUp + hexBytes("41") + kA;
    QCOMPARE(::write(master, stream.constData(), size_t(stream.size())), stream.size());
    QVERIFY2(handset.waitForEnd(), qPrintable(handset.err()));
    ::close(master);
    ::close(slave);

    QCOMPARE(handset.exitCode(), 0);
    QCOMPARE(summaries(handset.jsonLines()), (QStringList{"unframed FF", "packet UP", "unframed 41", "packet あ"}));
    // A pseudo-terminal keeps no parity: the handset says it cannot check it.
    QVERIFY2(handset.err().contains(QString::fromLocal8Bit(name)), qPrintable(handset.err()));
}

void TestCliHandset::badCommandLines_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const QString file = files_.writeBytes("plain-file", "x");
    QTest::newRow("no line") << QStringList{"handset"} << 2 << "--pty と --device";
    QTest::newRow("two lines") << QStringList{"handset", "--pty", "--device", "/dev/null"} << 2 << "--pty と --device";
    QTest::newRow("link without pty") << QStringList{"handset", "--device", "/dev/null", "--link", "x"} << 2
                                      << "--link";
    QTest::newRow("count zero") << QStringList{"handset", "--pty", "--count", "0"} << 2 << "--count の値「0」";
    QTest::newRow("timeout words") << QStringList{"handset", "--pty", "--timeout=soon"} << 2 << "--timeout の値「soon」";
    QTest::newRow("flag with value") << QStringList{"handset", "--pty=yes"} << 2 << "--pty は値を取りません";
    QTest::newRow("unknown command") << QStringList{"handsett"} << 2 << "「handsett」";
    QTest::newRow("no such device") << QStringList{"handset", "--device", "/nonexistent/ttyQ"} << 1
                                    << "/nonexistent/ttyQ";
    QTest::newRow("not a serial port") << QStringList{"handset", "--device", file} << 1 << file;
    QTest::newRow("link over a file") << QStringList{"handset", "--pty", "--link", file} << 1 << file;
}

void TestCliHandset::badCommandLines()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    CliProcess cli(arguments);
    QVERIFY(cli.waitForEnd());
    QCOMPARE(cli.exitCode(), exitCode);
    QVERIFY2(cli.err().contains(message), qPrintable(cli.err()));
    QVERIFY(cli.out().isEmpty());
    QVERIFY(QFileInfo(files_.path("plain-file")).isFile());
}

QUILLON_TEST_GUILESS_MAIN(TestCliHandset)
#include "test_cli_handset.moc"
