// Faults a long unattended job meets: a port another program holds or the
// user may not open, files that change under a run, hostile macro files, a
// huge address file, and the end of a program (EXIT, SIGTERM) while packets
// are still queued for the line. Each ends with a message naming what failed,
// and nothing already sent is lost.

#include "platform/serialport.h"
#include "support/fakerun.h"
#include "support/mainwindow.h"
#include "support/programprocess.h"
#include "support/testshare.h"

#include <QDir>
#include <QLabel>
#include <QRandomGenerator>
#include <QtTest>
#include <atomic>
#include <csignal>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

using Outcome = MacroRunner::Outcome;

namespace {

// Packets a job writes after the line filled up: they wait in the program.
constexpr int kHeldPackets = 20;
const QByteArray kF1 = QByteArray::fromHex("C4010203000000010000");

} // namespace

class TestFaults : public QObject {
    Q_OBJECT
private slots:
    void portHeldByAnotherProgram();
    void portNotPermitted();
    void macroFileBecomesUnreadable_data();
    void macroFileBecomesUnreadable();
    void hugeAddressFile();
    void hostileMacroFiles_data();
    void hostileMacroFiles();
    void heldPacketsArriveAtTheEnd_data();
    void heldPacketsArriveAtTheEnd();
};

void TestFaults::portHeldByAnotherProgram()
{
    TempFiles files;
    PseudoTerminal pty;
    pty.bindPort(41);
    CliProcess holder({"run", files.writeShiftJis("hold.txt", "UP\r\nSLEEP 60"), "--port", "41"});
    QCOMPARE(pty.read(10, 20'000), kF1.left(6) + QByteArray::fromHex("01010000")); // UP: it holds the port now

    SerialPort port;
    QVERIFY(!port.open("41"));
    QVERIFY2(port.errorText().contains("41") && port.errorText().contains(pty.slavePath()) &&
                 port.errorText().contains(QStringLiteral("使用中")),
             qPrintable(port.errorText()));

    FakeRun r; // a run on that port ends at its start, saying why
    r.setMacro({"UP"});
    r.host.port = "41";
    QCOMPARE(r.run(), Outcome::Failed);
    QVERIFY(r.host.messages.value(0).contains(pty.slavePath()));
    QVERIFY(r.endedInOrder());
}

void TestFaults::portNotPermitted()
{
    PseudoTerminal pty;
    pty.bindPort(42);
    QVERIFY(::chmod(QFile::encodeName(pty.slavePath()).constData(), 0) == 0);
    if (::geteuid() != 0) {
        SerialPort port;
        QVERIFY(!port.open("42"));
        QVERIFY2(port.errorText().contains(QStringLiteral("アクセス権")) && port.errorText().contains(pty.slavePath()),
                 qPrintable(port.errorText()));
        return;
    }
    // The superuser may open any device: the program runs as nobody instead.
    ProgramProcess send(QStringLiteral("setpriv"), {"--reuid=65534", "--regid=65534", "--clear-groups",
                                                    ProgramProcess::built("quillonemu-cli"), "send", "--port", "42", "UP"});
    QVERIFY(send.waitForEnd(20'000));
    const QString error = send.err();
    if (send.failedToStart() || error.startsWith(QStringLiteral("setpriv")))
        QSKIP("cannot run the program as another user here");
    QCOMPARE(send.exitCode(), 1);
    QVERIFY2(error.contains(QStringLiteral("アクセス権")) && error.contains(pty.slavePath()), qPrintable(error));
}

void TestFaults::macroFileBecomesUnreadable_data()
{
    QTest::addColumn<bool>("folder");
    QTest::newRow("deleted") << false;
    QTest::newRow("replaced by a folder") << true;
}

void TestFaults::macroFileBecomesUnreadable()
{
    // Between two passes the file goes, or turns into something no run can
    // read: REPEAT cannot open it again.
    QFETCH(bool, folder);
    FakeRun r;
    r.setMacro({"UP", "REPEAT"});
    r.waiter.onSleep = [&](double) {
        QFile::remove(r.settings.MacroFile);
        if (folder)
            QDir().mkdir(r.settings.MacroFile);
        return false;
    };
    QCOMPARE(r.run(), Outcome::Failed);
    const QString message = r.host.messages.value(0);
    QVERIFY2(message.contains(r.settings.MacroFile) && message.contains("REPEAT"), qPrintable(message));
    QCOMPARE(r.host.counter, QStringLiteral("1"));
    QCOMPARE(r.received().size(), 1);
    QVERIFY(r.endedInOrder());
}

void TestFaults::hugeAddressFile()
{
    FakeRun r;
    QByteArray lines;
    lines.reserve(8'000'000);
    for (int i = 1; i <= 1'000'000; ++i)
        lines += "a" + QByteArray::number(i) + "\r\n";
    r.settings.AddrFile = r.files.writeBytes("addr.txt", lines);
    r.setMacro({"GETSTR", "SENDSTR", "REPEAT"});
    r.host.counter = "999999";
    QCOMPARE(r.run(), Outcome::Finished); // the second pass finds no line 1,000,001: done
    QVERIFY(r.runner.addressFileDone());
    QCOMPARE(r.host.addrTexts.value(1), QStringLiteral("a1000000"));
    QCOMPARE(r.host.counter, QStringLiteral("1000000"));
    QVERIFY2(r.host.messages.isEmpty(), qPrintable(r.host.messages.value(0)));
    QCOMPARE(r.received().size(), 8);
}

void TestFaults::hostileMacroFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QByteArray random(64 * 1024, '\0');
    QRandomGenerator generator(20261206);
    for (char &c : random)
        c = static_cast<char>(generator.bounded(256));
    QTest::newRow("random bytes") << random;
    QTest::newRow("a 10 MB line") << QByteArray("UP ") + QByteArray(10 * 1024 * 1024, 'x') + "\r\nDOWN";
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("only CR") << QByteArray(100'000, '\r');
    static const char withNul[] = "UP\0DOWN\r\n\0\r\nSTRING a\0b\r\n";
    QTest::newRow("NUL bytes") << QByteArray(withNul, sizeof withNul - 1);
    QTest::newRow("invalid Shift-JIS") << QByteArray("STRING \x82\x20\xFF\xFE\x81\r\n\x82\r\nUP\x80\r\nSTRING \x82\xA0");
}

void TestFaults::hostileMacroFiles()
{
    QFETCH(QByteArray, bytes);
    FakeRun r;
    r.settings.MacroFile = r.files.writeBytes("hostile.txt", bytes);
    r.waiter.onSleep = [&](double) {
        if (r.waiter.sleeps > 100'000) // a stray REPEAT would loop; the user stops it
            r.runner.RequestStop();
        return false;
    };
    const Outcome outcome = r.run();
    QVERIFY(outcome == Outcome::Finished || outcome == Outcome::Failed || outcome == Outcome::Stopped);
    QCOMPARE(r.host.messages.size(), outcome == Outcome::Failed ? 1 : 0);
    QVERIFY(r.endedInOrder());
    // Whatever was sent arrived as whole packets.
    for (const QString &p : r.received())
        QVERIFY2(p.startsWith("C4 01 02") && p.size() == 29, qPrintable(p));
}

void TestFaults::heldPacketsArriveAtTheEnd_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("EXIT in the main window") << "exit";
    QTest::newRow("the main window closed") << "close";
    QTest::newRow("SIGTERM to quillonemu-cli run") << "sigterm";
}

void TestFaults::heldPacketsArriveAtTheEnd()
{
    // The line is full when the job starts (an earlier sender nobody read),
    // so what the job writes waits in the program. The handset starts
    // reading only once the program ends: the rest must still come, whole
    // and in order, before the port closes.
    QFETCH(QString, how);
    TempFiles files;
    PseudoTerminal pty;
    pty.bindPort(43);
    const qsizetype earlier = pty.fillUp();
    QVERIFY(earlier > 1000);
    QStringList lines(kHeldPackets, QStringLiteral("F1"));
    const QString last = how == "exit" ? QStringLiteral("EXIT") : QStringLiteral("SLEEP 600");
    lines << last;
    const QString macro = files.writeShiftJis("job.txt", lines.join("\r\n"));
    const QString lastStatus = QStringLiteral("%1 %2").arg(kHeldPackets + 1).arg(last.section(u' ', 0, 0));

    std::atomic<bool> ending = false;
    QByteArray received;
    std::thread handset([&] {
        while (!ending)
            std::this_thread::yield();
        received = pty.readBlocking(earlier + kHeldPackets * 10, 30'000);
    });
    // A failed check returns early: the handset still stops.
    const auto stopHandset = qScopeGuard([&] {
        ending = true;
        if (handset.joinable())
            handset.join();
    });

    if (how == "sigterm") {
        CliProcess child({"run", macro, "--port", "43"});
        QVERIFY2(child.waitForOutput(lastStatus, 20'000), qPrintable(child.out().right(200)));
        child.sendSignal(SIGTERM);
        ending = true;
        QVERIFY(child.waitForEnd(20'000));
        QCOMPARE(child.exitCode(), 130);
    } else {
        MainWindow m;
        m.load(macro, 43);
        // The window's timers run while the port drains.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (m.w.lblStatus->text() != lastStatus || ending)
                return;
            ending = true;
            if (how == "close")
                m.w.close();
        });
        poll.start(5);
        m.w.cmdSend_Click();
        QVERIFY(ending);
        QVERIFY(!m.portOpenAtEnd);
    }
    handset.join();
    QCOMPARE(received.size(), earlier + kHeldPackets * 10);
    QCOMPARE(received.mid(earlier), kF1.repeated(kHeldPackets));
}

QUILLON_TEST_MAIN(TestFaults)
#include "test_faults.moc"
