// A night's job end to end: quillonemu-cli run with a recovery macro against
// the model handset that shows a pop-up after every second ENTER, seen over
// its MJPEG stream. The passes that met the pop-up are failed (or ok after a
// retry), the results file and the JUnit file list every pass, and --resume
// types only the addresses not done; what refuses a results file sends
// nothing.

#include "support/programprocess.h"
#include "support/pseudoterminal.h"
#include "support/tempfiles.h"
#include "support/testshare.h"

#include <QFile>
#include <QRegularExpression>
#include <QtTest>
#include <csignal>

namespace {

QString streamUrl(CliProcess &handset)
{
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("(http://127\\.0\\.0\\.1:\\d+/)")).match(handset.err());
    return m.hasMatch() ? m.captured(1) : QString();
}

// counter → outcome of the last row of each counter, and how many rows.
QMap<int, QString> outcomes(const QString &csv, int *rows)
{
    QFile file(csv);
    QMap<int, QString> map;
    *rows = 0;
    if (!file.open(QIODevice::ReadOnly))
        return map;
    const QByteArray bytes = file.readAll();
    if (!bytes.startsWith("\xEF\xBB\xBF"))
        return map;
    const QStringList lines = QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        // (The message, a quoted field, comes after the outcome.)
        const QStringList fields = lines[i].split(u',');
        map[fields.value(0).toInt()] = fields.value(3);
        ++*rows;
    }
    return map;
}

// The addresses the run typed, in order.
QStringList typed(const QString &out)
{
    QStringList list;
    const QRegularExpression typedLine(QStringLiteral("入力「(\\d+)」"));
    for (auto it = typedLine.globalMatch(out); it.hasNext();)
        list.append(it.next().captured(1));
    return list;
}

} // namespace

class TestCliNight : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void failedPassesListedThenResumed_data();
    void failedPassesListedThenResumed();
    void stopOrKillLeaveAResumableFile_data();
    void stopOrKillLeaveAResumableFile();
    void refusedResultsSendNothing_data();
    void refusedResultsSendNothing();

private:
    // A model handset on `link`; its stream's URL.
    QString startHandset(std::unique_ptr<CliProcess> &handset, const QString &link, int popupEvery);
    QString job(const QString &onFail);

    TempFiles files_;
    QStringList addresses_;
};

void TestCliNight::initTestCase()
{
    for (int i = 1; i <= 5; ++i)
        addresses_.append(QStringLiteral("0901234%1").arg(i * 1111, 4, 10, QChar(u'0')));
    files_.writeShiftJis("addr.txt", addresses_.join("\r\n"));
    files_.writeShiftJis("recover.txt", QStringList{"CLEAR", "WAITTEXT CLEAR 10 0,0,320,28"}.join("\r\n"));
}

QString TestCliNight::startHandset(std::unique_ptr<CliProcess> &handset, const QString &link, int popupEvery)
{
    QStringList arguments{"handset", "--pty", "--link", link, "--screen-stream", "0", "--timeout", "200"};
    if (popupEvery > 0)
        arguments << "--popup-every" << QString::number(popupEvery);
    handset = std::make_unique<CliProcess>(arguments);
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && (streamUrl(*handset).isEmpty() || !QFileInfo(link).isSymLink()))
        QTest::qWait(20);
    return streamUrl(*handset);
}

QString TestCliNight::job(const QString &onFail)
{
    // The address is on the screen before the ENTER too: the pass first
    // waits for the status bar to show the ENTER, so that a frame made
    // before the handset drew the pop-up cannot pass it.
    return files_.writeShiftJis("job.txt", QStringList{onFail, "BASEWAIT 0.05", "CLEAR", "GETSTR", "SENDSTR", "ENTER",
                                                       "WAITTEXT ENTER 3 0,0,320,28", "WAITTEXT {address} 3 0,28,320,212",
                                                       "REPEAT"}
                                               .join("\r\n"));
}

