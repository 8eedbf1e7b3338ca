// The recorder on its own: sessions of keys, texts and pauses become the
// exact macro text; the file is written whole or not at all; and a recorded
// file, checked and replayed by the real run, sends what the session sent,
// when it sent it.

#include "link/keytable.h"
#include "link/textsender.h"
#include "macro/macrocheck.h"
#include "macro/macrorecorder.h"
#include "support/fakerun.h"
#include "support/fulldisk.h"
#include "support/testshare.h"

#include <QDir>
#include <QtTest>

namespace {

// One item of a session: "MS KEY", "MS 'TEXT'", or "MS+BUSY ..." for a send
// that took BUSY milliseconds to hand over; "MS !LINE" puts in checkpoint
// LINE, "MS @SOURCE" looks at screen SOURCE ("MS @SOURCE|AREA" with its
// display at AREA), "MS -" takes the last checkpoint back.
struct SessionItem {
    double sentMs = 0;
    double doneMs = 0;
    QString key;
    QString text;
    bool isText = false;
    bool isCheckpoint = false;
};

SessionItem parseItem(const QString &entry)
{
    SessionItem item;
    const QString time = entry.section(u' ', 0, 0);
    const QString what = entry.section(u' ', 1);
    item.sentMs = time.section(u'+', 0, 0).toDouble();
    item.doneMs = item.sentMs + time.section(u'+', 1, 1).toDouble();
    item.isText = what.startsWith(u'\'');
    item.isCheckpoint = what.startsWith(u'!');
    if (item.isCheckpoint)
        item.text = what.mid(1);
    else if (item.isText)
        item.text = what.mid(1, what.size() - 2);
    else
        item.key = what;
    return item;
}

MacroRecorder record(const QStringList &session, int baseWaitMs = MacroRecorder::kDefaultBaseWaitMs)
{
    MacroRecorder recorder(baseWaitMs);
    for (const QString &entry : session) {
        const SessionItem item = parseItem(entry);
        if (item.key.startsWith(u'@'))
            recorder.lookAt(item.key.mid(1).section(u'|', 0, 0), item.sentMs, item.key.section(u'|', 1));
        else if (item.key == u"-")
            recorder.removeLastCheckpoint();
        else if (item.isCheckpoint)
            recorder.addCheckpoint(item.text, item.sentMs);
        else if (item.isText)
            recorder.addText(item.text, item.sentMs, item.doneMs);
        else
            recorder.addKey(item.key, item.sentMs, item.doneMs);
    }
    return recorder;
}

} // namespace

class TestRecorder : public QObject {
    Q_OBJECT
private slots:
    void macroText_data();
    void macroText();
    void writtenWholeOrNotAtAll();
    void replaySendsTheSameAtTheSameTimes_data();
    void replaySendsTheSameAtTheSameTimes();
};

