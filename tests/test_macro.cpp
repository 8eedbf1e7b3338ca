// The macro language and the run: statements, waits, passes, the counter, the
// address file, stop, EXIT, and every way a run can fail. The run goes on a
// fake window and clock but a real serial link on a pseudo-terminal.

#include "macro/macrocheck.h"
#include "macro/passdealer.h"
#include "macro/seconds.h"
#include "macro/statement.h"
#include "platform/linetiming.h"
#include "support/fakerun.h"
#include "support/packets.h"
#include "support/testshare.h"

#include <QFile>
#include <numeric>
#include <QtTest>

using Outcome = MacroRunner::Outcome;
using Kind = Statement::Kind;

namespace {

const QString kUp = QStringLiteral("C4 01 02 03 00 00 01 01 00 00");
const QString kDown = QStringLiteral("C4 01 02 03 00 00 01 02 00 00");

QString message(const FakeRun &r)
{
    return r.host.messages.value(0);
}

} // namespace

class TestMacro : public QObject {
    Q_OBJECT
private slots:
    void seconds_data();
    void seconds();

    void passesTakeAddressLines_data();
    void passesTakeAddressLines();
    void aPassOfOnlyRepeatWaits();
    void waitEdges();
    void stopDuringLongSleep();
    void portNoSwitchesPort();
    void textStatements();
    void exitClosesThePortFirst();
    void passTimesMatchTheEstimate_data();
    void passTimesMatchTheEstimate();

    void faultsEndTheRunInOrder();
    void linkFailureMidRun();
    void resumeTypesEveryAddressOnce_data();
    void resumeTypesEveryAddressOnce();
    void resumeBeforePassesLostOnTheLine();
    void addressFileChosenDuringRun();

    void passRanges_data();
    void passRanges();
    void dealerGivesBackAndWaits();
};

void TestMacro::seconds_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("value");

    QTest::newRow("leading point") << ".25" << true << 0.25;
    QTest::newRow("negative") << "-1" << true << -1.0;
    QTest::newRow("exponent") << "1e3" << false << 0.0;
    QTest::newRow("infinity") << "inf" << false << 0.0;
    QTest::newRow("two points") << "1.2.3" << false << 0.0;
}

void TestMacro::seconds()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(double, value);
    const std::optional<float> got = parseSeconds(text);
    QCOMPARE(got.has_value(), valid);
    if (valid)
        QCOMPARE(double(*got), value);
}

void TestMacro::passesTakeAddressLines_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<QString>("received");
    QTest::addColumn<QString>("counter");

    // The fourth pass's first GETSTR finds the end of the file: the job is
    // done, with no message.
    QTest::newRow("every line its pass") << QStringList{"GETSTR", "SENDSTR", "REPEAT"} << QStringList{"ab", "c d", "あe"}
                                         << int(Outcome::Finished) << QStringList{"ab", "c d", "あe"} << "abcde" << "3";
    // Keys before the pass's first GETSTR are sent all the same.
    QTest::newRow("keys before the first GETSTR")
        << QStringList{"UP", "GETSTR", "SENDSTR", "REPEAT"} << QStringList{"a", "b"} << int(Outcome::Finished)
        << QStringList{"a", "b"} << "UP a UP b UP" << "2";
    // The second pass finds its first line but not its second: an error
    // that names it, the counter at the lines of the passes done.
    QTest::newRow("a pass short of its lines")
        << QStringList{"GETSTR", "SENDSTR", "GETSTR", "SENDSTR", "REPEAT"} << QStringList{"a", "b", "c"}
        << int(Outcome::Failed) << QStringList{"a", "b", "c"} << "abc" << "2";
}

