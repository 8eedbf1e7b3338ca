// The keypad's recording: what the keypad and the text entry window sent,
// timed on the line's (fake) clock, written as a macro when the recording
// ends, however it ends; a file that cannot be written is never a silent
// loss.

#include "keypadfixture.h"
#include "support/controlplaces.h"
#include "support/fulldisk.h"
#include "support/tempfiles.h"
#include "support/testshare.h"

#include <QAction>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kStartedDisconnected = QStringLiteral(
    "記録を始めましたが、キーボードは切断中です。\n「切断」のボタンを押して接続するまで、キーは送られず記録もされません。");

} // namespace

class TestKeypadRecording : public QObject {
    Q_OBJECT
private slots:
    void recordsWhatWasSent();
    void endingWritesTheFile_data();
    void endingWritesTheFile();
    void unwritableFile_data();
    void unwritableFile();
    void programEndWhileAskedForAFile();
    void nothingRecorded_data();
    void nothingRecorded();

private:
    QTemporaryDir dir_;
};

void TestKeypadRecording::recordsWhatWasSent()
{
    KeypadFixture f;
    frmKeyboard *kb = f.keyboard();
    QLineEdit *box = f.input()->Text1;
    const QList<QRect> places = controlPlaces(kb);
    const QString path = dir_.filePath(QStringLiteral("sent.txt"));
    f.desktop.dialogAnswers = {path};

    QVERIFY(kb->actions().contains(kb->mnuRecordStart) && kb->actions().contains(kb->mnuRecordStop));
    QCOMPARE(kb->contextMenuPolicy(), Qt::ActionsContextMenu);
    QVERIFY(!kb->mnuRecordStop->isEnabled());
    // The macro file's folder, told to the keypad already loaded.
    f.windows.setRecordFolder(dir_.path());
    kb->mnuRecordStart->trigger();
    QCOMPARE(f.desktop.newFileStarts, QStringList{dir_.filePath(QStringLiteral("記録.txt"))});
    QCOMPARE(kb->windowTitle(), QStringLiteral("QuillonEmu release 25F - 記録中"));
    QVERIFY(!kb->mnuRecordStart->isEnabled() && kb->mnuRecordStop->isEnabled());

    kb->Command1_Click(16); // disconnected: nothing sent, nothing recorded
    QVERIFY(f.connectPort());
    kb->Command1_Click(17);
    f.lineClock.now += 1500;
    kb->Command1_Click(20);
    f.lineClock.now += 100;
    QTest::keyClicks(box, QStringLiteral("a b"));
    QTest::keyClick(box, Qt::Key_Return);
    f.lineClock.now += 3000;
    QTest::keyClick(box, Qt::Key_Down);
    QTest::keyClick(box, Qt::Key_Return); // the empty box presses "■"
    kb->SendStr(QStringLiteral("   "));   // types nothing
    kb->mnuRecordStop->trigger();

    QCOMPARE(macroFileLines(path), (QStringList{"BASEWAIT 0.2", "UP", "SLEEP 1.1", "ENTER", "STRING ab", "SLEEP 2.5",
                                           "DOWN", "ENTER"}));
    QCOMPARE(f.received(), (QStringList{packetOf("UP"), packetOf("ENTER"), "C4 01 02 01 08 02 08 01 00 00",
                                        "C4 01 02 01 08 02 08 02 00 00", packetOf("DOWN"), packetOf("ENTER")}));
    QCOMPARE(kb->windowTitle(), QStringLiteral("QuillonEmu release 25F"));
    QVERIFY(kb->mnuRecordStart->isEnabled() && !kb->mnuRecordStop->isEnabled());
    QCOMPARE(controlPlaces(kb), places);
    // Started while disconnected: the user was told; stopped, where the
    // recording went.
    QCOMPARE(f.messages, (QStringList{kStartedDisconnected, QStringLiteral("記録を「%1」に保存しました。").arg(path)}));

    // The next recording's dialog starts at the last file.
    f.desktop.dialogAnswers = {QString()};
    kb->mnuRecordStart->trigger();
    QCOMPARE(f.desktop.newFileStarts.last(), path);
    QVERIFY(!kb->isRecording());
}

