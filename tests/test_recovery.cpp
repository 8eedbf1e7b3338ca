// A job that goes on after a failed pass: the recovery macro (ONFAIL) after a
// screen wait that ran out, the pass again (RETRY) or the next one, the
// passes recorded as they end, the stop after failures in a row, and what
// refuses a recovery before the first packet. On the fake clock, against a
// screen that shows the text a pass waits for unless told otherwise.

#include "macro/macrocheck.h"
#include "macro/passresults.h"
#include "support/fakerun.h"
#include "support/packets.h"
#include "support/testshare.h"

#include <QXmlStreamReader>
#include <QtTest>
#include <functional>

namespace {

// WAITTEXT finds its text unless `shows` says no (by the text and the
// how-manieth wait, from 0).
class TextScreen : public RunScreen {
public:
    std::function<bool(const QString &wanted, int wait)> shows = [](const QString &, int) { return true; };
    QStringList wanted;

    bool openSource(const QString &, QString *) override { return true; }
    void startOpen(const QString &) override {}
    OpenState openState() override { return {true, true, {}}; }
    void abandonOpen() override {}
    bool hasSource() const override { return true; }
    QString sourceName() const override { return QStringLiteral("fake"); }
    bool loadTemplate(const QString &, QString *) override { return true; }
    void startWait(const QString &, double, bool) override {}
    bool prepareTextReading(QString *) override { return true; }
    void startTextWait(const QString &text, const QRect &, double) override { wanted.append(text); }
    void startFrameWait() override {}
    WaitState waitState() const override
    {
        WaitState s;
        s.done = shows(wanted.last(), int(wanted.size()) - 1);
        s.readings = 1;
        return s;
    }
    void endWait() override {}
    bool saveNewest(const QString &, QString *) override { return true; }
    bool saveText(const QString &, const QString &, QString *) override { return true; }
};

struct RecoveryRun : FakeRun {
    TextScreen screen;
    QList<PassRecord> records;
    RecoveryRun()
    {
        host.screenForRun = &screen;
        QObject::connect(&runner, &MacroRunner::passEnded, &runner,
                         [this](const PassRecord &record) { records.append(record); });
    }
    void setRecovery(const QStringList &lines) { files.writeShiftJis("rec.txt", lines.join("\r\n")); }
    QStringList results() const
    {
        QStringList list;
        for (const PassRecord &r : records)
            list.append(QStringLiteral("%1 %2 %3").arg(r.counter).arg(r.address, resultName(r.result)));
        return list;
    }
};

} // namespace

class TestRecovery : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void failedPassesAreRecoveredAndListed_data();
    void failedPassesAreRecoveredAndListed();
    void refusedBeforeTheFirstPacket_data();
    void refusedBeforeTheFirstPacket();
    void resultsKeepAnyText();
};

void TestRecovery::failedPassesAreRecoveredAndListed_data()
{
    QTest::addColumn<QString>("onFail");   // empty: no ONFAIL
    QTest::addColumn<QStringList>("never"); // the addresses whose text never shows
    QTest::addColumn<int>("failsTries");    // how many tries of those fail (0: all)
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QStringList>("results");
    QTest::addColumn<QString>("typed"); // what reached the handset, C for CLEAR

    const QStringList none;
    QTest::newRow("no ONFAIL: the job ends at the failed pass")
        << "" << QStringList{"b"} << 0 << int(MacroRunner::Outcome::Failed) << QStringList{"0 a ok", "1 b failed"} << "ab";
    QTest::newRow("recovered, the next pass")
        << "ONFAIL rec.txt" << QStringList{"b"} << 0 << int(MacroRunner::Outcome::Finished)
        << QStringList{"0 a ok", "1 b failed", "2 c ok", "3 d ok"} << "abCcd";
    QTest::newRow("recovered, the same pass again")
        << "ONFAIL rec.txt RETRY 2" << QStringList{"b"} << 1 << int(MacroRunner::Outcome::Finished)
        << QStringList{"0 a ok", "1 b ok-after-retry", "2 c ok", "3 d ok"} << "abCbcd";
    QTest::newRow("tries spent")
        << "ONFAIL rec.txt RETRY 1" << QStringList{"b"} << 0 << int(MacroRunner::Outcome::Finished)
        << QStringList{"0 a ok", "1 b failed", "2 c ok", "3 d ok"} << "abCbCcd";
    QTest::newRow("failures in a row stop the job")
        << "ONFAIL rec.txt" << QStringList{"b", "c", "d"} << 0 << int(MacroRunner::Outcome::Failed)
        << QStringList{"0 a ok", "1 b failed", "2 c failed", "3 d failed"} << "abCcCd";
}