void TestMacro::passesTakeAddressLines()
{
    QFETCH(QStringList, lines);
    QFETCH(QStringList, addresses);
    QFETCH(int, outcome);
    QFETCH(QStringList, typed);
    QFETCH(QString, received);
    QFETCH(QString, counter);

    FakeRun r;
    r.setMacro(lines);
    r.setAddresses(addresses);
    QCOMPARE(int(r.run()), outcome);
    QCOMPARE(r.runner.addressFileDone(), outcome == int(Outcome::Finished));
    QCOMPARE(r.host.messages.isEmpty(), outcome == int(Outcome::Finished));
    if (outcome == int(Outcome::Failed))
        QVERIFY2(message(r).contains(QStringLiteral("に %1 行目がありません").arg(addresses.size() + 1)), qPrintable(message(r)));
    QCOMPARE(r.host.addrTexts.mid(1, typed.size()), typed);
    // Spaces and double-byte characters are not typed by SENDSTR.
    QStringList packets;
    for (const QString &part : received.split(u' '))
        packets += part == QLatin1String("UP") ? QStringList{kUp} : packetList(textBytes(part));
    QCOMPARE(r.received(), packets);
    QCOMPARE(r.host.counter, counter);
    QVERIFY(r.endedInOrder());
}

void TestMacro::aPassOfOnlyRepeatWaits()
{
    // It stays stoppable and does not spin.
    FakeRun r;
    r.setMacro({"", "REPEAT"});
    r.waiter.onSleep = [&](double) {
        if (r.waiter.sleeps == 100)
            r.runner.RequestStop();
        return false;
    };
    QCOMPARE(r.run(), Outcome::Stopped);
    QCOMPARE(r.host.counter, QStringLiteral("100"));
    QCOMPARE(r.waiter.waits, QList<double>(100, MacroRunner::kShortestWaitMs));
    QVERIFY(r.endedInOrder());
}

void TestMacro::waitEdges()
{
    // (How long the waits of a run are, the shortest ones included, is
    // measured by passTimesMatchTheEstimate, to a byte time.) A negative
    // wait returns at once, without letting events run; reaching the end
    // exactly does not end a wait.
    FakeRun r;
    r.settings.MacroExe = true;
    r.runner.WaitSeconds(-1);
    QCOMPARE(r.waiter.sleeps, 0);
    r.waiter.onSleep = [&](double deadline) {
        if (r.waiter.sleeps > 1)
            return false;
        r.waiter.now = deadline;
        return true;
    };
    r.runner.WaitSeconds(0.05f);
    QCOMPARE(r.waiter.sleeps, 2);
}

void TestMacro::stopDuringLongSleep()
{
    FakeRun r;
    r.setMacro({"UP", "SLEEP 60", "DOWN"});
    const double start = r.waiter.now;
    // The stop wakes the sleep: without that, the clock would go on to the
    // sleep's end.
    r.waiter.onSleep = [&](double deadline) {
        if (deadline - r.waiter.now >= 60'000) {
            r.runner.RequestStop();
            r.runner.RequestStop(); // a second press does nothing more
        }
        return false;
    };
    QCOMPARE(r.run(), Outcome::Stopped);
    QCOMPARE(r.received(), QStringList{kUp});
    // Nothing waits after the stop but the port, for the packet still on the
    // line.
    QVERIFY(r.waiter.now - start < 100 + LineTiming::lineMs(KeyPacket::kSize));
    QCOMPARE(r.host.statuses.last(), QStringLiteral("2 SLEEP"));
    QVERIFY(r.endedInOrder());
}

void TestMacro::portNoSwitchesPort()
{
    FakeRun r;
    PseudoTerminal other;
    other.bindPort(3);
    r.setMacro({"UP", "PORTNO 3", "DOWN"});
    QCOMPARE(r.run(), Outcome::Finished);
    QCOMPARE(r.received(), QStringList{kUp});
    QCOMPARE(other.read(10), QByteArray::fromHex(kDown.toLatin1().replace(' ', "")));
    QCOMPARE(r.host.port, QStringLiteral("3"));
    QCOMPARE(r.settings.CommPort, QStringLiteral("3"));
    QVERIFY(r.endedInOrder());
}

void TestMacro::textStatements()
{
    FakeRun r;
    r.setMacro({"STRING Abc", "STRING", "STRING  abc", "STRING hi there", "SENDSTR", "STRING あ"});
    QCOMPARE(r.run(), Outcome::Finished);
    QCOMPARE(r.host.addrTexts, (QStringList{"", "Abc", "", "", "hi", "", "あ", "糸冬了"}));
    QCOMPARE(r.received(), (QStringList{"C4 01 02 01 08 02 06 00 00 00", "C4 01 02 01 08 02 08 02 00 00",
                                        "C4 01 02 01 08 02 08 03 00 00", "C4 01 02 01 08 02 08 08 00 00",
                                        "C4 01 02 01 08 02 08 09 00 00", "C4 01 02 02 08 02 0A 00 00 00"}));
}

