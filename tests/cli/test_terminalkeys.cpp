// The terminal keypad's two tables: the bytes terminals send for keys, and
// the handset key each terminal key presses. (However the bytes arrive in
// pieces, the same keys come out: the fuzz target tries every split.)

#include "cli/keypadkeymap.h"
#include "cli/terminalkeys.h"
#include "console/console.h"
#include "support/testshare.h"

#include <QtTest>

namespace {

using Kind = TerminalKey::Kind;

// Keys written compactly: "Up", "F5", "'x'" for a typed character.
QString describe(const TerminalKey &key)
{
    static const char *const kNames[] = {"Text", "Up", "Down", "Left", "Right", "Home", "End", "PageUp", "PageDown",
                                         "Insert", "Delete", "Enter", "Backspace", "Tab", "Escape", "F",
                                         "EndOfInput", "Interrupt", "Unknown"};
    if (key.kind == Kind::Text)
        return u'\'' + key.text + u'\'';
    if (key.kind == Kind::Function)
        return QStringLiteral("F%1").arg(key.number);
    return QString::fromLatin1(kNames[static_cast<int>(key.kind)]);
}

QString decode(const QByteArray &bytes, bool complete, qsizetype *used)
{
    QStringList keys;
    for (const TerminalKey &key : decodeTerminalKeys(bytes, complete, used))
        keys.append(describe(key));
    return keys.join(u' ');
}

} // namespace

class TestTerminalKeys : public QObject {
    Q_OBJECT
private slots:
    void decoding_data();
    void decoding();
    void handsetKeys_data();
    void handsetKeys();
    void keyMapFitsEightyColumns();
};

void TestTerminalKeys::decoding_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("complete"); // the terminal went quiet after them
    QTest::addColumn<QString>("keys");
    QTest::addColumn<int>("left"); // bytes kept for the next call

    QTest::newRow("cursor keys") << QByteArray("\x1b[A\x1b[B\x1b[C\x1b[D") << false << "Up Down Right Left" << 0;
    QTest::newRow("cursor keys, application mode") << QByteArray("\x1bOA\x1bOD") << false << "Up Left" << 0;
    QTest::newRow("with Shift or Ctrl") << QByteArray("\x1b[1;2A\x1b[1;5D\x1b[3;5~") << false << "Up Left Delete" << 0;
    QTest::newRow("xterm F1 to F10")
        << QByteArray("\x1bOP\x1bOQ\x1bOR\x1bOS\x1b[15~\x1b[17~\x1b[18~\x1b[19~\x1b[20~\x1b[21~") << false
        << "F1 F2 F3 F4 F5 F6 F7 F8 F9 F10" << 0;
    QTest::newRow("rxvt F1, Linux console F1 and F5, Shift+F1") << QByteArray("\x1b[11~\x1b[[A\x1b[[E\x1b[1;2P") << false
                                                                 << "F1 F1 F5 F1" << 0;
    QTest::newRow("F11 and F12 send nothing of the handset") << QByteArray("\x1b[23~\x1b[24~") << false << "F11 F12" << 0;
    QTest::newRow("editing keys, two spellings each")
        << QByteArray("\x1b[H\x1b[1~\x1b[F\x1b[4~\x1b[5~\x1b[6~\x1b[2~\x1b[3~\x1b[7~\x1b[8~\x1bOH\x1bOF") << false
        << "Home Home End End PageUp PageDown Insert Delete Home End Home End" << 0;
    QTest::newRow("numeric pad, application mode") << QByteArray("\x1bOp\x1bOy\x1bOj\x1bOm\x1bOM") << false
                                                   << "'0' '9' '*' '-' Enter" << 0;
    QTest::newRow("control keys") << QByteArray("\r\n\t\x7f\x08\x03\x04\x01") << false
                                  << "Enter Enter Tab Backspace Backspace Interrupt EndOfInput Unknown" << 0;
    QTest::newRow("characters, UTF-8") << QByteArray("a#&あ😀") << false << "'a' '#' '&' 'あ' '😀'" << 0;
    QTest::newRow("invalid UTF-8 is no key") << QByteArray("\xff" "a\xe3\x81" "b") << false << "Unknown 'a' Unknown Unknown 'b'" << 0;
    // The conversion drops a byte-order mark: it was a character key of no
    // text (found by the fuzz target).
    QTest::newRow("a byte-order mark is no key") << QByteArray("a\xef\xbb\xbf" "b") << false << "'a' Unknown Unknown Unknown 'b'" << 0;
    QTest::newRow("unknown sequences are whole") << QByteArray("\x1b[Z\x1b[99~\x1b[200~x") << false
                                                  << "Unknown Unknown Unknown 'x'" << 0;
    QTest::newRow("a sequence cut short waits") << QByteArray("a\x1b[1;") << false << "'a'" << 4;
    QTest::newRow("a character cut short waits") << QByteArray("a\xe3\x81") << false << "'a'" << 2;
    // The quiet after an ESC is no reason to give up on a character whose
    // bytes come slowly (over a slow link, say).
    QTest::newRow("a character cut short waits in quiet too") << QByteArray("a\xe3\x81") << true << "'a'" << 2;
    QTest::newRow("a lone ESC waits for quiet") << QByteArray("\x1b") << false << "" << 1;
    QTest::newRow("a lone ESC in quiet is Escape") << QByteArray("\x1b") << true << "Escape" << 0;
    QTest::newRow("ESC pressed twice, then a key") << QByteArray("\x1b\x1b\x1b[A") << false << "Escape Escape Up" << 0;
    QTest::newRow("Alt with a letter") << QByteArray("\x1bx") << false << "Escape 'x'" << 0;
    QTest::newRow("a cut sequence in quiet") << QByteArray("\x1b[") << true << "Escape '['" << 0;
}