void TestKeypadRecording::endingWritesTheFile_data()
{
    QTest::addColumn<QString>("ending");
    QTest::newRow("keypad closed") << "close";
    QTest::newRow("program end") << "program";
    QTest::newRow("keypad closed in the middle of a text") << "close during text";
}

void TestKeypadRecording::endingWritesTheFile()
{
    QFETCH(QString, ending);
    KeypadFixture f;
    QPointer<frmKeyboard> kb = f.keyboard();
    const QString path = dir_.filePath(QStringLiteral("ending.txt"));
    QFile::remove(path);
    f.desktop.dialogAnswers = {path};
    QVERIFY(f.connectPort());
    kb->mnuRecordStart->trigger();
    kb->Command1_Click(26);

    if (ending == u"close") {
        kb->close();
    } else if (ending == u"program") {
        f.windows.finishRecording();
        QVERIFY(f.windows.closePort());
    } else {
        // A text longer than the line's queue: the close comes while it
        // waits for room, and what went out of it is recorded.
        f.lineClock.onPause = [&] {
            if (kb && kb->isVisible())
                kb->close();
        };
        QTest::keyClicks(f.input()->Text1, QString(200, u'z'));
        QTest::keyClick(f.input()->Text1, Qt::Key_Return);
        f.lineClock.onPause = nullptr;
    }
    const qsizetype typed = f.pty.readAvailable().size() / 10 - 1;
    QStringList expected{"BASEWAIT 0.2", "ONHOOK"};
    if (typed > 0)
        expected.append(QStringLiteral("STRING ") + QString(typed, u'z'));
    QCOMPARE(macroFileLines(path), expected);
    QVERIFY(typed == 0 || typed < 200);
    QCOMPARE(f.messages, QStringList());
}

void TestKeypadRecording::unwritableFile_data()
{
    QTest::addColumn<bool>("goneWhileRecording"); // else unwritable from the start
    QTest::addColumn<bool>("diskFull");           // while the recording is written
    QTest::addColumn<bool>("otherFileChosen");
    QTest::addColumn<QStringList>("messages");

    const QStringList notSaved{"記録ファイル「%1」に書き込めません。", "記録（キーと文字列 1 個）を保存しませんでした。"};
    QTest::newRow("refused at the start") << false << false << false << QStringList{"記録ファイル「%1」に書き込めません。"};
    QTest::newRow("folder gone, another file chosen") << true << false << true << QStringList{"記録ファイル「%1」に書き込めません。", "記録を「"};
    QTest::newRow("folder gone, no other file") << true << false << false << notSaved;
    // The file that was there stays as it was (the file-size limit stands
    // in for the full disk).
    QTest::newRow("disk full, no other file") << false << true << false << notSaved;
}

void TestKeypadRecording::unwritableFile()
{
    QFETCH(bool, goneWhileRecording);
    QFETCH(bool, diskFull);
    QFETCH(bool, otherFileChosen);
    QFETCH(QStringList, messages);
    KeypadFixture f;
    frmKeyboard *kb = f.keyboard();
    const QString folder = dir_.filePath(QStringLiteral("folder"));
    const QString path = folder + QStringLiteral("/rec.txt");
    const QString other = dir_.filePath(QStringLiteral("other.txt"));
    QFile::remove(other);
    QVERIFY(!(goneWhileRecording || diskFull) || QDir().mkpath(folder));
    QFile old(path);
    QVERIFY(!diskFull || (old.open(QIODevice::WriteOnly) && old.write("old") == 3));
    old.close();
    f.desktop.dialogAnswers = {path, otherFileChosen ? other : QString()};
    QVERIFY(f.connectPort());
    kb->mnuRecordStart->trigger();
    QCOMPARE(kb->isRecording(), goneWhileRecording || diskFull);
    if (goneWhileRecording || diskFull) {
        kb->Command1_Click(18);
        if (goneWhileRecording)
            QVERIFY(QDir(folder).removeRecursively());
        {
            const FullDisk full(diskFull);
            kb->mnuRecordStop->trigger();
        }
        QCOMPARE(f.desktop.newFileStarts, (QStringList{"記録.txt", path}));
    }
    if (diskFull) {
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("old"));
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"rec.txt"});
    }
    QCOMPARE(f.messages.size(), messages.size());
    for (qsizetype i = 0; i < messages.size(); ++i)
        QVERIFY2(f.messages[i].startsWith(QString(messages[i]).replace(QStringLiteral("%1"), path)), qPrintable(f.messages[i]));
    QCOMPARE(QFileInfo::exists(other), otherFileChosen);
    if (otherFileChosen)
        QCOMPARE(macroFileLines(other), (QStringList{"BASEWAIT 0.2", "EZ"}));
    QVERIFY(!kb->isRecording());
    QCOMPARE(kb->windowTitle(), QStringLiteral("QuillonEmu release 25F"));
}

