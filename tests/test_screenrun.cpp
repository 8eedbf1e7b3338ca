// The run's screen statements on the fake clock, against a fake screen that
// shows the picture at a chosen time: a wait counts from when the line has
// carried what was handed over before it, ends when the picture is seen,
// runs out as an error with the evidence, ends on a stop; and what stops a
// run before its first packet.

#include "macro/macrocheck.h"
#include "support/fakerun.h"
#include "support/packets.h"
#include "support/testshare.h"

#include <QtTest>
#include <limits>

namespace {

constexpr double kNever = std::numeric_limits<double>::infinity();
const QString kUp = QStringLiteral("C4 01 02 03 00 00 01 01 00 00");

// A screen whose picture appears (or goes) at a time on the run's clock.
class FakeScreen : public RunScreen {
public:
    explicit FakeScreen(const FakeWaiter &clock) : clock_(clock) {}

    double doneAtMs = kNever;    // the picture appears (or goes) then
    double sourceEndsAtMs = kNever;
    bool tooLarge = false;
    QStringList unopenable;     // sources that cannot be opened
    QStringList unreadable;     // templates (file names) that cannot be read

    QString source;
    QStringList loaded;         // templates read, in order
    QList<double> waitStarts;   // when each wait started, on the run's clock
    QStringList waitPaths;
    QList<double> levels;
    QStringList saved;          // frames saved
    QList<QRect> marked;        // on the evidence: the template's place, the part that did not match
    // Reading the text: what the screen says, and why it cannot be read.
    QString shownText = QStringLiteral("ＯＫ 送信");
    QString readerProblem;
    QStringList neverShown;     // texts the screen never shows
    int glyphPixels = 20;       // the height of the glyphs read
    bool glyphPixelsInFrame = false; // in the camera's pixels
    QStringList wantedTexts;    // of each text wait; empty: one reading
    QList<QRect> regions;
    bool readingText = false;
    bool waitingForFrame = false;
    // Opening a source takes this long on the run's clock; a new frame
    // comes this often.
    double openTakesMs = 0;
    double frameEveryMs = 40;
    QString opening;
    double openDoneAtMs = 0;
    QStringList abandoned;

    bool openSource(const QString &text, QString *error) override
    {
        startOpen(text);
        openDoneAtMs = clock_.now;
        const OpenState state = openState();
        *error = state.error;
        return state.opened;
    }
    void startOpen(const QString &text) override
    {
        opening = text;
        openDoneAtMs = clock_.now + openTakesMs;
    }
    OpenState openState() override
    {
        OpenState state;
        if (opening.isEmpty() || clock_.now < openDoneAtMs)
            return state;
        state.done = true;
        if (unopenable.contains(opening)) {
            state.error = QStringLiteral("「%1」を開けません: 理由。").arg(opening);
        } else {
            source = opening;
            state.opened = true;
        }
        opening.clear();
        return state;
    }
    void abandonOpen() override
    {
        abandoned.append(opening);
        opening.clear();
    }
    bool hasSource() const override { return !source.isEmpty(); }
    QString sourceName() const override { return source; }
    bool loadTemplate(const QString &path, QString *reason) override
    {
        if (unreadable.contains(QFileInfo(path).fileName())) {
            *reason = QStringLiteral("画像として読めません");
            return false;
        }
        if (!loaded.contains(path))
            loaded.append(path);
        return true;
    }
    bool prepareTextReading(QString *reason) override
    {
        *reason = readerProblem;
        return readerProblem.isEmpty();
    }
    void startTextWait(const QString &wanted, const QRect &region, double) override
    {
        readingText = true;
        waitingForFrame = false;
        waitStarts.append(clock_.now);
        wantedTexts.append(wanted);
        regions.append(region);
    }
    void startFrameWait() override
    {
        readingText = false;
        waitingForFrame = true;
        waitStarts.append(clock_.now);
    }
    void startWait(const QString &path, double level, bool) override
    {
        readingText = false;
        waitingForFrame = false;
        waitStarts.append(clock_.now);
        waitPaths.append(path);
        levels.append(level);
    }
    WaitState waitState() const override
    {
        WaitState s;
        s.done = clock_.now >= doneAtMs;
        s.sourceEnded = clock_.now >= sourceEndsAtMs;
        s.endReason = QStringLiteral("ストリームが終わりました");
        s.tooLarge = tooLarge;
        s.frameSize = QSize(320, 240);
        s.bestSimilarity = 0.42;
        s.bestPlace = QPoint(7, 9);
        s.bestSize = QSize(60, 20);
        s.bestWeakestPart = QRect(37, 9, 10, 10);
        s.lastSimilarity = 0.995;
        s.lastPlace = QPoint(8, 9);
        s.framesSeen = 12;
        if (readingText) {
            s.done = s.done && !neverShown.contains(wantedTexts.last());
            s.lastRead = s.done ? shownText : QStringLiteral("メニュー");
            s.glyphPixels = glyphPixels;
            s.glyphPixelsInFrame = glyphPixelsInFrame;
            s.readings = 4;
            s.done = s.done || wantedTexts.last().isEmpty();
        }
        if (waitingForFrame)
            s.done = clock_.now >= waitStarts.last() + frameEveryMs;
        return s;
    }
    void endWait() override {}
    bool saveNewest(const QString &path, QString *) override
    {
        saved.append(path);
        return true;
    }
    bool saveMarked(const QString &path, const QRect &box, const QRect &part, QString *error) override
    {
        marked = {box, part};
        return saveNewest(path, error);
    }
    bool saveText(const QString &path, const QString &text, QString *error) override
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly) && file.write((text + u'\n').toUtf8()) >= 0)
            return true;
        *error = file.errorString();
        return false;
    }

