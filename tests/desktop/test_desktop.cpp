// The windows on a real desktop: an X server with a window manager of the
// test's own, driven with the keyboard and the mouse as a user drives them
// (xdotool), and looked at as the window manager sees them (xprop,
// xwininfo): placement, size hints, frames, accelerators, clicks that reach
// the handset, the file dialog, and the real program's texts.

#include "app/frmabout.h"
#include "keypad/keypadwindows.h"
#include "support/mainwindow.h"
#include "support/controlplaces.h"
#include "support/linespeedreader.h"
#include "support/packets.h"
#include "support/programprocess.h"
#include "support/pseudoterminal.h"
#include "support/tempfiles.h"
#include "programwindows.h"
#include "xsession.h"

#include "widgets/appearance.h"

#include <QAbstractItemView>
#include <QHeaderView>
#include <QListView>
#include <QRegularExpression>
#include <QTreeView>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <QtTest>
#include <functional>

namespace {

constexpr int kPort = 43;

using xtool::activate;
using xtool::managed;

// Presses `keys` in another program's window until `done` holds: keys sent
// the moment the window manager calls a window active may come before the
// program has the keyboard. A menu one of them left open is closed before
// the next try.
bool keysUntil(const QStringList &keys, const std::function<bool()> &done)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        for (const QString &k : keys) {
            if (!xtool::key(k))
                return false;
        }
        if (QTest::qWaitFor(done, 7'000))
            return true;
        if (keys.size() > 1)
            xtool::key(QStringLiteral("Escape"));
    }
    return false;
}

QPoint centreOf(QWidget *widget)
{
    return widget->mapToGlobal(widget->rect().center());
}

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT
private slots:
    // (Alt+F, Alt+V and Alt+H open their menus on the way to the file dialog,
    // the keypad and the About box.)
    void textEntryWindowBelowTheKeypad();
    void keypadBesideTheMainWindow_data();
    void keypadBesideTheMainWindow();
    void aboutBoxAtTheMainWindowsCorner();
    void fixedSizesAndDialogFrames();
    void keypadRecordsThroughItsContextMenu();
    void closingEndsALongText_data();
    void closingEndsALongText();
    void minimisedWindowsComeBack();
    void fileDialogListsEveryFile();
    void userInterfaceFontIsProportional();
    void programSpeaksJapanese();
    void startUpMessagesCentred_data();
    void startUpMessagesCentred();
};

void TestDesktop::textEntryWindowBelowTheKeypad()
{
    ProgramWindows d;
    QVERIFY(activate(&d.w));
    QVERIFY(xtool::key(QStringLiteral("alt+v")));
    QTRY_VERIFY(QApplication::activePopupWidget() == d.w.mnuView);
    QVERIFY(xtool::key(QStringLiteral("k")));
    QTRY_VERIFY(managed(d.keyboard()));
    QTRY_VERIFY(managed(d.input()));
    // Where the window manager put the keypad, and 5000 twips below it.
    const QPoint keypad = xtool::frameTopLeft(d.keyboard()->winId());
    QCOMPARE(xtool::frameTopLeft(d.input()->winId()), keypad + QPoint(0, 333));
}

void TestDesktop::keypadBesideTheMainWindow_data()
{
    QTest::addColumn<QPoint>("mainAt");
    QTest::addColumn<QString>("side");
    QTest::newRow("where the window manager put it") << QPoint(-1, -1) << "right";
    QTest::newRow("room on the right") << QPoint(40, 60) << "right";
    QTest::newRow("at the screen's right edge") << QPoint(900, 60) << "left";
    QTest::newRow("low on the screen") << QPoint(300, 800) << "right";
}