void TestKeypadRecording::programEndWhileAskedForAFile()
{
    // The file cannot be written, and while the user is asked for another
    // one the program ends (a signal): the recording goes to the home folder
    // and the user is told where.
    KeypadFixture f;
    frmKeyboard *kb = f.keyboard();
    const QString folder = dir_.filePath(QStringLiteral("gone"));
    const QString home = dir_.filePath(QStringLiteral("home"));
    QVERIFY(QDir().mkpath(folder) && QDir().mkpath(home));
    const QByteArray realHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home));
    const auto restoreHome = qScopeGuard([&] { qputenv("HOME", realHome); });
    f.desktop.dialogAnswers = {folder + QStringLiteral("/rec.txt")};
    QVERIFY(f.connectPort());
    kb->mnuRecordStart->trigger();
    kb->Command1_Click(18);
    QVERIFY(QDir(folder).removeRecursively());
    f.desktop.dialog = [&](const QString &) {
        f.windows.finishRecording(); // the program's end
        return QString();
    };
    kb->mnuRecordStop->trigger();
    const QStringList saved = QDir(home).entryList(QDir::Files);
    QCOMPARE(saved.size(), 1);
    QCOMPARE(macroFileLines(QDir(home).filePath(saved.first())), (QStringList{"BASEWAIT 0.2", "EZ"}));
    QCOMPARE(f.messages.size(), 2);
    QVERIFY2(f.messages[1].contains(QDir(home).filePath(saved.first())), qPrintable(f.messages[1]));
    QVERIFY(!kb->isRecording());
}

void TestKeypadRecording::nothingRecorded_data()
{
    QTest::addColumn<bool>("fileExisted");
    QTest::newRow("over an existing file") << true;
    QTest::newRow("new file") << false;
}

void TestKeypadRecording::nothingRecorded()
{
    // Recorded while disconnected: the user is told at the start, and at
    // 記録終了 that nothing was recorded; no file is written or replaced.
    QFETCH(bool, fileExisted);
    KeypadFixture f;
    frmKeyboard *kb = f.keyboard();
    const QString path = dir_.filePath(QStringLiteral("empty.txt"));
    QFile::remove(path);
    if (fileExisted) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("UP\r\n") == 4);
    }
    f.desktop.dialogAnswers = {path};
    kb->mnuRecordStart->trigger();
    QCOMPARE(f.messages, QStringList{kStartedDisconnected});
    kb->Command1_Click(17); // not sent
    kb->mnuRecordStop->trigger();
    QCOMPARE(f.messages.size(), 2);
    QCOMPARE(f.messages[1], QStringLiteral("記録したキーと文字列はありません（切断中のキーは記録されません）。\n"
                                           "ファイル「%1」には書き込みませんでした。")
                                .arg(path));
    QVERIFY(!kb->isRecording());
    QCOMPARE(QFileInfo::exists(path), fileExisted);
    if (fileExisted)
        QCOMPARE(macroFileLines(path), QStringList{"UP"});

    // Nor when the keypad closes with nothing recorded.
    f.desktop.dialogAnswers = {path};
    kb->mnuRecordStart->trigger();
    QVERIFY(kb->isRecording());
    kb->close();
    QCOMPARE(QFileInfo::exists(path), fileExisted);
    if (fileExisted)
        QCOMPARE(macroFileLines(path), QStringList{"UP"});
}

QUILLON_TEST_MAIN(TestKeypadRecording)
#include "test_keypad_recording.moc"
