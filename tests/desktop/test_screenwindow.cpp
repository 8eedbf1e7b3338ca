// The screen window 「画面」 on a real desktop, against the model handset's
// MJPEG stream (quillonemu-cli handset, a process of the test's own): what
// it shows, read back from the X server; a selection dragged with the mouse
// and saved through its context menu; a checkpoint put into the keypad's
// recording and the recording replayed; the marks of a run's waits; and a
// run that goes on whatever happens to the window.

#include "app/frmscreen.h"
#include "handset/modelscreen.h"
#include "keypad/keypadwindows.h"
#include "support/mainwindow.h"
#include "support/recordingdesktop.h"
#include "support/programprocess.h"
#include "support/tempfiles.h"
#include "programwindows.h"
#include "xsession.h"

#include "widgets/appearance.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTimer>
#include <QWindow>
#include <QtTest>
#include <csignal>
#include <functional>

namespace {

using xtool::activate;
using xtool::managed;

constexpr int kKeypadPort = 44;
constexpr int kRunPort = 45;

const QColor kStatusBar(0x20, 0x30, 0x48);
const QColor kBackground(0xE8, 0xF0, 0xE0);
const QColor kWaiting(255, 200, 0);
const QColor kFound(0, 200, 0);
const QColor kRanOut(230, 0, 0);

// The model handset on a pseudo-terminal at `link`, its screen served on a
// free port of the loopback; ended by its pid.
class ModelHandset {
public:
    explicit ModelHandset(const QString &link, const QStringList &options = {})
        : link_(link), process_(QStringList{"handset", "--pty", "--link", link, "--screen-stream", "0", "--timeout", "120"} + options)
    {
    }
    ~ModelHandset() { stop(); }

    // Waits until the line and the stream are there.
    bool ready()
    {
        return QTest::qWaitFor([this] { return !url().isEmpty() && QFileInfo(link_).isSymLink(); }, 20'000);
    }
    QString url()
    {
        const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("(http://127\\.0\\.0\\.1:\\d+/)")).match(process_.err());
        return m.hasMatch() ? m.captured(1) : QString();
    }
    QString link() const { return link_; }
    // Ends it and returns what it received, as it prints it.
    QString stop()
    {
        if (process_.isRunning()) {
            process_.sendSignal(SIGTERM);
            process_.waitForEnd(10'000);
        }
        return process_.out();
    }

private:
    QString link_;
    CliProcess process_;
};


QPoint centreOf(QWidget *widget)
{
    return widget->mapToGlobal(widget->rect().center());
}

QString caption(QWidget *window)
{
    return xtool::property(window->winId(), QStringLiteral("_NET_WM_NAME")).section(u'"', 1, 1);
}

// Where the frame's pixel `at` is on the screen.
QPoint onScreen(FramePicture *picture, QPoint at)
{
    return picture->mapToGlobal(picture->toWidget(QRect(at, QSize(1, 1))).center());
}

bool near(QColor a, QColor b, int tolerance)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

QString named(QColor c)
{
    return QStringLiteral("(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

// The colour the screen shows at the frame's pixel `at` in the window.
QColor shownAt(frmScreen *window, QPoint at)
{
    const QImage shot = xtool::screenshot(window->winId());
    const QPoint point = window->picture->mapTo(window, window->picture->toWidget(QRect(at, QSize(1, 1))).center());
    return shot.valid(point) ? QColor(shot.pixel(point)) : QColor();
}

// Of the marks' colours, the one the window shows now (the mark's frame and
// its label: hundreds of pixels of exactly that colour, which no frame of
// the model holds); invalid when none.
QColor markShown(frmScreen *window)
{
    const QImage shot = xtool::screenshot(window->winId());
    const QRect area(window->picture->mapTo(window, QPoint(0, 0)), window->picture->size());
    int counts[3] = {};
    const QColor colours[3] = {kWaiting, kFound, kRanOut};
    for (int y = area.top(); y <= area.bottom() && y < shot.height(); ++y) {
        for (int x = area.left(); x <= area.right() && x < shot.width(); ++x) {
            const QRgb pixel = shot.pixel(x, y) & 0xffffffu;
            for (int i = 0; i < 3; ++i)
                counts[i] += pixel == (colours[i].rgb() & 0xffffffu);
        }
    }
    for (int i = 0; i < 3; ++i) {
        if (counts[i] >= 100)
            return colours[i];
    }
    return {};
}

// The colour on the screen of the mark's frame, halfway down its left side.
QColor markFrameColour(frmScreen *window)
{
    if (!window->picture->mark())
        return {};
    const QRect r = window->picture->toWidget(window->picture->mark()->rect).adjusted(-2, -2, 2, 2);
    const QPoint point = window->picture->mapTo(window, QPoint(r.left(), r.center().y()));
    const QImage shot = xtool::screenshot(window->winId());
    return shot.valid(point) ? QColor(shot.pixel(point)) : QColor();
}

// Whether `frame` has ink (the model's black text) in `area`.
bool inkIn(const QImage &frame, const QRect &area)
{
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (qGray(frame.pixel(x, y)) < 80)
                return true;
        }
    }
    return false;
}

// How grainy `picture` is: the mean difference of a pixel's gray from its
// right neighbour's where both are background (within 20 levels of the
// picture's median): a camera's noise, not the glyphs' edges.
double grain(const QImage &picture)
{
    std::vector<int> grays;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            grays.push_back(qGray(picture.pixel(x, y)));
    if (grays.empty())
        return 0.0;
    std::vector<int> sorted = grays;
    std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(sorted.size() / 2), sorted.end());
    const int background = sorted[sorted.size() / 2];
    double sum = 0;
    int count = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x + 1 < picture.width(); ++x) {
            const int a = grays[size_t(y * picture.width() + x)], b = grays[size_t(y * picture.width() + x + 1)];
            if (std::abs(a - background) <= 20 && std::abs(b - background) <= 20) {
                sum += std::abs(a - b);
                ++count;
            }
        }
    return count ? sum / count : 0.0;
}

// Does `open`, and `act` on the menu it brings up (it is modal: from a
// timer while it is open); false when it did not come and go within 20 s.
bool onMenu(const std::function<void()> &open, const std::function<void(QMenu *)> &act)
{
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu || !menu->windowHandle() || !menu->windowHandle()->isExposed())
            return;
        watch.stop();
        act(menu);
    });
    watch.start();
    open();
    return QTest::qWaitFor([&] { return !watch.isActive() && !QApplication::activePopupWidget(); }, 20'000);
}

// Opens a context menu with a right click at `global` and clicks `item` on
// it; returns the menu's items as shown (separators left out).
QStringList chooseFromMenu(QPoint global, QAction *item)
{
    QStringList items;
    const bool cameAndWent = onMenu([&] { xtool::click(global, 3); }, [&](QMenu *menu) {
        for (const QAction *action : menu->actions()) {
            if (!action->isSeparator())
                items.append(action->text() + (action->isEnabled() ? QString() : QStringLiteral(" (disabled)")));
        }
        xtool::click(menu->mapToGlobal(menu->actionGeometry(item).center()));
    });
    if (!cameAndWent)
        items.append(QStringLiteral("the menu did not come and go within 20 s"));
    return items;
}

