// One job on many handsets: the handsets file as read before the first
// packet, and quillonemu-cli run --handsets against model handsets on ptys.

#include "rack/handsetsfile.h"
#include "macro/passresults.h"
#include "support/linespeedreader.h"
#include "support/packets.h"
#include "support/programprocess.h"
#include "support/pseudoterminal.h"
#include "support/tempfiles.h"
#include "support/testshare.h"

#include <QRegularExpression>
#include <QtTest>
#include <csignal>
#include <memory>

namespace {

// The addresses typed on a line, in order: the packets between ENTERs, each
// run matched to the address whose packets they are; "?" for a run that is
// none of them.
QStringList typedOn(const QByteArray &bytes, const QStringList &addresses)
{
    const QByteArray enter = keyBytes(QStringLiteral("ENTER"));
    QStringList typed;
    QByteArray run;
    for (qsizetype i = 0; i + 10 <= bytes.size(); i += 10) {
        const QByteArray packet = bytes.mid(i, 10);
        if (packet != enter) {
            run += packet;
            continue;
        }
        QString found = QStringLiteral("?");
        for (const QString &address : addresses) {
            if (textBytes(address) == run)
                found = address;
        }
        typed.append(found);
        run.clear();
    }
    return typed;
}

} // namespace

class TestCliHandsets : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void handsetsFile_data();
    void handsetsFile();
    void passesDealtOut_data();
    void passesDealtOut();
    void aHandsetWhoseScreenEndsLeaves();

private:
    TempFiles files_;
};

void TestCliHandsets::handsetsFile_data()
{
    QTest::addColumn<QString>("ini");
    QTest::addColumn<QString>("use");
    QTest::addColumn<QString>("read"); // name port device screen; …, or the error
    qputenv("QUILLONEMU_COM3", "/dev/ttyS9");

    QTest::newRow("paths and numbers, in the file's order")
        << "[B]\nport=/dev/ttyUSB1\nscreen=camera:1\n\n[A]\nport = 3\nscreen=http://192.0.2.10:8080/v?a=1,2\n" << ""
        << "B /dev/ttyUSB1 /dev/ttyUSB1 camera:1 1; A 3 /dev/ttyS9 http://192.0.2.10:8080/v?a=1,2 5";
    QTest::newRow("--use picks, in its order") << "[A]\nport=/dev/a\n[B]\nport=/dev/b\n[C]\nport=/dev/c\n"
                                               << "C,A" << "C /dev/c /dev/c  5; A /dev/a /dev/a  1";
    QTest::newRow("a missing port") << "[A]\nport=/dev/a\n\n[B]\nscreen=camera\n" << ""
                                    << "の 4 行目: [B] にポートがありません";
    QTest::newRow("the same port twice") << "[A]\nport=3\n[B]\nport=/dev/ttyS9\n" << ""
                                         << "の 4 行目: [B] のポート /dev/ttyS9 は [A]（1 行目）と同じデバイス";
    QTest::newRow("an unknown key") << "[A]\nport=/dev/a\ncamera=1\n" << "" << "の 3 行目: [A] の camera= は知らないキー";
    QTest::newRow("a section without a name") << "[A]\nport=/dev/a\n[ ]\nport=/dev/b\n" << ""
                                              << "の 3 行目: 名前のないセクション";
    QTest::newRow("a key outside a section") << "port=/dev/a\n[A]\nport=/dev/b\n" << ""
                                             << "の 1 行目: port= がどの携帯電話機のセクションにもありません";
    QTest::newRow("a port that is neither") << "[A]\nport=ttyUSB0\n" << "" << "の 2 行目: [A] の port=ttyUSB0 はポート番号でも";
    QTest::newRow("a section twice") << "[A]\nport=/dev/a\n[A]\nscreen=camera\n" << "" << "の 3 行目: [A] が 2 度あります";
    QTest::newRow("no handset") << "; nothing\n" << "" << "携帯電話機が 1 台も書かれていません";
    QTest::newRow("--use of an unknown one") << "[A]\nport=/dev/a\n" << "A,Z" << "に「Z」はありません（あるのは A）";
}

void TestCliHandsets::handsetsFile()
{
    QFETCH(QString, ini);
    QFETCH(QString, use);
    QFETCH(QString, read);

    const QString path = files_.writeBytes(QStringLiteral("lab-%1.ini").arg(QTest::currentDataTag()).replace(u' ', u'-'),
                                           ini.toUtf8());
    QString error;
    const std::optional<HandsetsFile> file = HandsetsFile::read(path, &error);
    std::optional<QList<HandsetEntry>> taken;
    if (file)
        taken = file->take(use.split(u',', Qt::SkipEmptyParts), &error);
    if (!taken) {
        QVERIFY2(error.contains(read) && error.contains(path), qPrintable(error));
        return;
    }
    QStringList got;
    for (const HandsetEntry &h : *taken)
        got.append(QStringLiteral("%1 %2 %3 %4 %5").arg(h.name, h.port, h.device, h.screen).arg(h.line));
    QCOMPARE(got.join(QStringLiteral("; ")), read);
}