void TestDesktop::keypadBesideTheMainWindow()
{
    // The keypad opens beside the main window, never over its buttons, and
    // inside the screen with the text entry window below it.
    QFETCH(QPoint, mainAt);
    QFETCH(QString, side);
    ProgramWindows d;
    QTRY_VERIFY(managed(&d.w));
    if (mainAt.x() >= 0) {
        QVERIFY(xtool::run(QStringLiteral("xdotool"), {"windowmove", QString::number(d.w.winId()),
                                                       QString::number(mainAt.x()), QString::number(mainAt.y())})
                    .isEmpty());
    }
    QTRY_VERIFY(d.w.frameGeometry().topLeft() != QPoint(0, 0) &&
                d.w.frameGeometry().topLeft() == xtool::frameTopLeft(d.w.winId()));
    d.w.mnuKeyboard->trigger();
    QTRY_VERIFY(managed(d.keyboard()) && managed(d.input()));
    const QRect screen(0, 0, 1280, 1024);
    const QRect main(xtool::frameTopLeft(d.w.winId()), d.w.frameGeometry().size());
    const QRect keypad(xtool::frameTopLeft(d.keyboard()->winId()), d.keyboard()->frameGeometry().size());
    const QRect entry(xtool::frameTopLeft(d.input()->winId()), d.input()->frameGeometry().size());
    const QString where = QStringLiteral("main %1,%2 keypad %3,%4 entry %5,%6")
                              .arg(main.x()).arg(main.y()).arg(keypad.x()).arg(keypad.y()).arg(entry.x()).arg(entry.y());
    QVERIFY2(!keypad.intersects(main), qPrintable(where));
    QVERIFY2(side == u"right" ? keypad.left() > main.right() : keypad.right() < main.left(), qPrintable(where));
    QVERIFY2(screen.contains(keypad) && screen.contains(entry), qPrintable(where));
    QCOMPARE(entry.topLeft(), keypad.topLeft() + QPoint(0, 333));
}

void TestDesktop::aboutBoxAtTheMainWindowsCorner()
{
    ProgramWindows d;
    QTRY_VERIFY(managed(&d.w));
    for (const QPoint moveTo : {QPoint(-1, -1), QPoint(420, 310)}) {
        if (moveTo.x() >= 0) {
            // The user moves the main window; the program learns of it from
            // the window manager.
            QVERIFY(xtool::run(QStringLiteral("xdotool"),
                               {"windowmove", QString::number(d.w.winId()), QString::number(moveTo.x()),
                                QString::number(moveTo.y())})
                        .isEmpty());
            QTRY_VERIFY(d.w.frameGeometry().topLeft() != QPoint(0, 0) &&
                        d.w.frameGeometry().topLeft() == xtool::frameTopLeft(d.w.winId()));
        }
        QVERIFY(activate(&d.w));
        QVERIFY(xtool::key(QStringLiteral("alt+h")));
        QTRY_VERIFY(QApplication::activePopupWidget() == d.w.mnuHelp);
        QVERIFY(xtool::key(QStringLiteral("a")));
        QTRY_VERIFY(managed(d.w.about()));
        QCOMPARE(xtool::frameTopLeft(d.w.about()->winId()), xtool::frameTopLeft(d.w.winId()) + QPoint(17, 17));
        // OK has the focus: Enter closes the box.
        QVERIFY(activate(d.w.about()));
        QVERIFY(xtool::key(QStringLiteral("Return")));
        QTRY_VERIFY(!d.w.about());
    }
}