void TestRecorder::macroText_data()
{
    QTest::addColumn<int>("baseWaitMs");
    QTest::addColumn<QStringList>("session");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("nothing recorded") << 200 << QStringList{} << QStringList{"BASEWAIT 0.2"};
    QTest::newRow("keys faster than the base wait")
        << 200 << QStringList{"0 UP", "150 DOWN", "300 ENTER"} << QStringList{"BASEWAIT 0.2", "UP", "DOWN", "ENTER"};
    // A SLEEP line is followed by a base wait of its own: a pause of P
    // seconds after a key is its base wait, SLEEP P - 0.4 and that base wait.
    // A pause too short for that takes whichever comes closer.
    QTest::newRow("pauses less two base waits, to a tenth")
        << 200 << QStringList{"0 UP", "1500 DOWN", "1740 LEFT", "2230 RIGHT"}
        << QStringList{"BASEWAIT 0.2", "UP", "SLEEP 1.1", "DOWN", "LEFT", "SLEEP 0.1", "RIGHT"};
    // 1.35 s apart: 0.95 s rounds to 1.0, which the next pause gives back.
    QTest::newRow("rounding does not add up")
        << 200 << QStringList{"0 1", "1350 2", "2700 3", "4050 4", "5400 5"}
        << QStringList{"BASEWAIT 0.2", "1", "SLEEP 1.0", "2", "SLEEP 0.9", "3", "SLEEP 1.0", "4", "SLEEP 0.9", "5"};
    QTest::newRow("a base wait the user outran comes off the next pause")
        << 200 << QStringList{"0 1", "50 2", "100 3", "1000 4"}
        << QStringList{"BASEWAIT 0.2", "1", "2", "3", "SLEEP 0.2", "4"};
    QTest::newRow("a text's wait for the line is no pause")
        << 200 << QStringList{"0+9000 'abcdefghij'", "9100 UP", "9300 DOWN"}
        << QStringList{"BASEWAIT 0.2", "STRING abcdefghij", "UP", "DOWN"};
    QTest::newRow("a pause after a text counts from its hand-over")
        << 200 << QStringList{"0+500 'こんにちは'", "3000 ENTER"} << QStringList{"BASEWAIT 0.2", "STRING こんにちは", "SLEEP 2.1", "ENTER"};
    QTest::newRow("texts lose what STRING cannot type")
        << 200 << QStringList{"0 'a b<c~\tＤ'", "0 '全角　スペース'", "0 '¥\\'"}
        << QStringList{"BASEWAIT 0.2", "STRING abcＤ", "STRING 全角　スペース", "STRING \\"};
    QTest::newRow("a text that types nothing leaves no line and no pause")
        << 200 << QStringList{"0 UP", "1000 '  '", "1000 '<>'", "2000 DOWN"}
        << QStringList{"BASEWAIT 0.2", "UP", "SLEEP 1.6", "DOWN"};
    QTest::newRow("key names as the key table spells them")
        << 200 << QStringList{"0 OFFOOK", "0 &OFFHOOK", "0 OFFHOOK", "0 &OFFOOK", "0 #", "0 *", "0 F10", "0 up"}
        << QStringList{"BASEWAIT 0.2", "OFFOOK", "&OFFHOOK", "#", "*", "F10"};
    // A checkpoint follows the item before it and takes no time: the pause
    // that holds it stays as it was.
    QTest::newRow("checkpoints take no time")
        << 200 << QStringList{"0 UP", "1000 !WAITIMAGE 記録1.png 30", "1500 !WAITTEXT OK 30 1,2,3,4", "2000 DOWN", "2100 UP"}
        << QStringList{"BASEWAIT 0.2", "UP", "WAITIMAGE 記録1.png 30", "WAITTEXT OK 30 1,2,3,4", "SLEEP 1.6", "DOWN", "UP"};
    QTest::newRow("checkpoints before the first key and after the last")
        << 200 << QStringList{"0 !WAITGONE a.png 30", "500 UP", "900 !WAITIMAGE b.png 30"}
        << QStringList{"BASEWAIT 0.2", "WAITGONE a.png 30", "UP", "WAITIMAGE b.png 30"};
    QTest::newRow("the screen looked at: first at the top, another where it changed")
        << 200 << QStringList{"0 UP", "500 @http://a/", "500 !WAITIMAGE a1.png 30", "700 @http://a/", "700 !WAITIMAGE a2.png 30",
                              "900 @rtsp://b/", "900 !WAITGONE a3.png 30", "1000 DOWN"}
        << QStringList{"BASEWAIT 0.2", "SCREEN http://a/", "UP", "WAITIMAGE a1.png 30", "WAITIMAGE a2.png 30",
                       "SCREEN rtsp://b/", "WAITGONE a3.png 30", "SLEEP 0.6", "DOWN"};
    QTest::newRow("the display: with the first SCREEN, and where it changed")
        << 200 << QStringList{"0 UP", "100 @http://a/|1,2 3,4 5,6 7,8 240x320", "100 !WAITIMAGE a1.png 30", "150 @http://a/|1,2 3,4 5,6 7,8 240x320",
                              "150 !WAITIMAGE a2.png 30", "200 @http://a/|WHOLE", "200 !WAITTEXT OK 30"}
        << QStringList{"BASEWAIT 0.2", "SCREEN http://a/", "DISPLAY 1,2 3,4 5,6 7,8 240x320", "UP", "WAITIMAGE a1.png 30",
                       "WAITIMAGE a2.png 30", "DISPLAY WHOLE", "WAITTEXT OK 30"};
    QTest::newRow("the last checkpoints taken back, keys and the screen kept")
        << 200 << QStringList{"0 @http://a/", "0 UP", "100 !WAITIMAGE a.png 30", "200 DOWN", "300 !WAITTEXT OK 30", "400 -", "500 -", "600 -"}
        << QStringList{"BASEWAIT 0.2", "SCREEN http://a/", "UP", "DOWN"};
    QTest::newRow("base wait 0.05") << 50 << QStringList{"0 UP", "175 UP"} << QStringList{"BASEWAIT 0.05", "UP", "SLEEP 0.1", "UP"};
    QTest::newRow("base wait 1") << 1000 << QStringList{"0 UP", "5000 UP"} << QStringList{"BASEWAIT 1", "UP", "SLEEP 3.0", "UP"};
    QTest::newRow("base wait 0") << 0 << QStringList{"0 UP", "40 UP", "140 UP"} << QStringList{"BASEWAIT 0", "UP", "UP", "SLEEP 0.1", "UP"};
}

void TestRecorder::macroText()
{
    QFETCH(int, baseWaitMs);
    QFETCH(QStringList, session);
    QFETCH(QStringList, lines);
    QCOMPARE(record(session, baseWaitMs).lines(), lines);
}

