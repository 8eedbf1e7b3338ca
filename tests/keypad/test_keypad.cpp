// The on-screen keypad against a pseudo-terminal; the text entry window,
// whose Enter types the box's text through the keypad and whose cursor and
// numeric-pad keys press keypad buttons while the box still edits; and how
// the two load, hide and unload as the user opens and closes them.

#include "keypadfixture.h"
#include "support/testshare.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QtTest>
#include <climits>

Q_DECLARE_METATYPE(Qt::Key)

namespace {

const Qt::KeyboardModifiers kPad = Qt::KeypadModifier;

} // namespace

class TestKeypad : public QObject {
    Q_OBJECT
private slots:
    void buttonsSendTheirKey();
    void indexesBeyondTheButtonsDoNothing();
    void reconnectTakesTheTextTypedMeanwhile();
    void failedConnectIsReported();
    void vanishedDeviceIsReported();
    void portBoxListIsFixed();
    void windowShape();
    void tabOrderFollowsTheIndex();
    void inputKeysPressButtons_data();
    void inputKeysPressButtons();
    void inputEnter_data();
    void inputEnter();

    void windowsLoadHideAndUnload();
    void closedInTheMiddleOfAText_data();
    void closedInTheMiddleOfAText();
};

void TestKeypad::buttonsSendTheirKey()
{
    const QStringList keys = {"F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10",
                              "L", "C", "R", "ADDRESS", "CALL", "INCOMING", "MAIL", "UP", "EZ", "LEFT",
                              "ENTER", "RIGHT", "FUNCTION", "DOWN", "OFFOOK", "CLEAR", "ONHOOK", "1", "2", "3",
                              "4", "5", "6", "7", "8", "9", "*", "0", "#"};
    KeypadFixture f;
    QVERIFY(f.connectPort());
    QStringList expected;
    for (int i = 0; i < 39; ++i) {
        QTest::mouseClick(f.keyboard()->Command1[i], Qt::LeftButton);
        expected.append(packetOf(keys[i]));
    }
    QCOMPARE(f.received(), expected);
}

void TestKeypad::indexesBeyondTheButtonsDoNothing()
{
    // Connected or not; and nothing is sent. (A click or a text while
    // disconnected: the recording tests and the text entry window's Enter.)
    KeypadFixture f;
    for (const bool connected : {false, true}) {
        if (connected)
            QVERIFY(f.connectPort());
        const QString caption = f.connectCaption();
        for (const int index : {-1, 40, INT_MIN, INT_MAX})
            f.keyboard()->Command1_Click(index);
        QCOMPARE(f.connectCaption(), caption);
        QCOMPARE(f.keyboard()->MSComm1.isOpen(), connected);
    }
    QCOMPARE(f.received(), QStringList());
    QCOMPARE(f.messages, QStringList());
}

void TestKeypad::reconnectTakesTheTextTypedMeanwhile()
{
    KeypadFixture f;
    PseudoTerminal second;
    second.bindPort(42);
    frmKeyboard *kb = f.keyboard();

    QVERIFY(f.connectPort());
    // Typed while connected: the open port stays where it is.
    kb->cmbCommPort->lineEdit()->selectAll();
    QTest::keyClicks(kb->cmbCommPort->lineEdit(), QStringLiteral("42"));
    kb->Command1_Click(17);
    QCOMPARE(f.received(), QStringList{packetOf("UP")});

    kb->Command1_Click(39);
    QCOMPARE(f.connectCaption(), QStringLiteral("切断"));
    QVERIFY(!kb->MSComm1.isOpen());
    QVERIFY(f.connectPort());
    kb->Command1_Click(23);
    QCOMPARE(second.read(10), QByteArray::fromHex("C4010203000001020000"));
    QCOMPARE(f.messages, QStringList());
}

void TestKeypad::failedConnectIsReported()
{
    qputenv("QUILLONEMU_COM43", "/nonexistent/quillon-tty");
    KeypadFixture f(QStringLiteral("43"));
    f.keyboard()->Command1_Click(39);
    QCOMPARE(f.connectCaption(), QStringLiteral("切断"));
    QVERIFY(!f.keyboard()->MSComm1.isOpen());
    QCOMPARE(f.messages.size(), 1);
    for (const QString name : {"43", "/nonexistent/quillon-tty"})
        QVERIFY2(f.messages.first().contains(name), qPrintable(f.messages.first()));
}

