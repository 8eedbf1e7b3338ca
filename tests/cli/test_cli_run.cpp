// quillonemu-cli run: the real program running macros against a
// pseudo-terminal on port 1: how it ends and with which status, stopping by
// signal (SIGTERM is in test_faults), the packet log and the terminal status
// line.

#include "cliprocess.h"
#include "link/chartable.h"
#include "link/keypacket.h"
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
                                   << "の 2 行目 (SLEEP):\nSLEEP の秒数「soon」" << "--counter 0 で続きから" << 1;
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
