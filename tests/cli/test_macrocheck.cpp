// The macro check on real Shift-JIS files: which lines give which findings
// when read the way the run reads them, what one pass sends and waits, and
// the characters STRING and SENDSTR cannot type. Then quillonemu-cli check,
// the real program: its exit statuses, the order and form of what it prints,
// and files left untouched.

#include "macro/amounts.h"
#include "macro/characters.h"
#include "macro/jobprogress.h"
#include "macro/macrocheck.h"
#include "support/programprocess.h"
#include "support/tempfiles.h"
#include "support/testshare.h"

#include <QFileInfo>
#include <QtTest>

namespace {

// The findings as "macro:7 warning <message>" and "addr:2 error <message>".
QStringList listed(const MacroCheck &check, const QString &macroPath)
{
    QStringList list;
    for (const MacroDiagnostic &d : check.diagnostics) {
        list.append(QStringLiteral("%1:%2 %3 %4")
                        .arg(d.file == macroPath ? QStringLiteral("macro") : QStringLiteral("addr"))
                        .arg(d.line)
                        .arg(d.level == MacroDiagnostic::Level::Error ? QStringLiteral("error") : QStringLiteral("warning"),
                             d.message));
    }
    return list;
}

// Each expected entry is "macro:7 warning" followed by a part of the message.
void compareFindings(const QStringList &actual, const QStringList &expected)
{
    const QString all = actual.join(u'\n');
    QVERIFY2(actual.size() == expected.size(), qPrintable(all));
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const QString where = expected[i].section(u' ', 0, 1) + u' ';
        const QString part = expected[i].section(u' ', 2);
        QVERIFY2(actual[i].startsWith(where) && actual[i].contains(part), qPrintable(all));
    }
}

} // namespace

class TestMacroCheck : public QObject {
    Q_OBJECT
private slots:
    void findings_data();
    void findings();
    void physicalLineNumbers();
    void unreadableFiles();
    void passSummary_data();
    void passSummary();
    void sampleFiles();
    void wholeJob_data();
    void wholeJob();
    void jobProgress_data();
    void jobProgress();
    void amounts_data();
    void amounts();
    void characters_data();
    void characters();

    void programExitStatus_data();
    void programExitStatus();
    void programReportsThenSummarizes();

private:
    TempFiles files_;
};