void TestCliHandsets::passesDealtOut_data()
{
    QTest::addColumn<QString>("lost"); // the handset whose line goes away
    QTest::addColumn<int>("signalNumber"); // sent once it has typed two passes
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("wait"); // after each pass's ENTER
    QTest::addColumn<QString>("passes"); // --passes

    QTest::newRow("every handset to the end") << "" << 0 << 0 << "" << "";
    // A slice of the job, dealt out the same way: its passes alone.
    QTest::newRow("a slice of the job") << "" << 0 << 0 << "" << "4-9";
    // Its passes still on the line, and the one it was typing, go to the
    // others; every address ends ok once.
    QTest::newRow("a handset's line goes away") << "B" << 0 << 0 << "" << "";
    // Ctrl-C stops every handset after its statement; a resume deals out
    // only what is not done, whichever handset did it.
    // (Passes that wait for the handset, as a screen wait would: the stop
    // meets passes not yet typed.)
    QTest::newRow("stopped, then resumed") << "" << SIGINT << 130 << "SLEEP 1" << "";
}

void TestCliHandsets::passesDealtOut()
{
    QFETCH(QString, lost);
    QFETCH(int, signalNumber);
    QFETCH(int, exitCode);
    QFETCH(QString, wait);
    QFETCH(QString, passes);

    QStringList addresses;
    for (int i = 1; i <= 12; ++i)
        addresses.append(QString::number(1000 + i * 7));
    static int row = 0;
    const QString tag = QString::number(++row);
    const QString addr = files_.writeShiftJis("addr.txt", addresses.join("\r\n"));
    const QString macro = files_.writeShiftJis("job.txt", QStringList{"GETSTR", "SENDSTR", "ENTER", wait, "REPEAT"}.join("\r\n"));
    const QString csv = files_.path(QStringLiteral("results-%1.csv").arg(tag));
    const QStringList names{"A", "B", "C"};
    std::vector<std::unique_ptr<PseudoTerminal>> ptys;
    std::vector<std::unique_ptr<LineSpeedReader>> readers;
    QString ini;
    for (const QString &name : names) {
        ptys.push_back(std::make_unique<PseudoTerminal>());
        readers.push_back(std::make_unique<LineSpeedReader>(*ptys.back()));
        ini += QStringLiteral("[%1]\nport=%2\n").arg(name, ptys.back()->slavePath());
    }
    const QString lab = files_.writeBytes("lab.ini", ini.toUtf8());

    const QString junit = files_.path(QStringLiteral("results-%1.xml").arg(tag));
    QStringList arguments{"run", macro, "--addr", addr, "--handsets", lab, "--results", csv, "--junit", junit};
    if (!passes.isEmpty())
        arguments << "--passes" << passes;
    CliProcess run(arguments);
    const qsizetype pass = textBytes(addresses[0]).size() + 10;
    const int lostIndex = int(names.indexOf(lost));
    if (lostIndex >= 0 || signalNumber != 0) {
        LineSpeedReader &watched = *readers[std::max(0, lostIndex)];
        QVERIFY(watched.waitFor(2 * pass, 20'000));
        if (signalNumber != 0) {
            run.sendSignal(signalNumber);
        } else {
            watched.stop();
            ptys[lostIndex]->closeMaster();
        }
    }
    QVERIFY(run.waitForEnd(60'000));
    QVERIFY2(run.exitCode() == exitCode, qPrintable(run.out() + run.err()));

    QString error;
    std::optional<PassResults::Contents> results = PassResults::read(csv, &error);
    QVERIFY2(results, qPrintable(error));
    if (signalNumber != 0) {
        // Resumed on two of them: the passes not ok, each once.
        const QList<PassRecord> before = lastRowOfEachPass(results->rows);
        const auto ok = std::count_if(before.begin(), before.end(), [](const PassRecord &r) { return r.done(); });
        QVERIFY2(ok > 0 && ok < addresses.size(), qPrintable(run.out()));
        for (auto &reader : readers)
            reader->waitForQuiet(300, 5000);
        const qsizetype typedBefore = readers[0]->bytes().size() + readers[2]->bytes().size();
        CliProcess resumed({"run", macro, "--addr", addr, "--handsets", lab, "--use", "C,A", "--resume", csv});
        QVERIFY(resumed.waitForEnd(60'000));
        QVERIFY2(resumed.exitCode() == 0, qPrintable(resumed.out() + resumed.err()));
        for (auto &reader : readers)
            reader->waitForQuiet(300, 5000);
        const qsizetype typedAfter = readers[0]->bytes().size() + readers[2]->bytes().size();
        QCOMPARE((typedAfter - typedBefore) / pass, addresses.size() - ok);
        results = PassResults::read(csv, &error);
        QVERIFY2(results, qPrintable(error));
        QVERIFY2(resumed.out().contains(QStringLiteral("ジョブの巡をすべて実行しました")), qPrintable(resumed.out()));
    }

    // Every pass ends ok, once, named by its handset.
    const QList<PassRecord> last = lastRowOfEachPass(results->rows);
    QCOMPARE(last.size(), passes.isEmpty() ? addresses.size() : 6);
    QCOMPARE(last.first().counter, passes.isEmpty() ? 0 : 3);
    QMap<QString, QStringList> doneOn;
    for (const PassRecord &r : last) {
        QVERIFY2(r.done(), qPrintable(r.message));
        QCOMPARE(r.address, addresses[r.counter]);
        QVERIFY(names.contains(r.handset));
        doneOn[r.handset].append(r.address);
    }
    if (signalNumber == 0) {
        QFile xml(junit);
        QVERIFY(xml.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(xml.readAll());
        QCOMPARE(text.count(QStringLiteral("<property name=\"handset\" value=\"")), last.size());
    }
    // The handsets that stayed typed exactly the passes the results give
    // them, each once.
    for (int i = 0; i < names.size(); ++i) {
        if (i == lostIndex)
            continue;
        readers[i]->waitForQuiet(300, 10'000);
        QStringList typed = typedOn(readers[i]->bytes(), addresses);
        QStringList expected = doneOn.value(names[i]);
        if (signalNumber != 0) {
            // (A pass the stop cut was typed, and is done again after.)
            for (const QString &address : std::as_const(expected))
                QVERIFY2(typed.contains(address), qPrintable(address));
            continue;
        }
        typed.sort();
        expected.sort();
        QCOMPARE(typed, expected);
    }
    if (lostIndex >= 0) {
        QVERIFY2(run.out().contains(QStringLiteral("B 抜けました")) || run.out().contains(QStringLiteral("抜けました: ")),
                 qPrintable(run.out()));
        const bool toldWhy = std::any_of(results->rows.begin(), results->rows.end(), [](const PassRecord &r) {
            return r.handset == QLatin1String("B") && !r.done() && r.message.contains(QStringLiteral("「B」で途中まで入力された"));
        });
        QVERIFY2(toldWhy, qPrintable(run.out() + run.err()));
    } else {
        QVERIFY2(run.out().contains(QStringLiteral("巡の結果: 成功 ")), qPrintable(run.out()));
    }
}

void TestCliHandsets::aHandsetWhoseScreenEndsLeaves()
{
    // Two model handsets with their streams; B goes away (its stream and
    // its pty) once it has typed a pass: its pass goes to A, every address
    // ends ok, and the closing line says why B left.
    QList<std::shared_ptr<CliProcess>> handsets;
    QString ini;
    for (const QString &name : {QStringLiteral("A"), QStringLiteral("B")}) {
        const QString link = files_.path(QStringLiteral("model-%1").arg(name));
        handsets.append(std::make_shared<CliProcess>(
            QStringList{"handset", "--pty", "--link", link, "--screen-stream", "0", "--timeout", "200"}));
        const QRegularExpression url(QStringLiteral("http://127\\.0\\.0\\.1:\\d+/"));
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && (!url.match(handsets.last()->err()).hasMatch() || !QFileInfo(link).isSymLink()))
            QTest::qWait(20);
        QVERIFY2(url.match(handsets.last()->err()).hasMatch(), qPrintable(handsets.last()->err()));
        ini += QStringLiteral("[%1]\nport=%2\nscreen=%3\n").arg(name, link, url.match(handsets.last()->err()).captured());
    }
    const QStringList addresses{"1001", "1002", "1003", "1004", "1005", "1006"};
    const QString addr = files_.writeShiftJis("screen-addr.txt", addresses.join("\r\n"));
    const QString macro = files_.writeShiftJis(
        "screen-job.txt",
        QStringList{"BASEWAIT 0.05", "CLEAR", "GETSTR", "SENDSTR", "WAITTEXT {address} 5 0,28,320,212", "REPEAT"}.join("\r\n"));
    const QString csv = files_.path("screen.csv");
    CliProcess run({"run", macro, "--addr", addr, "--handsets", files_.writeBytes("screens.ini", ini.toUtf8()), "--results",
                    csv});
    QVERIFY(run.waitForOutput(QStringLiteral("巡完了 [B]"), 30'000));
    handsets[1]->sendSignal(SIGTERM);
    QVERIFY(run.waitForEnd(60'000));
    QVERIFY2(run.exitCode() == 0, qPrintable(QStringLiteral("exit %1: ").arg(run.exitCode()) + run.err() + run.out().right(600)));
    QVERIFY2(run.out().contains(QStringLiteral("抜けました: ")), qPrintable(run.out()));
    QString error;
    const std::optional<PassResults::Contents> results = PassResults::read(csv, &error);
    QVERIFY2(results, qPrintable(error));
    const QList<PassRecord> last = lastRowOfEachPass(results->rows);
    QCOMPARE(last.size(), addresses.size());
    for (const PassRecord &r : last)
        QVERIFY2(r.done(), qPrintable(r.message));
    const bool givenBack = std::any_of(results->rows.begin(), results->rows.end(),
                                       [](const PassRecord &r) { return r.handset == QLatin1String("B") && !r.done(); });
    QVERIFY2(givenBack, qPrintable(run.out()));
}

QUILLON_TEST_MAIN(TestCliHandsets)
#include "test_cli_handsets.moc"