private:
    const FakeWaiter &clock_;
};

struct ScreenRun : FakeRun {
    FakeScreen screen{waiter};
    ScreenRun()
    {
        host.screenForRun = &screen;
        screen.source = QStringLiteral("http://127.0.0.1:9/");
    }
};

} // namespace

class TestScreenRun : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void waitCountsFromWhenTheLineIsDone();
    void waitRunsOutAsAnErrorWithEvidence_data();
    void waitRunsOutAsAnErrorWithEvidence();
    void stopEndsAWait();
    void failsBeforeTheFirstPacket_data();
    void failsBeforeTheFirstPacket();
    void screenAndSnapshot();
    void checkSaysWhatTheRunWouldStopAt();
    void textWaitsAndReadings();
    void readingsAndSnapshotsAfterTheLine_data();
    void readingsAndSnapshotsAfterTheLine();
    void stopWhileASourceOpens_data();
    void stopWhileASourceOpens();
    void eventsNameTheFilesLine();
};

void TestScreenRun::waitCountsFromWhenTheLineIsDone()
{
    ScreenRun r;
    r.setMacro({"BASEWAIT 0", "STRING abcde", "WAITIMAGE typed.png 3 0.75", "UP"});
    double textAt = -1;
    QObject::connect(&r.runner, &MacroRunner::statementStarted, &r.runner, [&](qint64 line, const QString &) {
        if (line == 2)
            textAt = r.waiter.now;
    });
    // The picture appears 1.2 s after the wait starts counting.
    r.waiter.onSleep = [&](double) {
        if (!r.screen.waitStarts.isEmpty() && r.screen.doneAtMs == kNever)
            r.screen.doneAtMs = r.screen.waitStarts.first() + 1200;
        return false;
    };
    QCOMPARE(r.run(), MacroRunner::Outcome::Finished);
    // Five packets of ten bytes take 917 ms on the line; the wait started
    // only then, and the run went on once the picture was seen.
    QCOMPARE(r.screen.waitStarts.size(), 1);
    QVERIFY2(r.screen.waitStarts.first() - textAt >= 5 * 10 * LineTiming::kByteMs - 1,
             qPrintable(QString::number(r.screen.waitStarts.first() - textAt)));
    QCOMPARE(r.screen.levels.first(), 0.75);
    QCOMPARE(r.screen.waitPaths.first(), QFileInfo(r.settings.MacroFile).dir().filePath("typed.png"));
    QCOMPARE(r.received(), packetList(textBytes("abcde")) + QStringList{kUp});
}