void TestMacroCheck::findings_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("addr"); // empty: no address file
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("keys as the run reads them, deliberate remarks")
        << QStringList{"BASEWAIT 0.2", "up", "&up", "UP please", "Offook", "&offhook", "1", "#", "*", "F10", "l",
                       "' remark", "; remark", "//remark", " ' indented remark", "UP"}
        << "" << QStringList{};
    QTest::newRow("arguments the run takes")
        << QStringList{"BASEWAIT .5", "SLEEP 2 seconds", "SLEEP -1", "PORTNO +2", "SLEEP 0", "STRING Abc1･"} << ""
        << QStringList{};

    QTest::newRow("seconds missing or no number")
        << QStringList{"BASEWAIT", "SLEEP  1", "SLEEP ", "sleep soon"} << ""
        << QStringList{"macro:1 error BASEWAIT の秒数がありません。",
                       "macro:2 error SLEEP の秒数が空です（キーワードの後ろに空白が 2 つ続いています）。",
                       "macro:3 error SLEEP の秒数が空です（キーワードの後ろに空白しかありません）。",
                       "macro:4 error SLEEP の秒数「soon」は数値ではありません"};
    QTest::newRow("port numbers")
        << QStringList{"PORTNO", "PORTNO  1", "PORTNO one", "PORTNO 0", "PORTNO 2"} << ""
        << QStringList{"macro:1 error PORTNO のポート番号がありません。", "macro:2 error PORTNO のポート番号が空です",
                       "macro:3 error PORTNO のポート番号「one」は整数ではありません。",
                       "macro:4 error PORTNO のポート番号「0」に当たるデバイスはありません"};
    QTest::newRow("GETSTR without an address file")
        << QStringList{"BASEWAIT 0.2", "GETSTR", "SENDSTR"} << ""
        << QStringList{"macro:2 error アドレスファイルが指定されていません（--addr）"};
    QTest::newRow("address file too short for one pass")
        << QStringList{"BASEWAIT 5", "GETSTR", "GETSTR", "GETSTR", "GETSTR", "REPEAT"} << "one\r\ntwo"
        << QStringList{"macro:4 error に 3 行目がありません（ファイルの終わりです）。1 巡目の GETSTR の 3 個目です。"};

    // {address} is the line this pass's GETSTR took: not before it.
    QTest::newRow("{address} before GETSTR")
        << QStringList{"BASEWAIT 0.2", "WAITTEXT {address} 5", "GETSTR", "SENDSTR", "WAITTEXT {address}{counter} 5"}
        << "one"
        << QStringList{"macro:2 error WAITTEXT: 画面の取り込み元がありません",
                       "macro:2 error WAITTEXT: {address} は、この巡の GETSTR より後でなければ使えません",
                       "macro:5 error WAITTEXT: 画面の取り込み元がありません"};

    QTest::newRow("near misses")
        << QStringList{"BASEWAIT 0.2", "OFFHOOK", "&OFFOOK", "entre", "F11", "HELLO"} << ""
        << QStringList{"macro:2 warning 「OFFHOOK」はキー名でも制御キーワードでもないため、この行は何もしません。「OFFOOK」の誤りではありませんか？",
                       "macro:3 warning 「&OFFHOOK」の誤りではありませんか？", "macro:4 warning 「ENTER」の誤り",
                       "macro:5 warning 「F1」か「F10」の誤り", "macro:6 warning 「HELLO」はキー名でも"};
    QTest::newRow("keys written the wrong way")
        << QStringList{"BASEWAIT 0.2", " UP", "UP\tnote", "ＵＰ", "ｄｏｗｎ", "UP\u3000memo", "10", "SLEEP1", "   "} << ""
        << QStringList{"macro:2 warning 行頭に空白があるため「UP」は実行されず",
                       "macro:3 warning 「UP<タブ>note」はキー名でも制御キーワードでもないため、この行は何もしません。タブは語の区切りになりません。",
                       "macro:4 warning 全角で書かれています。半角で「UP」と書いてください。",
                       "macro:5 warning 半角で「DOWN」と書いてください。", "macro:6 warning 全角スペースは語の区切りになりません。",
                       "macro:7 warning （続けて打つなら STRING 10）", "macro:8 warning （SLEEP 1）",
                       "macro:9 warning 空白だけの行です。"};
    QTest::newRow("STRING that types less than written")
        << QStringList{"BASEWAIT 9", "STRING", "STRING  abc", "STRING a<b>~'[]{}`ｱ･x", "STRING お元気で"} << ""
        << QStringList{"macro:2 warning STRING の文字列がありません。",
                       "macro:3 warning STRING の文字列が空です（キーワードの後ろに空白が 2 つ続いています）。",
                       "macro:4 warning STRING の「<」、「>」、「~」、「'」、「[」、「]」、「{」、「}」、「`」、「ｱ」は入力できない"};
    QTest::newRow("lines after REPEAT")
        << QStringList{"BASEWAIT 0.2", "UP", "REPEAT", "' remark after the loop", "", "DOWN", "ENTER"} << ""
        << QStringList{"macro:6 warning この行から後は実行されません（3 行目の REPEAT で最初の行に戻ります）。"};
    QTest::newRow("lines after EXIT") << QStringList{"BASEWAIT 0.2", "EXIT", "   ", "UP"} << ""
                                      << QStringList{"macro:4 warning （2 行目の EXIT でプログラムが終わります）"};
    QTest::newRow("loop without any wait")
        << QStringList{"BASEWAIT 0", "UP", "SLEEP 0", "REPEAT"} << ""
        << QStringList{"macro:2 warning 次にパケットを送る 2 行目（次の巡）までは 0 秒です。",
                       "macro:4 warning REPEAT で繰り返す 1 巡に待ち時間がありません（SLEEP も基本待ち時間もありません）。"
                       "止めるまで休みなく繰り返します。実行は回線の速さに合わせて進み（パケット 1 個に約 0.183 秒）、"
                       "携帯電話機はキーを休みなく押され続けます。"};
    QTest::newRow("loop of nothing but REPEAT") << QStringList{"REPEAT"} << ""
                                                << QStringList{"macro:1 warning 止めるまで休みなく繰り返します。"};
    QTest::newRow("packets queue behind a short wait")
        << QStringList{"BASEWAIT 0.1", "UP", "SLEEP 0.1", "DOWN", "STRING abc", "LEFT"} << ""
        << QStringList{"macro:4 warning パケット 1 個の送信に約 0.183 秒かかりますが、次にパケットを送る 5 行目までは 0.1 秒です。",
                       "macro:5 warning パケット 3 個の送信に約 0.55 秒かかりますが、次にパケットを送る 6 行目までは 0.1 秒です。"};
    QTest::newRow("SENDSTR without GETSTR") << QStringList{"BASEWAIT 0.2", "SENDSTR"} << ""
                                           << QStringList{"macro:2 warning GETSTR がないため、この SENDSTR は何も入力しません。"};
    QTest::newRow("address characters SENDSTR skips")
        << QStringList{"BASEWAIT 9", "GETSTR", "SENDSTR", "REPEAT"} << "ok@example.jp\r\n山田 <yamada@example.jp>\r\n\r\nlast"
        << QStringList{"addr:2 warning SENDSTR はこの行の「山」、「田」、半角スペース、「<」、「>」を入力できないため飛ばします。",
                       "addr:3 warning 空行です。"};
    QTest::newRow("empty file") << QStringList{} << ""
                                << QStringList{"macro:0 warning 実行する文がありません"};
}

