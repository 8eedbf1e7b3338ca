// quillonemu-cli run and send: the real program against a pseudo-terminal on
// port 1. run: how it ends and with which status, stopping by signal at the
// line's pace (SIGTERM with packets held in the program is in test_faults),
// the packet log and the terminal status line. send: keys and texts in
// command-line order; what it refuses sends nothing.

#include "platform/linetiming.h"
#include "support/linespeedreader.h"
#include "support/packets.h"
#include "support/programprocess.h"
#include "support/pseudoterminal.h"
#include "support/tempfiles.h"
#include "support/testshare.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QtTest>
#include <csignal>

class TestCliRun : public QObject {
    Q_OBJECT
private slots:
    void init();
    void exitStatus_data();
    void exitStatus();
    void undeliveredPacketsFailTheRun_data();
    void undeliveredPacketsFailTheRun();
    void stopsPromptlyAtLineSpeed_data();
    void stopsPromptlyAtLineSpeed();
    void deviceLostAtLineSpeed_data();
    void deviceLostAtLineSpeed();
    void logsEveryPacket();
    void filesFromPipes_data();
    void filesFromPipes();
    void aClosedOutputLetsTheTextFinish();
    void statusLineOnTerminal_data();
    void statusLineOnTerminal();
    void sendsInCommandLineOrder_data();
    void sendsInCommandLineOrder();
    void sendRefusesAndSendsNothing_data();
    void sendRefusesAndSendsNothing();

private:
    // (Names that look like the messages' own placeholders: they must show
    // as they are.)
    QString macro(const QStringList &lines) { return files_.writeShiftJis("macro%3.txt", lines.join("\r\n")); }

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
    QTest::addColumn<QStringList>("output"); // in standard output
    QTest::addColumn<int>("packets");