void TestDesktop::fixedSizesAndDialogFrames()
{
    ProgramWindows d;
    d.w.mnuKeyboard->trigger();
    d.w.mnuHelpAbout->trigger();
    QTRY_VERIFY(managed(&d.w) && managed(d.keyboard()) && managed(d.input()) && managed(d.w.about()));

    // Fixed sizes: the window manager is told minimum = maximum = the size.
    const QList<QWidget *> windows = {&d.w, d.keyboard(), d.input(), d.w.about()};
    for (QWidget *window : windows) {
        const QString name = window->objectName();
        QCOMPARE(xtool::sizeHint(window->winId(), QStringLiteral("minimum")), window->size());
        QCOMPARE(xtool::sizeHint(window->winId(), QStringLiteral("maximum")), window->size());
        const QStringList actions = xtool::atoms(window->winId(), QStringLiteral("_NET_WM_ALLOWED_ACTIONS"));
        QVERIFY2(!actions.contains(QStringLiteral("_NET_WM_ACTION_RESIZE")), qPrintable(name));
        QVERIFY2(!actions.contains(QStringLiteral("_NET_WM_ACTION_MAXIMIZE_HORZ")), qPrintable(name));
    }

    // The keypad and the text entry window: dialog frames, kept off the
    // taskbar, and no owner, so the main window can cover them. Also when
    // they show again after the text entry window was closed.
    const QString mainId = QStringLiteral("0x%1").arg(d.w.winId(), 0, 16);
    for (int showing = 1; showing <= 2; ++showing) {
        QList<QWidget *> dialogs = {d.keyboard()};
        if (showing == 1)
            dialogs.append(d.input());
        for (QWidget *window : dialogs) {
            const QString name = window->objectName() + QStringLiteral(" #") + QString::number(showing);
            const QStringList types = xtool::atoms(window->winId(), QStringLiteral("_NET_WM_WINDOW_TYPE"));
            QVERIFY2(types.value(0) == QStringLiteral("_NET_WM_WINDOW_TYPE_DIALOG"), qPrintable(name));
            // The window manager may apply the state a moment after mapping.
            QTRY_VERIFY2(xtool::atoms(window->winId(), QStringLiteral("_NET_WM_STATE"))
                             .contains(QStringLiteral("_NET_WM_STATE_SKIP_TASKBAR")),
                         qPrintable(name));
            QVERIFY2(!xtool::property(window->winId(), QStringLiteral("WM_TRANSIENT_FOR")).contains(mainId),
                     qPrintable(name));
        }
        if (showing == 1) {
            // Closed with the window manager's own key: the keypad hides.
            QVERIFY(activate(d.input()));
            QVERIFY(xtool::key(QStringLiteral("alt+F4")));
            QTRY_VERIFY(!d.input() && !d.keyboard()->isVisible());
            d.w.mnuKeyboard->trigger();
            QTRY_VERIFY(managed(d.keyboard()));
        }
    }
    // The main window is on the taskbar and, once active, above the keypad.
    QVERIFY(!xtool::atoms(d.w.winId(), QStringLiteral("_NET_WM_STATE"))
                 .contains(QStringLiteral("_NET_WM_STATE_SKIP_TASKBAR")));
    // Brought forward as the user does it, through the window manager (a
    // click or the taskbar): a program's own request may only take the focus
    // (and Qt may count the window active already, the keypad having been
    // shown without it).
    QVERIFY(activate(&d.w));
    auto mainAbove = [&] {
        const QList<quint64> order = xtool::stackingOrder();
        return order.indexOf(d.w.winId()) > order.indexOf(d.keyboard()->winId());
    };
    for (int attempt = 0; attempt < 5 && !mainAbove(); ++attempt) {
        xtool::run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QString::number(d.w.winId())});
        QTest::qWait(300);
    }
    QTRY_VERIFY(mainAbove());
}