void TestKeypad::vanishedDeviceIsReported()
{
    KeypadFixture f;
    QVERIFY(f.connectPort());
    const QString device = f.pty.slavePath();
    f.pty.closeMaster();
    // The operating system may take a write or two before it refuses.
    for (int i = 0; i < 20 && f.messages.isEmpty(); ++i) {
        f.keyboard()->Command1_Click(20);
        QCoreApplication::processEvents();
    }
    QTRY_COMPARE(f.messages.size(), 1);
    QVERIFY2(f.messages.first().contains(device), qPrintable(f.messages.first()));
    QCOMPARE(f.connectCaption(), QStringLiteral("切断"));
    QVERIFY(!f.keyboard()->MSComm1.isOpen());
}

void TestKeypad::portBoxListIsFixed()
{
    // The main window's port text is taken as it is; typing a port and
    // Enter adds nothing to the list.
    KeypadFixture f{QString()};
    QComboBox *box = f.keyboard()->cmbCommPort;
    QCOMPARE(box->currentText(), QString());
    QTest::keyClicks(box->lineEdit(), QStringLiteral("17"));
    QTest::keyClick(box->lineEdit(), Qt::Key_Return);
    QCOMPARE(box->currentText(), QStringLiteral("17"));
    QCOMPARE(box->count(), 16);
}

void TestKeypad::windowShape()
{
    // (Their fixed sizes are seen as the window manager sees them, test_desktop.)
    KeypadFixture f;
    QVERIFY(!f.keyboard()->windowIcon().isNull() && !f.input()->windowIcon().isNull());
    // Every control lies inside the window and no two buttons overlap.
    for (QWidget *child : f.keyboard()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        QVERIFY2(f.keyboard()->rect().contains(child->geometry()), qPrintable(child->objectName()));
    const QList<QPushButton *> &buttons = f.keyboard()->Command1;
    for (int i = 0; i < buttons.size(); ++i) {
        QVERIFY(!buttons[i]->text().contains(u'&'));
        for (int j = i + 1; j < buttons.size(); ++j)
            QVERIFY2(!buttons[i]->geometry().intersects(buttons[j]->geometry()),
                     qPrintable(QStringLiteral("%1 and %2").arg(i).arg(j)));
    }
}

void TestKeypad::tabOrderFollowsTheIndex()
{
    KeypadFixture f;
    frmKeyboard *kb = f.keyboard();
    kb->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(kb));
    kb->Command1[0]->setFocus();
    for (int i = 1; i < 40; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), kb->Command1[i]);
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QVERIFY(kb->cmbCommPort->hasFocus());
}

void TestKeypad::inputKeysPressButtons_data()
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

void TestKeypad::inputKeysPressButtons()
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

void TestKeypad::inputEnter_data()
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

void TestKeypad::inputEnter()
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