    const QStringList up{"UP"};
    // The closing line: how the run ended, then what it did.
    QTest::newRow("to the end") << QStringList{"UP", "DOWN"} << QStringList{"@macro"} << 0 << ""
                                << QStringList{"マクロの終わりまで実行しました（カウンタ 0）。この実行: パケット 2 個、"} << 2;
    QTest::newRow("EXIT") << QStringList{"UP", "EXIT", "DOWN"} << QStringList{"@macro", "--counter", "5"} << 0 << ""
                          << QStringList{"EXIT で終わりました（カウンタ 5）。この実行: パケット 1 個、"} << 1;
    QTest::newRow("bad statement") << QStringList{"UP", "SLEEP soon"} << QStringList{"@macro"} << 1
                                   << "macro%3.txt:2: error: SLEEP の秒数「soon」" << QStringList{"--counter 0 で続きから"} << 1;
    QTest::newRow("address line typed") << QStringList{"GETSTR", "SENDSTR", "EXIT"}
                                        << QStringList{"@macro", "--addr", "@addr", "--counter", "1"} << 0 << ""
                                        << QStringList{"入力「two」"} << 3;
    // A line per pass: how far the job has come, until the address lines
    // run out; that ends the job as done.
    QTest::newRow("passes of the address file")
        << QStringList{"GETSTR", "SENDSTR", "REPEAT"} << QStringList{"@macro", "--addr", "@addr"} << 0 << ""
        << QStringList{"巡完了: カウンタ 1/2（50.0%）、この巡 ", "、終了予定 ", "巡完了: カウンタ 2/2（100.0%）、この巡 ",
                       "アドレスファイル「" + files_.path("addr%2.txt") +
                           "」の行をすべて入力して終わりました（カウンタ 2）。この実行: 2 巡、パケット 6 個、"}
        << 6;
    // A pass that lacks its second line is cut: an error.
    QTest::newRow("a pass short of its lines")
        << QStringList{"GETSTR", "SENDSTR", "GETSTR", "SENDSTR", "GETSTR", "REPEAT"} << QStringList{"@macro", "--addr", "@addr"}
        << 1 << "addr%2.txt」に 3 行目がありません"
        << QStringList{"エラーで終わりました（カウンタ 0）。直したあと --counter 0 で続きから再開できます。"} << 6;
    // Passes without end show their rate (the counter cannot count past its
    // largest value, which ends this one after a pass).
    QTest::newRow("passes without end") << QStringList{"UP", "REPEAT"}
                                        << QStringList{"@macro", "--counter", "2147483646"} << 1 << "上限"
                                        << QStringList{"巡完了: カウンタ 2147483647、この巡 ", "、毎時約 ",
                                                       "この実行: 1 巡、パケット 2 個、"}
                                        << 2;
    // A slice of the job: its passes by number, whatever the counter; one
    // past the job's passes sends nothing.
    const QStringList addressPass{"GETSTR", "SENDSTR", "REPEAT"};
    QTest::newRow("a slice") << addressPass << QStringList{"@macro", "--addr", "@addr", "--passes", "2-9"} << 0 << ""
                             << QStringList{"入力「two」", "巡 2-9 を実行して終わりました（カウンタ 2）。この実行: 1 巡、"}
                             << 3;
    QTest::newRow("a slice past the job") << addressPass << QStringList{"@macro", "--addr", "@addr", "--passes", "3-"} << 1
                                          << "--passes 3-: このジョブは 2 巡です" << QStringList{} << 0;
    QTest::newRow("a slice with the counter") << addressPass << QStringList{"@macro", "--passes", "1-2", "--counter", "1"}
                                              << 2 << "--passes と --counter は合わせられません" << QStringList{} << 0;
    QTest::newRow("a slice backwards") << addressPass << QStringList{"@macro", "--passes", "2-1"} << 2
                                       << "--passes「2-1」は巡の範囲ではありません" << QStringList{} << 0;
    QTest::newRow("log cannot open") << up << QStringList{"@macro", "--log", "/nonexistent/dir/run.log"} << 1
                                     << "/nonexistent/dir/run.log" << QStringList{} << 0;
    // A log whose writes fail: said when it happens, the run stops after
    // the statement in progress and fails.
    QTest::newRow("log cannot be written") << QStringList{"UP", "DOWN", "LEFT"} << QStringList{"@macro", "--log", "/dev/full"}
                                           << 1 << "ログファイル「/dev/full」に書けません" << QStringList{"停止しました"} << 1;
    // Text from the files acts on no terminal: its control characters are
    // shown by name.
    QTest::newRow("control characters of an address line")
        << QStringList{"GETSTR", "SENDSTR", "EXIT"} << QStringList{"@macro", "--addr", "@control"} << 0 << ""
        << QStringList{"入力「<U+001B>]2;x<U+0007><U+001B>[2J」"} << 5;
    QTest::newRow("control characters of a macro line")
        << QStringList{"SLEEP \x1b[2J"} << QStringList{"@macro"} << 1 << "SLEEP の秒数「<U+001B>[2J」"
        << QStringList{"カウンタ 0  1 SLEEP"} << 0;

    QTest::newRow("no macro file") << up << QStringList{} << 2 << "マクロファイルが指定されていません" << QStringList{}
                                   << 0;
    QTest::newRow("counter no number") << up << QStringList{"@macro", "--counter", "x1"} << 2
                                       << "--counter の値「x1」" << QStringList{} << 0;
}

void TestCliRun::exitStatus()
{
    QFETCH(QStringList, lines);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    QFETCH(QStringList, output);
    QFETCH(int, packets);

    const QString macroPath = macro(lines);
    const QString addrPath = files_.writeShiftJis("addr%2.txt", "one\r\ntwo\r\n");
    arguments.replaceInStrings("@macro", macroPath);
    arguments.replaceInStrings("@addr", addrPath);
    arguments.replaceInStrings("@control", files_.writeShiftJis("control.txt", "\x1b]2;x\x07\x1b[2J\r\n"));
    CliProcess run(QStringList{"run"} + arguments);
    QVERIFY(run.waitForEnd());
    QCOMPARE(run.exitCode(), exitCode);
    QVERIFY2(run.err().contains(error), qPrintable(run.err()));
    for (const QString &part : output)
        QVERIFY2(run.out().contains(part), qPrintable(run.out()));
    QVERIFY2(!run.out().contains(u'\x1b') && !run.err().contains(u'\x1b'), qPrintable(run.out() + run.err()));
    QCOMPARE(pty_->readAvailable(50).size(), packets * 10);
}