void TestDesktop::keypadRecordsThroughItsContextMenu()
{
    PseudoTerminal pty;
    pty.bindPort(kPort);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("recorded.txt"));
    ProgramWindows d;
    d.desktop.dialogAnswers = {path};
    d.w.cmbCommPort->setEditText(QString::number(kPort));
    d.w.mnuKeyboard->trigger();
    QTRY_VERIFY(managed(d.keyboard()) && managed(d.input()));
    frmKeyboard *kb = d.keyboard();
    // The caption as the window manager shows it.
    auto caption = [kb] { return xtool::property(kb->winId(), QStringLiteral("_NET_WM_NAME")).section(u'"', 1, 1); };
    QTRY_COMPARE(caption(), QStringLiteral("QuillonEmu release 25F"));
    const QList<QRect> places = controlPlaces(kb);
    const QSize frame = kb->frameGeometry().size();

    // A right click on a key button opens the keypad's menu, which is modal:
    // its items are read and one is clicked from a timer while it is open.
    auto choose = [&](QAction *item) {
        QStringList items;
        QTimer watch;
        watch.setInterval(20);
        connect(&watch, &QTimer::timeout, this, [&] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu || !menu->windowHandle() || !menu->windowHandle()->isExposed())
                return;
            watch.stop();
            for (const QAction *action : menu->actions())
                items.append(action->text() + (action->isEnabled() ? QString() : QStringLiteral(" (disabled)")));
            xtool::click(menu->mapToGlobal(menu->actionGeometry(item).center()));
        });
        watch.start();
        xtool::click(centreOf(kb->Command1[23]), 3);
        if (!QTest::qWaitFor([&] { return !watch.isActive() && !QApplication::activePopupWidget(); }, 20'000))
            items.append(QStringLiteral("the menu did not come and go within 20 s"));
        return items;
    };
    QCOMPARE(choose(kb->mnuRecordStart), (QStringList{"記録開始(&R)...", "記録終了(&T) (disabled)", "画面(&G)"}));
    QCOMPARE(d.desktop.newFileStarts, QStringList{"記録.txt"});
    QTRY_COMPARE(caption(), QStringLiteral("QuillonEmu release 25F - 記録中"));

    QVERIFY(xtool::click(centreOf(kb->Command1[20]))); // "■" while disconnected: not sent, not recorded
    QVERIFY(xtool::click(centreOf(kb->Command1[39])));
    QTRY_COMPARE(kb->Command1[39]->text(), QStringLiteral("接続中"));
    QVERIFY(xtool::click(centreOf(kb->Command1[14]))); // "発信"
    // Typed into the text entry window: "ab" and Enter type the text, Enter
    // in the empty box presses "■", the up arrow "↑".
    QVERIFY(activate(d.input()));
    QVERIFY(xtool::type(QStringLiteral("ab")));
    QTRY_COMPARE(d.input()->Text1->text(), QStringLiteral("ab"));
    QVERIFY(xtool::key(QStringLiteral("Return")));
    QVERIFY(xtool::key(QStringLiteral("Return")));
    QVERIFY(xtool::key(QStringLiteral("Up")));
    QCOMPARE(packetList(pty.read(50)), packetList(keyBytes("CALL") + textBytes("ab") + keyBytes("ENTER UP")));

    QCOMPARE(choose(kb->mnuRecordStop), (QStringList{"記録開始(&R)... (disabled)", "記録終了(&T)", "画面(&G)"}));
    QTRY_COMPARE(caption(), QStringLiteral("QuillonEmu release 25F"));
    QCOMPARE(macroFileLines(path, false), (QStringList{"BASEWAIT 0.2", "CALL", "STRING ab", "ENTER", "UP"}));
    // Nothing moved or changed size.
    QCOMPARE(controlPlaces(kb), places);
    QCOMPARE(kb->frameGeometry().size(), frame);
    // Recording began while disconnected: the user was told; and where it
    // went when it ended.
    QCOMPARE(d.desktop.messages.size(), 2);
    QVERIFY(d.desktop.messages[0].startsWith(QStringLiteral("記録を始めましたが、キーボードは切断中です。")));
    QVERIFY(d.desktop.messages[1].startsWith(QStringLiteral("記録を「")));
    // A right click presses no button.
    QCOMPARE(pty.readAvailable(50), QByteArray());
}

void TestDesktop::closingEndsALongText_data()
{
    QTest::addColumn<QString>("window");
    QTest::newRow("main window, in a STRING of the run") << "main";
    QTest::newRow("keypad, in a text of the text entry window") << "keypad";
}