void TestMacro::exitClosesThePortFirst()
{
    // The unattended job ends the process as soon as it is asked: EXIT has
    // delivered every packet and closed the port by then.
    FakeRun r;
    QStringList lines(50, QStringLiteral("F1"));
    r.setMacro(lines << "EXIT" << "DOWN");
    bool portOpenAtExit = true;
    r.host.onExit = [&] { portOpenAtExit = r.link.isOpen(); };
    QCOMPARE(r.run(), Outcome::Exited);
    QVERIFY(!portOpenAtExit);
    QCOMPARE(r.received().size(), 50);
}

void TestMacro::faultsEndTheRunInOrder()
{
    struct Case {
        const char *name;
        QStringList macro;      // empty: a macro file that is not there
        QString counter;
        QString port;
        QStringList addresses;  // empty: no address file; {"<missing>"}: one that is not there
        QStringList mentions;   // what the message must name
        int packets;            // packets sent before the failure
    };
    const QList<Case> cases = {
        {"counter not a number", {"UP"}, "x1", "1", {}, {"x1"}, 0},
        {"port names no device", {"UP"}, "0", "77", {}, {"77", "/nonexistent/tty77"}, 0},
        {"base wait missing", {"UP", "BASEWAIT"}, "0", "1", {}, {"2 行目", "BASEWAIT"}, 1},
        {"base wait no number", {"UP", "basewait 1,5"}, "0", "1", {}, {"2 行目", "1,5"}, 1},
        {"sleep empty", {"SLEEP  2"}, "0", "1", {}, {"1 行目", "SLEEP"}, 0},
        {"portno no number", {"UP", "PORTNO x"}, "0", "1", {}, {"2 行目", "PORTNO", "x"}, 1},
        {"portno missing", {"PORTNO"}, "0", "1", {}, {"1 行目", "PORTNO"}, 0},
        {"line as the file counts it", {"UP", "", "", "SLEEP x"}, "0", "1", {}, {"4 行目", "SLEEP", "x"}, 1},
        {"address file shorter than counter", {"GETSTR"}, "5", "1", {"a", "b", "c"}, {"addr.txt", "3", "5"}, 0},
        {"no macro file", {}, "0", "1", {}, {"macro.txt", "ファイルがありません"}, 0},
        {"no address file", {"GETSTR"}, "0", "1", {"<missing>"}, {"addr.txt"}, 0},
    };
    qputenv("QUILLONEMU_COM77", "/nonexistent/tty77");
    for (const Case &c : cases) {
        FakeRun r;
        r.settings.MacroFile = r.files.path("macro.txt");
        if (!c.macro.isEmpty())
            r.setMacro(c.macro);
        if (!c.addresses.isEmpty())
            r.setAddresses(c.addresses);
        if (c.addresses == QStringList{"<missing>"})
            QFile::remove(r.settings.AddrFile);
        r.host.counter = c.counter;
        r.host.port = c.port;
        QCOMPARE(r.run(), Outcome::Failed);
        QCOMPARE(r.host.messages.size(), 1);
        for (const QString &m : c.mentions)
            QVERIFY2(message(r).contains(m), qPrintable(QStringLiteral("%1: %2").arg(c.name, message(r))));
        QCOMPARE(r.received().size(), c.packets);
        QVERIFY2(r.endedInOrder(), c.name);
        QCOMPARE(r.host.counter, c.counter); // nothing completed is lost
    }
}

void TestMacro::linkFailureMidRun()
{
    FakeRun r;
    r.setMacro({"UP", "SLEEP 1", "UP", "UP", "UP"});
    r.waiter.onSleep = [&](double deadline) {
        if (deadline - r.waiter.now >= 1000)
            r.pty.closeMaster(); // the adapter is pulled
        return false;
    };
    QCOMPARE(r.run(), Outcome::Failed);
    QVERIFY2(message(r).contains(r.pty.slavePath()) && message(r).contains("3 行目"), qPrintable(message(r)));
    QCOMPARE(r.host.statuses.last(), QStringLiteral("3 UP"));
    QVERIFY(r.endedInOrder());
}

