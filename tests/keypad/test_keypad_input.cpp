// The text entry window: Enter types the box's text through the keypad, and
// cursor and numeric-pad keys press keypad buttons while the box still edits.

#include "keypadfixture.h"

#include <QLineEdit>
#include <QtTest>

Q_DECLARE_METATYPE(Qt::Key)

namespace {

const Qt::KeyboardModifiers kPad = Qt::KeypadModifier;

} // namespace

class TestKeypadInput : public QObject {
    Q_OBJECT
private slots:
    void keyDownPressesButton_data();
    void keyDownPressesButton();
    void enter_data();
    void enter();
};

void TestKeypadInput::keyDownPressesButton_data()
{
    QTest::addColumn<Qt::Key>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<QString>("sent"); // the key name, or empty

    const Qt::KeyboardModifiers none;
    QTest::newRow("Up") << Qt::Key_Up << none << "UP";
    QTest::newRow("Shift+Up") << Qt::Key_Up << Qt::KeyboardModifiers(Qt::ShiftModifier) << "UP";
    QTest::newRow("pad Up, NumLock off") << Qt::Key_Up << kPad << "UP";
    QTest::newRow("Down") << Qt::Key_Down << none << "DOWN";
    QTest::newRow("Left") << Qt::Key_Left << none << "LEFT";
    QTest::newRow("Ctrl+Right") << Qt::Key_Right << Qt::KeyboardModifiers(Qt::ControlModifier) << "RIGHT";
    for (int digit = 0; digit <= 9; ++digit)
        QTest::addRow("pad %d", digit) << Qt::Key(Qt::Key_0 + digit) << kPad << QString::number(digit);
    QTest::newRow("pad *") << Qt::Key_Asterisk << kPad << "*";
    QTest::newRow("pad - is #") << Qt::Key_Minus << kPad << "#";
    QTest::newRow("End") << Qt::Key_End << none << "OFFOOK";
    QTest::newRow("Page Down") << Qt::Key_PageDown << none << "ONHOOK";
    QTest::newRow("Alt+Home") << Qt::Key_Home << Qt::KeyboardModifiers(Qt::AltModifier) << "FUNCTION";
    QTest::newRow("Page Up") << Qt::Key_PageUp << none << "EZ";
    QTest::newRow("Insert") << Qt::Key_Insert << none << "MAIL";
    QTest::newRow("Backspace") << Qt::Key_Backspace << none << "CLEAR";
    QTest::newRow("Delete") << Qt::Key_Delete << none << "CLEAR";
    QTest::newRow("pad Delete, NumLock off") << Qt::Key_Delete << kPad << "CLEAR";
    QTest::newRow("main 1") << Qt::Key_1 << none << "";
    QTest::newRow("letter") << Qt::Key_L << none << "";
    QTest::newRow("main *") << Qt::Key_Asterisk << none << "";
    QTest::newRow("main -") << Qt::Key_Minus << none << "";
    QTest::newRow("pad +") << Qt::Key_Plus << kPad << "";
}

void TestKeypadInput::keyDownPressesButton()
{
    QFETCH(Qt::Key, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(QString, sent);
    KeypadFixture f;
    QVERIFY(f.connectPort());
    // The key still edits the box as it edits a box of its own.
    QLineEdit plain;
    for (QLineEdit *box : {f.input()->Text1, &plain}) {
        box->setText(QStringLiteral("abc"));
        box->setCursorPosition(2);
        QTest::keyClick(box, key, modifiers);
    }
    QCOMPARE(f.received(), sent.isEmpty() ? QStringList() : QStringList{packetOf(sent)});
    QCOMPARE(f.input()->Text1->text(), plain.text());
    QCOMPARE(f.input()->Text1->cursorPosition(), plain.cursorPosition());
}

void TestKeypadInput::enter_data()
{
    QTest::addColumn<Qt::Key>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QStringList>("sent");

    const QString enter = packetOf("ENTER");
    QTest::newRow("empty") << Qt::Key_Return << "" << true << QStringList{enter};
    QTest::newRow("empty, pad Enter") << Qt::Key_Enter << "" << true << QStringList{enter};
    QTest::newRow("text") << Qt::Key_Return << "Ab1" << true
                          << QStringList{"C4 01 02 01 08 02 06 00 00 00", "C4 01 02 01 08 02 08 02 00 00",
                                         "C4 01 02 01 08 02 05 00 00 00"};
    QTest::newRow("text, disconnected") << Qt::Key_Return << "Ab1" << false << QStringList();
}

void TestKeypadInput::enter()
{
    QFETCH(Qt::Key, key);
    QFETCH(QString, text);
    QFETCH(bool, connected);
    QFETCH(QStringList, sent);
    KeypadFixture f;
    if (connected)
        QVERIFY(f.connectPort());
    f.input()->Text1->setText(text);
    QTest::keyClick(f.input()->Text1, key, key == Qt::Key_Enter ? kPad : Qt::KeyboardModifiers());
    QCOMPARE(f.input()->Text1->text(), QString());
    if (!connected)
        QVERIFY(f.connectPort());
    QCOMPARE(f.received(), sent);
}

QTEST_MAIN(TestKeypadInput)
#include "test_keypad_input.moc"