void TestScreenRun::waitRunsOutAsAnErrorWithEvidence_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<double>("sourceEndsAfterMs");
    QTest::addColumn<bool>("tooLarge");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<double>("waitedMs");
    QTest::newRow("picture never seen") << "WAITIMAGE typed.png 2.5" << kNever << false
                                        << "WAITIMAGE: 2.5 秒待っても、画像「typed.png」が画面に現れませんでした。"
                                           "最も近かったのは位置 7, 9 の類似度 0.420 です。合わなかったのは画像の範囲 "
                                           "30,0,10,10（左から 30〜40 ピクセル）で、類似度はこの部分のものです。フレーム 12 枚"
                                        << 2500.0;
    // (Not "the closest": the picture was there, in the last frame too.)
    QTest::newRow("picture never goes") << "waitgone typed.png 1" << kNever << false
                                        << "WAITGONE: 1.0 秒待っても、画像「typed.png」が画面から消えませんでした。"
                                           "最後のフレームでも位置 8, 9 に類似度 0.995 で見えていました。フレーム 12 枚"
                                        << 1000.0;
    QTest::newRow("source ends") << "WAITIMAGE typed.png 30" << 800.0 << false
                                 << "画面の取り込み元「http://127.0.0.1:9/」: ストリームが終わりました（フレーム 12 枚" << 800.0;
    QTest::newRow("template larger than the frame") << "WAITIMAGE typed.png 30" << kNever << true
                                                    << "フレーム（320×240）より大きい" << 0.0;
    QTest::newRow("file name like a placeholder") << "WAITIMAGE %1%2.png 30" << kNever << true
                                                  << "画像「%1%2.png」がフレーム（320×240）より大きい" << 0.0;
}

void TestScreenRun::waitRunsOutAsAnErrorWithEvidence()
{
    QFETCH(QString, statement);
    QFETCH(double, sourceEndsAfterMs);
    QFETCH(bool, tooLarge);
    QFETCH(QString, reason);
    QFETCH(double, waitedMs);
    ScreenRun r;
    r.host.counter = QStringLiteral("41");
    r.screen.tooLarge = tooLarge;
    r.screen.setEvidenceFolder(r.files.path("logs"));
    r.setMacro({"UP", statement, "DOWN"});
    r.waiter.onSleep = [&](double) {
        if (!r.screen.waitStarts.isEmpty() && r.screen.sourceEndsAtMs == kNever)
            r.screen.sourceEndsAtMs = r.screen.waitStarts.first() + sourceEndsAfterMs;
        return false;
    };
    double failedAt = 0;
    ScreenWaitReport ended;
    QObject::connect(&r.runner, &MacroRunner::screenWaitEnded, &r.runner, [&](const ScreenWaitReport &report) {
        failedAt = r.waiter.now;
        ended = report;
        QVERIFY(!report.found);
        QCOMPARE(report.line, qint64(2));
        QCOMPARE(report.evidence, r.screen.saved.value(0));
    });
    QCOMPARE(r.run(), MacroRunner::Outcome::Failed);
    QCOMPARE(r.runner.failure().line, qint64(2));
    QVERIFY2(r.runner.failure().reason.contains(reason), qPrintable(r.runner.failure().reason));
    // The message box names the statement once, at the top.
    const QString message = r.runner.failure().messageText();
    QVERIFY2(message.count(r.runner.failure().keyword) == 1, qPrintable(message));
    // The window is told why a wait ended when not for its time.
    QCOMPARE(ended.failure.isEmpty(), sourceEndsAfterMs == kNever && !tooLarge);
    // The evidence: the newest frame, in the folder asked for, named in the
    // message; the counter stays for the resume.
    QCOMPARE(r.screen.saved.size(), 1);
    const QString base = QFileInfo(statement.split(' ').value(1)).completeBaseName();
    QVERIFY(r.screen.saved.first().startsWith(r.files.path("logs") + "/quillonemu-" + base + "-41-"));
    QVERIFY(r.runner.failure().reason.contains(r.screen.saved.first()));
    // A picture that did not come: where it came closest, and the part of
    // it that did not match, drawn on the evidence; every wait logs it.
    const bool closest = reason.contains(QStringLiteral("最も近かった"));
    const QList<QRect> marks = closest ? QList<QRect>{QRect(7, 9, 60, 20), QRect(37, 9, 10, 10)} : QList<QRect>(2);
    QCOMPARE(r.screen.marked, marks);
    QCOMPARE(ended.weakestPart, QRect(37, 9, 10, 10));
    QCOMPARE(r.runner.counter(), 41);
    QVERIFY(std::abs(failedAt - r.screen.waitStarts.first() - waitedMs) <= 101);
    QCOMPARE(r.received(), QStringList{kUp});
    QVERIFY(r.endedInOrder());
}