// Opens the focused window's menu with `openKey` and presses `itemKey` on
// it; the name of the menu that opened (empty: none did).
QString keyOnMenu(const QString &openKey, const QString &itemKey)
{
    QString opened;
    if (!onMenu([&] { xtool::key(openKey); }, [&](QMenu *menu) {
            opened = menu->objectName();
            xtool::key(itemKey);
        }))
        return QStringLiteral("the menu did not come and go within 20 s");
    return opened;
}

// Drags over the frame's pixels from `from` to `to` (corners included).
bool dragOver(FramePicture *picture, QPoint from, QPoint to)
{
    // Aimed where the window manager has put the window, as Qt knows it by
    // now: on a busy machine Qt hears of a move later, and a drag aimed by
    // the older place lands elsewhere in the picture. The client area is
    // compared (where the X server delivers the mouse), not the frame: Qt
    // can have the frame's place right and its margins not yet.
    // And the place must have stayed for a few tenths of a second: the
    // window manager or the window itself (beside the main window) can
    // move it once more just after it was shown or enlarged.
    QWidget *window = picture->window();
    QPoint place;
    QElapsedTimer since;
    since.start();
    if (!QTest::qWaitFor(
            [&] {
                const QPoint now = window->mapToGlobal(QPoint(0, 0));
                if (now != xtool::clientTopLeft(window->winId()) || now != place) {
                    place = now;
                    since.restart();
                }
                return since.elapsed() >= 300;
            },
            8000))
        return false;
    const QPoint middle = (from + to) / 2;
    return xtool::drag(onScreen(picture, from), {onScreen(picture, middle)}, onScreen(picture, to));
}

// What the model shows once "あいう" is typed: the text, cut from the
// model's own drawing (the handset draws it with the same fonts).
QString writeTypedTemplate(TempFiles &files)
{
    const QRect area = ModelScreen::textArea();
    const QString path = files.path(QStringLiteral("typed.png"));
    ModelScreen::render(QStringLiteral("う"), QStringLiteral("あいう")).copy(area.x(), area.y(), 90, 30).save(path);
    return path;
}

// A busy picture of `size`, written as PNG file `name`.
QString writeBusyPicture(TempFiles &files, const QString &name, QSize size)
{
    QImage picture(size, QImage::Format_RGB888);
    QRandomGenerator random(7);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(random.bounded(256), random.bounded(256), random.bounded(256)));
    }
    const QString path = files.path(name);
    picture.save(path);
    return path;
}

// A picture the model never shows.
QString writeNeverShown(TempFiles &files)
{
    return writeBusyPicture(files, QStringLiteral("never.png"), QSize(48, 32));
}

// The longest gap between the ticks of a 20 ms timer, as the user's
// events would wait.
struct Responsiveness {
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longestGap = 0;
    int ticks = 0;
    QTimer tick;
    Responsiveness()
    {
        QObject::connect(&tick, &QTimer::timeout, [this] {
            ++ticks;
            longestGap = std::max(longestGap, clock.elapsed() - last);
            last = clock.elapsed();
        });
        clock.start();
        tick.start(20);
    }
};

} // namespace

class TestScreenWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void windowShowsTheFrames();
    void wideFrameShownSmallerBeside();
    void selectionSavedAtTheFramesResolution_data();
    void selectionSavedAtTheFramesResolution();
    void checkpointRecordedAndReplayed();
    void runsWaitsMarked();
    void runGoesOnWhateverTheWindowDoes_data();
    void runGoesOnWhateverTheWindowDoes();
    void displayCornersSetOnAnEnlargedPicture_data();
    void displayCornersSetOnAnEnlargedPicture();
    void checkpointsRefusedAndTakenBack();
    void keyboardOnlyAndSmallReadings();
    void dialogsBesideTheSelection();

private:
    // The model handset (typing goes to it), the windows with the keypad
    // connected to it and recording into 記録.txt in a folder of `name`,
    // and the screen window showing its stream.
    struct Recording {
        std::optional<ModelHandset> handset;
        std::optional<ProgramWindows> d;
        frmScreen *s = nullptr;
        frmKeyboard *kb = nullptr;
        QString path;
    };
    bool startRecording(Recording &r, const QString &name, const QString &typed = QString());
    TempFiles files_;
};

