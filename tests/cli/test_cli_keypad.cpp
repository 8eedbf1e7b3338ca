// quillonemu-cli keypad: the real program on a terminal of the test's own
// (a pseudo-terminal whose master the test types into and reads the screen
// from), sending to a pseudo-terminal bound to port 1. Its recording is
// checked and replayed by the real check and run.

#include "support/fulldisk.h"
#include "support/packets.h"
#include "support/programprocess.h"
#include "support/pseudoterminal.h"
#include "support/tempfiles.h"
#include "support/testshare.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/ioctl.h>

namespace {

// The terminal settings a program in raw mode changes.
QString modeOf(const termios &t)
{
    return QStringLiteral("iflag %1 lflag %2 min %3").arg(t.c_iflag, 0, 8).arg(t.c_lflag, 0, 8).arg(t.c_cc[VMIN]);
}

// The keypad on a terminal of its own, sending to port 1.
struct Session {
    PseudoTerminal handset;
    PseudoTerminal terminal{PseudoTerminal::Mode::Cooked};
    QTemporaryDir dir;
    QString record = dir.filePath(QStringLiteral("recorded.txt"));
    QString before = modeOf(terminal.settings());
    std::unique_ptr<CliProcess> keypad;
    QByteArray screen;

    Session() { handset.bindPort(1); }