void TestMacroCheck::findings()
{
    QFETCH(QStringList, lines);
    QFETCH(QString, addr);
    QFETCH(QStringList, expected);
    const QString macroPath = files_.writeShiftJis("macro.txt", lines.join("\r\n"));
    const QString addrPath = addr.isEmpty() ? QString() : files_.writeShiftJis("addr.txt", addr);
    compareFindings(listed(checkMacro(macroPath, addrPath), macroPath), expected);
}

void TestMacroCheck::physicalLineNumbers()
{
    // Empty lines are skipped like the run skips them, but counted the way an
    // editor counts lines, whatever ends them; a byte that is no Shift-JIS
    // character is named.
    const QString path = files_.writeBytes("lines.txt", "BASEWAIT 0.2\r\n\r\nOFFHOOK\n\nENTRE\rSTRING a\x80z\r\n");
    const MacroCheck check = checkMacro(path, {});
    compareFindings(listed(check, path), {"macro:3 warning 「OFFOOK」", "macro:5 warning 「ENTER」",
                                              "macro:6 warning STRING のShift-JIS の文字でないバイトは入力できない"});
    QCOMPARE(check.pass->statements, 4);
    QCOMPARE(check.pass->lastLine, 6);
}

void TestMacroCheck::unreadableFiles()
{
    const QString missing = files_.path("missing.txt");
    const MacroCheck noMacro = checkMacro(missing, {});
    compareFindings(listed(noMacro, missing),
                    {QStringLiteral("macro:0 error マクロファイル「%1」を開けません。").arg(missing)});
    QVERIFY(!noMacro.pass);

    const QString macro = files_.writeShiftJis("getstr.txt", "BASEWAIT 1\r\nGETSTR\r\nSENDSTR");
    const MacroCheck noAddr = checkMacro(macro, missing);
    compareFindings(listed(noAddr, macro),
                    {QStringLiteral("addr:0 error アドレスファイル「%1」を開けません。").arg(missing)});
    QCOMPARE(noAddr.pass->statements, 3); // the macro is still looked at
}