void TestScreenRun::stopEndsAWait()
{
    ScreenRun r;
    r.setMacro({"WAITIMAGE typed.png 600", "UP"});
    r.waiter.onSleep = [&](double) {
        if (!r.screen.waitStarts.isEmpty() && r.waiter.now - r.screen.waitStarts.first() > 300)
            r.runner.RequestStop();
        return false;
    };
    QCOMPARE(r.run(), MacroRunner::Outcome::Stopped);
    QVERIFY(r.waiter.now - r.screen.waitStarts.first() < 500);
    QVERIFY(r.screen.saved.isEmpty());
    QVERIFY(r.received().isEmpty());
}

void TestScreenRun::failsBeforeTheFirstPacket_data()
{
    QTest::addColumn<QStringList>("macro");
    QTest::addColumn<bool>("sourceGiven");
    QTest::addColumn<qint64>("line");
    QTest::addColumn<QString>("reason");
    QTest::newRow("template missing") << QStringList{"UP", "", "WAITIMAGE missing.png 5"} << true << qint64(3)
                                      << "画像ファイル「missing.png」を照合に使えません: 画像として読めません";
    QTest::newRow("template in a later pass") << QStringList{"UP", "REPEAT", "WAITGONE missing.png 5"} << true
                                              << qint64(3) << "missing.png";
    QTest::newRow("no source") << QStringList{"UP", "WAITIMAGE typed.png 5"} << false << qint64(2)
                               << "画面の取り込み元がありません";
    QTest::newRow("no seconds") << QStringList{"UP", "WAITIMAGE typed.png"} << true << qint64(2) << "WAITIMAGE の秒数がない";
    QTest::newRow("bad level") << QStringList{"UP", "WAITGONE typed.png 3 1.5"} << true << qint64(2) << "類似度";
}

void TestScreenRun::failsBeforeTheFirstPacket()
{
    QFETCH(QStringList, macro);
    QFETCH(bool, sourceGiven);
    QFETCH(qint64, line);
    QFETCH(QString, reason);
    ScreenRun r;
    r.screen.unreadable = {"missing.png"};
    if (!sourceGiven)
        r.screen.source.clear();
    r.setMacro(macro);
    QCOMPARE(r.run(), MacroRunner::Outcome::Failed);
    QCOMPARE(r.runner.failure().line, line);
    QVERIFY2(r.runner.failure().reason.contains(reason), qPrintable(r.runner.failure().reason));
    QVERIFY(r.received().isEmpty());
}

