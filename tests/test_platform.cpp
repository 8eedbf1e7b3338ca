// Code page 932, text-file lines, port numbers, the serial port's failures and
// the waiter: the operating-system layer everything else stands on.

#include "platform/cp932.h"
#include "platform/linetiming.h"
#include "platform/portnumber.h"
#include "platform/serialport.h"
#include "platform/textlinereader.h"
#include "platform/waiter.h"
#include "support/tempfiles.h"

#include <QTimer>
#include <QtTest>

class TestPlatform : public QObject {
    Q_OBJECT
private slots:
    void cp932Codes_data();
    void cp932Codes();
    void decodeNeverFails();
    void lineEnds_data();
    void lineEnds();
    void crLfAcrossReads();
    void longLineAndSkipping();
    void wholeNumbers_data();
    void wholeNumbers();
    void portNumbersAndDevices();
    void lineClockQueues();
    void openFailuresSayWhy_data();
    void openFailuresSayWhy();
    void waiterWakesAndProcessesEvents();
};

void TestPlatform::cp932Codes_data()
{
    QTest::addColumn<QString>("character");
    QTest::addColumn<int>("code"); // -1: no code

    QTest::newRow("reverse solidus") << QStringLiteral("\\") << 0x5C;
    QTest::newRow("full-width tilde") << QStringLiteral("\uFF5E") << 0x8160;
    QTest::newRow("half-width middle dot") << QStringLiteral("\uFF65") << 0xA5;
    QTest::newRow("emoji high half") << QString(QChar(0xD83D)) << -1;
}

void TestPlatform::cp932Codes()
{
    QFETCH(QString, character);
    QFETCH(int, code);
    const std::optional<quint16> got = cp932Code(character[0]);
    if (code < 0)
        QVERIFY2(!got, qPrintable(QString::number(got.value_or(0), 16)));
    else
        QCOMPARE(got.value_or(0xFFFF), code);
}

void TestPlatform::decodeNeverFails()
{
    QCOMPARE(decodeCp932(toShiftJis(QStringLiteral("あいう ABC ｱ"))), QStringLiteral("あいう ABC ｱ"));
    // A lone lead byte at the end, a byte that starts nothing, a bad trail.
    QCOMPARE(decodeCp932(QByteArray("A\x82")), QStringLiteral("A\uFFFD"));
    QCOMPARE(decodeCp932(QByteArray("\xFF" "B")), QStringLiteral("\uFFFD" "B"));
    QVERIFY(decodeCp932(QByteArray("\x81\x20x", 3)).endsWith(QStringLiteral(" x")));
    QCOMPARE(decodeCp932(QByteArray("a\0b", 3)).size(), 3);
}

void TestPlatform::lineEnds_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("CR LF") << QByteArray("UP\r\nDOWN\r\n") << QStringList{"UP", "DOWN"};
    QTest::newRow("lone CR") << QByteArray("UP\rDOWN\r") << QStringList{"UP", "DOWN"};
    QTest::newRow("lone LF") << QByteArray("UP\nDOWN\n") << QStringList{"UP", "DOWN"};
    QTest::newRow("no final line end") << QByteArray("UP\r\nDOWN") << QStringList{"UP", "DOWN"};
    QTest::newRow("empty lines kept") << QByteArray("a\r\n\r\nb") << QStringList{"a", "", "b"};
    QTest::newRow("LF then CR") << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
    QTest::newRow("shift-jis") << toShiftJis(QStringLiteral("STRING あいう\r\n")) << QStringList{"STRING あいう"};
}

void TestPlatform::lineEnds()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    TempFiles files;
    TextLineReader reader;
    QVERIFY(reader.open(files.writeBytes("f.txt", bytes)));
    QStringList got;
    while (const std::optional<QString> line = reader.readLine())
        got.append(*line);
    QCOMPARE(got, lines);
    QVERIFY(!reader.failed());
}

void TestPlatform::crLfAcrossReads()
{
    // The reader reads 64 KiB at a time: a CR as the last byte of one read and
    // its LF as the first of the next must still make one line end.
    for (const qsizetype crAt : {qsizetype(65535), qsizetype(65536), qsizetype(131071)}) {
        QByteArray bytes(crAt, 'x');
        bytes += "\r\nnext\r\n";
        TempFiles files;
        TextLineReader reader;
        QVERIFY(reader.open(files.writeBytes("f.txt", bytes)));
        QCOMPARE(reader.readRawLine().value_or("").size(), crAt);
        QCOMPARE(reader.readLine(), std::optional<QString>(QStringLiteral("next")));
        QVERIFY(!reader.readLine());
    }
}

void TestPlatform::longLineAndSkipping()
{
    QByteArray bytes(10 * 1024 * 1024, 'a');
    bytes += "\nsecond\nthird";
    TempFiles files;
    TextLineReader reader;
    QVERIFY(reader.open(files.writeBytes("f.txt", bytes)));
    QCOMPARE(reader.skipLines(1), 1);
    QCOMPARE(reader.readLine(), std::optional<QString>(QStringLiteral("second")));
    QCOMPARE(reader.skipLines(5), 1); // only "third" was left
    QCOMPARE(reader.linesRead(), 3);
    QVERIFY(!reader.readLine());
}