void TestMacroCheck::passSummary_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QList<qint64>>("range"); // first line, last line
    QTest::addColumn<QString>("endKeyword");
    QTest::addColumn<int>("statements");
    QTest::addColumn<int>("packets");
    QTest::addColumn<double>("baseWait");
    QTest::addColumn<double>("sleep");
    QTest::addColumn<double>("laterBaseWait"); // -1: the same as the first pass

    QTest::newRow("base wait carried into later passes")
        << QStringList{"UP", "BASEWAIT 0.25", "DOWN", "REPEAT"} << QList<qint64>{1, 4} << "REPEAT" << 4 << 2
        << 0.5 << 0.0 << 0.75;
    QTest::newRow("EXIT ends the pass") << QStringList{"", "", "UP", "sleep 1.5", "exit", "DOWN"}
                                        << QList<qint64>{3, 5} << "EXIT" << 3 << 1 << 0.0 << 1.5 << -1.0;
    QTest::newRow("negative waits count nothing") << QStringList{"BASEWAIT -1", "SLEEP -2", "UP"}
                                                  << QList<qint64>{1, 3} << "" << 3 << 1 << 0.0 << 0.0 << -1.0;
}

void TestMacroCheck::passSummary()
{
    QFETCH(QStringList, lines);
    QFETCH(QList<qint64>, range);
    QFETCH(QString, endKeyword);
    QFETCH(int, statements);
    QFETCH(int, packets);
    QFETCH(double, baseWait);
    QFETCH(double, sleep);
    QFETCH(double, laterBaseWait);

    const MacroCheck check = checkMacro(files_.writeShiftJis("pass.txt", lines.join("\r\n")), {});
    QVERIFY(check.pass);
    const PassSummary &pass = *check.pass;
    QCOMPARE((QList<qint64>{pass.firstLine, pass.lastLine}), range);
    QCOMPARE(pass.endKeyword, endKeyword);
    QCOMPARE(pass.statements, statements);
    QCOMPARE(pass.packets, packets);
    QCOMPARE(formatSeconds(pass.baseWaitSeconds), formatSeconds(baseWait));
    QCOMPARE(formatSeconds(pass.sleepSeconds), formatSeconds(sleep));
    // 110 bit times at 600 baud per packet.
    QCOMPARE(formatSeconds(pass.wireSeconds), formatSeconds(packets * 110.0 / 600.0));
    QCOMPARE(pass.laterBaseWaitSeconds.has_value(), laterBaseWait >= 0);
    if (pass.laterBaseWaitSeconds)
        QCOMPARE(formatSeconds(*pass.laterBaseWaitSeconds), formatSeconds(laterBaseWait));
}

void TestMacroCheck::sampleFiles()
{
    // The samples have nothing amiss but what the mail shows on purpose: a
    // base wait under the wire time of what it types, the handset falling
    // behind. The repeating one sends it once per address line, at the
    // line's pace.
    const QString address = QStringLiteral(QUILLONEMU_SOURCE_DIR "/examples/address.txt");
    for (const QString name : {"mail.txt", "mail-repeat.txt"}) {
        const MacroCheck check = checkMacro(QStringLiteral(QUILLONEMU_SOURCE_DIR "/examples/") + name, address);
        for (const MacroDiagnostic &d : check.diagnostics)
            QVERIFY2(d.message.contains(QStringLiteral("次にパケットを送る")), qPrintable(name + ": " + d.message));
        QCOMPARE(check.pass->endKeyword, name == "mail.txt" ? QStringLiteral("EXIT") : QStringLiteral("REPEAT"));
    }
    const MacroCheck job = checkMacro(QStringLiteral(QUILLONEMU_SOURCE_DIR "/examples/mail-repeat.txt"), address);
    QCOMPARE(job.job->length, JobEstimate::Length::Counted);
    QCOMPARE(job.job->passes, 2);
    QVERIFY(job.job->wireSeconds > job.job->waitSeconds);
}