void TestCliRun::undeliveredPacketsFailTheRun_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("to the end") << QStringList{"UP", "DOWN"};
    QTest::newRow("EXIT") << QStringList{"UP", "DOWN", "EXIT"};
}

void TestCliRun::undeliveredPacketsFailTheRun()
{
    // Nobody reads the line: the packets cannot leave, and however the run
    // ends, it says so and fails.
    QFETCH(QStringList, lines);
    QVERIFY(pty_->fillUp() > 1000);
    CliProcess run({"run", macro(lines)});
    QVERIFY(run.waitForEnd());
    QCOMPARE(run.exitCode(), 1);
    QVERIFY2(run.err().contains(QStringLiteral("パケット 2 個分（20 バイト）を捨てました")), qPrintable(run.err()));
}

void TestCliRun::stopsPromptlyAtLineSpeed_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QList<int>>("stops");
    QTest::addColumn<int>("sentBefore"); // packets across the line before the signals
    QTest::addColumn<QByteArray>("packet");

    const QByteArray up = keyBytes("UP");
    const QByteArray a = textBytes("A");
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
    CliProcess run({"run", macro(lines), "--counter", "7"});
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
    // The closing line says where to go on from: each REPEAT counted a pass.
    const QRegularExpression stopped(QStringLiteral("停止しました（カウンタ (\\d+)）。続きは --counter \\1 で再開できます。"));
    const QRegularExpressionMatch match = stopped.match(run.out());
    QVERIFY2(match.hasMatch(), qPrintable(run.out()));
    QVERIFY(packet == keyBytes("UP") ? match.captured(1).toInt() > 7 : match.captured(1) == "7");

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

void TestCliRun::deviceLostAtLineSpeed_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("hangUpAfter"); // bytes the handset reads before it goes
    QTest::addColumn<int>("passBytes");   // 0: the job does not repeat

    QStringList keys{"BASEWAIT 0.01"};
    for (int i = 0; i < 40; ++i)
        keys.append("UP");
    QTest::newRow("run: keys queued") << "run" << keys << 130 << 0;
    // An address of four characters and ENTER: 50 bytes a pass.
    QTest::newRow("run: passes queued") << "run" << QStringList{"BASEWAIT 0.05", "GETSTR", "SENDSTR", "ENTER", "REPEAT"}
                                        << 600 << 50;
    QTest::newRow("send: a text") << "send" << QStringList{} << 80 << 0;
}