void TestDesktop::closingEndsALongText()
{
    // The window manager's close (Alt+F4 as the close box) while a text
    // longer than the line's queue goes out: the text ends between two
    // packets, as it does on SIGTERM, and the window goes.
    QFETCH(QString, window);
    constexpr int kCharacters = 80;
    const QString text(kCharacters, u'a');
    PseudoTerminal pty;
    pty.bindPort(kPort);
    const LineSpeedReader line(pty);
    TempFiles files;
    ProgramWindows d;
    d.w.cmbCommPort->setEditText(QString::number(kPort));
    QPointer<QWidget> closing = &d.w;
    std::function<void()> send;
    if (window == u"main") {
        d.w.MacroFile = files.writeShiftJis(QStringLiteral("long.txt"), QStringLiteral("STRING ") + text + QStringLiteral("\r\n"));
        send = [&] { d.w.cmdSend_Click(); };
    } else {
        d.w.mnuKeyboard->trigger();
        QTRY_VERIFY(managed(d.keyboard()) && managed(d.input()));
        d.keyboard()->Command1_Click(39);
        QVERIFY(d.keyboard()->MSComm1.isOpen());
        closing = d.keyboard();
        send = [&] {
            d.input()->Text1->setText(text);
            d.input()->SubmitText();
        };
    }
    QTRY_VERIFY(managed(closing));
    QVERIFY(activate(closing));

    bool closeAsked = false;
    QTimer closer;
    closer.setInterval(20);
    connect(&closer, &QTimer::timeout, this, [&] {
        if (line.bytes().size() < 3 * 10)
            return;
        closer.stop();
        closeAsked = xtool::key(QStringLiteral("alt+F4"));
    });
    bool returned = false;
    QTimer::singleShot(0, this, [&] {
        closer.start();
        send();
        returned = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(returned, 60'000);
    QVERIFY(closeAsked);
    QTRY_VERIFY(!closing || !closing->isVisible());
    if (window == u"main")
        QCOMPARE(d.desktop.ended, 1);
    else
        QVERIFY(!d.keyboard());
    line.waitForQuiet(1'000, 20'000);
    const QByteArray received = line.bytes();
    QCOMPARE(received.size() % 10, 0);
    QVERIFY2(received.size() / 10 < kCharacters, qPrintable(QString::number(received.size() / 10)));
    QCOMPARE(received, textBytes(text.left(received.size() / 10)));
}

void TestDesktop::minimisedWindowsComeBack()
{
    // openbox offers minimise on the dialog-style windows whatever they ask
    // for; the keypad and its text entry window have no taskbar entry to
    // come back by. What shows a window shows it minimised or not.
    ProgramWindows d;
    d.w.mnuKeyboard->trigger();
    d.w.mnuHelpAbout->trigger();
    QTRY_VERIFY(managed(&d.w) && managed(d.keyboard()) && managed(d.input()) && managed(d.w.about()));
    auto onScreen = [](QWidget *window) {
        return window && xtool::run(QStringLiteral("xwininfo"), {"-id", QString::number(window->winId())})
                             .contains("IsViewable") &&
               !xtool::atoms(window->winId(), QStringLiteral("_NET_WM_STATE")).contains(QStringLiteral("_NET_WM_STATE_HIDDEN"));
    };
    auto minimise = [&](QWidget *window) {
        // Asked again while the window manager is still busy with the
        // window's last change, which it would finish first.
        return QTest::qWaitFor(
            [&] {
                if (!onScreen(window) && window->isMinimized())
                    return true;
                xtool::run(QStringLiteral("xdotool"), {"windowminimize", QString::number(window->winId())});
                return QTest::qWaitFor([&] { return !onScreen(window) && window->isMinimized(); }, 500);
            },
            10'000);
    };
    for (QWidget *window : {static_cast<QWidget *>(d.keyboard()), static_cast<QWidget *>(d.input()),
                            static_cast<QWidget *>(d.w.about())}) {
        // Asked for: move and close, no minimise, no maximise.
        const QStringList hints =
            xtool::property(window->winId(), QStringLiteral("_MOTIF_WM_HINTS")).section(u'=', 1).split(u',');
        QVERIFY2(hints.size() == 5 && (hints[1].trimmed().toUInt(nullptr, 0) & (8 | 16)) == 0,
                 qPrintable(window->objectName() + u' ' + hints.join(u',')));
    }

    // 表示 → キーボード(&K), as the user chooses it: both come back.
    QVERIFY(minimise(d.input()));
    QVERIFY(minimise(d.keyboard()));
    QVERIFY(activate(&d.w));
    QVERIFY(xtool::key(QStringLiteral("alt+v")));
    QTRY_VERIFY(QApplication::activePopupWidget() == d.w.mnuView);
    QVERIFY(xtool::key(QStringLiteral("k")));
    QTRY_VERIFY(onScreen(d.keyboard()) && onScreen(d.input()));

    // The text entry window left minimised comes back with the next keypad.
    QVERIFY(minimise(d.input()));
    d.keyboard()->close();
    QTRY_VERIFY(!d.keyboard());
    d.w.mnuKeyboard->trigger();
    QTRY_VERIFY(managed(d.keyboard()));
    QTRY_VERIFY(onScreen(d.keyboard()) && onScreen(d.input()));

    // バージョン情報(&A) again.
    QVERIFY(minimise(d.w.about()));
    d.w.mnuHelpAbout->trigger();
    QTRY_VERIFY(onScreen(d.w.about()));
}

void TestDesktop::fileDialogListsEveryFile()
{
    QTemporaryDir dir;
    for (const char *name : {"job", "job.txt"}) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(42, 'x')) == 42);
    }
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    ProgramWindows d;
    // The program's own dialog, as the user meets it.
    d.desktop.dialog = [&](const QString &fileName) { return d.desktop.ScreenDesktop::chooseFile(&d.w, fileName); };
    QVERIFY(activate(&d.w));

    // The dialog is modal: what the user sees is read while it is open, then
    // the user types the name without a dot and presses Enter.
    QString filter;
    QStringList listed;
    QStringList details; // the detail view's rows, cells joined by "|"
    QStringList cutOff;  // texts the dialog's columns or places cut
    QTimer watch;
    watch.setInterval(20);
    QDeadlineTimer listing(10'000);
    connect(&watch, &QTimer::timeout, this, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->windowHandle() || !dialog->windowHandle()->isExposed())
            return;
        auto *view = dialog->findChild<QAbstractItemView *>(QStringLiteral("listView"));
        listed.clear();
        for (int row = 0; view && row < view->model()->rowCount(view->rootIndex()); ++row)
            listed.append(view->model()->index(row, 0, view->rootIndex()).data().toString());
        if (listed.size() < 3 && !listing.hasExpired())
            return; // the folder is still being read
        watch.stop();
        // What a user of the C locale reads in the detail view and the
        // places, and whether the columns are wide enough for it.
        auto *tree = dialog->findChild<QTreeView *>(QStringLiteral("treeView"));
        for (int row = 0; tree && row < tree->model()->rowCount(tree->rootIndex()); ++row) {
            QStringList cells;
            for (int column = 0; column < 4; ++column) {
                const QString text = tree->model()->index(row, column, tree->rootIndex()).data().toString();
                cells.append(text);
                if (tree->header()->sectionSize(column) < tree->fontMetrics().horizontalAdvance(text) + (column == 0 ? 24 : 0))
                    cutOff.append(text);
            }
            details.append(cells.join(u'|'));
        }
        auto *places = dialog->findChild<QListView *>(QStringLiteral("sidebar"));
        for (int row = 0; places && row < places->model()->rowCount(); ++row) {
            const QString text = places->model()->index(row, 0).data().toString();
            if (places->viewport()->width() < places->fontMetrics().horizontalAdvance(text) + places->iconSize().width())
                cutOff.append(text);
        }
        filter = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"))->currentText();
        xtool::type(QStringLiteral("job"));
        xtool::key(QStringLiteral("Return"));
    });
    watch.start();
    QVERIFY(xtool::key(QStringLiteral("alt+f")));
    QTRY_VERIFY(QApplication::activePopupWidget() == d.w.mnuFile);
    QVERIFY(xtool::key(QStringLiteral("m")));
    QTRY_VERIFY_WITH_TIMEOUT(!watch.isActive() && !QApplication::activeModalWidget(), 20'000);
    QDir::setCurrent(previous);

    listed.sort();
    QCOMPARE(listed, (QStringList{"folder", "job", "job.txt"}));
    // In Japanese, sizes and dates too, and nothing cut (the hour without
    // a leading zero: 「2026/12/08 0:07」).
    QCOMPARE(details.size(), 3);
    const QRegularExpression date(QStringLiteral("^\\d{4}/\\d{2}/\\d{2} \\d{1,2}:\\d{2}$"));
    for (const QString &row : details) {
        const QStringList cells = row.split(u'|');
        QVERIFY2(date.match(cells[3]).hasMatch(), qPrintable(row));
        if (cells[0] == u"folder")
            QCOMPARE(cells[2], QStringLiteral("フォルダー"));
        else
            QCOMPARE(cells[1], QStringLiteral("42 バイト"));
    }
    QVERIFY2(cutOff.isEmpty(), qPrintable(cutOff.join(u'|')));
    QCOMPARE(filter, QStringLiteral("すべて(*.*)"));
    QCOMPARE(d.w.MacroFile, dir.filePath(QStringLiteral("job")));
}

void TestDesktop::userInterfaceFontIsProportional()
{
    // Whatever fonts the machine has: captions like "F10" and file paths are
    // set in a proportional face.
    ProgramWindows d;
    for (QWidget *widget : {static_cast<QWidget *>(d.w.lblMacroFile), static_cast<QWidget *>(d.w.cmdSend)}) {
        const QFontMetrics metrics(widget->font());
        QVERIFY2(metrics.horizontalAdvance(QStringLiteral("iiii")) < metrics.horizontalAdvance(QStringLiteral("WWWW")),
                 qPrintable(QFontInfo(widget->font()).family()));
    }
}

void TestDesktop::programSpeaksJapanese()
{
    // The real program, started in the C locale: Qt's own texts in its file
    // dialog are Japanese all the same. The dialog's caption is Qt's "Open".
    ProgramProcess program(ProgramProcess::built("quillonemu"), {}, [](QProcess &process) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        process.setProcessEnvironment(env);
    });
    auto activeCaption = [] {
        const QString id = QString::fromLatin1(xtool::run(QStringLiteral("xdotool"), {"getactivewindow"}).trimmed());
        return id.isEmpty() ? QString() : xtool::property(id.toULongLong(), QStringLiteral("_NET_WM_NAME")).section(u'"', 1, 1);
    };
    QTRY_COMPARE_WITH_TIMEOUT(activeCaption(), QStringLiteral("QuillonEmu release 25F"), 20'000);
    QVERIFY(keysUntil({"alt+f", "m"}, [&] { return activeCaption() == QStringLiteral("開く"); }));
    QVERIFY(keysUntil({"Escape"}, [&] { return activeCaption() == QStringLiteral("QuillonEmu release 25F"); }));
    QVERIFY(keysUntil({"alt+f", "x"}, [&] { return !program.isRunning(); }));
    QVERIFY(program.waitForEnd(20'000));
    QCOMPARE(program.exitCode(), 0);
}

void TestDesktop::startUpMessagesCentred_data()
{
    QTest::addColumn<QString>("problem");
    QTest::newRow("missing macro file") << "macro";
    QTest::newRow("port not a number") << "port";
}

void TestDesktop::startUpMessagesCentred()
{
    // The start-up run's message comes before the main window shows: it
    // is centred on the screen, not at the corner the hidden window has.
    QFETCH(QString, problem);
    TempFiles files;
    const QString macro = files.writeShiftJis(QStringLiteral("m.txt"), QStringLiteral("UP\r\n"));
    const QStringList arguments = problem == u"macro"
                                      ? QStringList{QStringLiteral("/M") + files.path(QStringLiteral("missing.txt"))}
                                      : QStringList{QStringLiteral("/M") + macro, QStringLiteral("/Pabc")};
    ProgramProcess program(ProgramProcess::built("quillonemu"), arguments);
    auto active = [] { return xtool::run(QStringLiteral("xdotool"), {"getactivewindow"}).trimmed().toULongLong(); };
    auto caption = [](quint64 id) { return xtool::property(id, QStringLiteral("_NET_WM_NAME")).section(u'"', 1, 1); };
    QTRY_COMPARE_WITH_TIMEOUT(caption(active()), QStringLiteral("QuillonEmu"), 20'000);
    const QString info = QString::fromUtf8(xtool::run(QStringLiteral("xwininfo"), {"-id", QString::number(active())}));
    auto value = [&](const QString &name) {
        const QRegularExpression pattern(name + QStringLiteral(":\\s*(-?\\d+)"));
        return pattern.match(info).captured(1).toInt();
    };
    const QPoint centre(value(QStringLiteral("Absolute upper-left X")) + value(QStringLiteral("Width")) / 2,
                        value(QStringLiteral("Absolute upper-left Y")) + value(QStringLiteral("Height")) / 2);
    const QPoint screenCentre(1280 / 2, 1024 / 2);
    QVERIFY2((centre - screenCentre).manhattanLength() < 60,
             qPrintable(QStringLiteral("the box's centre at %1,%2").arg(centre.x()).arg(centre.y())));
    QVERIFY(keysUntil({"Return"}, [&] { return caption(active()) == QStringLiteral("QuillonEmu release 25F"); }));
    QVERIFY(keysUntil({"alt+f", "x"}, [&] { return !program.isRunning(); }));
    QVERIFY(program.waitForEnd(20'000));
}

int main(int argc, char **argv)
{
    return runDesktopTest<TestDesktop>(argc, argv);
}

#include "test_desktop.moc"