void TestScreenRun::screenAndSnapshot()
{
    ScreenRun r;
    r.screen.source.clear();
    r.screen.unopenable = {"rtsp://10.0.0.9/gone"};
    r.host.counter = QStringLiteral("7");
    r.setMacro({"SCREEN shown.png", "SNAPSHOT shots/pass-{counter}.png", "SCREEN rtsp://10.0.0.9/gone", "UP"});
    QCOMPARE(r.run(), MacroRunner::Outcome::Failed);
    // A file source and a snapshot are named from the macro's folder.
    const QDir folder = QFileInfo(r.settings.MacroFile).dir();
    QCOMPARE(r.screen.saved, QStringList{folder.filePath("shots/pass-7.png")});
    QCOMPARE(r.runner.failure().line, qint64(3));
    QVERIFY(r.runner.failure().reason.contains("rtsp://10.0.0.9/gone"));
    QVERIFY(r.received().isEmpty());

    // Without any screen, the statements are errors at their line.
    FakeRun plain;
    plain.setMacro({"UP", "SNAPSHOT a.png"});
    QCOMPARE(plain.run(), MacroRunner::Outcome::Failed);
    QCOMPARE(plain.runner.failure().line, qint64(2));
    QVERIFY(plain.runner.failure().reason.contains("画面を見られません"));
}

void TestScreenRun::checkSaysWhatTheRunWouldStopAt()
{
    TempFiles files;
    files.writeBytes("shown.png", "a picture");
    const QString macro = files.writeShiftJis(
        "m.txt", QStringList{"UP", "WAITIMAGE shown.png 5", "SNAPSHOT s.png", "SCREEN camera:2", "WAITGONE absent.png 2",
                             "WAITIMAGE shown.png 3 1.5", "WAITIMAGE shown.png", "EXIT"}
                     .join("\r\n"));
    auto errors = [](const MacroCheck &check) {
        QStringList list;
        for (const MacroDiagnostic &d : check.diagnostics) {
            if (d.level == MacroDiagnostic::Level::Error)
                list.append(QStringLiteral("%1 %2").arg(d.line).arg(d.message.section(u'。', 0, 0)));
        }
        return list;
    };
    // Before SCREEN nothing can be seen unless the run is given a source.
    const MacroCheck alone = checkMacro(macro, QString());
    QCOMPARE(errors(alone),
             (QStringList{"2 WAITIMAGE: 画面の取り込み元がありません", "3 SNAPSHOT: 画面の取り込み元がありません",
                          "5 WAITGONE: 画像ファイル「absent.png」を照合に使えません: ファイルがありません",
                          "6 WAITIMAGE の類似度（秒数の次の語）が 0 から 1 までの数値ではありません（例: WAITIMAGE shown.png 10 0.8）",
                          "7 WAITIMAGE の秒数がないか、0 以上の数値ではありません（例: WAITIMAGE shown.png 10）"}));
    ScreenCheck given;
    given.sourceGiven = true;
    given.templateProblem = [](const QString &path) {
        return path.endsWith("shown.png") ? QStringLiteral("画像として読めません") : QString();
    };
    const MacroCheck withSource = checkMacro(macro, QString(), 0, given);
    QCOMPARE(errors(withSource).value(0), QStringLiteral("2 WAITIMAGE: 画像ファイル「shown.png」を照合に使えません: 画像として読めません"));
    QCOMPARE(errors(withSource).size(), 3);
    // Each wait counts as its whole time-out in the estimates.
    QCOMPARE(withSource.screenWaits, 2);
    QVERIFY(withSource.job && withSource.job->seconds >= 7.0);
}

void TestScreenRun::readingsAndSnapshotsAfterTheLine_data()
{
    QTest::addColumn<QString>("statement");
    QTest::newRow("SNAPSHOT") << "SNAPSHOT shot.png";
    QTest::newRow("READTEXT") << "READTEXT said.txt";
    QTest::newRow("WAITTEXT") << "WAITTEXT ＯＫ 5";
}