void TestMacro::resumeTypesEveryAddressOnce_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("counter");
    QTest::addColumn<QString>("stopAfterTyping");
    QTest::addColumn<QString>("resume");
    QTest::addColumn<qint64>("nextLine");
    QTest::addColumn<qint64>("typedAgainUpTo"); // 0: nothing is typed again

    const QStringList one{"GETSTR", "SENDSTR", "ENTER", "REPEAT"};
    const QStringList two{"GETSTR", "SENDSTR", "GETSTR", "SENDSTR", "ENTER", "REPEAT"};
    // The counter starts below 0 (the first line all the same): x0 to x5
    // passed, x6 typed but its pass not done.
    QTest::newRow("counter below 0") << one << "-3" << "x6" << "6" << qint64(7) << qint64(7);
    QTest::newRow("counter from 0") << one << "2" << "x4" << "4" << qint64(5) << qint64(5);
    // Two lines a pass: three passes took six lines.
    QTest::newRow("two lines a pass") << two << "0" << "x7" << "6" << qint64(7) << qint64(8);
    QTest::newRow("two lines, from line 5") << two << "4" << "x9" << "8" << qint64(9) << qint64(10);
}

void TestMacro::resumeTypesEveryAddressOnce()
{
    // Resumed with the counter the run ends with, the job takes every
    // address line once: none is skipped, and what is typed again (the
    // pass that was cut) is said.
    QFETCH(QStringList, lines);
    QFETCH(QString, counter);
    QFETCH(QString, stopAfterTyping);
    QFETCH(QString, resume);
    QFETCH(qint64, nextLine);
    QFETCH(qint64, typedAgainUpTo);

    QStringList addresses;
    for (int i = 0; i < 20; ++i)
        addresses.append(QStringLiteral("x%1").arg(i));
    FakeRun r;
    r.setMacro(lines);
    r.setAddresses(addresses);
    r.host.counter = counter;
    r.waiter.onSleep = [&](double) {
        if (r.host.addrTexts.last() == stopAfterTyping)
            r.runner.RequestStop();
        return false;
    };
    QCOMPARE(r.run(), Outcome::Stopped);
    const MacroRunner::ResumePoint point = r.runner.resumePoint();
    QCOMPARE(QString::number(point.counter), resume);
    QCOMPARE(r.host.counter, resume); // the window's next run goes on there
    QCOMPARE(point.nextAddrLine.value_or(0), nextLine);
    QCOMPARE(point.typedAgainUpTo.value_or(0), typedAgainUpTo);
    QCOMPARE(point.passesAgain, 0);

    // The next run from there starts with the line the resume point names.
    r.host.addrTexts.clear();
    r.waiter.onSleep = [&](double) {
        if (r.host.addrTexts.size() > 1)
            r.runner.RequestStop();
        return false;
    };
    r.run();
    QCOMPARE(r.host.addrTexts.value(1), addresses.at(nextLine - 1));
}

