// quillonemu-cli send: the real program pressing keys and typing text on a
// pseudo-terminal bound to port 1, in command-line order; what it refuses
// sends nothing.

#include "link/keytable.h"
#include "link/textsender.h"
#include "support/programprocess.h"
#include "support/pseudoterminal.h"

#include <QtTest>

namespace {

// The bytes of the keys named in `names` (separated by spaces).
QByteArray keys(const QString &names)
{
    QByteArray bytes;
    for (const QString &name : names.split(u' '))
        bytes += KeyTable::find(name).value().toByteArray();
    return bytes;
}

QByteArray text(const QString &typed)
{
    QByteArray bytes;
    for (const KeyPacket &packet : TextSender::packetsForString(typed))
        bytes += packet.toByteArray();
    return bytes;
}

} // namespace

class TestCliSend : public QObject {
    Q_OBJECT
private slots:
    void init();
    void sendsInCommandLineOrder_data();
    void sendsInCommandLineOrder();
    void refusesAndSendsNothing_data();
    void refusesAndSendsNothing();

private:
    std::unique_ptr<PseudoTerminal> pty_;
};

void TestCliSend::init()
{
    pty_ = std::make_unique<PseudoTerminal>();
    QVERIFY(pty_->isValid());
    pty_->bindPort(1);
    qputenv("QUILLONEMU_COM7", "/nonexistent/tty7");
}

void TestCliSend::sendsInCommandLineOrder_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("key names in any case") << QStringList{"up", "&Enter", "offook", "&offhook", "F10", "#", "0"}
                                           << keys("UP &ENTER OFFOOK &OFFHOOK F10 # 0");
    QTest::newRow("text with double-byte characters, then a key")
        << QStringList{"--text", "Aあ、ｂ", "down"} << text("Aあ、ｂ") + keys("DOWN");
    QTest::newRow("keys and texts interleave")
        << QStringList{"1", "--text=b", "2", "--text", "c", "--", "3"} << keys("1") + text("b") + keys("2") + text("c") + keys("3");
    QTest::newRow("empty text") << QStringList{"--text", "", "UP"} << keys("UP");
}

void TestCliSend::sendsInCommandLineOrder()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, expected);
    CliProcess send(QStringList{"send", "--port", "1"} + arguments);
    QVERIFY(send.waitForEnd());
    QCOMPARE(send.exitCode(), 0);
    QVERIFY2(send.out().contains(QStringLiteral("に %1 パケットを送りました").arg(expected.size() / 10)),
             qPrintable(send.out()));
    // Every byte was delivered before the port closed, and nothing more.
    QCOMPARE(pty_->read(expected.size()).toHex(' '), expected.toHex(' '));
    QCOMPARE(pty_->readAvailable(50), QByteArray());
}

void TestCliSend::refusesAndSendsNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");

    QTest::newRow("unknown key names")
        << QStringList{"--port", "1", "up", "foo", "sleep", "down"} << 2 << "不明なキー名「foo」「sleep」があります";
    QTest::newRow("text that cannot be typed")
        << QStringList{"--port", "1", "up", "--text", "a b<"} << 2 << "--text の半角スペース、「<」は入力できません。何も送っていません。";
    QTest::newRow("no port") << QStringList{"up"} << 2 << "--port でポート番号を指定してください";
    QTest::newRow("port no number") << QStringList{"--port", "one", "up"} << 2 << "--port の値「one」は整数ではありません";
    QTest::newRow("nothing to send") << QStringList{"--port", "1"} << 2 << "送るキー名も --text もありません";
    QTest::newRow("text without its value") << QStringList{"--port", "1", "up", "--text"} << 2 << "--text には値が要ります";
    QTest::newRow("unknown option") << QStringList{"--port", "1", "--count", "2"} << 2 << "「--count」";
    QTest::newRow("port without device") << QStringList{"--port", "7", "up"} << 1 << "ポート 7 (/nonexistent/tty7) を開けません";
}

void TestCliSend::refusesAndSendsNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    CliProcess send(QStringList{"send"} + arguments);
    QVERIFY(send.waitForEnd());
    QCOMPARE(send.exitCode(), exitCode);
    QVERIFY2(send.err().contains(error), qPrintable(send.err()));
    QCOMPARE(pty_->readAvailable(50), QByteArray());
}

QTEST_GUILESS_MAIN(TestCliSend)
#include "test_cli_send.moc"