void TestKeypad::windowsLoadHideAndUnload()
{
    KeypadFixture f;
    QPointer<frmKeyboard> kb = f.keyboard();
    QPointer<frmInput> input = f.input();
    input->Text1->setText(QString(40000, u'a')); // no length limit
    QCOMPARE(input->Text1->text().size(), 40000);

    // Shown again while loaded: no load runs.
    QVERIFY(f.connectPort());
    kb->cmbCommPort->setEditText(QStringLiteral("5"));
    f.windows.showKeyboard(QStringLiteral("X"), QStringLiteral("Y"), QStringLiteral("9"));
    QCOMPARE(f.keyboard(), kb.data());
    QCOMPARE(f.input(), input.data());
    QCOMPARE(kb->windowTitle(), QStringLiteral("QuillonEmu release 25F"));
    QCOMPARE(kb->cmbCommPort->currentText(), QStringLiteral("5"));
    QCOMPARE(f.connectCaption(), QStringLiteral("接続中"));

    // Closing the keypad unloads it; every byte sent before the close
    // reaches the handset.
    input->move(40, 500);
    input->Text1->setText(QStringLiteral("kept"));
    kb->SendStr(QString(200, u'A'));
    kb->close();
    QVERIFY(!kb->MSComm1.isOpen());
    QCOMPARE(f.pty.read(2000), QByteArray::fromHex("C4010201080206000000").repeated(200));
    QCOMPARE(f.keyboard(), nullptr);
    QVERIFY(!input->isVisible());
    QTRY_VERIFY(kb.isNull());

    // The next load starts afresh and brings back the same text entry
    // window where it was, with its text.
    f.windows.showKeyboard(QStringLiteral("QuillonEmu"), QStringLiteral("release 25F"), QStringLiteral("12"));
    kb = f.keyboard();
    QVERIFY(kb->isVisible());
    QCOMPARE(f.connectCaption(), QStringLiteral("切断"));
    QCOMPARE(kb->cmbCommPort->currentText(), QStringLiteral("12"));
    QCOMPARE(f.input(), input.data());
    QVERIFY(input->isVisible());
    QCOMPARE(input->pos(), QPoint(40, 500));
    QCOMPARE(input->Text1->text(), QStringLiteral("kept"));
    QCOMPARE(input->keyboard(), kb.data());

    // Closing the text entry window hides the keypad, still connected; it
    // shows again without the text entry window.
    kb->cmbCommPort->setEditText(QString::number(KeypadFixture::kPort));
    QVERIFY(f.connectPort());
    input->Text1->setText(QStringLiteral("lost"));
    input->close();
    QCOMPARE(f.input(), nullptr);
    QVERIFY(!kb->isVisible());
    QTRY_VERIFY(input.isNull());
    kb->Command1_Click(17);
    QCOMPARE(f.received(), QStringList{packetOf("UP")});
    f.windows.showKeyboard(QStringLiteral("X"), QStringLiteral("Y"), QStringLiteral("9"));
    QCOMPARE(f.keyboard(), kb.data());
    QVERIFY(kb->isVisible());
    QCOMPARE(f.connectCaption(), QStringLiteral("接続中"));
    QCOMPARE(f.input(), nullptr);

    // The keypad's next load brings a new, empty text entry window.
    kb->close();
    f.windows.showKeyboard(QStringLiteral("QuillonEmu"), QStringLiteral("release 25F"), QStringLiteral("1"));
    QVERIFY(f.input() != nullptr);
    QTRY_VERIFY(f.input()->isVisible());
    QCOMPARE(f.input()->Text1->text(), QString());
    QCOMPARE(f.input()->keyboard(), f.keyboard());
}

void TestKeypad::closedInTheMiddleOfAText_data()
{
    QTest::addColumn<bool>("closeKeypad"); // else the text entry window
    QTest::newRow("keypad closed") << true;
    QTest::newRow("text entry window closed") << false;
}

void TestKeypad::closedInTheMiddleOfAText()
{
    // A text longer than the line's queue waits for room, and a window close
    // is seen meanwhile: the text ends between two packets, and neither
    // window is deleted while its handler still runs.
    QFETCH(bool, closeKeypad);
    KeypadFixture f;
    QVERIFY(f.connectPort());
    QPointer<frmKeyboard> kb = f.keyboard();
    QPointer<frmInput> input = f.input();
    f.lineClock.onPause = [&] {
        if (closeKeypad && kb && kb->isVisible())
            kb->close();
        if (!closeKeypad && input && input->isVisible())
            input->close();
    };
    input->Text1->setText(QString(200, u'A'));
    QTest::keyClick(input->Text1, Qt::Key_Return);
    f.lineClock.onPause = nullptr;

    const QByteArray bytes = f.pty.readAvailable();
    QCOMPARE(bytes, QByteArray::fromHex("C4010201080206000000").repeated(bytes.size() / 10));
    if (closeKeypad) {
        QVERIFY2(bytes.size() >= 500 && bytes.size() < 2000, qPrintable(QString::number(bytes.size())));
        QVERIFY(!kb->MSComm1.isOpen());
        QTRY_VERIFY(kb.isNull());
        QCOMPARE(input->Text1->text(), QString()); // sent or not, the text is gone from the box
    } else {
        // The keypad only hides, its port still open, and takes the rest of
        // the text: nothing is lost.
        QCOMPARE(bytes.size(), 2000);
        QVERIFY(kb->MSComm1.isOpen());
        QVERIFY(!kb->isVisible());
        QTRY_VERIFY(input.isNull());
    }
}

QUILLON_TEST_MAIN(TestKeypad)
#include "test_keypad.moc"