void TestMacro::resumeBeforePassesLostOnTheLine()
{
    // The run outruns the line (no base wait): when the device goes, the
    // last passes were handed over but had not crossed. The counter to
    // resume with is that of the last pass that surely crossed, never the
    // counter reached; the packets said delivered are those across.
    FakeRun r;
    r.setMacro({"GETSTR", "SENDSTR", "ENTER", "REPEAT"});
    QStringList addresses;
    for (int i = 0; i < 200; ++i)
        addresses.append(QStringLiteral("a%1").arg(i, 3, 10, QChar(u'0')));
    r.setAddresses(addresses);
    const double start = r.waiter.now;
    r.waiter.onPause = [&] {
        if (r.waiter.now - start > 12'000)
            r.pty.closeMaster();
    };
    QList<PassRecord> records;
    connect(&r.runner, &MacroRunner::passEnded, this, [&](const PassRecord &record) { records.append(record); });
    QCOMPARE(r.run(), Outcome::Failed);
    // 5 packets a pass: 12 s of line carry about 13 passes.
    const qint64 acrossPasses = qint64(12'000 / LineTiming::lineMs(50));
    const MacroRunner::ResumePoint point = r.runner.resumePoint();
    QVERIFY2(point.counter <= acrossPasses + 1 && point.counter >= acrossPasses - 2,
             qPrintable(QString::number(point.counter)));
    QVERIFY2(point.passesAgain >= 5, qPrintable(QString::number(point.passesAgain)));
    QCOMPARE(point.counter + point.passesAgain, r.runner.counter());
    // The results list those passes (and the one cut) as not delivered:
    // their last rows make a resumed job type them again.
    QMap<qint32, PassRecord::Result> last;
    for (const PassRecord &record : records)
        last[record.counter] = record.result;
    for (qint32 c = 0; c <= r.runner.counter(); ++c)
        QCOMPARE(last.value(c) == PassRecord::Result::NotDelivered, c >= point.counter);
    QCOMPARE(r.host.counter, QString::number(point.counter));
    QVERIFY(r.runner.packetsDelivered() <= (acrossPasses + 2) * 5);
    QVERIFY(r.runner.packetsDelivered() < r.runner.packetsSent());
}

void TestMacro::addressFileChosenDuringRun()
{
    // GETSTR fails, naming it. (A macro file that goes between two passes is
    // among the fault tests.)
    FakeRun a;
    a.setMacro({"UP", "GETSTR"});
    const QString path = a.files.writeShiftJis("later.txt", "x");
    a.waiter.onSleep = [&](double) {
        a.settings.AddrFile = path;
        return false;
    };
    QCOMPARE(a.run(), Outcome::Failed);
    QVERIFY2(message(a).contains(path) && message(a).contains("2 行目"), qPrintable(message(a)));
    QVERIFY(a.endedInOrder());
}

void TestMacro::passTimesMatchTheEstimate_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<QList<double>>("passMs"); // as the line and the waits make them
    QTest::addColumn<QList<qint64>>("packets");

    // GETSTR comes first, so the pass that finds no address line adds no time.
    QTest::newRow("waits govern; later passes keep the base wait")
        << QStringList{"GETSTR", "BASEWAIT 1", "SENDSTR", "REPEAT"} << QStringList{"ab", "cd", "ef"}
        << QList<double>{2010, 3000, 3000} << QList<qint64>{2, 2, 2};
    QTest::newRow("shortest waits") << QStringList{"GETSTR", "SLEEP 0", "SLEEP 0.004", "SLEEP -1", "REPEAT"}
                                    << QStringList{"a", "b", "c", "d", "e"} << QList<double>(5, 60)
                                    << QList<qint64>(5, 0);
    // The queue takes the first 512 bytes without the run waiting; then the
    // line sets the pace, address line by address line.
    QTest::newRow("the line governs") << QStringList{"GETSTR", "SENDSTR", "UP", "REPEAT"}
                                      << QStringList{QString(10, u'a'), QString(20, u'b'), QString(30, u'c')}
                                      << QList<double>{30, 30, 2123.333} << QList<qint64>{11, 21, 31};
    // The run waits for room in the middle of the text, then sleeps on top:
    // longer than both the text's line time and the SLEEP.
    QTest::newRow("a text overfills the queue before a SLEEP")
        << QStringList{"GETSTR", "STRING " + QString(60, u'a'), "SLEEP 12", "REPEAT"} << QStringList{"x", "y"}
        << QList<double>{13643.333, 13643.333} << QList<qint64>{60, 60};
    QTest::newRow("PORTNO waits for the line") << QStringList{"GETSTR", "STRING " + QString(20, u'a'), "PORTNO 1", "REPEAT"}
                                               << QStringList{"x", "y"} << QList<double>{3686.667, 3686.667}
                                               << QList<qint64>{20, 20};
}

void TestMacro::passTimesMatchTheEstimate()
{
    QFETCH(QStringList, lines);
    QFETCH(QStringList, addresses);
    QFETCH(QList<double>, passMs);
    QFETCH(QList<qint64>, packets);

    FakeRun r;
    r.setMacro(lines);
    r.setAddresses(addresses);
    QList<qint32> counters;
    QList<double> durations;
    QList<qint64> sent;
    connect(&r.runner, &MacroRunner::passCompleted, this, [&](qint32 counter, double ms, qint64 n) {
        counters.append(counter);
        durations.append(ms);
        sent.append(n);
    });
    const double start = r.waiter.now;
    QCOMPARE(r.run(), Outcome::Finished); // the address lines ran out
    const double elapsedMs = r.waiter.now - start;

    QList<qint32> expectedCounters;
    for (qint32 i = 1; i <= passMs.size(); ++i)
        expectedCounters.append(i);
    QCOMPARE(counters, expectedCounters);
    QCOMPARE(sent, packets);
    QCOMPARE(r.runner.passesCompleted(), passMs.size());
    QCOMPARE(r.runner.packetsSent(), std::accumulate(packets.begin(), packets.end(), qint64(0)));
    // A close waits for the line in whole byte times: up to one more.
    const double slack = LineTiming::kByteMs + 1;
    for (qsizetype i = 0; i < passMs.size(); ++i)
        QVERIFY2(std::abs(durations[i] - passMs[i]) < slack, qPrintable(QString::number(durations[i])));

    // The checker's estimate of the whole job is what the run took: its
    // passes, and the line carrying the last packet before the port closed.
    const MacroCheck check = checkMacro(r.settings.MacroFile, r.settings.AddrFile);
    QVERIFY(check.job);
    QCOMPARE(check.job->passes, passMs.size());
    QVERIFY2(std::abs(check.job->seconds * 1000 - elapsedMs) < slack * 3,
             qPrintable(QStringLiteral("%1 / %2").arg(check.job->seconds * 1000).arg(elapsedMs)));
}

void TestMacro::passRanges_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("first"); // counters; -2: refused
    QTest::addColumn<int>("last");  // -1: without end

    QTest::newRow("a range") << "101-200" << 100 << 199;
    QTest::newRow("to the end") << "101-" << 100 << -1;
    QTest::newRow("one pass") << " 7 " << 6 << 6;
    QTest::newRow("backwards") << "5-4" << -2 << 0;
    QTest::newRow("pass 0") << "0-3" << -2 << 0;
    QTest::newRow("no number") << "a-b" << -2 << 0;
    QTest::newRow("signed") << "+3-4" << -2 << 0;
}