void TestMacroCheck::wholeJob_data()
{
    using Length = JobEstimate::Length;
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("addresses"); // "<none>": no address file
    QTest::addColumn<int>("counter");
    QTest::addColumn<int>("length"); // -1: no estimate
    QTest::addColumn<qint64>("passes");
    QTest::addColumn<QString>("seconds"); // the job, or one settled pass of an endless one
    QTest::addColumn<QString>("waits");
    QTest::addColumn<QString>("wire");

    const QStringList five{"ab", "cd", "ef", "gh", "ij"};
    // The first pass starts with a base wait of 0 (its GETSTR waits the
    // shortest wait), the later ones with 1.
    QTest::newRow("from the counter on") << QStringList{"GETSTR", "BASEWAIT 1", "SENDSTR", "REPEAT"} << five << 2
                                         << int(Length::Counted) << qint64(3) << "8.01" << "8.01" << "1.1";
    QTest::newRow("two GETSTRs a pass; the odd line left") << QStringList{"BASEWAIT 2", "GETSTR", "GETSTR", "REPEAT"}
                                                          << five << 0 << int(Length::Counted) << qint64(2) << "12"
                                                          << "12" << "0";
    // SENDSTR types each address line: its packets decide, line by line.
    QTest::newRow("the line governs") << QStringList{"GETSTR", "SENDSTR", "REPEAT"}
                                      << QStringList{QString(10, u'a'), "", QString(50, u'b')} << 0
                                      << int(Length::Counted) << qint64(3) << "11.01" << "0.06" << "11";
    QTest::newRow("address file shorter than the counter") << QStringList{"BASEWAIT 1", "GETSTR", "SENDSTR", "REPEAT"} << five << 6
                                                           << -1 << qint64(0) << "" << "" << "";
    QTest::newRow("no REPEAT: one pass, until the line is done") << QStringList{"UP", "DOWN", "EXIT"} << five << 0
                                                                 << int(Length::OnePass) << qint64(1) << "0.367"
                                                                 << "0.02" << "0.367";
    QTest::newRow("no GETSTR: endless, at the line's pace") << QStringList{"BASEWAIT 0", "UP", "SLEEP 0", "REPEAT"}
                                                            << five << 0 << int(Length::Endless) << qint64(0)
                                                            << "0.183" << "0.04" << "0.183";
    QTest::newRow("GETSTR without an address file") << QStringList{"GETSTR", "SENDSTR", "REPEAT"}
                                                    << QStringList{"<none>"} << 0 << int(Length::Endless) << qint64(0)
                                                    << "0.02" << "0.02" << "0";
    QTest::newRow("nothing but REPEAT") << QStringList{"REPEAT"} << QStringList{"<none>"} << 0 << int(Length::Endless)
                                        << qint64(0) << "0.01" << "0" << "0";
}

void TestMacroCheck::wholeJob()
{
    QFETCH(QStringList, lines);
    QFETCH(QStringList, addresses);
    QFETCH(int, counter);
    QFETCH(int, length);
    QFETCH(qint64, passes);
    QFETCH(QString, seconds);
    QFETCH(QString, waits);
    QFETCH(QString, wire);

    const QString macroPath = files_.writeShiftJis("job.txt", lines.join("\r\n"));
    const QString addrPath =
        addresses == QStringList{"<none>"} ? QString() : files_.writeShiftJis("job-addr.txt", addresses.join("\r\n"));
    const MacroCheck check = checkMacro(macroPath, addrPath, counter);
    if (length < 0) {
        QVERIFY(!check.job);
        compareFindings(listed(check, macroPath),
                        {QStringLiteral("addr:0 error 5 行しかないため、カウンタ %1 の分の行を読み飛ばせません。").arg(counter)});
        return;
    }
    QVERIFY(check.job);
    QCOMPARE(int(check.job->length), length);
    QCOMPARE(check.job->passes, passes);
    QCOMPARE(formatSeconds(check.job->seconds), seconds);
    QCOMPARE(formatSeconds(check.job->waitSeconds), waits);
    QCOMPARE(formatSeconds(check.job->wireSeconds), wire);
}