void TestPlatform::wholeNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");

    QTest::newRow("spaces") << " 12 " << true << 12;
    QTest::newRow("signs") << "-4" << true << -4;
    QTest::newRow("32-bit") << "2147483647" << true << 2147483647;
    QTest::newRow("too large") << "2147483648" << false << 0;
    QTest::newRow("fraction") << "3.0" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("full-width digit") << "３" << false << 0;
}

void TestPlatform::wholeNumbers()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, value);
    const std::optional<qint32> got = parseWholeNumber(text);
    QCOMPARE(got.has_value(), valid);
    if (valid)
        QCOMPARE(*got, value);
}

void TestPlatform::portNumbersAndDevices()
{
    // Without a QUILLONEMU_COM<n> override, port n is the n-th serial device.
    // (Every other serial test runs on such an override.)
    qunsetenv("QUILLONEMU_COM3");
    QCOMPARE(devicePathForPort(3), QStringLiteral("/dev/ttyS2"));
    QVERIFY(devicePathForPort(0).isEmpty());
    // A port number with no device still names itself when the open fails.
    SerialPort port;
    QVERIFY(!port.open("0"));
    QVERIFY2(port.errorText().contains(u'0'), qPrintable(port.errorText()));
    QVERIFY(!port.isOpen());
    // A variable set but empty says so.
    qputenv("QUILLONEMU_COM3", "");
    QVERIFY(!port.open("3"));
    QVERIFY2(port.errorText().contains("QUILLONEMU_COM3") && port.errorText().contains(QStringLiteral("空")),
             qPrintable(port.errorText()));
    qunsetenv("QUILLONEMU_COM3");
}

void TestPlatform::lineClockQueues()
{
    LineClock clock;
    const double packetMs = 110 * 1000.0 / 600;
    QCOMPARE(clock.add(1000, 10), 1000 + packetMs);
    // Handed over together: each waits for the one before.
    QCOMPARE(clock.add(1000, 10), 1000 + 2 * packetMs);
    QCOMPARE(clock.bytesOnLine(1000), 20);
    QCOMPARE(clock.bytesOnLine(1000 + packetMs), 10);
    QCOMPARE(clock.add(1001, 1), 1000 + 2 * packetMs + packetMs / 10);
    // After a pause the line is free again.
    QCOMPARE(clock.bytesOnLine(5000), 0);
    QCOMPARE(clock.add(5000, 10), 5000 + packetMs);
}

void TestPlatform::openFailuresSayWhy_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("system");
    QTest::addColumn<bool>("mayAccess");
    QTest::addColumn<QString>("reason");

    QTest::newRow("no device") << int(QSerialPort::DeviceNotFoundError) << "No such file or directory" << true
                               << QStringLiteral("デバイスがありません。");
    QTest::newRow("not permitted") << int(QSerialPort::PermissionError) << "Permission denied" << false
                                   << QStringLiteral("アクセス権がありません（Linux ではユーザーを dialout グループに加えてください）。");
    // Permitted but refused: someone holds it (on Windows, always this).
    QTest::newRow("held") << int(QSerialPort::PermissionError) << "Access is denied." << true
                          << QStringLiteral("ほかのプログラムが使用中です。");
    // No message of its own: the system's reason, not silence.
    QTest::newRow("terminal in a bad state") << int(QSerialPort::OpenError) << "Invalid argument" << true
                                             << QStringLiteral("開けませんでした（Invalid argument）。");
    QTest::newRow("no reason given") << int(QSerialPort::UnknownError) << " " << true
                                     << QStringLiteral("開けませんでした。");
}

void TestPlatform::openFailuresSayWhy()
{
    QFETCH(int, error);
    QFETCH(QString, system);
    QFETCH(bool, mayAccess);
    QFETCH(QString, reason);
    QCOMPARE(portOpenFailureReason(QSerialPort::SerialPortError(error), system, mayAccess), reason);
}

void TestPlatform::waiterWakesAndProcessesEvents()
{
    EventLoopWaiter waiter;
    // A deadline already passed still lets pending events run once.
    bool ran = false;
    QTimer::singleShot(0, this, [&] { ran = true; });
    waiter.sleepUntil(waiter.elapsedMs() - 1);
    QVERIFY(ran);

    // A wake from an event handler ends a long sleep.
    QTimer::singleShot(20, this, [&] { waiter.wake(); });
    const double start = waiter.elapsedMs();
    waiter.sleepUntil(start + 60'000);
    QVERIFY(waiter.elapsedMs() - start < 30'000);

    // Without a wake the sleep lasts past its deadline.
    const double before = waiter.elapsedMs();
    waiter.sleepUntil(before + 30);
    QVERIFY(waiter.elapsedMs() > before + 30);

    // A handler inside the sleep pauses for the line (timers still run, a
    // wake does not end the pause); a wake after that still ends the sleep.
    bool timerRan = false;
    QTimer::singleShot(10, this, [&] {
        QTimer::singleShot(5, this, [&] {
            timerRan = true;
            waiter.wake();
        });
        const double pauseStart = waiter.elapsedMs();
        waiter.pauseUntil(pauseStart + 40);
        QVERIFY(waiter.elapsedMs() >= pauseStart + 40);
        QTimer::singleShot(5, this, [&] { waiter.wake(); });
    });
    const double outer = waiter.elapsedMs();
    waiter.sleepUntil(outer + 60'000);
    QVERIFY(timerRan);
    QVERIFY(waiter.elapsedMs() - outer < 30'000);
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "test_platform.moc"