void TestMacro::passRanges()
{
    QFETCH(QString, text);
    QFETCH(int, first);
    QFETCH(int, last);
    QString error;
    const std::optional<PassRange> range = parsePassRange(text, &error);
    if (first == -2) {
        QVERIFY(!range);
        QVERIFY2(error.contains(text), qPrintable(error));
        return;
    }
    QVERIFY2(range, qPrintable(error));
    QCOMPARE(range->firstCounter, first);
    QCOMPARE(range->lastCounter.value_or(-1), last);
}

void TestMacro::dealerGivesBackAndWaits()
{
    // Passes 0-4 less the done 1, for two takers.
    PassDealer dealer(0, 4, {1}, 2);
    QCOMPARE(dealer.total(), 4);
    QCOMPARE(dealer.take(0).counter, 0);
    QCOMPARE(dealer.take(1).counter, 2);
    QCOMPARE(dealer.take(0).counter, 3);
    QCOMPARE(dealer.take(0).counter, 4);
    // Nothing left, but taker 1 may still give its pass back: wait.
    const PassDealer::Deal waiting = dealer.take(0, true);
    QVERIFY(!waiting.counter && waiting.wait);
    // Taker 1 leaves with its pass and one its line may have lost.
    QCOMPARE(dealer.leave(1, {3}), (QList<qint32>{2, 3}));
    QCOMPARE(dealer.waiting(), 2);
    QCOMPARE(dealer.take(0).counter, 2);
    QCOMPARE(dealer.take(0).counter, 3);
    // A line still carrying waits for itself; a done one, alone, is done.
    QVERIFY(dealer.take(0, false).wait);
    const PassDealer::Deal done = dealer.take(0, true);
    QVERIFY(!done.counter && !done.wait);

    PassDealer stopped(0, std::nullopt, {}, 1);
    QCOMPARE(stopped.take(0).counter, 0);
    stopped.close();
    QVERIFY(!stopped.take(0).counter);
    QCOMPARE(stopped.waiting(), -1);
}

QUILLON_TEST_GUILESS_MAIN(TestMacro)
#include "test_macro.moc"
