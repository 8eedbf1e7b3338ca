// The handsets window under a real window manager: the main window with /H
// on the handsets file the model handsets wrote, a short job on them, and a
// row's screen window.

#include "app/frmhandsets.h"
#include "macro/passresults.h"
#include "programwindows.h"
#include "support/programprocess.h"
#include "support/tempfiles.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// scripts/model-handsets: model handsets on ptys with their screen streams,
// and the handsets file naming them. Stopped by its pid: the script stops
// the handsets it started.
struct ModelHandsets {
    explicit ModelHandsets(int count)
        : script(QStringLiteral(QUILLONEMU_SOURCE_DIR "/scripts/model-handsets"),
                 {QString::number(count), dir.path(), QStringLiteral(QUILLONEMU_BIN_DIR)})
    {
    }
    ~ModelHandsets()
    {
        if (script.isRunning()) {
            script.sendSignal(SIGTERM);
            script.waitForEnd(10'000);
        }
    }
    QString ini() const { return dir.path() + QStringLiteral("/handsets.ini"); }

    QTemporaryDir dir;
    ProgramProcess script;
};

QPoint centreOf(const QWidget *widget)
{
    return widget->mapToGlobal(widget->rect().center());
}

} // namespace

class TestHandsetsWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void aJobOnModelHandsets();
};

void TestHandsetsWindow::aJobOnModelHandsets()
{
    ModelHandsets lab(3);
    QVERIFY2(lab.script.waitForOutput(lab.ini(), 30'000), qPrintable(lab.script.err()));
    TempFiles files;
    QStringList addresses;
    for (int i = 1; i <= 6; ++i)
        addresses.append(QStringLiteral("0901234%1").arg(i * 111, 4, 10, QLatin1Char('0')));
    const QString macro = files.writeShiftJis("job.txt", "BASEWAIT 0\r\nCLEAR\r\nGETSTR\r\nSENDSTR\r\nENTER\r\nREPEAT\r\n");
    const QString addr = files.writeShiftJis("addr.txt", addresses.join("\r\n"));

    ProgramWindows p;
    p.w.ParseCommandLine(QStringLiteral(R"("/M%1" "/A%2" "/H%3")").arg(macro, addr, lab.ini()));
    QVERIFY2(p.desktop.messages.isEmpty(), qPrintable(p.desktop.messages.join(u'\n')));
    QVERIFY(QTest::qWaitFor([&] { return xtool::managed(&p.w); }, 20'000));
    QVERIFY(xtool::click(centreOf(p.w.cmdSend)));

    // The window lists the handsets as the file names them, and their rows
    // follow the passes.
    QVERIFY(QTest::qWaitFor([&] { return p.w.handsetsWindow() && xtool::managed(p.w.handsetsWindow()); }, 20'000));
    frmHandsets *window = p.w.handsetsWindow();
    QTableWidget *table = window->tblHandsets;
    QCOMPARE(table->rowCount(), 3);
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(table->item(row, frmHandsets::ColName)->text(), QStringLiteral("H%1").arg(row + 1));
        QCOMPARE(table->item(row, frmHandsets::ColPort)->text(), lab.dir.path() + QStringLiteral("/handset-%1").arg(row + 1));
        QVERIFY(table->item(row, frmHandsets::ColScreen)->text().startsWith(QStringLiteral("http://127.0.0.1:")));
    }
    QVERIFY(QTest::qWaitFor(
        [&] {
            for (int row = 0; row < 3; ++row) {
                if (table->item(row, frmHandsets::ColState)->text() == QStringLiteral("実行中") &&
                    !table->item(row, frmHandsets::ColCounter)->text().isEmpty() &&
                    !table->item(row, frmHandsets::ColStatement)->text().isEmpty())
                    return true;
            }
            return false;
        },
        20'000));

    // The job ends with every address done once.
    QVERIFY(QTest::qWaitFor([&] { return p.w.cmdSend->isEnabled(); }, 60'000));
    QList<qint32> counters;
    for (const PassRecord &r : lastRowOfEachPass(p.w.handsetsJob()->records())) {
        QVERIFY2(r.done(), qPrintable(r.message));
        QCOMPARE(r.address, addresses[r.counter]);
        counters.append(r.counter);
    }
    std::sort(counters.begin(), counters.end());
    QCOMPARE(counters, (QList<qint32>{0, 1, 2, 3, 4, 5}));
    int done = 0;
    for (int row = 0; row < 3; ++row)
        done += table->item(row, frmHandsets::ColDone)->text().toInt();
    QCOMPARE(done, addresses.size());
    QVERIFY2(window->lblProgress->text().contains(QStringLiteral("巡 6/6（100.0%）")), qPrintable(window->lblProgress->text()));

    // A double-click on a row opens the screen window on its handset's
    // stream.
    const QString source = table->item(1, frmHandsets::ColScreen)->text();
    const QRect cell = table->visualItemRect(table->item(1, frmHandsets::ColName));
    QVERIFY(xtool::doubleClick(table->viewport()->mapToGlobal(cell.center())));
    frmScreen *screen = nullptr;
    QVERIFY(QTest::qWaitFor(
        [&] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *s = qobject_cast<frmScreen *>(w);
                if (s && s != p.screen() && xtool::managed(s) && !s->picture->frame().isNull())
                    screen = s;
            }
            return screen != nullptr;
        },
        20'000));
    const QString name = table->item(1, frmHandsets::ColName)->text();
    QCOMPARE(screen->windowTitle(), QStringLiteral("画面 - %1 - %2").arg(name, source));
}

int main(int argc, char **argv)
{
    return runDesktopTest<TestHandsetsWindow>(argc, argv);
}

#include "test_handsetswindow.moc"
