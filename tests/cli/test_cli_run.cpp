// quillonemu-cli run: the real program running macros against a
// pseudo-terminal on port 1: how it ends and with which status, stopping by
// signal (SIGTERM is in test_faults), the packet log and the terminal status
// line.

#include "link/chartable.h"
#include "link/keypacket.h"
#include "platform/linetiming.h"
#include "support/linespeedreader.h"
#include "support/programprocess.h"
#include "support/pseudoterminal.h"
#include "support/tempfiles.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QtTest>
#include <csignal>

namespace {

// What the handset receives when `text` is typed through the character table.
QByteArray typed(const QString &text)
{
    QByteArray all;
    for (const QChar c : text)
        all += KeyPacket::forCode(KeyPacket::Character, *CharacterTable::find(QString(c))).toByteArray();
    return all;
}

} // namespace

class TestCliRun : public QObject {
    Q_OBJECT
private slots:
    void init();
    void exitStatus_data();
    void exitStatus();
    void signalStopsAfterStatement();
    void stopsPromptlyAtLineSpeed_data();
    void stopsPromptlyAtLineSpeed();
    void logsEveryPacket();
    void statusLineOnTerminal();

private:
    QString macro(const QStringList &lines) { return files_.writeShiftJis("macro.txt", lines.join("\r\n")); }

    TempFiles files_;
    std::unique_ptr<PseudoTerminal> pty_;
};

void TestCliRun::init()
{
    pty_ = std::make_unique<PseudoTerminal>();
    pty_->bindPort(1);
}

void TestCliRun::exitStatus_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("arguments"); // @macro, @addr stand for files
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");  // in standard error
    QTest::addColumn<QString>("output"); // in standard output
    QTest::addColumn<int>("packets");

    const QStringList up{"UP"};
    QTest::newRow("to the end") << QStringList{"UP", "DOWN"} << QStringList{"@macro"} << 0 << ""
                                << "マクロの終わりまで実行しました（カウンタ 0）" << 2;
    QTest::newRow("EXIT") << QStringList{"UP", "EXIT", "DOWN"} << QStringList{"@macro", "--counter", "5"} << 0 << ""
                          << "EXIT で終わりました（カウンタ 5）" << 1;
    QTest::newRow("bad statement") << QStringList{"UP", "SLEEP soon"} << QStringList{"@macro"} << 1
                                   << "macro.txt:2: error: SLEEP の秒数「soon」" << "--counter 0 で続きから" << 1;
    QTest::newRow("address line typed") << QStringList{"GETSTR", "SENDSTR", "EXIT"}
                                        << QStringList{"@macro", "--addr", "@addr", "--counter", "1"} << 0 << ""
                                        << "入力「two」" << 3;
    QTest::newRow("log cannot open") << up << QStringList{"@macro", "--log", "/nonexistent/dir/run.log"} << 1
                                     << "/nonexistent/dir/run.log" << "" << 0;

    QTest::newRow("no macro file") << up << QStringList{} << 2 << "マクロファイルが指定されていません" << "" << 0;
    QTest::newRow("two macro files") << up << QStringList{"@macro", "other.txt"} << 2 << "「other.txt」" << "" << 0;
    QTest::newRow("counter no number") << up << QStringList{"@macro", "--counter", "x1"} << 2
                                       << "--counter の値「x1」" << "" << 0;
}

void TestCliRun::exitStatus()
{
    QFETCH(QStringList, lines);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    QFETCH(QString, output);
    QFETCH(int, packets);

    const QString macroPath = macro(lines);
    const QString addrPath = files_.writeShiftJis("addr.txt", "one\r\ntwo\r\n");
    arguments.replaceInStrings("@macro", macroPath);
    arguments.replaceInStrings("@addr", addrPath);
    CliProcess run(QStringList{"run"} + arguments);
    QVERIFY(run.waitForEnd());
    QCOMPARE(run.exitCode(), exitCode);
    QVERIFY2(run.err().contains(error), qPrintable(run.err()));
    QVERIFY2(run.out().contains(output), qPrintable(run.out()));
    QCOMPARE(pty_->readAvailable(50).size(), packets * 10);
}

void TestCliRun::signalStopsAfterStatement()
{
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    CliProcess run({"run", macro({"STRING " + alphabet, "SLEEP 60", "DOWN"}), "--counter", "7"});
    QVERIFY(run.waitForOutput(QStringLiteral("2 SLEEP")));
    QElapsedTimer elapsed;
    elapsed.start();
    run.sendSignal(SIGINT);
    QVERIFY(run.waitForEnd());
    qInfo("ended %lld ms after the signal", elapsed.elapsed());
    QVERIFY(elapsed.elapsed() < 10'000);

    QCOMPARE(run.exitCode(), 130);
    QVERIFY2(run.out().contains(QStringLiteral("停止しました（カウンタ 7）。続きは --counter 7 で再開できます。")),
             qPrintable(run.out()));
    // Every packet typed before the stop has arrived; nothing after it was sent.
    QCOMPARE(pty_->readAvailable(100), typed(alphabet));
}

void TestCliRun::stopsPromptlyAtLineSpeed_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QList<int>>("stops");
    QTest::addColumn<int>("sentBefore"); // packets across the line before the signals
    QTest::addColumn<QByteArray>("packet");

    const QByteArray up = QByteArray::fromHex("C4010203000001010000");
    const QByteArray a = QByteArray::fromHex("C4010201080206000000");
    // The run outruns the line with the default base wait: the stop ends
    // it after the statement in progress, and what is queued drains.
    QTest::newRow("Ctrl-C in UP REPEAT") << QStringList{"UP", "REPEAT"} << QList<int>{SIGINT} << 5 << up;
    // A text far longer than the queue: the end comes between two packets.
    const QString text = "STRING " + QString(120, u'A');
    QTest::newRow("SIGTERM in a long STRING") << QStringList{text, "SLEEP 60"} << QList<int>{SIGTERM} << 5 << a;
    QTest::newRow("second Ctrl-C in a long STRING") << QStringList{text, "SLEEP 60"} << QList<int>{SIGINT, SIGINT} << 5
                                                    << a;
}