void TestMacroCheck::jobProgress_data()
{
    QTest::addColumn<int>("counter");
    QTest::addColumn<int>("endCounter"); // -1: passes without end
    QTest::addColumn<QList<double>>("passMs");
    QTest::addColumn<QList<qint64>>("packets");
    QTest::addColumn<double>("expectedPassMs"); // -1: none
    QTest::addColumn<double>("endsAfterMs");    // after the last pass; -1: no end known
    QTest::addColumn<double>("share");          // -1: none

    QTest::newRow("before the first pass") << 3 << 10 << QList<double>{} << QList<qint64>{} << -1.0 << -1.0 << 0.3;
    QTest::newRow("the mean of the passes") << 0 << 10 << QList<double>{3000, 5000} << QList<qint64>{2, 2} << 4000.0
                                            << 8 * 4000.0 << 0.2;
    // The line's queue took the first pass's packets: the line time of its
    // packets is the better measure.
    QTest::newRow("the line's pace") << 5 << 105 << QList<double>{2400} << QList<qint64>{41} << 41 * 110 / 0.6
                                     << 99 * 41 * 110 / 0.6 << 6.0 / 105;
    QTest::newRow("passes without end") << 0 << -1 << QList<double>{100} << QList<qint64>{0} << 100.0 << -1.0
                                        << -1.0;
    // A counter below 0 reads from the first line: 5 of 10 passes are half.
    QTest::newRow("counter below 0") << -5 << 5 << QList<double>(5, 10) << QList<qint64>(5, 0) << 10.0 << 5 * 10.0
                                     << 0.5;
    QTest::newRow("done") << 0 << 2 << QList<double>{10, 10, 10} << QList<qint64>{0, 0, 0} << 10.0 << 0.0 << 1.0;
}

void TestMacroCheck::jobProgress()
{
    QFETCH(int, counter);
    QFETCH(int, endCounter);
    QFETCH(QList<double>, passMs);
    QFETCH(QList<qint64>, packets);
    QFETCH(double, expectedPassMs);
    QFETCH(double, endsAfterMs);
    QFETCH(double, share);

    JobProgress progress(counter, endCounter < 0 ? std::nullopt : std::optional<qint64>(endCounter));
    double at = 1e12;
    for (qsizetype i = 0; i < passMs.size(); ++i) {
        at += passMs[i];
        progress.passCompleted(counter + i + 1, passMs[i], packets[i], at);
    }
    QCOMPARE(progress.passes(), passMs.size());
    QCOMPARE(progress.passMs().value_or(-1), expectedPassMs);
    QCOMPARE(progress.endsAtMs().value_or(at - 1) - at, endsAfterMs);
    QCOMPARE(progress.shareDone().value_or(-1), share);
}

void TestMacroCheck::amounts_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("duration");
    QTest::addColumn<qint64>("count");
    QTest::addColumn<QString>("counted");

    QTest::newRow("tenths below 10 s") << 2.44 << "2.4 秒" << qint64(0) << "0";
    QTest::newRow("whole tenths") << 0.0 << "0 秒" << qint64(999) << "999";
    QTest::newRow("rounded up to seconds") << 9.96 << "10 秒" << qint64(1000) << "1,000";
    QTest::newRow("up to a minute") << 59.6 << "1 分" << qint64(1998) << "1,998";
    QTest::newRow("minutes and seconds") << 72.0 << "1 分 12 秒" << qint64(1'000'000) << "1,000,000";
    QTest::newRow("up to an hour") << 3599.7 << "1 時間" << qint64(-1234) << "-1,234";
    QTest::newRow("hours and minutes") << 15'000.0 << "4 時間 10 分" << qint64(12) << "12";
    QTest::newRow("up to a day") << 86'399.0 << "1 日" << qint64(100) << "100";
    QTest::newRow("days and hours") << 183'600.0 << "2 日 3 時間" << qint64(10'000) << "10,000";
    QTest::newRow("longer than anything") << 1e38 << "11,574,074,074 日 2 時間" << qint64(-1) << "-1";
}