void TestScreenRun::readingsAndSnapshotsAfterTheLine()
{
    // The screen cannot show keys that have not reached the handset: what
    // is kept of it comes from a frame taken after the line carried them.
    QFETCH(QString, statement);
    ScreenRun r;
    r.setMacro({"BASEWAIT 0", "STRING abcde", statement});
    double textAt = -1;
    QObject::connect(&r.runner, &MacroRunner::statementStarted, &r.runner, [&](qint64 line, const QString &) {
        if (line == 2)
            textAt = r.waiter.now;
    });
    r.screen.doneAtMs = 0;
    QCOMPARE(r.run(), MacroRunner::Outcome::Finished);
    QCOMPARE(r.screen.waitStarts.size(), 1);
    QVERIFY2(r.screen.waitStarts.first() - textAt >= 5 * 10 * LineTiming::kByteMs - 1,
             qPrintable(QString::number(r.screen.waitStarts.first() - textAt)));
    QCOMPARE(r.screen.saved.size(), statement.startsWith("SNAPSHOT") ? 1 : 0);
}

void TestScreenRun::stopWhileASourceOpens_data()
{
    QTest::addColumn<bool>("atOnce");
    QTest::newRow("stop button, Ctrl-C") << false;
    QTest::newRow("SIGTERM") << true;
}

void TestScreenRun::stopWhileASourceOpens()
{
    // A source that does not answer holds SCREEN, not the run's stop: the
    // run stops as during SLEEP, and the opening is left to end on its own.
    QFETCH(bool, atOnce);
    const QString url = QStringLiteral("http://127.0.0.1:9/silent");
    ScreenRun r;
    r.screen.openTakesMs = kNever;
    r.setMacro({"SCREEN " + url, "UP"});
    double stoppedAt = -1;
    r.waiter.onSleep = [&, start = r.waiter.now](double) {
        if (!r.screen.opening.isEmpty() && stoppedAt < 0 && r.waiter.now - start > 300) {
            stoppedAt = r.waiter.now;
            atOnce ? r.runner.StopAtOnce() : r.runner.RequestStop();
        }
        return false;
    };
    QCOMPARE(r.run(), MacroRunner::Outcome::Stopped);
    QVERIFY(stoppedAt > 0);
    QVERIFY2(r.waiter.now - stoppedAt < 200, qPrintable(QString::number(r.waiter.now - stoppedAt)));
    QCOMPARE(r.screen.abandoned, QStringList{url});
    QVERIFY(r.received().isEmpty());

    // One that answers late is waited for.
    ScreenRun late;
    late.screen.source.clear();
    late.screen.openTakesMs = 2500;
    late.setMacro({"SCREEN " + url, "UP"});
    QCOMPARE(late.run(), MacroRunner::Outcome::Finished);
    QCOMPARE(late.screen.source, url);
    QCOMPARE(late.received(), QStringList{kUp});
}

void TestScreenRun::eventsNameTheFilesLine()
{
    // In every pass, a statement's events name its line of the file, empty
    // lines counted, as the error messages do.
    ScreenRun r;
    r.setMacro({"UP", "", "UP", "READTEXT said.txt", "", "REPEAT"});
    QList<qint64> lines;
    QList<qint64> readAt;
    QObject::connect(&r.runner, &MacroRunner::statementStarted, &r.runner,
                     [&](qint64 line, const QString &) { lines.append(line); });
    QObject::connect(&r.runner, &MacroRunner::screenWaitEnded, &r.runner,
                     [&](const ScreenWaitReport &report) { readAt.append(report.line); });
    QObject::connect(&r.runner, &MacroRunner::passCompleted, &r.runner, [&](qint32 counter) {
        if (counter == 2)
            r.runner.RequestStop();
    });
    QCOMPARE(r.run(), MacroRunner::Outcome::Stopped);
    QCOMPARE(lines, (QList<qint64>{1, 3, 4, 6, 1, 3, 4, 6}));
    QCOMPARE(readAt, (QList<qint64>{4, 4}));
}

QUILLON_TEST_GUILESS_MAIN(TestScreenRun)
#include "test_screenrun.moc"