void TestCliRun::stopsPromptlyAtLineSpeed()
{
    QFETCH(QStringList, lines);
    QFETCH(QList<int>, stops);
    QFETCH(int, sentBefore);
    QFETCH(QByteArray, packet);

    LineSpeedReader handset(*pty_);
    CliProcess run({"run", macro(lines)});
    QVERIFY(handset.waitFor(sentBefore * 10, 10'000));
    double stoppedAt = 0;
    for (qsizetype i = 0; i < stops.size(); ++i) {
        // Signals of one kind sent together arrive as one: let the line
        // carry a few more packets between them.
        if (i > 0)
            QVERIFY(handset.waitFor(handset.bytes().size() + 30, 5000));
        stoppedAt = LineSpeedReader::nowMs();
        run.sendSignal(stops[i]);
    }
    // What was written before the stop is at most the queue's bound: that,
    // a second of slack, and time for a busy machine.
    const int bound = int(LineTiming::lineMs(LineTiming::kQueueBoundBytes)) + 1000;
    const bool ended = run.waitForEnd(bound + 5000);
    QVERIFY2(ended, qPrintable(run.out() + run.err() + QString::number(handset.bytes().size())));
    const double endedAt = LineSpeedReader::nowMs();
    qInfo("ended %.0f ms after the signal", endedAt - stoppedAt);
    QCOMPARE(run.exitCode(), 130);
    QVERIFY2(run.out().contains(QStringLiteral("停止しました")), qPrintable(run.out()));

    // Every packet written arrived whole; none came long after the end.
    handset.waitForQuiet(300, 5000);
    const QByteArray bytes = handset.bytes();
    QCOMPARE(bytes, packet.repeated(bytes.size() / 10));
    const QList<double> times = handset.times();
    const qsizetype afterStop = std::count_if(times.begin(), times.end(), [&](double t) { return t > stoppedAt; });
    QVERIFY2(afterStop <= LineTiming::kQueueBoundBytes + 10, qPrintable(QString::number(afterStop)));
    QVERIFY(times.last() < endedAt + 200);
    if (packet.at(3) == 1) // the text was cut short
        QVERIFY2(bytes.size() < 120 * 10, qPrintable(QString::number(bytes.size())));
}

void TestCliRun::logsEveryPacket()
{
    const QString log = files_.path("run.log");
    const QString path = macro({"BASEWAIT 0", "UP", "SLEEP 0", "STRING aあ", "EXIT"});
    for (int run = 0; run < 2; ++run) { // the log is appended to
        CliProcess cli({"run", path, "--log", log, "--counter", QString::number(run)});
        QVERIFY(cli.waitForEnd());
        QCOMPARE(cli.exitCode(), 0);
    }
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QStringList entries;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        QVERIFY2(QDateTime::fromString(o.value("time").toString(), Qt::ISODateWithMs).isValid(), line.constData());
        entries.append(QStringLiteral("%1 %2 %3 %4")
                           .arg(o.value("counter").toInt())
                           .arg(o.value("line").toInt())
                           .arg(o.value("keyword").toString(), o.value("packet").toString()));
    }
    QStringList expected;
    for (const QString run : {"0", "1"}) {
        expected << run + " 2 UP C4 01 02 03 00 00 01 01 00 00" << run + " 4 STRING C4 01 02 01 08 02 08 01 00 00"
                 << run + " 4 STRING C4 01 02 02 08 02 0A 00 00 00";
    }
    QCOMPARE(entries, expected);
}

void TestCliRun::statusLineOnTerminal()
{
    PseudoTerminal terminal;
    const QString path = macro({"UP", "STRING abc", "DOWN"});
    CliProcess run({"run", path}, [&](QProcess &p) { p.setStandardOutputFile(terminal.slavePath()); });
    QVERIFY(run.waitForEnd());
    QCOMPARE(run.exitCode(), 0);
    const QString shown = QString::fromUtf8(terminal.readAvailable(100));
    // One line rewritten in place, then the last words on a line of their own.
    QVERIFY2(shown.contains(QStringLiteral("\r\x1b[Kカウンタ 0 | ポート 1 | 2 STRING | 入力「abc」")), qPrintable(shown));
    QVERIFY2(shown.endsWith(QStringLiteral("3 DOWN | 入力「abc」\nマクロの終わりまで実行しました（カウンタ 0）。\n")),
             qPrintable(shown));
    QCOMPARE(shown.count(u'\n'), 2);
}

QTEST_GUILESS_MAIN(TestCliRun)
#include "test_cli_run.moc"