    // Starts `quillonemu-cli keypad ARGUMENTS`, on the terminal or not;
    // ready for FullDisk::fillFor().
    void start(const QStringList &arguments, bool onTerminal = true)
    {
        keypad = std::make_unique<CliProcess>(QStringList{"keypad"} + arguments,
                                              [tty = terminal.slavePath(), onTerminal](QProcess &p) {
                                                  p.setChildProcessModifier(&FullDisk::ignoreSignalInChild);
                                                  if (!onTerminal)
                                                      return;
                                                  p.setStandardInputFile(tty);
                                                  p.setStandardOutputFile(tty);
                                              });
    }
    // Waits until the terminal shows `text`.
    bool shows(const QString &text, int timeoutMs = 10'000)
    {
        return QTest::qWaitFor(
            [&] {
                screen += terminal.readReady();
                return QString::fromUtf8(screen).contains(text);
            },
            timeoutMs);
    }
    QString screenText() const { return QString::fromUtf8(screen); }
};

} // namespace

class TestCliKeypad : public QObject {
    Q_OBJECT
private slots:
    void keysSendAndRecordAndReplay_data();
    void keysSendAndRecordAndReplay();
    void endsInOrder_data();
    void endsInOrder();
    void aLongText_data();
    void aLongText();
    void recordingUnwritableAtTheEnd_data();
    void recordingUnwritableAtTheEnd();
    void aLongPasteInThePrompt();
    void aCharacterWhoseBytesComeSlowly();
    void refuses_data();
    void refuses();
};

void TestCliKeypad::keysSendAndRecordAndReplay_data()
{
    QTest::addColumn<QByteArray>("typed"); // then Ctrl-D
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QStringList>("recorded");
    QTest::addColumn<int>("columns"); // the terminal's width

    // Keys only: what is sent and recorded are the keys named.
    const auto keysRow = [](const char *name, const QByteArray &typed, const QString &names) {
        QTest::newRow(name) << typed << keyBytes(names) << QStringList{"BASEWAIT 0.2"} + names.split(u' ') << 80;
    };
    keysRow("cursor and editing keys", "\x1b[A\x1b[B\x1b[D\x1b[C\r\x7f\x1b[3~\x1b[H\x1b[F\x1b[5~\x1b[6~\x1b[2~",
            "UP DOWN LEFT RIGHT ENTER CLEAR CLEAR FUNCTION OFFOOK EZ ONHOOK MAIL");
    keysRow("digits, function keys, letters, unassigned keys", "0#*-\x1bOP\x1b[21~\x1b[23~lcrahimekfnqz",
            "0 # * # F1 F10 L C R ADDRESS CALL INCOMING MAIL EZ FUNCTION OFFOOK ONHOOK");
    keysRow("ampersand forms", "&\x1b[A&f&1&\x1bx&\x1b[21~", "&UP &OFFHOOK &F10");
    QTest::newRow("the text prompt")
        << QByteArray("\tこんにちは ab<d\x7f" "c\r\t\r\txyz\x1bq\t\xef\xbc\xa1\r")
        << textBytes("こんにちはabc") + keyBytes("ENTER") + textBytes("Ａ")
        << QStringList{"BASEWAIT 0.2", "STRING こんにちはabc", "ENTER", "STRING Ａ"} << 80;
    // Narrower than the prompt's own start: the text is shown cut, never
    // waited for.
    QTest::newRow("the text prompt on a narrow terminal")
        << QByteArray("\tabc\r") << textBytes("abc") << QStringList{"BASEWAIT 0.2", "STRING abc"} << 12;
}

void TestCliKeypad::keysSendAndRecordAndReplay()
{
    QFETCH(QByteArray, typed);
    QFETCH(QByteArray, sent);
    QFETCH(QStringList, recorded);
    QFETCH(int, columns);
    Session s;
    const winsize size{static_cast<unsigned short>(24), static_cast<unsigned short>(columns), 0, 0};
    QCOMPARE(::ioctl(s.terminal.masterFd(), TIOCSWINSZ, &size), 0);
    s.start({"--port", "1", "--record", s.record});
    // The key map's last line, shown once the terminal reads key by key.
    QVERIFY2(s.shows(QStringLiteral("Ctrl-D・Ctrl-C: 終了")), qPrintable(s.screenText() + s.keypad->err()));
    QVERIFY(s.terminal.write(typed + "\x04"));
    QVERIFY2(s.keypad->waitForEnd(30'000), qPrintable(s.screenText()));
    QCOMPARE(s.keypad->exitCode(), 0);
    QCOMPARE(s.handset.read(sent.size()).toHex(' '), sent.toHex(' '));
    QCOMPARE(s.handset.readAvailable(50), QByteArray());
    QCOMPARE(macroFileLines(s.record, false), recorded);
    QVERIFY2(s.shows(QStringLiteral("%1 パケットを送りました").arg(sent.size() / 10)), qPrintable(s.screenText()));

    CliProcess check({"check", s.record});
    QVERIFY(check.waitForEnd());
    QVERIFY2(check.exitCode() < 2 && !check.out().contains(QStringLiteral("error:")), qPrintable(check.out()));
    PseudoTerminal replayed;
    replayed.bindPort(2);
    CliProcess run({"run", s.record, "--port", "2"});
    QVERIFY(run.waitForEnd(30'000));
    QCOMPARE(run.exitCode(), 0);
    QCOMPARE(replayed.read(sent.size()).toHex(' '), sent.toHex(' '));
}

void TestCliKeypad::endsInOrder_data()
{
    QTest::addColumn<QByteArray>("typed"); // nothing: a signal
    QTest::addColumn<int>("signalNumber");

    QTest::newRow("Ctrl-D") << QByteArray("\x04") << 0;
    QTest::newRow("Ctrl-C") << QByteArray("\x03") << 0;
    QTest::newRow("Ctrl-C in the prompt") << QByteArray("\tunsent\x03") << 0;
    QTest::newRow("SIGTERM") << QByteArray() << SIGTERM;
    QTest::newRow("SIGHUP") << QByteArray() << SIGHUP;
    QTest::newRow("SIGINT") << QByteArray() << SIGINT;
}

void TestCliKeypad::endsInOrder()
{
    QFETCH(QByteArray, typed);
    QFETCH(int, signalNumber);
    Session s;
    s.start({"--port", "1", "--record", s.record, "--base-wait", "0.5"});
    QVERIFY(s.shows(QStringLiteral("キーを押してください")));
    QVERIFY(modeOf(s.terminal.settings()) != s.before);
    QVERIFY(s.terminal.write("\x1b[A\tab\r"));
    const QByteArray sent = keyBytes("UP") + textBytes("ab");
    QCOMPARE(s.handset.read(sent.size()).toHex(' '), sent.toHex(' '));
    if (signalNumber != 0)
        s.keypad->sendSignal(signalNumber);
    else
        QVERIFY(s.terminal.write(typed));
    QVERIFY(s.keypad->waitForEnd());
    QCOMPARE(s.keypad->exitCode(), 0);
    QCOMPARE(modeOf(s.terminal.settings()), s.before);
    QCOMPARE(macroFileLines(s.record, false), (QStringList{"BASEWAIT 0.5", "UP", "STRING ab"}));
    QVERIFY(s.shows(QStringLiteral("キーと文字列 2 個を書きました")));
    QCOMPARE(s.handset.readAvailable(50), QByteArray());
}

void TestCliKeypad::aLongText_data()
{
    QTest::addColumn<QByteArray>("end");
    QTest::addColumn<bool>("whole");

    // Ctrl-D and the keys before it wait for the text; Ctrl-C cuts it
    // between two characters.
    QTest::newRow("keys and Ctrl-D wait for it") << QByteArray("\x1b[A\x04") << true;
    QTest::newRow("Ctrl-C cuts it") << QByteArray("\x03") << false;
}

void TestCliKeypad::aLongText()
{
    QFETCH(QByteArray, end);
    QFETCH(bool, whole);
    // More than the bounded queue holds, so the text waits for the line.
    const QString longText(56, u'x');
    Session s;
    s.start({"--port", "1", "--record", s.record});
    QVERIFY(s.shows(QStringLiteral("キーを押してください")));
    QVERIFY(s.terminal.write("\t" + longText.toLatin1() + "\r"));
    QVERIFY(s.shows(QStringLiteral("送信中: 文字列")));
    QVERIFY(s.terminal.write(end));
    QVERIFY(s.keypad->waitForEnd(30'000));
    QCOMPARE(s.keypad->exitCode(), 0);
    const QByteArray received = s.handset.readAvailable(100);
    const QStringList recorded = macroFileLines(s.record, false);
    if (whole) {
        QCOMPARE(received.toHex(' '), (textBytes(longText) + keyBytes("UP")).toHex(' '));
        QCOMPARE(recorded, (QStringList{"BASEWAIT 0.2", "STRING " + longText, "UP"}));
    } else {
        // What went out is what was recorded.
        QVERIFY2(received.size() < textBytes(longText).size(), qPrintable(QString::number(received.size())));
        QCOMPARE(recorded, (QStringList{"BASEWAIT 0.2", "STRING " + QString(received.size() / 10, u'x')}));
    }
}

void TestCliKeypad::recordingUnwritableAtTheEnd_data()
{
    QTest::addColumn<bool>("diskFull"); // else the folder goes

    QTest::newRow("folder gone") << false;
    // (The file-size limit stands in for the full disk.)
    QTest::newRow("disk full") << true;
}

void TestCliKeypad::recordingUnwritableAtTheEnd()
{
    // The recording cannot be written when the session ends: the message
    // names the file, the recording is shown, not lost, and a file that was
    // there stays as it was.
    QFETCH(bool, diskFull);
    Session s;
    const QString folder = s.dir.filePath(QStringLiteral("folder"));
    QVERIFY(QDir().mkpath(folder));
    const QString record = folder + QStringLiteral("/recorded.txt");
    QFile old(record);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();
    s.start({"--port", "1", "--record", record});
    QVERIFY(s.shows(QStringLiteral("キーを押してください")));
    if (diskFull)
        QVERIFY(FullDisk::fillFor(s.keypad->processId()));
    else
        QVERIFY(QDir(folder).removeRecursively());
    QVERIFY(s.terminal.write("m\x04"));
    QVERIFY(s.keypad->waitForEnd());
    QCOMPARE(s.keypad->exitCode(), 1);
    QVERIFY2(s.keypad->err().contains(QStringLiteral("記録ファイル「%1」に書き込めません").arg(record)), qPrintable(s.keypad->err()));
    QVERIFY2(s.shows(QStringLiteral("BASEWAIT 0.2\r\nMAIL")), qPrintable(s.screenText()));
    QVERIFY2(!s.screenText().contains(QStringLiteral("を書きました")), qPrintable(s.screenText()));
    QCOMPARE(s.handset.read(10), keyBytes("MAIL"));
    if (diskFull) {
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("old"));
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"recorded.txt"});
    }
}

void TestCliKeypad::aLongPasteInThePrompt()
{
    // 10,000 characters pasted after Tab: the prompt shows their end, the
    // control character among them by its name, long before the bound (a
    // prompt that measured the whole text for every character took minutes).
    Session s;
    const winsize size{static_cast<unsigned short>(24), static_cast<unsigned short>(80), 0, 0};
    QCOMPARE(::ioctl(s.terminal.masterFd(), TIOCSWINSZ, &size), 0);
    s.start({"--port", "1"});
    QVERIFY(s.shows(QStringLiteral("キーを押してください")));
    const QString end = QStringLiteral("あい\u009B2J0123");
    const QByteArray paste = "\t" + QByteArray(10'000 - end.size(), 'x') + end.toUtf8();
    // The terminal takes a paste this long a part at a time; what the
    // keypad shows meanwhile is read so that it never waits for the screen.
    qsizetype written = 0;
    QElapsedTimer pasting;
    pasting.start();
    QVERIFY(QTest::qWaitFor(
        [&] {
            const ssize_t n = ::write(s.terminal.masterFd(), paste.constData() + written, size_t(paste.size() - written));
            written += std::max<ssize_t>(n, 0);
            s.screen += s.terminal.readReady();
            return written == paste.size();
        },
        10'000));
    // 79 columns: "文字列> " takes 8, "…" one, the end of the text the rest.
    const QString shown = QStringLiteral("\r文字列> …") + QString(52, u'x') + QStringLiteral("あい<U+009B>2J0123\x1b[K");
    QVERIFY2(s.shows(shown, 10'000), qPrintable(s.screenText().right(300)));
    qInfo("10,000 characters pasted and shown in %lld ms", pasting.elapsed());
    QVERIFY(s.terminal.write("\x1b"));
    QVERIFY(s.shows(QStringLiteral("文字列の入力を取り消しました")));
    QVERIFY(s.terminal.write("\x04"));
    QVERIFY(s.keypad->waitForEnd());
    QCOMPARE(s.keypad->exitCode(), 0);
    QCOMPARE(s.handset.readAvailable(50), QByteArray());
}

void TestCliKeypad::refuses_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("onTerminal");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");

    QTest::newRow("not a terminal") << QStringList{"--port", "1"} << false << 2 << "標準入力が端末ではありません";
    QTest::newRow("no port") << QStringList{} << true << 2 << "--port でポート番号を指定してください";
    QTest::newRow("port no number") << QStringList{"--port", "x"} << true << 2 << "--port の値「x」は整数ではありません";
    QTest::newRow("base wait without recording") << QStringList{"--port", "1", "--base-wait", "1"} << true << 2
                                                 << "--base-wait は --record と一緒に指定してください";
    QTest::newRow("base wait no number") << QStringList{"--port", "1", "--record", "r.txt", "--base-wait", "-1"} << true
                                         << 2 << "--base-wait の値「-1」は 0〜60 の秒数ではありません";
    QTest::newRow("port without device") << QStringList{"--port", "7"} << true << 1 << "ポート 7 (/nonexistent/tty7) を開けません";
    QTest::newRow("record file in no folder") << QStringList{"--port", "1", "--record", "/nonexistent/r.txt"} << true << 1
                                              << "記録ファイル「/nonexistent/r.txt」に書き込めません";
}

void TestCliKeypad::refuses()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, onTerminal);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    qputenv("QUILLONEMU_COM7", "/nonexistent/tty7");
    Session s;
    s.start(arguments, onTerminal);
    QVERIFY(s.keypad->waitForEnd());
    QCOMPARE(s.keypad->exitCode(), exitCode);
    QVERIFY2(s.keypad->err().contains(error), qPrintable(s.keypad->err()));
    QCOMPARE(modeOf(s.terminal.settings()), s.before);
    QCOMPARE(s.handset.readAvailable(50), QByteArray());
}

void TestCliKeypad::aCharacterWhoseBytesComeSlowly()
{
    // Over a slow link the bytes of one UTF-8 character can come further
    // apart than the time that makes a lone ESC the Escape key: the
    // character still arrives whole.
    Session s;
    s.start({"--port", "1"});
    QVERIFY(s.shows(QStringLiteral("キーを押してください")));
    QVERIFY(s.terminal.write("\t\xe3\x81"));
    QVERIFY(s.shows(QStringLiteral("文字列> ")));
    // The gap itself is what is tested: four times the ESC time-out.
    QTest::qWait(200);
    QVERIFY(s.terminal.write("\x82\r"));
    QCOMPARE(s.handset.read(10).toHex(' '), textBytes(QStringLiteral("あ")).toHex(' '));
    QVERIFY(s.terminal.write("\x04"));
    QVERIFY(s.keypad->waitForEnd());
    QCOMPARE(s.keypad->exitCode(), 0);
}

QUILLON_TEST_GUILESS_MAIN(TestCliKeypad)
#include "test_cli_keypad.moc"