void TestCliNight::failedPassesListedThenResumed_data()
{
    QTest::addColumn<QString>("onFail");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("results"); // by counter
    QTest::addColumn<int>("failures");        // in the JUnit file

    // Every second ENTER brings the pop-up: passes 1 and 3.
    QTest::newRow("next pass") << "ONFAIL recover.txt" << 3 << QStringList{"ok", "failed", "ok", "failed", "ok"} << 2;
    // Tried again, each pass meets the pop-up at its first or its second
    // ENTER and is done.
    QTest::newRow("RETRY 1") << "ONFAIL recover.txt RETRY 1" << 0
                             << QStringList{"ok", "ok-after-retry", "ok-after-retry", "ok-after-retry", "ok-after-retry"} << 0;
}

void TestCliNight::failedPassesListedThenResumed()
{
    QFETCH(QString, onFail);
    QFETCH(int, exitCode);
    QFETCH(QStringList, results);
    QFETCH(int, failures);

    const QString link = files_.path("handset");
    std::unique_ptr<CliProcess> handset;
    const QString url = startHandset(handset, link, 2);
    QVERIFY(!url.isEmpty());
    qputenv("QUILLONEMU_COM7", QFile::encodeName(link));
    const QString csv = files_.path(QStringLiteral("results-%1.csv").arg(exitCode));
    const QString junit = files_.path(QStringLiteral("results-%1.xml").arg(exitCode));
    const QString macro = job(onFail);
    CliProcess run({"run", macro, "--addr", files_.path("addr.txt"), "--port", "7", "--screen", url, "--results", csv,
                    "--junit", junit});
    QVERIFY(run.waitForEnd(150'000));
    QVERIFY2(run.exitCode() == exitCode, qPrintable(run.out() + run.err()));
    int rows = 0;
    QCOMPARE(outcomes(csv, &rows).values(), results);
    QCOMPARE(rows, 5);
    QVERIFY2(run.out().contains(QStringLiteral("巡の結果: 成功 %1、失敗 %2").arg(results.count("ok")).arg(results.count("failed"))),
             qPrintable(run.out()));
    QFile xml(junit);
    QVERIFY(xml.open(QIODevice::ReadOnly));
    const QString junitText = QString::fromUtf8(xml.readAll());
    QCOMPARE(junitText.count(QStringLiteral("<testcase ")), 5);
    QCOMPARE(junitText.count(QStringLiteral("<failure ")), failures);
    QCOMPARE(junitText.count(QStringLiteral("[[ATTACHMENT|")), failures);
    handset.reset();

    if (failures == 0)
        return;
    // Resumed against a handset without pop-ups: only the failed passes'
    // addresses are typed, once each, and the file ends with every pass ok.
    const QString quiet = files_.path("quiet");
    const QString quietUrl = startHandset(handset, quiet, 0);
    qputenv("QUILLONEMU_COM7", QFile::encodeName(quiet));
    CliProcess resumed({"run", macro, "--addr", files_.path("addr.txt"), "--port", "7", "--screen", quietUrl, "--resume",
                        csv});
    QVERIFY(resumed.waitForEnd(150'000));
    QVERIFY2(resumed.exitCode() == 0, qPrintable(resumed.out() + resumed.err()));
    QCOMPARE(typed(resumed.out()), (QStringList{addresses_[1], addresses_[3]}));
    QCOMPARE(outcomes(csv, &rows).values(), QStringList(5, QStringLiteral("ok")));
    QCOMPARE(rows, 7);
}

void TestCliNight::stopOrKillLeaveAResumableFile_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<QString>("cut"); // the row of the pass cut; empty: none
    QTest::newRow("Ctrl-C") << int(SIGINT) << "stopped";
    QTest::newRow("kill -9") << int(SIGKILL) << "";
}

void TestCliNight::stopOrKillLeaveAResumableFile()
{
    // In the middle of the third pass: a stop ends it (and says so); a
    // kill leaves no row for it. Either way the resumed job types the third
    // address again and the rest once: in the end every pass is ok exactly
    // once, and no address was skipped.
    QFETCH(int, signalNumber);
    QFETCH(QString, cut);
    PseudoTerminal pty;
    pty.bindPort(1);
    const QString csv = files_.path(QStringLiteral("cut-%1.csv").arg(signalNumber));
    const QString macro = files_.writeShiftJis("slow.txt", "GETSTR\r\nSENDSTR\r\nSLEEP 1\r\nREPEAT\r\n");
    const QStringList common{"run", macro, "--addr", files_.path("addr.txt")};
    CliProcess run(common + QStringList{"--results", csv});
    int rows = 0;
    QDeadlineTimer deadline(30'000);
    while (!deadline.hasExpired() && (outcomes(csv, &rows), rows < 2))
        QTest::qWait(20);
    QCOMPARE(rows, 2);
    // The third address is being typed or typed, the SLEEP in progress.
    QTest::qWait(300);
    run.sendSignal(signalNumber);
    QVERIFY(run.waitForEnd());
    const QMap<int, QString> before = outcomes(csv, &rows);
    QCOMPARE(before.value(2), cut);

    // (A fresh line: a killed program leaves its port held exclusively.)
    PseudoTerminal fresh;
    fresh.bindPort(1);
    CliProcess resumed(common + QStringList{"--resume", csv});
    QVERIFY(resumed.waitForEnd(60'000));
    QVERIFY2(resumed.exitCode() == 0, qPrintable(resumed.out() + resumed.err()));
    QCOMPARE(typed(resumed.out()), addresses_.mid(2));
    QCOMPARE(outcomes(csv, &rows).values(), QStringList(5, QStringLiteral("ok")));
    QCOMPARE(rows, cut.isEmpty() ? 5 : 6);
}

void TestCliNight::refusedResultsSendNothing_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("contents"); // of the results file @results; empty: none written
    QTest::addColumn<QString>("message");

    const QByteArray header = "\xEF\xBB\xBF" "counter,address_lines,address,outcome,tries,failed_at,keyword,message,"
                              "evidence,start,seconds,packets,job,format\r\n";
    QTest::newRow("cannot be written") << QStringList{"--results", "/nonexistent/dir/r.csv"} << QByteArray()
                                       << "/nonexistent/dir/r.csv";
    QTest::newRow("another job's") << QStringList{"--resume", "@results"}
                                   << header + "0,1,x,failed,1,,,,,,1,1,0123456789abcdef,1\r\n" << "このジョブのものではありません";
    QTest::newRow("a newer format") << QStringList{"--resume", "@results"} << header + "0,1,x,failed,1,,,,,,1,1,ab,2\r\n"
                                    << "新しい版の形式";
    QTest::newRow("damaged") << QStringList{"--resume", "@results"} << header + "0,1,x,maybe,1,,,,,,1,1,ab,1\r\n"
                             << "壊れています";
    QTest::newRow("no results file") << QStringList{"--resume", "@results"} << QByteArray("a,b\r\n")
                                     << "結果ファイルではありません";
}

void TestCliNight::refusedResultsSendNothing()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, contents);
    QFETCH(QString, message);

    PseudoTerminal pty;
    pty.bindPort(1);
    const QString results = files_.path("refused.csv");
    QFile file(results);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(contents);
    file.close();
    options.replaceInStrings("@results", results);
    const QString macro = files_.writeShiftJis("plain.txt", "GETSTR\r\nSENDSTR\r\nREPEAT\r\n");
    CliProcess run(QStringList{"run", macro, "--addr", files_.path("addr.txt")} + options);
    QVERIFY(run.waitForEnd());
    QCOMPARE(run.exitCode(), 1);
    QVERIFY2(run.err().contains(message), qPrintable(run.err()));
    QCOMPARE(pty.readAvailable(50).size(), 0);
}

QUILLON_TEST_MAIN(TestCliNight)
#include "test_cli_night.moc"
