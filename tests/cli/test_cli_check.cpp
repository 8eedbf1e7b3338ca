// quillonemu-cli check: the real program on Shift-JIS files: its exit
// statuses, the order and form of what it prints, and files left untouched.

#include "support/programprocess.h"
#include "support/tempfiles.h"

#include <QFileInfo>
#include <QtTest>

class TestCliCheck : public QObject {
    Q_OBJECT
private slots:
    void exitStatus_data();
    void exitStatus();
    void reportsThenSummarizes();
};

void TestCliCheck::exitStatus_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("arguments"); // @macro and @addr stand for the files
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output"); // in standard output
    QTest::addColumn<QString>("error");  // in standard error

    const QStringList clean{"BASEWAIT 0.2", "UP"};
    QTest::newRow("clean") << clean << QStringList{"@macro"} << 0 << "問題は見つかりませんでした。" << "";
    QTest::newRow("errors and warnings") << QStringList{"SLEEP", "OFFHOOK"} << QStringList{"@macro"} << 2
                                         << "エラー 1 件、警告 1 件。" << "";

    QTest::newRow("empty address file name") << clean << QStringList{"@macro", "--addr="} << 2 << ""
                                             << "--addr のファイル名が空です";
    // The first pass reads the lines after the counter's: lines 3 and 4.
    QTest::newRow("counter") << QStringList{"BASEWAIT 1", "GETSTR", "GETSTR", "REPEAT"}
                             << QStringList{"@macro", "--addr", "@addr", "--counter", "2"} << 2
                             << "addr.txt」に 4 行目がありません" << "";
    QTest::newRow("counter no number") << clean << QStringList{"@macro", "--counter", "2x"} << 2 << ""
                                       << "--counter の値「2x」は整数ではありません";
}

void TestCliCheck::exitStatus()
{
    QFETCH(QStringList, lines);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QString, error);

    TempFiles files;
    arguments.replaceInStrings("@macro", files.writeShiftJis("macro.txt", lines.join("\r\n")));
    arguments.replaceInStrings("@addr", files.writeShiftJis("addr.txt", "one\r\ntwo\r\nthree\r\n"));
    CliProcess check(QStringList{"check"} + arguments);
    QVERIFY(check.waitForEnd());
    QCOMPARE(check.exitCode(), exitCode);
    QVERIFY2(check.out().contains(output), qPrintable(check.out()));
    QVERIFY2(check.err().contains(error), qPrintable(check.err()));
}

void TestCliCheck::reportsThenSummarizes()
{
    TempFiles files;
    const QString macro = files.writeShiftJis("mail.txt", "BASEWAIT 1\r\n\r\nOFFHOOK\r\nGETSTR\r\nSENDSTR\r\nREPEAT\r\n");
    const QString addr = files.writeShiftJis("addr.txt", "山田@example.jp\r\n");
    const QDateTime macroTime = QFileInfo(macro).lastModified();
    const QDateTime addrTime = QFileInfo(addr).lastModified();

    CliProcess check({"check", macro, "--addr", addr});
    QVERIFY(check.waitForEnd());
    QCOMPARE(check.exitCode(), 1);
    // Diagnostics in file order, as FILE:LINE: level: message, then the pass
    // and the whole job.
    const QStringList out = check.out().split(u'\n', Qt::SkipEmptyParts);
    const QStringList expected{
        macro + QStringLiteral(":3: warning: 「OFFHOOK」はキー名でも制御キーワードでもないため、この行は何もしません。"
                               "「OFFOOK」の誤りではありませんか？"),
        addr + QStringLiteral(":1: warning: SENDSTR はこの行の「山」、「田」を入力できないため飛ばします。"),
        QStringLiteral("1 巡（1 行目から 6 行目の REPEAT まで）: 文 5、パケット 11"),
        QStringLiteral("  待ち時間: 4 秒（基本待ち時間 4 秒、SLEEP 0 秒）"),
        QStringLiteral("  送信時間: 2.017 秒（600 ボーの回線で 1 パケット約 0.183 秒）"),
        QStringLiteral("全体（カウンタ 0 から）: 1 巡、約 5 秒"),
        QStringLiteral("  アドレスファイル 1 行の 1 行目から 1 巡に 1 行ずつ読みます。"
                       "その次の巡は GETSTR が 2 行目を読めず、エラーで終わります（カウンタ 1）。"),
        QStringLiteral("  待ち時間 計 約 4 秒、送信時間 計 約 2 秒: 待ち時間のほうが長く、待ち時間で進みます。"),
        QStringLiteral("エラー 0 件、警告 2 件。"),
    };
    QCOMPARE(out, expected);
    QCOMPARE(check.err(), QString());

    // Only read: neither file was written to.
    QCOMPARE(QFileInfo(macro).lastModified(), macroTime);
    QCOMPARE(QFileInfo(addr).lastModified(), addrTime);
}

QTEST_GUILESS_MAIN(TestCliCheck)
#include "test_cli_check.moc"