void TestRecorder::writtenWholeOrNotAtAll()
{
    QTemporaryDir dir;
    const MacroRecorder recorder = record({"0 UP"});
    QString error;

    // Where no file can be: the message names it, and nothing is left behind.
    const QString missing = dir.filePath(QStringLiteral("no-such-folder/rec.txt"));
    QVERIFY(!MacroRecorder::canWrite(missing, &error));
    QVERIFY2(error.startsWith(QStringLiteral("記録ファイル「%1」に書き込めません。").arg(missing)), qPrintable(error));
    // The system's reason on the second line: a sentence in Japanese, or
    // its English set apart.
    const QString reason = error.section(u'\n', 1);
    QVERIFY2(reason.endsWith(u'。') || (reason.startsWith(QStringLiteral("（システムの理由: ")) && reason.endsWith(u'）')),
             qPrintable(error));
    error.clear();
    QVERIFY(!recorder.write(missing, &error));
    QVERIFY2(error.contains(missing), qPrintable(error));
    const QString folder = dir.filePath(QStringLiteral("folder"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    QVERIFY(!recorder.write(folder, &error));
    QVERIFY(QFileInfo(folder).isDir());

    // A file that can be written is not touched by the test of it, and is
    // replaced whole.
    const QString path = dir.filePath(QStringLiteral("rec.txt"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();
    QVERIFY(MacroRecorder::canWrite(path, &error));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"rec.txt"});
    {
        // The disk fills while the file is written: that is said, naming
        // the file, and the old file stays as it was.
        const FullDisk full;
        QVERIFY(!recorder.write(path, &error));
    }
    QVERIFY2(error.startsWith(QStringLiteral("記録ファイル「%1」に書き込めません。").arg(path)), qPrintable(error));
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("old"));
    old.close();
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"rec.txt"});
    QVERIFY(recorder.write(path, &error));
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), recorder.fileBytes());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"rec.txt"});
}

void TestRecorder::replaySendsTheSameAtTheSameTimes_data()
{
    QTest::addColumn<int>("baseWaitMs");
    QTest::addColumn<QStringList>("session");

    QTest::newRow("every key and form a keypad sends")
        << 200 << QStringList{"0 UP", "200 &UP", "400 OFFOOK", "640 &OFFHOOK", "2030 F10", "2200 &F10", "2400 #", "2600 *", "2800 0"};
    QTest::newRow("texts and pauses")
        << 200 << QStringList{"0 MAIL", "1234 'taro@example.jp'", "5678 'こんにちは、世界！'", "9999 ENTER",
                              "10490 'a\\\"(1+2)=3 ･ ＃'", "70000 ONHOOK"};
    QTest::newRow("a long base wait") << 1000 << QStringList{"0 1", "1000 2", "3530 3", "5620 '12'", "7777 4"};
    // Each wait of the replay lasts at least its shortest.
    QTest::newRow("no base wait") << 0 << QStringList{"0 UP", "500 UP", "1000 UP", "1500 UP", "2000 UP", "2500 UP",
                                                      "3000 UP", "3500 UP", "4000 UP", "4500 UP"};
}

void TestRecorder::replaySendsTheSameAtTheSameTimes()
{
    QFETCH(int, baseWaitMs);
    QFETCH(QStringList, session);
    const MacroRecorder recorder = record(session, baseWaitMs);

    // What the keypad sent, packet by packet, and when each item began.
    QStringList sent;
    QList<double> sentAt;
    QList<int> firstPacket;
    for (const QString &entry : session) {
        const SessionItem item = parseItem(entry);
        const QList<KeyPacket> packets =
            item.isText ? TextSender::packetsForString(item.text) : QList<KeyPacket>{KeyTable::find(item.key).value()};
        firstPacket.append(static_cast<int>(sent.size()));
        sentAt.append(item.sentMs);
        for (const KeyPacket &packet : packets)
            sent.append(packet.toHex());
    }

    FakeRun run;
    run.settings.MacroFile = run.files.path(QStringLiteral("recorded.txt"));
    QString error;
    QVERIFY2(recorder.write(run.settings.MacroFile, &error), qPrintable(error));
    for (const MacroDiagnostic &d : checkMacro(run.settings.MacroFile, QString()).diagnostics)
        QVERIFY2(d.level != MacroDiagnostic::Level::Error, qPrintable(QStringLiteral("%1: %2").arg(d.line).arg(d.message)));

    QList<double> replayedAt;
    connect(&run.link, &SerialLink::packetSent, this, [&] { replayedAt.append(run.waiter.now); });
    QCOMPARE(run.run(), MacroRunner::Outcome::Finished);
    QCOMPARE(run.received(), sent);
    // Every item starts when it started in the session, to half a tenth
    // (the sessions pause either less than a base wait or long enough for a
    // SLEEP).
    for (qsizetype i = 0; i < session.size(); ++i) {
        const double replayed = replayedAt.value(firstPacket[i]) - replayedAt.value(0);
        QVERIFY2(std::abs(replayed - (sentAt[i] - sentAt[0])) <= 50.0,
                 qPrintable(QStringLiteral("%1 replayed at %2 ms").arg(session[i]).arg(replayed)));
    }
}

QUILLON_TEST_GUILESS_MAIN(TestRecorder)
#include "test_recorder.moc"