void TestScreenRun::textWaitsAndReadings()
{
    // A text the screen shows late is waited for from when the line is
    // done; READTEXT keeps what the screen said, a file a pass; a text that
    // never comes stops the run with what was read and the evidence.
    ScreenRun r;
    r.host.counter = QStringLiteral("3");
    r.setMacro({"BASEWAIT 0", "STRING abc", "WAITTEXT OK 5 0,28,320,212", "READTEXT said-{counter}.txt",
                "WAITTEXT 受信しました 2", "UP"});
    r.waiter.onSleep = [&](double) {
        if (r.screen.waitStarts.size() == 1 && r.screen.doneAtMs == kNever)
            r.screen.doneAtMs = r.screen.waitStarts.first() + 1500;
        return false;
    };
    r.screen.neverShown = QStringList{"受信しました"};
    QList<ScreenWaitReport> reports;
    QObject::connect(&r.runner, &MacroRunner::screenWaitEnded, &r.runner,
                     [&](const ScreenWaitReport &report) { reports.append(report); });
    const double start = r.waiter.now;
    QCOMPARE(r.run(), MacroRunner::Outcome::Failed);

    QCOMPARE(r.screen.wantedTexts, (QStringList{"OK", "", "受信しました"}));
    QCOMPARE(r.screen.regions.first(), QRect(0, 28, 320, 212));
    QVERIFY(r.screen.waitStarts.first() - start >= 3 * 10 * LineTiming::kByteMs - 1);
    QCOMPARE(reports.size(), 3);
    QVERIFY(reports[0].found && reports[1].found && !reports[2].found);
    QCOMPARE(reports[1].readText, QStringLiteral("ＯＫ 送信"));
    QFile said(QFileInfo(r.settings.MacroFile).dir().filePath("said-3.txt"));
    QVERIFY(said.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(said.readAll()), QStringLiteral("ＯＫ 送信\n"));

    const QString reason = r.runner.failure().reason;
    QCOMPARE(r.runner.failure().line, qint64(5));
    QVERIFY2(reason.contains(QStringLiteral("2.0 秒待っても、文字列「受信しました」が画面に現れませんでした（最後に読めた文字: 「メニュー」")),
             qPrintable(reason));
    QCOMPARE(r.screen.saved.size(), 1);
    QVERIFY(reason.contains(r.screen.saved.first()));
    QCOMPARE(reports[2].evidence, r.screen.saved.first());
    QCOMPARE(r.received(), packetList(textBytes("abc")));
    QVERIFY2(!reason.contains(QStringLiteral("小さく")), qPrintable(reason));

    // Text too small to be read surely is said to be so.
    ScreenRun small;
    small.screen.glyphPixels = 9;
    small.screen.neverShown = QStringList{"受信しました"};
    small.setMacro({"WAITTEXT 受信しました 1"});
    QCOMPARE(small.run(), MacroRunner::Outcome::Failed);
    QVERIFY2(small.runner.failure().reason.contains(QStringLiteral("画面の文字は高さ約 9 ピクセルと小さく")),
             qPrintable(small.runner.failure().reason));
    // In a camera's pixels, glyphs need to be larger to be read surely.
    ScreenRun far;
    far.screen.glyphPixels = 13;
    far.screen.glyphPixelsInFrame = true;
    far.screen.neverShown = QStringList{"受信しました"};
    far.setMacro({"WAITTEXT 受信しました 1"});
    QCOMPARE(far.run(), MacroRunner::Outcome::Failed);
    QVERIFY2(far.runner.failure().reason.contains(QStringLiteral("カメラの映像では画面の文字は高さ約 13 ピクセルと小さく")),
             qPrintable(far.runner.failure().reason));

    // Without the recogniser's data the run stops before its first packet.
    ScreenRun without;
    without.screen.readerProblem = QStringLiteral("言語データがありません。");
    without.setMacro({"UP", "READTEXT said.txt"});
    QCOMPARE(without.run(), MacroRunner::Outcome::Failed);
    QCOMPARE(without.runner.failure().line, qint64(2));
    QVERIFY(without.runner.failure().reason.contains(QStringLiteral("言語データがありません。")));
    QVERIFY(without.received().isEmpty());
}