void TestRecovery::failedPassesAreRecoveredAndListed()
{
    QFETCH(QString, onFail);
    QFETCH(QStringList, never);
    QFETCH(int, failsTries);
    QFETCH(int, outcome);
    QFETCH(QStringList, results);
    QFETCH(QString, typed);

    RecoveryRun r;
    QStringList lines{"GETSTR", "SENDSTR", "WAITTEXT {address}{counter} 5", "REPEAT"};
    if (!onFail.isEmpty())
        lines.prepend(onFail);
    r.setMacro(lines);
    r.setRecovery({"CLEAR", "WAITTEXT ホーム 5"});
    r.setAddresses({"a", "b", "c", "d"});
    r.runner.setMaxFailuresInARow(3);
    r.screen.shows = [&](const QString &wanted, int) {
        if (wanted == QLatin1String("ホーム"))
            return true;
        const qsizetype tried = r.screen.wanted.count(wanted) - 1;
        return !never.contains(wanted.left(1)) || (failsTries > 0 && tried >= failsTries);
    };
    QCOMPARE(int(r.run()), outcome);
    QCOMPARE(r.results(), results);
    QStringList packets;
    for (const QChar c : typed)
        packets += c == u'C' ? packetList(keyBytes("CLEAR")) : packetList(textBytes(QString(c)));
    QCOMPARE(r.received(), packets);
    // The text waited for is the pass's own address and counter.
    QCOMPARE(r.screen.wanted.value(0), QStringLiteral("a0"));
    QVERIFY(r.screen.wanted.contains(QStringLiteral("b1")));
    const int failed = int(results.filter(QStringLiteral(" failed")).size());
    QCOMPARE(r.runner.passCounts().failed, failed);
    for (const PassRecord &record : r.records) {
        if (record.result == PassRecord::Result::Failed) {
            QVERIFY2(record.message.contains(QStringLiteral("WAITTEXT")), qPrintable(record.message));
            QCOMPARE(record.line, qint64(onFail.isEmpty() ? 3 : 4));
            QCOMPARE(record.firstAddrLine, qint64(record.counter + 1));
        }
    }
    if (outcome == int(MacroRunner::Outcome::Finished)) {
        QVERIFY(r.runner.addressFileDone());
        QVERIFY(r.host.messages.isEmpty());
    } else if (!onFail.isEmpty()) {
        QVERIFY2(r.host.messages.value(0).contains(QStringLiteral("3 巡続けて失敗")), qPrintable(r.host.messages.value(0)));
        // The counter goes on from the pass that stopped the job; the
        // passes that failed before it are listed for a resumed job.
        QCOMPARE(r.runner.resumePoint().counter, 3);
    }
    QVERIFY(r.endedInOrder());
}

void TestRecovery::refusedBeforeTheFirstPacket_data()
{
    QTest::addColumn<QStringList>("macro");
    QTest::addColumn<QStringList>("recovery"); // empty: no recovery file
    QTest::addColumn<QString>("where");        // file:line of the message
    QTest::addColumn<QString>("mentions");

    const QStringList clear{"CLEAR"};
    QTest::newRow("missing file") << QStringList{"ONFAIL absent.txt", "UP"} << clear << "macro.txt:1" << "absent.txt";
    QTest::newRow("itself") << QStringList{"ONFAIL macro.txt", "UP"} << clear << "macro.txt:1" << "このマクロ自身";
    QTest::newRow("after the first key") << QStringList{"UP", "ONFAIL rec.txt"} << clear << "macro.txt:2" << "1 行目";
    QTest::newRow("RETRY without a count") << QStringList{"ONFAIL rec.txt RETRY", "UP"} << clear << "macro.txt:1" << "RETRY";
    QTest::newRow("two of them") << QStringList{"ONFAIL rec.txt", "ONFAIL rec.txt", "UP"} << clear << "macro.txt:2"
                                 << "1 つだけ";
    QTest::newRow("REPEAT in the recovery") << QStringList{"ONFAIL rec.txt", "UP", "REPEAT"}
                                            << QStringList{"CLEAR", "", "REPEAT"} << "rec.txt:3" << "REPEAT";
    QTest::newRow("GETSTR in the recovery") << QStringList{"ONFAIL rec.txt", "UP"} << QStringList{"GETSTR"} << "rec.txt:1"
                                            << "GETSTR";
}