void TestScreenWindow::windowShowsTheFrames()
{
    ModelHandset handset(files_.path(QStringLiteral("handset-frames")));
    QVERIFY(handset.ready());
    ProgramWindows d;
    d.w.mnuKeyboard->trigger();
    QTRY_VERIFY(managed(d.keyboard()));

    // Without a source, from the keypad's context menu: the window says
    // so and offers the choice.
    frmKeyboard *kb = d.keyboard();
    const QStringList items = chooseFromMenu(centreOf(kb->Command1[23]), kb->mnuScreen);
    QVERIFY2(items.contains(QStringLiteral("画面(&G)")), qPrintable(items.join(u'|')));
    QTRY_VERIFY(managed(d.screen()));
    frmScreen *s = d.screen();
    QVERIFY(s->lblNoSource->isVisible() && s->cmdSource->isVisible() && !s->picture->isVisible());
    QCOMPARE(s->lblNoSource->text(), QStringLiteral("画面の取り込み元がありません。"));
    QTRY_COMPARE(caption(s), QStringLiteral("画面"));

    // Its button chooses the source; the frames come.
    d.desktop.screenSourceAnswers = {handset.url()};
    QVERIFY(activate(s));
    QVERIFY(xtool::click(centreOf(s->cmdSource)));
    QTRY_VERIFY_WITH_TIMEOUT(s->picture->isVisible() && !s->picture->frame().isNull(), 20'000);
    QVERIFY(!s->lblNoSource->isVisible() && !s->cmdSource->isVisible());
    QCOMPARE(s->picture->frame().size(), QSize(ModelScreen::kWidth, ModelScreen::kHeight));
    // The window grew to show the frame at its own size.
    QTRY_COMPARE(s->picture->scale(), 1.0);
    QTRY_COMPARE(caption(s), QStringLiteral("画面 - ") + handset.url());
    QVERIFY(d.desktop.messages.isEmpty());

    // Beside the main window and the keypad, over neither (grown to the
    // frame's size too); moved by the user, it opens there again.
    auto frameOf = [](QWidget *window) { return QRect(xtool::frameTopLeft(window->winId()), window->frameGeometry().size()); };
    QTRY_VERIFY2(!frameOf(s).intersects(frameOf(&d.w)) && !frameOf(s).intersects(frameOf(kb)) &&
                     QRect(0, 0, 1280, 1024).contains(frameOf(s)),
                 qPrintable(QStringLiteral("%1,%2 %3×%4").arg(frameOf(s).x()).arg(frameOf(s).y()).arg(frameOf(s).width()).arg(frameOf(s).height())));
    xtool::run(QStringLiteral("xdotool"), {"windowmove", "--sync", QString::number(s->winId()), "700", "600"});
    QTRY_VERIFY(xtool::frameTopLeft(s->winId()).y() > 550);
    const QPoint movedTo = xtool::frameTopLeft(s->winId());
    QTRY_COMPARE(s->frameGeometry().topLeft(), movedTo);

    // Closed by the window manager, and back through 表示 → 画面(&G): the same
    // window, the one of its kind, where it was.
    // (The key sent again should a busy window manager not have given the
    // window the focus in time.)
    QTRY_VERIFY_WITH_TIMEOUT(!s->isVisible() || (activate(s) && xtool::key(QStringLiteral("alt+F4")) && !s->isVisible()), 20'000);
    QVERIFY(activate(&d.w));
    QVERIFY(xtool::key(QStringLiteral("alt+v")));
    QTRY_VERIFY(QApplication::activePopupWidget() == d.w.mnuView);
    QVERIFY(xtool::key(QStringLiteral("g")));
    QTRY_VERIFY(managed(s));
    QCOMPARE(d.screen(), s);
    QTRY_COMPARE(xtool::frameTopLeft(s->winId()), movedTo);
    int screens = 0;
    for (QWidget *window : QApplication::topLevelWidgets())
        screens += qobject_cast<frmScreen *>(window) != nullptr;
    QCOMPARE(screens, 1);

    // What the screen shows: the model's status bar, dark, above its light
    // text area (the stream's JPEG within its noise).
    QVERIFY(activate(s));
    QColor bar;
    QColor below;
    QTRY_VERIFY2((bar = shownAt(s, QPoint(300, ModelScreen::kStatusBarHeight / 2)), near(bar, kStatusBar, 16)),
                 qPrintable(named(bar)));
    QTRY_VERIFY2((below = shownAt(s, QPoint(300, 200)), near(below, kBackground, 16)), qPrintable(named(below)));
}

void TestScreenWindow::wideFrameShownSmallerBeside()
{
    // A camera's 1280x720 frame is wider than the room beside the main
    // window: its picture is shown smaller there, not over the main window.
    ModelHandset handset(files_.path(QStringLiteral("handset-camera")), {"--screen-camera"});
    QVERIFY(handset.ready());
    ProgramWindows d;
    QVERIFY(d.watch(handset.url()));
    frmScreen *s = d.showScreen();
    QVERIFY(s);
    QCOMPARE(s->picture->frame().size(), QSize(1280, 720));
    auto frameOf = [](QWidget *window) { return QRect(xtool::frameTopLeft(window->winId()), window->frameGeometry().size()); };
    QTRY_VERIFY2(!frameOf(s).intersects(frameOf(&d.w)) && QRect(0, 0, 1280, 1024).contains(frameOf(s)),
                 qPrintable(QStringLiteral("%1,%2 %3×%4 beside %5,%6 %7×%8")
                                .arg(frameOf(s).x()).arg(frameOf(s).y()).arg(frameOf(s).width()).arg(frameOf(s).height())
                                .arg(frameOf(&d.w).x()).arg(frameOf(&d.w).y()).arg(frameOf(&d.w).width()).arg(frameOf(&d.w).height())));
    QVERIFY2(s->picture->scale() < 0.5, qPrintable(QString::number(s->picture->scale())));
}

void TestScreenWindow::selectionSavedAtTheFramesResolution_data()
{
    QTest::addColumn<QSize>("largest");
    QTest::addColumn<QSize>("resizedTo"); // by the user, through the window manager
    QTest::addColumn<QSize>("still");     // a picture of this size as the source, not the stream
    QTest::newRow("at the frame's own size") << QSize() << QSize() << QSize();
    QTest::newRow("scaled down") << QSize(200, 150) << QSize() << QSize();
    QTest::newRow("scaled down to a third") << QSize(107, 80) << QSize() << QSize();
    QTest::newRow("in a window larger than the frame") << QSize() << QSize(600, 500) << QSize();
    QTest::newRow("a picture larger than the screen") << QSize() << QSize() << QSize(1600, 1200);
}

void TestScreenWindow::selectionSavedAtTheFramesResolution()
{
    // The stream with a camera's noise (every frame differs from the one
    // before), or a still picture.
    QFETCH(QSize, largest);
    QFETCH(QSize, resizedTo);
    QFETCH(QSize, still);
    const QString tag = QString::fromUtf8(QTest::currentDataTag()).replace(u' ', u'-');
    std::optional<ModelHandset> handset;
    ProgramWindows d;
    QImage stillPicture;
    if (still.isValid()) {
        stillPicture = QImage(writeBusyPicture(files_, QStringLiteral("large.png"), still)).convertToFormat(QImage::Format_RGB888);
        d.watch(files_.path(QStringLiteral("large.png")));
    } else {
        handset.emplace(files_.path(QStringLiteral("handset-save-") + tag), QStringList{"--screen-noise"});
        QVERIFY(handset->ready());
        d.watch(handset->url());
    }
    frmScreen *s = d.showScreen();
    QVERIFY(s);
    FramePicture *picture = s->picture;
    const QSize frameSize = picture->frame().size();
    if (still.isValid()) {
        // Scaled down to fit, the window on the screen whole.
        QCOMPARE(frameSize, still);
        QTRY_VERIFY(picture->scale() < 1.0);
        QTRY_VERIFY2(QRect(0, 0, 1280, 1024).contains(QRect(xtool::frameTopLeft(s->winId()), s->frameGeometry().size())),
                     qPrintable(QStringLiteral("%1×%2 at %3, %4").arg(s->frameGeometry().width()).arg(s->frameGeometry().height())
                                    .arg(xtool::frameTopLeft(s->winId()).x()).arg(xtool::frameTopLeft(s->winId()).y())));
    }
    if (largest.isValid()) {
        picture->setLargest(largest);
        s->adjustSize();
        QTRY_VERIFY(picture->scale() < 0.7);
    }
    if (resizedTo.isValid()) {
        QVERIFY(xtool::run(QStringLiteral("xdotool"), {"windowsize", QString::number(s->winId()),
                                                       QString::number(resizedTo.width()), QString::number(resizedTo.height())})
                    .isEmpty());
        QTRY_COMPARE(s->size(), resizedTo);
        QCOMPARE(picture->scale(), 1.0);
        // A drag wholly in the grey margin beside the frame selects nothing.
        QVERIFY(activate(s));
        const QRect shown = picture->toWidget(picture->frame().rect());
        const QPoint from = picture->mapToGlobal(QPoint(shown.right() + 20, shown.top() + 10));
        const QPoint to = picture->mapToGlobal(QPoint(picture->width() - 10, shown.bottom() - 10));
        QSignalSpy changes(picture, &FramePicture::selectionChanged);
        QVERIFY(xtool::drag(from, {(from + to) / 2}, to));
        QTRY_VERIFY(changes.size() >= 2 && QGuiApplication::mouseButtons() == Qt::NoButton);
        QVERIFY2(picture->selection().isEmpty(), qPrintable(QStringLiteral("%1×%2").arg(picture->selection().width()).arg(picture->selection().height())));
    }
    QVERIFY(activate(s));

    // The drag: the rectangle between where the button went down and where
    // it came up, in the frame's pixels.
    const QPoint from(frameSize.width() * 3 / 32, frameSize.height() / 6);
    const QPoint to(frameSize.width() * 15 / 32, frameSize.height() * 5 / 12);
    QVERIFY(dragOver(picture, from, to));
    const QRect dragged(picture->toFrame(picture->mapFromGlobal(onScreen(picture, from))),
                        picture->toFrame(picture->mapFromGlobal(onScreen(picture, to))));
    QTRY_COMPARE(picture->selection(), dragged.normalized());
    const int slack = int(std::ceil(1 / picture->scale()));
    QVERIFY2((picture->selection().topLeft() - from).manhattanLength() <= 2 * slack &&
                 (picture->selection().bottomRight() - to).manhattanLength() <= 2 * slack,
             qPrintable(QStringLiteral("%1,%2 %3×%4").arg(dragged.x()).arg(dragged.y()).arg(dragged.width()).arg(dragged.height())));
    QTRY_VERIFY(s->lblStatus->text().contains(QStringLiteral("選択 %1×%2（%3, %4 から）")
                                                  .arg(dragged.width()).arg(dragged.height()).arg(dragged.x()).arg(dragged.y())));

    // Saved through the context menu: the pixels as they were when the user
    // chose the item, whatever frames come while the dialog is open.
    const QString path = files_.path(QStringLiteral("saved-%1.png").arg(tag));
    QImage asked;
    bool framesCame = false;
    d.desktop.dialog = [&](const QString &) {
        asked = picture->frame().copy(picture->selection());
        const QImage shown = picture->frame();
        framesCame = !still.isValid() && QTest::qWaitFor([&] { return picture->frame() != shown; }, 5000);
        return path;
    };
    const QStringList items = chooseFromMenu(onScreen(picture, dragged.center()), s->mnuSavePicture);
    QCOMPARE(items, (QStringList{"選択範囲を画像として保存(&P)...", "選択範囲の文字を読む(&R)", "表示部分を正面から見る(&U) (disabled)",
                                 "拡大(&E)", "表示部分の四隅を合わせる(&C)", "画面の取り込み元(&S)..."}));
    QTRY_VERIFY(QFileInfo::exists(path));
    QCOMPARE(framesCame, !still.isValid());
    QCOMPARE(QFileInfo(d.desktop.newFileStarts.value(0)).fileName(), QStringLiteral("画像1.png"));
    const QImage saved(path);
    QCOMPARE(saved.size(), dragged.size());
    QCOMPARE(saved.convertToFormat(QImage::Format_RGB888), asked.convertToFormat(QImage::Format_RGB888));
    if (still.isValid())
        QCOMPARE(saved.convertToFormat(QImage::Format_RGB888), stillPicture.copy(dragged));
    QVERIFY(d.desktop.messages.isEmpty());
}

void TestScreenWindow::checkpointRecordedAndReplayed()
{
    // A screen with a camera's noise: every frame differs from the one
    // before.
    ModelHandset handset(files_.path(QStringLiteral("handset-record")), {"--screen-noise"});
    QVERIFY(handset.ready());
    qputenv("QUILLONEMU_COM" + QByteArray::number(kKeypadPort), QFile::encodeName(handset.link()));
    ProgramWindows d;
    d.w.cmbCommPort->setEditText(QString::number(kKeypadPort));
    d.watch(handset.url());
    frmScreen *s = d.showScreen();
    QVERIFY(s);
    d.w.mnuKeyboard->trigger();
    QTRY_VERIFY(managed(d.keyboard()) && managed(d.input()));
    frmKeyboard *kb = d.keyboard();

    // Connected, recording, "ab" typed into the text entry window.
    QVERIFY(xtool::click(centreOf(kb->Command1[39])));
    QTRY_COMPARE(kb->Command1[39]->text(), QStringLiteral("接続中"));
    const QString recording = files_.path(QStringLiteral("記録.txt"));
    d.desktop.dialogAnswers = {recording};
    kb->mnuRecordStart->trigger();
    QTRY_VERIFY(kb->isRecording());
    QVERIFY(activate(d.input()));
    QVERIFY(xtool::type(QStringLiteral("ab")));
    QTRY_COMPARE(d.input()->Text1->text(), QStringLiteral("ab"));
    QVERIFY(xtool::key(QStringLiteral("Return")));

    // The text shows on the model screen, and so in the window: dragged
    // over, and waited for. Its second letter first (each in a cell about
    // 21 pixels wide), and a second more, so that the frames since the
    // screen last changed are still: with the 「ｂ」 coming just before the
    // cut, the template was cut from the one frame after it, as grainy as
    // any (on a busy machine).
    const QRect area = ModelScreen::textArea();
    QTRY_VERIFY_WITH_TIMEOUT(inkIn(s->picture->frame(), QRect(area.topLeft() + QPoint(31, 0), QSize(18, 30))), 20'000);
    QTest::qWait(1000);
    QVERIFY(activate(s));
    QVERIFY(dragOver(s->picture, area.topLeft() - QPoint(3, 3), area.topLeft() + QPoint(50, 27)));
    QTRY_VERIFY(!s->picture->selection().isEmpty());
    const QRect selection = s->picture->selection();
    const QStringList items = chooseFromMenu(onScreen(s->picture, selection.center()), s->mnuWaitAppear);
    QCOMPARE(items, (QStringList{"選択範囲を画像として保存(&P)...", "選択範囲の文字を読む(&R)", "選択範囲が現れるまで待つ(&A)",
                                 "選択範囲が消えるまで待つ(&G)", "この文字が現れるまで待つ(&T)",
                                 "最後のチェックポイントを取り消す(&Z) (disabled)", "表示部分を正面から見る(&U) (disabled)", "拡大(&E)",
                                 "表示部分の四隅を合わせる(&C)", "画面の取り込み元(&S)..."}));
    QTRY_COMPARE_WITH_TIMEOUT(s->lblStatus->text(), QStringLiteral("記録に「WAITIMAGE 記録1.png 30」を加えました。"), 20'000);
    // A key after it: the pause before the key follows the wait.
    // (Pressed once the model's status bar names it.)
    const QRect statusBar(0, 0, ModelScreen::kWidth, ModelScreen::kStatusBarHeight);
    const QImage before = s->picture->frame().copy(statusBar);
    QVERIFY(xtool::click(centreOf(kb->Command1[14]))); // "発信"
    QTRY_VERIFY_WITH_TIMEOUT(s->picture->frame().copy(statusBar) != before, 20'000);
    kb->mnuRecordStop->trigger();
    QTRY_VERIFY(!kb->isRecording());

    // The screen it looked at opens before the first key.
    const QString looked = QStringLiteral("SCREEN ") + handset.url();
    QCOMPARE(macroFileLines(recording, false),
             (QStringList{"BASEWAIT 0.2", looked, "STRING ab", "WAITIMAGE 記録1.png 30", "CALL"}));
    QStringList lines = macroFileLines(recording);
    QCOMPARE(lines.indexOf(QStringLiteral("WAITIMAGE 記録1.png 30")), 3);
    QVERIFY2(lines.value(4).startsWith(QStringLiteral("SLEEP ")) && lines.value(5) == u"CALL", qPrintable(lines.join(u'|')));
    const QImage checkpoint(files_.path(QStringLiteral("記録1.png")));
    QCOMPARE(checkpoint.size(), selection.size());
    // Cut from the last frames that showed the same, the noise averaged
    // out, not from one frame.
    const QImage oneFrame = s->picture->frame().copy(selection);
    QVERIFY2(grain(checkpoint) < 0.7 * grain(oneFrame),
             qPrintable(QStringLiteral("%1 against %2").arg(grain(checkpoint)).arg(grain(oneFrame))));
    QVERIFY2(d.desktop.messages.size() == 1 && d.desktop.messages[0].startsWith(QStringLiteral("記録を「")),
             qPrintable(d.desktop.messages.join(u'\n')));

    // As the run reads it: nothing wrong.
    CliProcess check({"check", recording});
    QVERIFY(check.waitForEnd(20'000));
    QVERIFY2(check.exitCode() == 0 && check.out().contains(QStringLiteral("問題は見つかりませんでした。")),
             qPrintable(check.out() + check.err()));

    // Replayed against a handset that shows nothing yet: the text is typed,
    // and the wait sees it.
    // (Its SCREEN line edited to the new handset's stream, as a user points
    // a recording at another camera.)
    ModelHandset fresh(files_.path(QStringLiteral("handset-replay")));
    QVERIFY(fresh.ready());
    lines[1] = QStringLiteral("SCREEN ") + fresh.url();
    QFile::remove(recording);
    files_.writeShiftJis(QFileInfo(recording).fileName(), lines.join(QStringLiteral("\r\n")));
    CliProcess run({"run", recording, "--port", "1"}, [&](QProcess &process) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUILLONEMU_COM1"), fresh.link());
        process.setProcessEnvironment(env);
    });
    QVERIFY(run.waitForEnd(60'000));
    QVERIFY2(run.exitCode() == 0, qPrintable(run.out() + run.err()));
    QVERIFY(fresh.stop().contains(QStringLiteral("a")));
}

void TestScreenWindow::runsWaitsMarked()
{
    // The text shows a second after its packets: the first wait is found
    // late; the second runs out.
    ModelHandset handset(files_.path(QStringLiteral("handset-marks")), {"--screen-delay", "1"});
    QVERIFY(handset.ready());
    qputenv("QUILLONEMU_COM" + QByteArray::number(kRunPort), QFile::encodeName(handset.link()));
    writeTypedTemplate(files_);
    writeNeverShown(files_);
    const QString macro = files_.writeShiftJis(
        QStringLiteral("marks.txt"),
        QStringList{"BASEWAIT 0", "STRING あいう", "WAITIMAGE typed.png 10", "SLEEP 2", "WAITIMAGE never.png 1.5"}.join("\r\n"));
    ProgramWindows d;
    d.w.ParseCommandLine(QStringLiteral(R"("/M%1" "/P%2")").arg(macro).arg(kRunPort));
    d.watch(handset.url());
    frmScreen *s = d.showScreen();
    QVERIFY(s);
    QVERIFY(activate(s));

    // What the window shows while the run goes on, looked at again and
    // again: the marks' colours in the order they came.
    QList<QColor> seen;
    QStringList statuses;
    QStringList mainStatuses;
    QList<QSize> pictureSizes;
    // A change of the window's height goes through the window manager: the
    // picture may be seen at another size for a moment until it answers,
    // but never for long (looks in a row), and the window never shrinks
    // from one wait to the next.
    int offSizeLooks = 0;
    int longestOffSize = 0;
    QList<int> windowHeights;
    bool selectedDuringRun = false;
    QList<QRect> foundMarks; // where the found mark's frame showed its colour
    QSize pictureSize;       // before the run
    QTimer look;
    look.setInterval(30);
    QObject::connect(&look, &QTimer::timeout, [&] {
        const QColor shown = markShown(s);
        if (shown.isValid() && (seen.isEmpty() || seen.last() != shown))
            seen.append(shown);
        if (shown == kFound && s->picture->mark() && markFrameColour(s) == kFound)
            foundMarks.append(s->picture->mark()->rect);
        if (!pictureSizes.contains(s->picture->size()))
            pictureSizes.append(s->picture->size());
        offSizeLooks = s->picture->size() == pictureSize ? 0 : offSizeLooks + 1;
        longestOffSize = std::max(longestOffSize, offSizeLooks);
        if (windowHeights.isEmpty() || windowHeights.last() != s->height())
            windowHeights.append(s->height());
        if (!s->picture->selection().isEmpty())
            selectedDuringRun = true;
        if (statuses.isEmpty() || statuses.last() != s->lblWait->text())
            statuses.append(s->lblWait->text());
        if (mainStatuses.isEmpty() || mainStatuses.last() != d.w.lblStatus->text())
            mainStatuses.append(d.w.lblStatus->text());
    });
    QList<ScreenWaitReport> ended;
    QObject::connect(&d.w.runner(), &MacroRunner::screenWaitEnded, s,
                     [&](const ScreenWaitReport &report) { ended.append(report); });
    // A selection made before: no part of the run's marks.
    QVERIFY(activate(s));
    QSignalSpy dragged(s->picture, &FramePicture::selectionChanged);
    QVERIFY(dragOver(s->picture, QPoint(200, 150), QPoint(260, 190)));
    QTRY_VERIFY2(!s->picture->selection().isEmpty(), qPrintable(QStringLiteral("changes %1 qt %2,%3 x %4,%5 geo %6,%7").arg(dragged.size()).arg(s->geometry().x()).arg(s->geometry().y()).arg(xtool::frameTopLeft(s->winId()).x()).arg(xtool::frameTopLeft(s->winId()).y()).arg(s->frameGeometry().x()).arg(s->frameGeometry().y())));
    pictureSize = s->picture->size();
    look.start();
    d.w.cmdSend_Click();
    // (The run's end may come before the next look.)
    QTRY_COMPARE(markShown(s), kRanOut);
    QTRY_COMPARE(markFrameColour(s), kRanOut);
    look.stop();
    if (seen.isEmpty() || seen.last() != kRanOut)
        seen.append(kRanOut);

    QVERIFY2(ended.size() == 2 && ended[0].found && !ended[1].found, qPrintable(d.desktop.messages.join(u'\n')));
    // The found mark framed the text where the model drew it.
    QVERIFY(!foundMarks.isEmpty());
    QCOMPARE(foundMarks.first(), QRect(ModelScreen::textArea().topLeft(), QSize(90, 30)));
    QStringList colours;
    for (const QColor &c : seen)
        colours.append(named(c));
    QCOMPARE(colours.join(u' '), (QStringList{named(kWaiting), named(kFound), named(kWaiting), named(kRanOut)}).join(u' '));
    auto saw = [&](const QString &text) {
        return std::any_of(statuses.begin(), statuses.end(), [&](const QString &status) { return status.contains(text); });
    };
    // The wait with its time: seconds gone of those it may take.
    auto sawLike = [&](const QString &pattern) {
        const QRegularExpression like(pattern);
        return std::any_of(statuses.begin(), statuses.end(), [&](const QString &status) { return status.contains(like); });
    };
    QVERIFY2(sawLike(QStringLiteral("^3 行目 WAITIMAGE typed.png 待っています [0-9]+/10 秒 類似度")), qPrintable(statuses.join(u'\n')));
    QVERIFY2(sawLike(QStringLiteral("^5 行目 WAITIMAGE never.png 待っています 1/1.5 秒")), qPrintable(statuses.join(u'\n')));
    // The main window says the same of it: its count, then the same line.
    QVERIFY2(mainStatuses.contains(QStringLiteral("5 WAITIMAGE 5 行目 1/1.5 秒")), qPrintable(mainStatuses.join(u'\n')));
    QVERIFY2(saw(QStringLiteral("3 行目 WAITIMAGE typed.png 見つかりました 類似度")), qPrintable(statuses.join(u'\n')));
    QVERIFY2(s->lblWait->text().contains(QRegularExpression(QStringLiteral(
                 "^5 行目 WAITIMAGE never.png 1\\.\\d 秒で時間切れ 類似度 [0-9.]+（保存したフレームを表示中）$"))),
             qPrintable(s->lblWait->text()));

    // The evidence stays, whatever the stream shows meanwhile, until the
    // next run starts.
    QCOMPARE(d.desktop.messages.size(), 1);
    QVERIFY(s->showsEvidence());
    QVERIFY(!ended[1].evidence.isEmpty() && d.desktop.messages[0].contains(ended[1].evidence));
    const QImage evidence = QImage(ended[1].evidence).convertToFormat(QImage::Format_RGB888);
    QCOMPARE(s->picture->frame(), evidence);
    // The picture kept its size while the wait's line came and went.
    QVERIFY(!selectedDuringRun);
    QStringList sizes;
    for (const QSize &size : pictureSizes)
        sizes.append(QStringLiteral("%1×%2").arg(size.width()).arg(size.height()));
    QStringList heights;
    for (const int height : windowHeights)
        heights.append(QString::number(height));
    const QString seenSizes = sizes.join(u' ') + QStringLiteral(" (before the run %1×%2), window heights ")
                                                     .arg(pictureSize.width()).arg(pictureSize.height()) +
                              heights.join(u' ') + QStringLiteral("; the wait's lines:\n") + statuses.join(u'\n');
    QVERIFY2(longestOffSize <= 5, qPrintable(QStringLiteral("another size in %1 looks in a row: ").arg(longestOffSize) + seenSizes));
    QVERIFY2(std::is_sorted(windowHeights.begin(), windowHeights.end()), qPrintable(seenSizes));
    QCOMPARE(s->picture->size(), pictureSize);

    // The evidence at hand: from the main window's message, and in the
    // window beside the way back to the live picture.
    QCOMPARE(d.desktop.evidenceOffered, QStringList{ended[1].evidence});
    QCOMPARE(s->evidencePath(), ended[1].evidence);
    QTRY_VERIFY(s->cmdLive->isVisible() && s->cmdOpenEvidence->isVisible() && s->cmdEvidenceFolder->isVisible());
    QVERIFY(activate(s));
    QVERIFY(xtool::click(centreOf(s->cmdOpenEvidence)));
    QTRY_COMPARE(d.desktop.opened, QStringList{ended[1].evidence});
    QVERIFY(xtool::click(centreOf(s->cmdEvidenceFolder)));
    QTRY_COMPARE(d.desktop.opened.value(1), QFileInfo(ended[1].evidence).absolutePath());
    QVERIFY(xtool::click(centreOf(s->cmdLive)));
    QTRY_VERIFY(!s->showsEvidence() && !s->cmdLive->isVisible() && !s->picture->mark() && s->lblWait->text().isEmpty());
    QTRY_VERIFY2(s->lblStatus->text().contains(QStringLiteral(" fps")), qPrintable(s->lblStatus->text()));
    QCOMPARE(s->picture->size(), pictureSize);
    // (Still to be opened from the menu until the next run.)
    QCOMPARE(s->evidencePath(), ended[1].evidence);
    std::optional<bool> evidenceAtStart;
    QObject::connect(&d.w.runner(), &MacroRunner::statementStarted, s, [&] {
        if (!evidenceAtStart) {
            evidenceAtStart = s->showsEvidence();
            d.w.runner().RequestStop();
        }
    });
    d.w.cmdSend_Click();
    QCOMPARE(evidenceAtStart, std::optional<bool>(false));
    QVERIFY(!s->showsEvidence());
    QTRY_VERIFY(!markShown(s).isValid());
    handset.stop();
}

void TestScreenWindow::runGoesOnWhateverTheWindowDoes_data()
{
    QTest::addColumn<QString>("window"); // what happens to it during the wait
    QTest::addColumn<QString>("wait");
    QTest::addColumn<bool>("found");
    for (const char *window : {"left open", "closed", "opened"}) {
        QTest::addRow("found, window %s", window) << window << "WAITIMAGE typed.png 10" << true;
        QTest::addRow("runs out, window %s", window) << window << "WAITIMAGE never.png 2" << false;
    }
}

void TestScreenWindow::runGoesOnWhateverTheWindowDoes()
{
    // The window keeps taking events during the wait, and closing it (the
    // window manager's Alt+F4) or opening it then changes nothing in the
    // run; a wait that runs out leaves its evidence in the window all the
    // same.
    QFETCH(QString, window);
    QFETCH(QString, wait);
    QFETCH(bool, found);
    ModelHandset handset(files_.path(QStringLiteral("handset-window-%1").arg(QTest::currentDataTag()).replace(u' ', u'-')),
                         {"--screen-delay", "1"});
    QVERIFY(handset.ready());
    qputenv("QUILLONEMU_COM" + QByteArray::number(kRunPort), QFile::encodeName(handset.link()));
    writeTypedTemplate(files_);
    writeNeverShown(files_);
    const QString macro = files_.writeShiftJis(QStringLiteral("close.txt"),
                                               QStringList{"BASEWAIT 0", "STRING あいう", wait, "UP"}.join("\r\n"));
    ProgramWindows d;
    d.w.ParseCommandLine(QStringLiteral(R"("/M%1" "/P%2")").arg(macro).arg(kRunPort));
    d.watch(handset.url());
    if (window != u"opened")
        QVERIFY(d.showScreen());

    // Done as the user does it, without holding the run up: the window
    // manager is asked, the window learns of it through its events.
    QList<ScreenWaitReport> ended;
    std::optional<bool> shownAtTheEnd;
    QObject::connect(&d.w.runner(), &MacroRunner::screenWaitStarted, &d.w, [&] {
        QTimer::singleShot(0, &d.w, [&] {
            if (window == u"closed") {
                xtool::run(QStringLiteral("xdotool"), {"windowactivate", "--sync", QString::number(d.screen()->winId()), "key",
                                                       "--clearmodifiers", "alt+F4"});
            } else if (window == u"opened") {
                d.w.mnuScreen->trigger();
            }
        });
    });
    QObject::connect(&d.w.runner(), &MacroRunner::screenWaitEnded, &d.w, [&](const ScreenWaitReport &report) {
        ended.append(report);
        shownAtTheEnd = d.screen() && d.screen()->isVisible();
    });
    QElapsedTimer clock;
    clock.start();
    Responsiveness events;
    d.w.cmdSend_Click();
    events.tick.stop();
    qInfo("the run took %lld ms; %d ticks of 20 ms, the longest gap %lld ms", clock.elapsed(), events.ticks,
          events.longestGap);

    QVERIFY2(events.longestGap < 1000, qPrintable(QString::number(events.longestGap)));
    QCOMPARE(shownAtTheEnd, std::optional<bool>(window != u"closed"));
    frmScreen *s = d.screen();
    QCOMPARE(s->isVisible(), window != u"closed");
    QCOMPARE(ended.size(), 1);
    QCOMPARE(ended[0].found, found);
    QVERIFY(ended[0].secondsWaited >= (found ? 0.5 : 2.0));
    QTRY_VERIFY(!d.w.runner().isRunning());
    const QString received = handset.stop();
    if (found) {
        // Everything reached the handset, the key after the wait too.
        QVERIFY2(d.desktop.messages.isEmpty(), qPrintable(d.desktop.messages.join(u'\n')));
        QVERIFY2(received.contains(QStringLiteral("キー UP")), qPrintable(received));
        return;
    }
    // The run stopped at the wait with its evidence, and the window, shown
    // again, shows it.
    QCOMPARE(d.desktop.messages.size(), 1);
    // (The time as the run measured it: a busy machine may add a little.)
    QVERIFY2(d.desktop.messages[0].contains(QRegularExpression(QStringLiteral("2\\.\\d 秒待っても、画像「never.png」が画面に現れませんでした"))) &&
                 d.desktop.messages[0].contains(ended[0].evidence),
             qPrintable(d.desktop.messages[0]));
    QVERIFY2(!received.contains(QStringLiteral("キー UP")), qPrintable(received));
    d.w.mnuScreen->trigger();
    QTRY_VERIFY(managed(s));
    QVERIFY(s->showsEvidence());
    QCOMPARE(s->picture->frame(), QImage(ended[0].evidence).convertToFormat(QImage::Format_RGB888));
    QTRY_COMPARE(markShown(s), kRanOut);

    // Another source chosen: its live picture at once.
    d.watch(files_.path(QStringLiteral("never.png")));
    QTRY_VERIFY(!s->showsEvidence() && s->picture->frame().size() == QSize(48, 32));
    QTRY_VERIFY(!markShown(s).isValid());
}

bool TestScreenWindow::startRecording(Recording &r, const QString &name, const QString &typed)
{
    r.handset.emplace(files_.path(QStringLiteral("handset-") + name));
    if (!r.handset->ready())
        return false;
    qputenv("QUILLONEMU_COM" + QByteArray::number(kKeypadPort), QFile::encodeName(r.handset->link()));
    ProgramWindows &d = r.d.emplace();
    d.w.cmbCommPort->setEditText(QString::number(kKeypadPort));
    // The keypad first: the screen window opens beside it, over none of
    // its windows.
    d.w.mnuKeyboard->trigger();
    if (!QTest::qWaitFor([&] { return managed(d.keyboard()) && managed(d.input()); }, 20'000))
        return false;
    if (!d.watch(r.handset->url()) || !(r.s = d.showScreen()))
        return false;
    r.kb = d.keyboard();
    r.kb->Command1_Click(39);
    QDir().mkpath(files_.path(name));
    r.path = files_.path(name + QStringLiteral("/記録.txt"));
    d.desktop.dialogAnswers = {r.path};
    r.kb->mnuRecordStart->trigger();
    if (!r.kb->isRecording() || !r.kb->MSComm1.isOpen())
        return false;
    if (!typed.isEmpty()) {
        // Shown whole: ink in the same columns of the text's line as the
        // model draws it (within the stream's JPEG).
        const QRect area = ModelScreen::textArea();
        // (The keypad types ASCII as its full-width letters.)
        QString shown = typed;
        for (QChar &ch : shown)
            ch = ch.unicode() > 0x20 && ch.unicode() < 0x7F ? QChar(ch.unicode() + 0xFEE0) : ch;
        const QImage drawn = ModelScreen::render(QString(), shown);
        auto shownWhole = [&] {
            const QImage &frame = r.s->picture->frame();
            if (frame.size() != drawn.size())
                return false;
            int differing = 0;
            for (int x = area.left(); x <= area.right(); ++x) {
                const QRect column(x, area.top(), 1, 30);
                differing += inkIn(frame, column) != inkIn(drawn, column) ? 1 : 0;
            }
            return differing <= 4;
        };
        r.kb->SendStr(typed);
        if (!QTest::qWaitFor(shownWhole, 20'000))
            return false;
    }
    return activate(r.s);
}

void TestScreenWindow::displayCornersSetOnAnEnlargedPicture_data()
{
    QTest::addColumn<int>("zoom"); // FramePicture::kFillZoom: to the window
    QTest::newRow("x2") << 2;
    QTest::newRow("x3") << 3;
    QTest::newRow("to the window") << int(FramePicture::kFillZoom);
}

void TestScreenWindow::displayCornersSetOnAnEnlargedPicture()
{
    // The display's corners dragged, its resolution given: they go to the
    // recording after its SCREEN line, and the outline is drawn, on the
    // picture enlarged too.
    QFETCH(int, zoom);
    Recording r;
    QVERIFY(startRecording(r, QStringLiteral("corners-%1").arg(zoom)));
    frmScreen *s = r.s;
    FramePicture *picture = s->picture;

    // From a tenth in from the frame's edges, the top-left one dragged to
    // (10, 12).
    s->mnuSetCorners->trigger();
    QCOMPARE(picture->outline(), QPolygonF({QPointF(32, 24), QPointF(288, 24), QPointF(288, 216), QPointF(32, 216)}));
    QVERIFY(dragOver(picture, QPoint(32, 24), QPoint(10, 12)));
    QTRY_COMPARE(picture->outline().value(0), QPointF(10, 12));
    r.d->desktop.textAnswers = {QStringLiteral("240x320")};
    s->mnuApplyCorners->trigger();
    const QString display = QStringLiteral("DISPLAY 10,12 288,24 288,216 32,216 240x320");
    QCOMPARE(r.kb->recordedLines(), (QStringList{"BASEWAIT 0.2", "SCREEN " + r.handset->url(), display}));
    QCOMPARE(s->displayArea().resolution, QSize(240, 320));
    QTRY_VERIFY2(s->lblRecording->text().endsWith(display), qPrintable(s->lblRecording->text()));
    QVERIFY(!picture->outlineEditable());

    QAction *item = *std::find_if(s->mnuZoom.begin(), s->mnuZoom.end(), [&](QAction *a) {
        return a->objectName() == QStringLiteral("mnuZoom%1").arg(zoom);
    });
    item->trigger();
    if (zoom == FramePicture::kFillZoom)
        QTRY_VERIFY2(picture->scale() > 3.0, qPrintable(QString::number(picture->scale())));
    else
        QTRY_COMPARE(picture->scale(), double(zoom));
    QTRY_VERIFY(QRect(0, 0, 1280, 1024).contains(QRect(xtool::frameTopLeft(s->winId()), s->frameGeometry().size())));
    // The outline's right edge (frame column 288), in the window as shown.
    auto edgeShown = [&] {
        const QImage shot = xtool::screenshot(s->winId());
        const QPoint at = picture->mapTo(s, picture->toWidget(QRect(288, 120, 1, 1)).topLeft());
        for (int dx = -1; dx <= 2; ++dx) {
            if (shot.valid(at + QPoint(dx, 0)) && near(QColor(shot.pixel(at + QPoint(dx, 0))), QColor(0, 170, 255), 40))
                return true;
        }
        return false;
    };
    QTRY_VERIFY(edgeShown());
}

void TestScreenWindow::checkpointsRefusedAndTakenBack()
{
    // A picture checkpoint over typed text is refused (a one-character
    // change would pass it); one of the whole screen goes in, shows among
    // the recording's last lines and is taken back with its picture; the
    // end of the recording says where the file and its pictures went.
    Recording r;
    QVERIFY(startRecording(r, QStringLiteral("mend"), QStringLiteral("taro@ex.jp")));
    frmScreen *s = r.s;
    RecordingDesktop &desktop = r.d->desktop;
    const QString folder = QFileInfo(r.path).absolutePath();
    const QString picture1 = QDir(folder).filePath(QStringLiteral("記録1.png"));
    const QRect area = ModelScreen::textArea();
    s->picture->setSelection(QRect(area.topLeft(), QSize(150, 30)));
    desktop.messages.clear();
    s->mnuWaitAppear->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!desktop.messages.isEmpty(), 20'000);
    QVERIFY2(desktop.messages[0].startsWith(QStringLiteral("選択範囲はほとんどが文字です")), qPrintable(desktop.messages[0]));
    QVERIFY(!r.kb->recordedLines().join(u'|').contains(QStringLiteral("WAITIMAGE")) && !QFileInfo::exists(picture1));

    s->picture->setSelection(s->picture->frame().rect());
    s->mnuWaitAppear->trigger();
    QTRY_VERIFY(QFileInfo::exists(picture1));
    QCOMPARE(r.kb->recordedLines().last(), QStringLiteral("WAITIMAGE 記録1.png 30"));
    QTRY_VERIFY2(s->lblRecording->isVisible() && s->lblRecording->text().endsWith(QStringLiteral("\n  WAITIMAGE 記録1.png 30")),
                 qPrintable(s->lblRecording->text()));
    QStringList items = chooseFromMenu(onScreen(s->picture, QPoint(160, 120)), s->mnuUndoCheckpoint);
    QVERIFY2(items.contains(QStringLiteral("最後のチェックポイントを取り消す(&Z)")), qPrintable(items.join(u'|')));
    QTRY_VERIFY(!r.kb->recordedLines().join(u'|').contains(QStringLiteral("WAITIMAGE")));
    QVERIFY(!QFileInfo::exists(picture1));
    QTRY_VERIFY2(!s->lblRecording->text().contains(QStringLiteral("WAITIMAGE")), qPrintable(s->lblRecording->text()));

    s->mnuWaitGone->trigger();
    QTRY_VERIFY(QFileInfo::exists(picture1));
    desktop.messages.clear();
    r.kb->mnuRecordStop->trigger();
    QCOMPARE(desktop.messages, QStringList{QStringLiteral("記録を「%1」に保存しました。\nチェックポイントの画像（記録1.png）は同じフォルダ「%2」にあります。")
                                               .arg(QDir::toNativeSeparators(r.path), QDir::toNativeSeparators(folder))});
    QTRY_VERIFY(!s->lblRecording->isVisible());
}

void TestScreenWindow::keyboardOnlyAndSmallReadings()
{
    // Without the mouse: the arrow keys move the selection (Shift: size,
    // Ctrl: ten at a time), the Menu key and Shift+F10 open the menu, its
    // items go by their letters; a reading of a small selection says it may
    // be wrong.
    Recording r;
    QVERIFY(startRecording(r, QStringLiteral("keys"), QStringLiteral("taro@ex.jp")));
    frmScreen *s = r.s;
    FramePicture *picture = s->picture;
    QTRY_VERIFY(picture->hasFocus());
    const QRect area = ModelScreen::textArea();
    picture->setSelection(QRect(area.topLeft(), QSize(60, 30)));
    for (const char *key : {"Right", "Right", "Down", "shift+Right", "ctrl+shift+Up", "ctrl+shift+Up"})
        QVERIFY(xtool::key(QString::fromLatin1(key)));
    QTRY_COMPARE(picture->selection(), QRect(area.topLeft() + QPoint(2, 1), QSize(61, 10)));

    RecordingDesktop &desktop = r.d->desktop;
    desktop.messages.clear();
    const qsizetype dialogs = desktop.newFileStarts.size();
    QCOMPARE(keyOnMenu(QStringLiteral("Menu"), QStringLiteral("r")), QStringLiteral("screenMenu"));
    QTRY_VERIFY_WITH_TIMEOUT(!desktop.messages.isEmpty(), 20'000);
    QVERIFY2(desktop.messages[0].contains(QStringLiteral("高さが 10 ピクセルしかなく")), qPrintable(desktop.messages[0]));

    QVERIFY(activate(s));
    QCOMPARE(keyOnMenu(QStringLiteral("shift+F10"), QStringLiteral("p")), QStringLiteral("screenMenu"));
    QTRY_COMPARE(desktop.newFileStarts.size(), dialogs + 1);
}

void TestScreenWindow::dialogsBesideTheSelection()
{
    // The reading and the text to wait for: beside the selection, the same
    // text in both; a character Shift-JIS lacks named; the source dialog
    // over the window it was asked from, saying when no camera was found.
    Recording r;
    QVERIFY(startRecording(r, QStringLiteral("beside"), QStringLiteral("taro@ex.jp")));
    frmScreen *s = r.s;
    FramePicture *picture = s->picture;
    RecordingDesktop &desktop = r.d->desktop;
    const QRect area = ModelScreen::textArea();
    picture->setSelection(QRect(area.topLeft() - QPoint(2, 2), QSize(150, 32)));
    const QRect shown = picture->toWidget(picture->selection());
    const QRect selected(picture->mapToGlobal(shown.topLeft()), picture->mapToGlobal(shown.bottomRight()));
    desktop.messages.clear();
    desktop.keptClear.clear();
    s->mnuReadText->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!desktop.messages.isEmpty(), 20'000);
    desktop.textAnswers = {QStringLiteral("taro＠ex€.jp①"), QStringLiteral("taro@ex.jp")};
    s->mnuWaitText->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(desktop.textAnswers.isEmpty(), 20'000);
    QCOMPARE(desktop.messages.value(0), QStringLiteral("選択範囲の文字:\n") + desktop.textsShown.value(0));
    QVERIFY2(desktop.messages.value(1).startsWith(QStringLiteral("「€」 はマクロファイル")), qPrintable(desktop.messages.value(1)));
    QCOMPARE(desktop.keptClear, (QList<QRect>{selected, selected, selected, selected}));
    QTRY_VERIFY(r.kb->recordedLines().last().startsWith(QStringLiteral("WAITTEXT taro@ex.jp 30 ")));

    // The real boxes: beside the selection, the caption whole.
    ScreenDesktop real;
    QRect boxAt;
    int captionRoom = 0;
    QString label;
    bool browse = false;
    QTimer look;
    look.setInterval(20);
    QObject::connect(&look, &QTimer::timeout, [&] {
        QWidget *box = QApplication::activeModalWidget();
        if (!box || !managed(box))
            return;
        boxAt = QRect(xtool::frameTopLeft(box->winId()), box->frameGeometry().size());
        captionRoom = box->width() - box->fontMetrics().horizontalAdvance(box->windowTitle());
        for (const QLabel *l : box->findChildren<QLabel *>())
            label += l->text();
        browse = box->findChild<QPushButton *>(QStringLiteral("cmdBrowse")) != nullptr;
        look.stop();
        qobject_cast<QDialog *>(box)->reject();
    });
    look.start();
    {
        const Desktop::KeepClear beside(real, selected);
        real.showMessage(s, QStringLiteral("選択範囲の文字:\nQ"));
    }
    QVERIFY2(!boxAt.isEmpty() && !boxAt.intersects(selected), qPrintable(QStringLiteral("%1,%2 %3×%4").arg(boxAt.x()).arg(boxAt.y()).arg(boxAt.width()).arg(boxAt.height())));
    QVERIFY2(captionRoom > 100, qPrintable(QString::number(captionRoom)));
    look.start();
    QCOMPARE(real.chooseScreenSource(s, {}, QString()), std::nullopt);
    QVERIFY2(label.contains(QStringLiteral("カメラは見つかりませんでした")) && browse, qPrintable(label));

    // From the screen window's menu: over the screen window.
    QVERIFY(activate(s));
    const qsizetype asked = desktop.screenSourceParents.size();
    chooseFromMenu(onScreen(picture, QPoint(160, 200)), s->mnuSource);
    QTRY_COMPARE(desktop.screenSourceParents.size(), asked + 1);
    QCOMPARE(desktop.screenSourceParents.last(), s);
}

int main(int argc, char **argv)
{
    return runDesktopTest<TestScreenWindow>(argc, argv);
}

#include "test_screenwindow.moc"