void TestMacroCheck::amounts()
{
    QFETCH(double, seconds);
    QFETCH(QString, duration);
    QFETCH(qint64, count);
    QFETCH(QString, counted);
    QCOMPARE(formatDuration(seconds), duration);
    QCOMPARE(formatCount(count), counted);
}

void TestMacroCheck::characters_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("string");  // what STRING cannot type
    QTest::addColumn<QString>("address"); // what SENDSTR skips

    QTest::newRow("spaces and tabs") << "a b\tc\u3000d" << "半角スペース、タブ" << "半角スペース、タブ、全角スペース";
    QTest::newRow("outside code page 932") << "€😀\uFFFD" << "「€」、「😀」、Shift-JIS の文字でないバイト"
                                           << "「€」、「😀」、Shift-JIS の文字でないバイト";
    QTest::newRow("each character once") << "<<a<\a" << "「<」、U+0007" << "「<」、U+0007";
    QTest::newRow("everything typable") << "Az09_@.-･" << "" << "";
}

void TestMacroCheck::characters()
{
    QFETCH(QString, text);
    QFETCH(QString, string);
    QFETCH(QString, address);
    QCOMPARE(describeCharacters(untypableCharacters(text)), string);
    QCOMPARE(describeCharacters(unsentAddressCharacters(text)), address);
}

void TestMacroCheck::programExitStatus_data()
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
    // A counter at the end of the address file: the job is done before
    // its first pass types anything (no error).
    QTest::newRow("counter at the end of the addresses")
        << QStringList{"BASEWAIT 1", "GETSTR", "SENDSTR", "REPEAT"}
        << QStringList{"@macro", "--addr", "@addr", "--counter", "3"} << 1
        << "4 行目がないため、ジョブはこの GETSTR で何も入力せずに終わります" << "";
    // A counter below 0 skips no line: three passes, ending where the run
    // does, at counter 1.
    QTest::newRow("counter below 0") << QStringList{"BASEWAIT 1", "GETSTR", "REPEAT"}
                                     << QStringList{"@macro", "--addr", "@addr", "--counter", "-2"} << 0
                                     << "ジョブが終わります（カウンタ 1）" << "";
    QTest::newRow("counter no number") << clean << QStringList{"@macro", "--counter", "2x"} << 2 << ""
                                       << "--counter の値「2x」は整数ではありません";
}

void TestMacroCheck::programExitStatus()
{
    QFETCH(QStringList, lines);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QString, error);

    arguments.replaceInStrings("@macro", files_.writeShiftJis("macro.txt", lines.join("\r\n")));
    arguments.replaceInStrings("@addr", files_.writeShiftJis("addr.txt", "one\r\ntwo\r\nthree\r\n"));
    CliProcess check(QStringList{"check"} + arguments);
    QVERIFY(check.waitForEnd());
    QCOMPARE(check.exitCode(), exitCode);
    QVERIFY2(check.out().contains(output), qPrintable(check.out()));
    QVERIFY2(check.err().contains(error), qPrintable(check.err()));
}

void TestMacroCheck::programReportsThenSummarizes()
{
    const QString macro = files_.writeShiftJis("mail.txt", "BASEWAIT 1\r\n\r\nOFFHOOK\r\nGETSTR\r\nSENDSTR\r\nREPEAT\r\n");
    const QString addr = files_.writeShiftJis("addr.txt", "山田@example.jp\r\n");
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
                       "その次の巡の最初の GETSTR でアドレスファイルが終わり、ジョブが終わります（カウンタ 1）。"),
        QStringLiteral("  待ち時間 計 約 4 秒、送信時間 計 約 2 秒: 待ち時間のほうが長く、待ち時間で進みます。"),
        QStringLiteral("エラー 0 件、警告 2 件。"),
    };
    QCOMPARE(out, expected);
    QCOMPARE(check.err(), QString());

    // Only read: neither file was written to.
    QCOMPARE(QFileInfo(macro).lastModified(), macroTime);
    QCOMPARE(QFileInfo(addr).lastModified(), addrTime);
}

QUILLON_TEST_GUILESS_MAIN(TestMacroCheck)
#include "test_macrocheck.moc"