void TestRecovery::refusedBeforeTheFirstPacket()
{
    QFETCH(QStringList, macro);
    QFETCH(QStringList, recovery);
    QFETCH(QString, where);
    QFETCH(QString, mentions);

    RecoveryRun r;
    r.setMacro(macro);
    r.setRecovery(recovery);
    QCOMPARE(r.run(), MacroRunner::Outcome::Failed);
    QCOMPARE(r.received(), QStringList());
    const RunFailure &failure = r.runner.failure();
    QCOMPARE(QStringLiteral("%1:%2").arg(QFileInfo(failure.file).fileName()).arg(failure.line), where);
    QVERIFY2(failure.reason.contains(mentions), qPrintable(failure.reason));
    // The check says the same before any run.
    const MacroCheck check = checkMacro(r.settings.MacroFile, QString(), 0, {true, {}});
    QVERIFY(std::any_of(check.diagnostics.begin(), check.diagnostics.end(), [&](const MacroDiagnostic &d) {
        return d.level == MacroDiagnostic::Level::Error &&
               QStringLiteral("%1:%2").arg(QFileInfo(d.file).fileName()).arg(d.line) == where &&
               d.message.contains(mentions);
    }));
    QVERIFY(r.endedInOrder());
}

void TestRecovery::resultsKeepAnyText()
{
    // What a pass's message and address may hold: quotes, commas, line
    // breaks, ESC, NUL, an emoji and 𠮷 (outside the basic plane). The CSV
    // reads back as written; the JUnit file is well-formed XML without the
    // characters XML 1.0 forbids, the others kept.
    TempFiles files;
    PassRecord record;
    record.counter = 7;
    record.firstAddrLine = record.lastAddrLine = 8;
    record.address = QStringLiteral("a,\"b\"");
    record.result = PassRecord::Result::Failed;
    record.file = QStringLiteral("job.txt");
    record.line = 3;
    record.keyword = QStringLiteral("WAITTEXT");
    record.message = QStringLiteral("line one\nline, \"two\" \x1b[2J ") + QChar(0) + QStringLiteral(" 😀 𠮷");
    record.evidence = QStringLiteral("/tmp/e,vidence.png");
    PassResults results;
    QString error;
    const QString csv = files.path("r.csv");
    QVERIFY(results.open(csv, QStringLiteral("0123456789abcdef"), &error));
    QVERIFY(results.write(record, &error));
    record.counter = 8;
    record.result = PassRecord::Result::Ok;
    QVERIFY(results.write(record, &error));
    results.close();
    const std::optional<PassResults::Contents> back = PassResults::read(csv, &error);
    QVERIFY2(back, qPrintable(error));
    QCOMPARE(back->jobId, QStringLiteral("0123456789abcdef"));
    QCOMPARE(back->rows.size(), 2);
    const PassRecord &row = back->rows.first();
    QCOMPARE(row.address, record.address);
    QCOMPARE(row.evidence, record.evidence);
    QCOMPARE(row.file, QStringLiteral("job.txt:3"));
    QVERIFY(row.message.contains(QStringLiteral("line, \"two\"")) && row.message.contains(QStringLiteral("𠮷")));
    QCOMPARE(row.result, PassRecord::Result::Failed);

    record.counter = 7;
    record.result = PassRecord::Result::Failed;
    const QString junit = files.path("r.xml");
    QVERIFY(writeJUnit(junit, QStringLiteral("job"), {record}, &error));
    QFile file(junit);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QString failure;
    QString out;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("failure"))
            failure = xml.attributes().value(QLatin1String("message")).toString();
        if (xml.isStartElement() && xml.name() == QLatin1String("system-out"))
            out = xml.readElementText();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QVERIFY(failure.contains(QStringLiteral("😀 𠮷")));
    QVERIFY(!failure.contains(QChar(0x1b)) && !failure.contains(QChar(0)));
    QVERIFY(out.startsWith(QStringLiteral("[[ATTACHMENT|/tmp/e,vidence.png]]\n")));
}

QUILLON_TEST_GUILESS_MAIN(TestRecovery)
#include "test_recovery.moc"
