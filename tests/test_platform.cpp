// Code page 932, text-file lines, port numbers, the serial port's failures and
// the waiter: the operating-system layer everything else stands on. (The
// line's clock is measured by the line itself: test_link's bounded queue and
// test_macro's pass times.)

#include "platform/cp932.h"
#include "platform/portnumber.h"
#include "platform/serialport.h"
#include "platform/textlinereader.h"
#include "platform/waiter.h"
#include "support/tempfiles.h"
#include "support/testshare.h"

#include <QLibraryInfo>
#include <QTimer>
#include <QTranslator>
#include <QtTest>

class TestPlatform : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void decodeNeverFails();
    void lineEnds_data();
    void lineEnds();
    void crLfAcrossReads();
    void wholeNumbers_data();
    void wholeNumbers();
    void portNumbersAndDevices();
    void openFailuresSayWhy_data();
    void openFailuresSayWhy();
    void waiterWakesAndProcessesEvents();
};

void TestPlatform::initTestCase()
{
    // Qt's Japanese catalogue, as the program loads it: the system's reasons
    // it knows come in Japanese.
    auto *catalogue = new QTranslator(this);
    QVERIFY(catalogue->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)));
    QCoreApplication::installTranslator(catalogue);
}

void TestPlatform::decodeNeverFails()
{
    QCOMPARE(decodeCp932(encodeCp932(QStringLiteral("あいう ABC ｱ"))), QStringLiteral("あいう ABC ｱ"));
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

    // (CR LF and a lone LF: the checker's line numbers, test_macrocheck.)
    QTest::newRow("lone CR") << QByteArray("UP\rDOWN\r") << QStringList{"UP", "DOWN"};
    QTest::newRow("no final line end") << QByteArray("UP\r\nDOWN") << QStringList{"UP", "DOWN"};
    QTest::newRow("empty lines kept") << QByteArray("a\r\n\r\nb") << QStringList{"a", "", "b"};
    QTest::newRow("LF then CR") << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
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

void TestPlatform::wholeNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");

    QTest::newRow("spaces") << " 12 " << true << 12;
    QTest::newRow("signs") << "-4" << true << -4;
    QTest::newRow("plus") << "+3" << true << 3;
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
    // (Permitted but refused, someone holds it: test_faults.)
    // No message of its own: the system's reason, not silence.
    QTest::newRow("terminal in a bad state") << int(QSerialPort::OpenError) << "Invalid argument" << true
                                             << QStringLiteral("開けませんでした（システムの理由: Invalid argument）。");
    QTest::newRow("reason in Japanese") << int(QSerialPort::OpenError) << QStringLiteral("引数が無効です") << true
                                        << QStringLiteral("開けませんでした（引数が無効です）。");
    // Qt's catalogue has the C library's words for a few.
    QTest::newRow("reason Qt translates") << int(QSerialPort::OpenError) << "Too many open files" << true
                                          << QStringLiteral("開けませんでした（開かれたファイルが多すぎます）。");
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

QUILLON_TEST_GUILESS_MAIN(TestPlatform)
#include "test_platform.moc"