void TestCliRun::deviceLostAtLineSpeed()
{
    // The handset reads at the line's pace, then goes away with packets
    // still on their way: the program fails, names the port, and neither
    // counts nor resumes past what surely crossed.
    QFETCH(QString, command);
    QFETCH(QStringList, lines);
    QFETCH(int, hangUpAfter);
    QFETCH(int, passBytes);

    QStringList addresses;
    for (int i = 0; i < 200; ++i)
        addresses.append(QStringLiteral("a%1").arg(i, 3, 10, QChar(u'0')));
    const QString log = files_.path("lost.log");
    const QStringList arguments = command == "send"
                                      ? QStringList{"send", "--port", "1", "--text", QString(40, u'A')}
                                      : QStringList{"run", macro(lines), "--log", log, "--addr",
                                                    files_.writeShiftJis("addr.txt", addresses.join("\r\n"))};
    auto handset = std::make_unique<LineSpeedReader>(*pty_);
    CliProcess run(arguments);
    QVERIFY(handset->waitFor(hangUpAfter, 30'000));
    handset->stop();
    const qsizetype received = handset->bytes().size();
    pty_->closeMaster();
    QVERIFY2(run.waitForEnd(15'000), qPrintable(run.out() + run.err()));
    QVERIFY2(run.exitCode() == 1, qPrintable(run.out() + run.err()));
    QVERIFY2(run.err().contains(pty_->slavePath()) && run.err().contains(QStringLiteral("届いていない可能性")),
             qPrintable(run.err()));
    if (command == "send")
        return;

    // The figures count the packets that surely arrived, no more.
    const QRegularExpressionMatch figures =
        QRegularExpression(QStringLiteral("届いたことが確かなパケット (\\d+) 個")).match(run.out());
    QVERIFY2(figures.hasMatch(), qPrintable(run.out()));
    QVERIFY2(figures.captured(1).toInt() * 10 <= received, qPrintable(run.out()));
    QVERIFY2(figures.captured(1).toInt() * 10 >= received - 2 * LineTiming::kQueueBoundBytes, qPrintable(run.out()));
    if (passBytes == 0)
        return;
    // Resuming from the counter given skips no address that did not arrive.
    const QRegularExpressionMatch resume =
        QRegularExpression(QStringLiteral("--counter (\\d+) で続きから再開できます")).match(run.out());
    QVERIFY2(resume.hasMatch(), qPrintable(run.out()));
    QVERIFY2(resume.captured(1).toInt() <= received / passBytes, qPrintable(run.out()));
    QVERIFY2(run.out().contains(QStringLiteral("もう一度実行されます")), qPrintable(run.out()));
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> entries = file.readAll().trimmed().split('\n');
    const QJsonObject last = QJsonDocument::fromJson(entries.last()).object();
    QCOMPARE(last.value("event").toString(), QStringLiteral("delivery"));
    QCOMPARE(last.value("resume_counter").toInt(), resume.captured(1).toInt());
}

void TestCliRun::logsEveryPacket()
{
    const QString log = files_.path("run.log");
    const QString path = macro({"BASEWAIT 0", "UP", "SLEEP 0", "STRING aあ", "GETSTR", "REPEAT"});
    const QString addr = files_.writeShiftJis("addr.txt", "one\r\ntwo\r\n");
    for (int run = 0; run < 2; ++run) { // the log is appended to
        CliProcess cli({"run", path, "--addr", addr, "--log", log, "--counter", QString::number(run)});
        QVERIFY(cli.waitForEnd());
        QCOMPARE(cli.exitCode(), 0); // the address lines ran out: the job is done
    }
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QStringList entries;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        QVERIFY2(QDateTime::fromString(o.value("time").toString(), Qt::ISODateWithMs).isValid(), line.constData());
        if (o.value("event") == "pass") {
            // Each pass waits at least its five waits of the shortest length.
            QVERIFY2(o.value("duration").toDouble() >= 0.05, line.constData());
            QCOMPARE(o.value("outcome").toString(), QStringLiteral("ok"));
            entries.append(QStringLiteral("pass %1 %2").arg(o.value("counter").toInt()).arg(o.value("packets").toInt()));
            continue;
        }
        QCOMPARE(o.value("event").toString(), QStringLiteral("packet"));
        entries.append(QStringLiteral("%1 %2 %3 %4")
                           .arg(o.value("counter").toInt())
                           .arg(o.value("line").toInt())
                           .arg(o.value("keyword").toString(), o.value("packet").toString()));
    }
    // Every pass names the macro file's lines, as the screen's events and
    // the error messages do; the pass after the last address line sends its
    // packets, then ends at GETSTR.
    const auto pass = [](int counter) {
        return QStringList{QStringLiteral("%1 2 UP C4 01 02 03 00 00 01 01 00 00").arg(counter),
                           QStringLiteral("%1 4 STRING C4 01 02 01 08 02 08 01 00 00").arg(counter),
                           QStringLiteral("%1 4 STRING C4 01 02 02 08 02 0A 00 00 00").arg(counter)};
    };
    const QStringList expected = pass(0) + QStringList{"pass 1 3"} + pass(1) + QStringList{"pass 2 3"} + pass(2) +
                                 pass(1) + QStringList{"pass 2 3"} + pass(2);
    QCOMPARE(entries, expected);
}

void TestCliRun::filesFromPipes_data()
{
    QTest::addColumn<QString>("command"); // bash, the programs as $0, the files as $1 and $2
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("packets");

    // The job reads both files before the run, the run reads the macro at
    // every REPEAT: a pipe is read once and kept, never an empty run.
    QTest::newRow("run") << "exec \"$0\" run <(cat \"$1\") --addr <(cat \"$2\")" << 0
                         << "巡完了: カウンタ 2/2（100.0%）" << 6;
    QTest::newRow("run, macro on standard input") << "exec \"$0\" run /dev/stdin --addr \"$2\" < <(cat \"$1\")" << 0
                                                  << "巡完了: カウンタ 2/2（100.0%）" << 6;
    QTest::newRow("check") << "exec \"$0\" check <(cat \"$1\") --addr <(cat \"$2\")" << 1 << "全体（カウンタ 0 から）: 2 巡"
                           << 0;
}

void TestCliRun::filesFromPipes()
{
    QFETCH(QString, command);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(int, packets);
    const QString macroPath = macro({"BASEWAIT 0", "GETSTR", "SENDSTR", "REPEAT"});
    const QString addrPath = files_.writeShiftJis("addr.txt", "one\r\ntwo\r\n");
    ProgramProcess run("/bin/bash", {"-c", command, ProgramProcess::built("quillonemu-cli"), macroPath, addrPath});
    QVERIFY(run.waitForEnd());
    QVERIFY2(run.exitCode() == exitCode, qPrintable(run.out() + run.err()));
    QVERIFY2(run.out().contains(output), qPrintable(run.out() + run.err()));
    const QByteArray sent = packets > 0 ? textBytes("one") + textBytes("two") : QByteArray();
    QCOMPARE(pty_->readAvailable(50).toHex(' '), sent.toHex(' '));
}

void TestCliRun::aClosedOutputLetsTheTextFinish()
{
    // `run | head -2`: the reader of the output is gone (the base wait
    // gives it the time) when the text is to be typed. That is the stop
    // button, however many writes find the output closed: the text goes out
    // whole, and nothing after it.
    const QString text(60, u'A');
    const QString path = macro({"BASEWAIT 0.5", "UP", "STRING " + text, "DOWN"});
    LineSpeedReader handset(*pty_);
    ProgramProcess run("/bin/bash", {"-c", "\"$0\" run \"$1\" | head -2; exit ${PIPESTATUS[0]}",
                                     ProgramProcess::built("quillonemu-cli"), path});
    QVERIFY(run.waitForEnd(30'000));
    QCOMPARE(run.exitCode(), 130);
    QVERIFY2(run.out() == QStringLiteral("カウンタ 0  1 BASEWAIT\nカウンタ 0  2 UP\n"), qPrintable(run.out()));
    handset.waitForQuiet(300, 5000);
    QCOMPARE(handset.bytes().toHex(' '), (keyBytes("UP") + textBytes(text)).toHex(' '));
}

void TestCliRun::statusLineOnTerminal_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("addresses"); // none: no address file
    QTest::addColumn<QStringList>("shown");     // patterns, in the order shown
    QTest::addColumn<QString>("end");           // the last status line and the closing line

    // One line rewritten in place, then the last words on a line of their own.
    QTest::newRow("one pass") << QStringList{"UP", "STRING abc", "DOWN"} << QStringList{}
                              << QStringList{"\\r\\x1b\\[Kカウンタ 0 \\| ポート 1 \\| 2 STRING \\| 入力「abc」"}
                              << "3 DOWN \\| 入力「abc」\\nマクロの終わりまで実行しました（カウンタ 0）。"
                                 "この実行: パケット 5 個、[0-9.]+ 秒。\\n";
    // The counter out of the passes the address file allows, the share
    // done, and the end expected from the first pass on.
    QTest::newRow("a job of passes")
        << QStringList{"GETSTR", "SENDSTR", "REPEAT"} << QStringList{"one", "two", "three"}
        << QStringList{"\\r\\x1b\\[Kカウンタ 0/3（0.0%） \\| ポート 1 \\| 1 GETSTR",
                       "\\r\\x1b\\[Kカウンタ 1/3（33.3%） \\| 終了予定 \\d+:\\d\\d（あと [0-9.]+ 秒） \\| ポート 1 \\| 3 REPEAT",
                       "\\r\\x1b\\[Kカウンタ 2/3（66.6%） \\| 終了予定 "}
        << "カウンタ 3/3（100.0%） \\| ポート 1 \\| 10 GETSTR \\| 入力「three」\\nアドレスファイル「[^」]+」の行をすべて"
           "入力して終わりました（カウンタ 3）。この実行: 3 巡、パケット 11 個、[0-9.]+ 秒。\\n";
    // An address line that would retitle the terminal and clear it: shown
    // by name.
    QTest::newRow("control characters") << QStringList{"GETSTR", "SENDSTR"} << QStringList{"\x1b]2;x\x07\x1b[2J"}
                                        << QStringList{"入力「<U\\+001B>\\]2;x<U\\+0007><U\\+001B>\\[2J」"}
                                        << "」\\nマクロの終わりまで実行しました（カウンタ 0）。この実行: パケット \\d+ 個、[0-9.]+ 秒。\\n";
}

void TestCliRun::statusLineOnTerminal()
{
    QFETCH(QStringList, lines);
    QFETCH(QStringList, addresses);
    QFETCH(QStringList, shown);
    QFETCH(QString, end);

    PseudoTerminal terminal;
    QStringList arguments{"run", macro(lines)};
    if (!addresses.isEmpty())
        arguments << "--addr" << files_.writeShiftJis("addr.txt", addresses.join("\r\n"));
    CliProcess run(arguments, [&](QProcess &p) { p.setStandardOutputFile(terminal.slavePath()); });
    QVERIFY(run.waitForEnd());
    const QString text = QString::fromUtf8(terminal.readAvailable(100));
    qsizetype from = 0;
    for (const QString &pattern : shown) {
        const QRegularExpressionMatch match = QRegularExpression(pattern).match(text, from);
        QVERIFY2(match.hasMatch(), qPrintable(pattern + "\n" + text.mid(from)));
        from = match.capturedEnd();
    }
    QVERIFY2(QRegularExpression(end + '$').match(text).hasMatch(), qPrintable(text));
    QCOMPARE(text.count(u'\n'), 2);
    // The status line's own rewrite is the only control sequence.
    QCOMPARE(text.count(u'\x1b'), text.count(QStringLiteral("\x1b[K")));
}

void TestCliRun::sendsInCommandLineOrder_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("key names in any case") << QStringList{"up", "&Enter", "offook", "&offhook", "F10", "#", "0"}
                                           << keyBytes("UP &ENTER OFFOOK &OFFHOOK F10 # 0");
    QTest::newRow("text with double-byte characters, then a key")
        << QStringList{"--text", "Aあ、ｂ", "down"} << textBytes("Aあ、ｂ") + keyBytes("DOWN");
    QTest::newRow("keys and texts interleave")
        << QStringList{"1", "--text=b", "2", "--text", "c", "--", "3"} << keyBytes("1") + textBytes("b") + keyBytes("2") + textBytes("c") + keyBytes("3");
    QTest::newRow("empty text") << QStringList{"--text", "", "UP"} << keyBytes("UP");
}

void TestCliRun::sendsInCommandLineOrder()
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

void TestCliRun::sendRefusesAndSendsNothing_data()
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

void TestCliRun::sendRefusesAndSendsNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    qputenv("QUILLONEMU_COM7", "/nonexistent/tty7");
    CliProcess send(QStringList{"send"} + arguments);
    QVERIFY(send.waitForEnd());
    QCOMPARE(send.exitCode(), exitCode);
    QVERIFY2(send.err().contains(error), qPrintable(send.err()));
    QCOMPARE(pty_->readAvailable(50), QByteArray());
}

QUILLON_TEST_GUILESS_MAIN(TestCliRun)
#include "test_cli_run.moc"