void TestTerminalKeys::decoding()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, complete);
    QFETCH(QString, keys);
    QFETCH(int, left);
    qsizetype used = -1;
    QCOMPARE(decode(bytes, complete, &used), keys);
    QCOMPARE(bytes.size() - used, left);
}

void TestTerminalKeys::handsetKeys_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("plain");     // the handset keys, space-separated ("-" for none)
    QTest::addColumn<QString>("ampersand"); // their ampersand forms ("-" for none)

    // (The cursor keys, Enter, Backspace, Delete and F1 to F12 also go
    // through the real program, test_cli_keypad.)
    QTest::newRow("digits, #, * and the pad's minus") << QByteArray("0189#*-") << "0 1 8 9 # * #" << "- - - - - - -";
    QTest::newRow("the text entry window's editing keys")
        << QByteArray("\x1b[F\x1b[6~\x1b[H\x1b[5~\x1b[2~") << "OFFOOK ONHOOK FUNCTION EZ MAIL"
        << "&OFFHOOK &ONHOOK &FUNCTION &EZ &MAIL";
    QTest::newRow("letters, either case") << QByteArray("lcrahimekfnLF") << "L C R ADDRESS CALL INCOMING MAIL EZ FUNCTION OFFOOK ONHOOK L OFFOOK"
                                          << "&L &C &R &ADDRESS &CALL &INCOMING &MAIL &EZ &FUNCTION &OFFHOOK &ONHOOK &L &OFFHOOK";
    QTest::newRow("keys of nothing") << QByteArray("bxz+あ\t\x1b") << "- - - - - - -" << "- - - - - - -";
}

void TestTerminalKeys::handsetKeys()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, plain);
    QFETCH(QString, ampersand);
    qsizetype used = 0;
    QStringList plainKeys;
    QStringList ampersandForms;
    for (const TerminalKey &key : decodeTerminalKeys(bytes, true, &used)) {
        const QString name = handsetKeyFor(key);
        plainKeys.append(name.isEmpty() ? QStringLiteral("-") : name);
        const QString form = ampersandFormOf(name);
        ampersandForms.append(form.isEmpty() ? QStringLiteral("-") : form);
    }
    QCOMPARE(plainKeys.join(u' '), plain);
    QCOMPARE(ampersandForms.join(u' '), ampersand);
}

void TestTerminalKeys::keyMapFitsEightyColumns()
{
    for (const QString &line : keyMapLines())
        QVERIFY2(Console::fitWidth(line, 80) == line, qPrintable(line));
}

QUILLON_TEST_GUILESS_MAIN(TestTerminalKeys)
#include "test_terminalkeys.moc"
