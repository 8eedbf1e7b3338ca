// The display in a camera's frame: found within a few pixels of where the
// model camera put it (light and dark screens, glare, moiré; a dark screen
// as dark as the body, by its status bar and soft keys), followed after the
// camera is nudged, none found in a screen capture, from one lit band, or
// when the frame is said to be the display; templates as wide as the
// display found in it; the session's waits watching it upright, and the
// DISPLAY line as the checker reads it.

#include "cameraset.h"
#include "handset/modelscreen.h"
#include "macro/macrocheck.h"
#include "macro/statement.h"
#include "screen/displayfinder.h"
#include "screen/framechange.h"
#include "screen/matcher.h"
#include "screen/screensession.h"
#include "screen/stillcut.h"
#include "support/camerascreens.h"
#include "support/corners.h"
#include "support/tempfiles.h"

#include <QGuiApplication>
#include <QtTest>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

// The most a corner found may lie from the truth (frame pixels).
constexpr double kCornerTolerance = 3;

// The model's screen in a camera's still frame, saved as a picture to open
// as a source (`path` empty when it could not be written).
struct FilmedScreen {
    CameraSet::Screen screen;
    CameraModel::Shot shot;
    QString path;
};

FilmedScreen filmedModelScreen(const TempFiles &files)
{
    FilmedScreen filmed;
    filmed.screen = CameraSet::screen(CameraSet::fonts()[0], CameraSet::layouts()[0], 2);
    filmed.shot = CameraSet::film(filmed.screen.picture, 21, CameraSet::Condition::Plain);
    if (cv::imwrite(files.path("frame.png").toStdString(), filmed.shot.frame))
        filmed.path = files.path("frame.png");
    return filmed;
}

} // namespace

class TestDisplay : public QObject {
    Q_OBJECT
private slots:
    void foundOnCameraFrames_data();
    void foundOnCameraFrames();
    void followedAfterANudge_data();
    void followedAfterANudge();
    void uprightAsWarpedDirectly_data();
    void uprightAsWarpedDirectly();
    void uprightDisplayChangedOrNot_data();
    void uprightDisplayChangedOrNot();
    void framesUsedAsTheyAre_data();
    void framesUsedAsTheyAre();
    void screenWithItsBars_data();
    void screenWithItsBars();
    void templatesAsWideAsTheDisplay_data();
    void templatesAsWideAsTheDisplay();
    void wordAfterANudge_data();
    void wordAfterANudge();
    void sessionWatchesTheDisplayUpright();
    void glyphsMeasuredInTheCameraPixels();
    void displayLinesChecked();
};

void TestDisplay::foundOnCameraFrames_data()
{
    QTest::addColumn<int>("layout");
    QTest::addColumn<int>("font");
    QTest::addColumn<int>("condition");
    QTest::addColumn<int>("seed");
    using C = CameraSet::Condition;
    // layouts(): 0 320x240, 1 240x320, 2 240x320 dark, 3 480x800, 4 480x800 dark.
    QTest::newRow("QVGA landscape") << 0 << 0 << int(C::Plain) << 3;
    QTest::newRow("QVGA portrait, moiré") << 1 << 1 << int(C::Moire) << 17;
    QTest::newRow("dark theme") << 2 << 2 << int(C::Plain) << 12;
    QTest::newRow("dark theme, glare") << 2 << 4 << int(C::Glare) << 25;
    QTest::newRow("WVGA, glare") << 3 << 3 << int(C::Glare) << 40;
    QTest::newRow("WVGA dark, nudged") << 4 << 0 << int(C::Nudged) << 64;
    QTest::newRow("8-dot font, nudged") << 1 << 4 << int(C::Nudged) << 31;
}

void TestDisplay::foundOnCameraFrames()
{
    QFETCH(int, layout);
    QFETCH(int, font);
    QFETCH(int, condition);
    QFETCH(int, seed);
    const CameraSet::Screen screen = CameraSet::screen(CameraSet::fonts()[font], CameraSet::layouts()[layout], seed);
    const CameraModel::Shot shot = CameraSet::film(screen.picture, quint32(seed), CameraSet::Condition(condition));
    const std::optional<DisplayCorners> corners = DisplayFinder::find(shot.frame);
    QVERIFY(corners);
    QVERIFY2(cornerError(*corners, shot.corners) <= kCornerTolerance, qPrintable(QString::number(cornerError(*corners, shot.corners))));
    // Made upright at the display's resolution, it is the display's picture
    // again (the camera's blur and noise aside).
    DisplayArea area;
    area.resolution = CameraSet::layouts()[layout].size;
    DisplayFinder finder(area);
    const cv::Mat upright = finder.rectify(shot.frame, *corners);
    QCOMPARE(upright.cols, area.resolution.width());
    QCOMPARE(upright.rows, area.resolution.height());
}

void TestDisplay::followedAfterANudge_data()
{
    QTest::addColumn<int>("layout");
    QTest::addColumn<int>("screenSeed");
    QTest::addColumn<int>("cameraSeed");
    QTest::addColumn<QPointF>("shift");
    QTest::newRow("QVGA portrait") << 1 << 5 << 9 << QPointF(5, -4);
    // Its top edge 9 pixels below the frame's: little of the body above it
    // in the frame, and the status bar's dark band below the edge.
    QTest::newRow("QVGA landscape, nudged to the frame's top edge") << 0 << 11 << 11 << QPointF(4, -3);
    // Edges of little contrast, each frame's found with its own noise.
    QTest::newRow("dark theme") << 2 << 11 << 11 << QPointF(4, -3);
    QTest::newRow("dark theme, another camera") << 2 << 23 << 23 << QPointF(-4, 3);
}

void TestDisplay::followedAfterANudge()
{
    QFETCH(int, layout);
    QFETCH(int, screenSeed);
    QFETCH(int, cameraSeed);
    QFETCH(QPointF, shift);
    const CameraSet::Screen screen = CameraSet::screen(CameraSet::fonts()[0], CameraSet::layouts()[layout], screenSeed);
    const CameraModel camera = CameraSet::camera(quint32(cameraSeed), CameraSet::Condition::Plain);
    DisplayFinder finder;
    // Still: searched once, then followed frame after frame, held where it
    // is (the upright picture does not shake with each frame's noise).
    std::optional<DisplayCorners> held;
    int moves = 0;
    for (quint64 frame = 0; frame < 12; ++frame) {
        const CameraModel::Shot shot = camera.shoot(screen.picture, CameraModel::Pose(), frame);
        const std::optional<DisplayCorners> corners = finder.locate(shot.frame);
        QVERIFY(corners);
        QVERIFY(cornerError(*corners, shot.corners) <= kCornerTolerance);
        moves += held && *held != *corners;
        held = corners;
    }
    QCOMPARE(finder.searches(), 1);
    QVERIFY2(moves <= 1, qPrintable(QStringLiteral("moved %1 times in 11 frames").arg(moves)));
    // Nudged nearer and aside: found where it went in the very next frame.
    CameraModel::Pose nudged;
    nudged.scale = 1.05;
    nudged.shift = shift;
    const CameraModel::Shot shot = camera.shoot(screen.picture, nudged, 10);
    const std::optional<DisplayCorners> corners = finder.locate(shot.frame);
    QVERIFY(corners);
    QVERIFY2(cornerError(*corners, shot.corners) <= kCornerTolerance, qPrintable(QString::number(cornerError(*corners, shot.corners))));
    // A small drift is followed without a search.
    nudged.shift += QPointF(1.5, 1);
    const CameraModel::Shot drifted = camera.shoot(screen.picture, nudged, 11);
    const qint64 searches = finder.searches();
    QVERIFY(cornerError(*finder.locate(drifted.frame), drifted.corners) <= kCornerTolerance);
    QCOMPARE(finder.searches(), searches);
}

void TestDisplay::uprightAsWarpedDirectly_data()
{
    QTest::addColumn<int>("layout");
    QTest::addColumn<QSize>("resolution");
    QTest::addColumn<QPoint>("off");
    QTest::addColumn<int>("seed");
    QTest::newRow("QVGA at its resolution") << 0 << QSize(320, 240) << QPoint() << 3;
    QTest::newRow("at its size in the frame") << 2 << QSize() << QPoint() << 11;
    QTest::newRow("WVGA enlarged, a width not a multiple of 8") << 3 << QSize(483, 801) << QPoint() << 40;
    QTest::newRow("running off the frame's left edge") << 1 << QSize(240, 320) << QPoint(-1, 0) << 17;
    QTest::newRow("running off the frame's right edge") << 0 << QSize(322, 241) << QPoint(1, 0) << 5;
    QTest::newRow("running off the frame's top edge") << 1 << QSize(241, 320) << QPoint(0, -1) << 8;
    QTest::newRow("WVGA running off the frame's bottom edge") << 3 << QSize(480, 800) << QPoint(0, 1) << 23;
}

void TestDisplay::uprightAsWarpedDirectly()
{
    // The upright picture from the kept maps is the frame warped directly
    // (in double precision): wherever the display lies, whatever its width.
    QFETCH(int, layout);
    QFETCH(QSize, resolution);
    QFETCH(QPoint, off);
    QFETCH(int, seed);
    const CameraSet::Screen screen = CameraSet::screen(CameraSet::fonts()[0], CameraSet::layouts()[layout], seed);
    const CameraModel::Shot shot = CameraSet::film(screen.picture, quint32(seed), CameraSet::Condition::Plain);
    DisplayCorners corners;
    for (size_t i = 0; i < 4; ++i)
        corners[i] = cv::Point2f(float(shot.corners[i].x()), float(shot.corners[i].y()));
    // Off an edge: that side 30 pixels beyond it.
    const cv::Point2f lowest(std::min({corners[0].x, corners[3].x}), std::min({corners[0].y, corners[1].y}));
    const cv::Point2f highest(std::max({corners[1].x, corners[2].x}), std::max({corners[2].y, corners[3].y}));
    const cv::Point2f by(off.x() < 0 ? -lowest.x - 30 : off.x() > 0 ? float(shot.frame.cols) + 30 - highest.x : 0,
                         off.y() < 0 ? -lowest.y - 30 : off.y() > 0 ? float(shot.frame.rows) + 30 - highest.y : 0);
    for (cv::Point2f &c : corners)
        c += by;
    DisplayArea area;
    area.resolution = resolution;
    DisplayFinder finder(area);
    const cv::Mat upright = finder.rectify(shot.frame, corners);
    const float w = float(upright.cols), h = float(upright.rows);
    const std::vector<cv::Point2f> to = {{-0.5f, -0.5f}, {w - 0.5f, -0.5f}, {w - 0.5f, h - 0.5f}, {-0.5f, h - 0.5f}};
    cv::Mat direct;
    cv::warpPerspective(shot.frame, direct, cv::getPerspectiveTransform(std::vector<cv::Point2f>(corners.begin(), corners.end()), to),
                        upright.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    cv::Mat difference;
    cv::absdiff(upright, direct, difference);
    difference = difference.reshape(1);
    double largest = 0;
    cv::minMaxLoc(difference, nullptr, &largest);
    // A place a 1/32 pixel off now and then (single precision) moves a
    // sharp edge's pixel by a few levels.
    const int differing = cv::countNonZero(difference);
    QVERIFY2(largest <= 4 && differing * 2000 < int(difference.total()),
             qPrintable(QStringLiteral("%1 values differ, by up to %2").arg(differing).arg(largest)));
}

void TestDisplay::uprightDisplayChangedOrNot_data()
{
    QTest::addColumn<int>("layout");
    QTest::addColumn<int>("font");
    QTest::addColumn<int>("condition");
    QTest::addColumn<bool>("resolutionGiven");
    using C = CameraSet::Condition;
    QTest::newRow("QVGA landscape") << 0 << 0 << int(C::Plain) << true;
    QTest::newRow("QVGA portrait, moiré, at its size in the frame") << 1 << 2 << int(C::Moire) << false;
    QTest::newRow("dark theme, 8-dot font, glare") << 2 << 4 << int(C::Glare) << true;
    QTest::newRow("WVGA, enlarged to its resolution") << 3 << 1 << int(C::Plain) << true;
}

void TestDisplay::uprightDisplayChangedOrNot()
{
    // The display made upright from two frames of the same screen (each
    // the camera's own noise): not changed, though the camera's exposure
    // moved; from a frame of the same screen with one character of its
    // text changed: changed.
    QFETCH(int, layout);
    QFETCH(int, font);
    QFETCH(int, condition);
    QFETCH(bool, resolutionGiven);
    const CameraSet::Screen screen = CameraSet::screen(CameraSet::fonts()[font], CameraSet::layouts()[layout], 4);
    const CameraModel camera = CameraSet::camera(11, CameraSet::Condition(condition));
    const CameraModel::Shot first = camera.shoot(screen.picture, CameraModel::Pose(), 1);
    const std::optional<DisplayCorners> corners = DisplayFinder::find(first.frame);
    QVERIFY(corners);
    DisplayArea area;
    if (resolutionGiven)
        area.resolution = CameraSet::layouts()[layout].size;
    DisplayFinder finder(area);
    FrameChange change;
    change.keep(finder.rectify(first.frame, *corners));
    cv::Mat again = camera.shoot(screen.picture, CameraModel::Pose(), 2).frame;
    again.convertTo(again, -1, 1, 7);
    const double same = change.difference(finder.rectify(again, *corners));
    const double near = change.difference(finder.rectify(camera.shoot(screen.nearMiss, CameraModel::Pose(), 3).frame, *corners));
    const QString seen = QStringLiteral("the same screen %1, a character changed %2").arg(same).arg(near);
    QVERIFY2(same <= FrameChange::kLevel && near > FrameChange::kLevel, qPrintable(seen));
}

void TestDisplay::framesUsedAsTheyAre_data()
{
    QTest::addColumn<QString>("area");
    QTest::addColumn<bool>("camera");
    // A screen capture is the display already: its light area running to
    // the frame's edges is no display in it.
    QTest::newRow("screen capture, AUTO") << "AUTO" << false;
    QTest::newRow("dark screen capture, AUTO") << "AUTO 240x320" << false;
    QTest::newRow("camera frame, WHOLE") << "WHOLE" << true;
    // The model's pop-up: a light patch framed in red within the light screen.
    QTest::newRow("pop-up in a screen capture") << "POPUP" << false;
}

void TestDisplay::framesUsedAsTheyAre()
{
    QFETCH(QString, area);
    QFETCH(bool, camera);
    QString problem;
    if (area == "POPUP") {
        QVERIFY(!DisplayFinder::find(toBgr(ModelScreen::render(QStringLiteral("ENTER"), QStringLiteral("あいう"), true))));
        return;
    }
    DisplayFinder finder(*DisplayArea::parse(area, &problem));
    for (int layout = 0; layout < CameraSet::layouts().size(); ++layout) {
        const QImage picture = CameraSet::screen(CameraSet::fonts()[0], CameraSet::layouts()[layout], layout).picture;
        const cv::Mat frame = camera ? CameraSet::film(picture, 7, CameraSet::Condition::Plain).frame : toBgr(picture);
        QVERIFY2(!finder.locate(frame), qPrintable(CameraSet::layouts()[layout].name));
    }
}

void TestDisplay::screenWithItsBars_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("softKeys");
    QTest::addColumn<int>("seed");
    // The display's share of the frame's height and its tilt (0: the
    // camera's own).
    QTest::addColumn<double>("share");
    QTest::addColumn<double>("tilt");
    // The body text's glyphs (0: a tenth of the display's height).
    QTest::addColumn<int>("pixels");
    QTest::addColumn<bool>("dark");
    QTest::newRow("QVGA landscape filling the frame") << QSize(320, 240) << true << 5 << 0.85 << 0.0 << 0 << true;
    QTest::newRow("QVGA portrait") << QSize(240, 320) << true << 8 << 0.0 << 0.0 << 0 << true;
    QTest::newRow("WVGA") << QSize(480, 800) << true << 13 << 0.0 << 0.0 << 0 << true;
    QTest::newRow("status bar alone") << QSize(320, 240) << false << 5 << 0.85 << 0.0 << 0 << true;
    // The first line's glyphs a few pixels below the status bar: beside
    // the bar the screen's black is thin. And a bar a few pixels thick in
    // the search's small copy, tilted: its outline steps.
    QTest::newRow("first line close below the status bar") << QSize(320, 240) << true << 5 << 0.85 << 0.0 << 16 << true;
    QTest::newRow("thin bars, tilted") << QSize(320, 240) << true << 8 << 0.5 << 2.5 << 8 << true;
    // The time drawn close to the status bar's end, the battery close to
    // its other: the ends were placed on them, and crept frame by frame.
    QTest::newRow("WVGA, the time close to the bar's end") << QSize(480, 800) << true << 3 << 0.0 << 0.0 << 0 << true;
    QTest::newRow("WVGA, another camera") << QSize(480, 800) << true << 17 << 0.0 << 0.0 << 0 << true;
    QTest::newRow("QVGA landscape, the battery close to the bar's end") << QSize(320, 240) << true << 22 << 0.0 << 0.0 << 0 << true;
    // A light screen's dark status bar, dimmer still where the light falls
    // off, is part of the display though the lit patch stops short of it
    // (wholly, or on one side: the upright picture was cut and tilted);
    // and so when the display reaches nearly to the frame's top.
    QTest::newRow("light QVGA portrait, dark status bar") << QSize(240, 320) << true << 31 << 0.0 << 0.0 << 0 << false;
    QTest::newRow("light QVGA landscape, dark status bar") << QSize(320, 240) << true << 34 << 0.0 << 0.0 << 0 << false;
    QTest::newRow("light WVGA, dark status bar") << QSize(480, 800) << true << 33 << 0.0 << 0.0 << 0 << false;
    QTest::newRow("light WVGA, a thick status bar, the time and battery large") << QSize(480, 800) << true << 18 << 0.0 << 0.0 << 0 << false;
    QTest::newRow("light, dark status bar near the frame's top") << QSize(240, 320) << true << 37 << 0.9 << 0.0 << 0 << false;
    // A dark screen reaching within a few pixels of the frame's edge (the
    // camera brought near): its bar there was taken for one running off
    // the frame, and the display was not found.
    QTest::newRow("dark, status bar a few pixels below the frame's top") << QSize(320, 240) << true << 22 << 0.9 << 0.0 << 0 << true;
    QTest::newRow("dark, soft keys a few pixels above the frame's bottom") << QSize(320, 240) << true << 79 << 0.9 << 0.0 << 0 << true;
    QTest::newRow("dark WVGA, status bar a few pixels below the frame's top") << QSize(480, 800) << true << 54 << 0.9 << 0.0 << 0 << true;
}

// A dark screen whose black is as dark as the body around it (an OLED's
// black) has no edge: the status bar above and the soft keys below frame
// it. One lit band alone is no display. A light screen's dim bars are part
// of it too.
void TestDisplay::screenWithItsBars()
{
    QFETCH(QSize, size);
    QFETCH(bool, softKeys);
    QFETCH(int, seed);
    QFETCH(double, share);
    QFETCH(double, tilt);
    QFETCH(int, pixels);
    QFETCH(bool, dark);
    std::mt19937 random(seed);
    HandsetScreen screen;
    screen.dark = dark;
    screen.size = size;
    screen.pixels = pixels > 0 ? pixels : size.height() / 10;
    screen.lines = QStringList{QStringLiteral("失敗時間新"), QStringLiteral("ひらがなフォルダ"), QStringLiteral("東京都大阪府")};
    cv::Mat drawn = drawScreen(screen);
    if (!softKeys)
        drawn(cv::Rect(0, size.height() * 4 / 5, size.width(), size.height() / 5)).setTo(cv::Scalar(0x1C, 0x16, 0x14));
    CameraView view = randomView(random);
    if (share > 0)
        view.share = share;
    if (tilt != 0)
        view.tiltDegrees = tilt;
    std::vector<cv::Point2f> truth;
    const cv::Mat frame = filmed(drawn, view, random, &truth);
    const std::optional<DisplayCorners> found = DisplayFinder::find(frame);
    if (!softKeys) {
        QVERIFY2(!found, "a lit band taken for the display");
        return;
    }
    QVERIFY(found);
    for (size_t i = 0; i < 4; ++i)
        QVERIFY2(std::hypot((*found)[i].x - truth[i].x, (*found)[i].y - truth[i].y) <= kCornerTolerance,
                 qPrintable(QStringLiteral("corner %1 at %2,%3, not %4,%5").arg(i).arg((*found)[i].x).arg((*found)[i].y)
                                .arg(truth[i].x).arg(truth[i].y)));
    // Followed by its bars from frame to frame (each with its own noise):
    // placed once more in the first, then held without a search and without
    // shaking, as near the truth.
    DisplayFinder finder;
    QVERIFY(finder.locate(frame));
    std::optional<DisplayCorners> held = finder.locate(filmed(drawn, view, random));
    QVERIFY(held);
    for (int i = 0; i < 4; ++i) {
        const std::optional<DisplayCorners> followed = finder.locate(filmed(drawn, view, random));
        QVERIFY(followed);
        for (size_t k = 0; k < 4; ++k) {
            QVERIFY2(std::hypot((*followed)[k].x - (*held)[k].x, (*followed)[k].y - (*held)[k].y) < 1,
                     qPrintable(QStringLiteral("frame %1: corner %2 moved").arg(i + 3).arg(k)));
            QVERIFY(std::hypot((*followed)[k].x - truth[k].x, (*followed)[k].y - truth[k].y) <= kCornerTolerance);
        }
    }
    QCOMPARE(finder.searches(), 1);
}

void TestDisplay::templatesAsWideAsTheDisplay_data()
{
    QTest::addColumn<QString>("cut");
    QTest::addColumn<bool>("changed");
    QTest::addColumn<bool>("found");
    // Each reaches the display's edge, where the camera blurs the handset's
    // dark body into the upright picture's outermost pixels: a plain part
    // there took the dark column for a glyph's stroke (the soft keys scored
    // 0.23 at their place, the row 0.69).
    QTest::newRow("the soft keys") << "soft keys" << false << true;
    QTest::newRow("the text's row") << "row" << false << true;
    QTest::newRow("the text's row, one character changed") << "row" << true << false;
}

void TestDisplay::templatesAsWideAsTheDisplay()
{
    // Cut from the display's own pixels (the model handset's picture, a
    // screenshot); looked for in the display a camera films, made upright
    // at its resolution as a wait does.
    QFETCH(QString, cut);
    QFETCH(bool, changed);
    QFETCH(bool, found);
    const CameraSet::Screen screen = CameraSet::screen(CameraSet::fonts()[0], CameraSet::layouts()[0], 1);
    const int w = screen.picture.width(), h = screen.picture.height();
    const QRect box = cut == QLatin1String("row") ? QRect(0, screen.textBox.y() - 4, w, screen.textBox.height() + 8)
                                                  : QRect(0, h - h / 10, w, h / 10);
    const TemplateMatcher matcher(toBgr(screen.picture.copy(box)));
    const CameraModel::Shot shot = CameraSet::film(changed ? screen.nearMiss : screen.picture, 29, CameraSet::Condition::Plain);
    DisplayArea area;
    area.resolution = QSize(w, h);
    DisplayFinder finder(area);
    const std::optional<DisplayCorners> corners = finder.locate(shot.frame);
    QVERIFY(corners);
    const cv::Mat upright = finder.rectify(shot.frame, *corners);
    constexpr double kLevel = Statement::kDefaultLevel;
    const MatchResult r = matcher.match(upright, kLevel);
    const QString seen = QStringLiteral("%1 at (%2, %3), weakest part %4,%5 %6×%7")
                             .arg(r.similarity, 0, 'f', 3).arg(r.place.x()).arg(r.place.y())
                             .arg(r.weakestPart.x()).arg(r.weakestPart.y()).arg(r.weakestPart.width()).arg(r.weakestPart.height());
    QVERIFY2((r.similarity >= kLevel) == found, qPrintable(seen));
    if (found)
        QVERIFY2((r.place - box.topLeft()).manhattanLength() <= 2, qPrintable(seen));
}

void TestDisplay::wordAfterANudge_data()
{
    QTest::addColumn<int>("font");
    QTest::addColumn<int>("layout");
    QTest::addColumn<int>("seed");
    QTest::addColumn<QPointF>("shift");
    QTest::addColumn<double>("scale");
    // Screens whose near miss changes a digit (「残り3件」, 「着信音量5」,
    // 「新着メール2件」), the hardest to tell apart, at 16 and 22 pixels.
    QTest::newRow("QVGA, nearer") << 0 << 0 << 13 << QPointF(5, -4) << 1.05;
    QTest::newRow("VL Gothic, QVGA portrait, farther") << 1 << 1 << 23 << QPointF(-6, 3) << 0.95;
    QTest::newRow("VL Gothic, dark theme, nearer") << 1 << 2 << 31 << QPointF(4, 4) << 1.05;
    QTest::newRow("dark theme, farther") << 0 << 2 << 23 << QPointF(-3, -5) << 0.95;
}

void TestDisplay::wordAfterANudge()
{
    // A word's template cut in the screen window from the upright display
    // of a still camera (the mean of its frames), then the camera nudged:
    // the display found again and made upright at its resolution undoes
    // the nudge, so the word is found where it is, and the same screen
    // with one character of it changed is not taken for it.
    QFETCH(int, font);
    QFETCH(int, layout);
    QFETCH(int, seed);
    QFETCH(QPointF, shift);
    QFETCH(double, scale);
    const CameraSet::Screen screen = CameraSet::screen(CameraSet::fonts()[font], CameraSet::layouts()[layout], seed);
    const CameraModel camera = CameraSet::camera(quint32(seed), CameraSet::Condition::Plain);
    DisplayArea area;
    area.resolution = screen.picture.size();
    DisplayFinder finder(area);
    std::vector<cv::Mat> still;
    for (quint64 frame = 0; frame < 8; ++frame) {
        const CameraModel::Shot shot = camera.shoot(screen.picture, CameraModel::Pose(), frame);
        const std::optional<DisplayCorners> corners = finder.locate(shot.frame);
        QVERIFY(corners);
        still.insert(still.begin(), finder.rectify(shot.frame, *corners));
    }
    const QRect box = screen.textBox.adjusted(-2, -2, 2, 2) & QRect(QPoint(0, 0), screen.picture.size());
    const TemplateMatcher matcher(stillCut(still, cv::Rect(box.x(), box.y(), box.width(), box.height())));
    CameraModel::Pose nudged;
    nudged.scale = scale;
    nudged.shift = shift;
    constexpr double kLevel = Statement::kDefaultLevel;
    for (const bool changed : {false, true}) {
        DisplayFinder following(area);
        const CameraModel::Shot shot = camera.shoot(changed ? screen.nearMiss : screen.picture, nudged, 20);
        const std::optional<DisplayCorners> corners = following.locate(shot.frame);
        QVERIFY(corners);
        const MatchResult r = matcher.match(following.rectify(shot.frame, *corners), kLevel);
        const QString seen = QStringLiteral("%1 (%2 for %3) %4 at (%5, %6)")
                                 .arg(changed ? screen.nearMissText : screen.text, screen.text)
                                 .arg(changed ? "near miss" : "word")
                                 .arg(r.similarity, 0, 'f', 3).arg(r.place.x()).arg(r.place.y());
        QVERIFY2((r.similarity >= kLevel) != changed, qPrintable(seen));
        if (!changed)
            QVERIFY2((r.place - box.topLeft()).manhattanLength() <= 2, qPrintable(seen));
    }
}

void TestDisplay::sessionWatchesTheDisplayUpright()
{
    // A camera's still frame of the model's screen; the template cut from
    // the screen's own pixels.
    TempFiles files;
    const auto [screen, shot, framePath] = filmedModelScreen(files);
    QVERIFY(!framePath.isEmpty());
    const QRect box = screen.textBox.adjusted(-4, -4, 4, 4);
    const QString templatePath = files.path("text.png");
    QVERIFY(screen.picture.copy(box).save(templatePath));

    ScreenSession session;
    QString error;
    QVERIFY2(session.openSource(framePath, &error), qPrintable(error));
    DisplayArea area;
    area.resolution = QSize(320, 240);
    session.setDisplay(area);
    QVERIFY(session.loadTemplate(templatePath, &error));
    session.startWait(templatePath, 0.8, false);
    QTRY_VERIFY_WITH_TIMEOUT(session.waitState().done, 10000);
    // In the display's pixels.
    const RunScreen::WaitState state = session.waitState();
    QVERIFY2((state.bestPlace - box.topLeft()).manhattanLength() <= 3,
             qPrintable(QStringLiteral("%1,%2").arg(state.bestPlace.x()).arg(state.bestPlace.y())));
    session.endWait();
    // The window: the whole frame, the display upright and its outline.
    const ScreenPicture picture = session.newestPicture(0, 0);
    QCOMPARE(picture.image.size(), QSize(1280, 720));
    QCOMPARE(picture.display.size(), QSize(320, 240));
    QCOMPARE(picture.outline.size(), 4);
    // SNAPSHOT keeps the whole frame, the outline drawn on it.
    const QString snapshot = files.path("shot.png");
    QVERIFY(session.saveNewest(snapshot, &error));
    const cv::Mat saved = cv::imread(snapshot.toStdString());
    QCOMPARE(saved.cols, 1280);
    const QPointF corner = picture.outline[0];
    const cv::Vec3b drawn = saved.at<cv::Vec3b>(qRound(corner.y()), qRound(corner.x()));
    QVERIFY2(drawn[1] > 150 && drawn[0] < 100, "the outline is drawn");
    // The evidence marks the place (the display's pixels) where it lies in
    // the frame, not at those numbers of the frame's own pixels.
    const QString evidence = files.path("evidence.png");
    QVERIFY(session.saveMarked(evidence, QRect(state.bestPlace, state.bestSize), QRect(), &error));
    const cv::Mat marked = cv::imread(evidence.toStdString());
    auto yellowWithin = [&](const cv::Rect &area) {
        int count = 0;
        for (int y = area.y; y < area.y + area.height; ++y)
            for (int x = area.x; x < area.x + area.width; ++x) {
                const cv::Vec3b p = marked.at<cv::Vec3b>(y, x);
                count += p[2] > 200 && p[1] > 180 && p[0] < 80;
            }
        return count;
    };
    const float w = 320, h = 240;
    std::vector<cv::Point2f> to;
    for (const QPointF &c : shot.corners)
        to.emplace_back(float(c.x()), float(c.y()));
    const cv::Mat toFrame = cv::getPerspectiveTransform(
        std::vector<cv::Point2f>{{-0.5f, -0.5f}, {w - 0.5f, -0.5f}, {w - 0.5f, h - 0.5f}, {-0.5f, h - 0.5f}}, to);
    std::vector<cv::Point2f> placed;
    cv::perspectiveTransform(std::vector<cv::Point2f>{cv::Point2f(float(box.x()), float(box.y())),
                                                      cv::Point2f(float(box.right()), float(box.bottom()))},
                             placed, toFrame);
    const cv::Rect inFrame = cv::Rect(cv::Point(placed[0]), cv::Point(placed[1])) + cv::Size(8, 8) - cv::Point(4, 4);
    QVERIFY2(yellowWithin(inFrame) > 100, qPrintable(QString::number(yellowWithin(inFrame))));
    QCOMPARE(yellowWithin(cv::Rect(box.x() - 4, box.y() - 4, box.width() + 8, box.height() + 8)), 0);

    // WHOLE: the frame as it is (the place in the frame's pixels, if found).
    session.setDisplay(*DisplayArea::parse(QStringLiteral("WHOLE"), &error));
    QTRY_VERIFY(session.newestPicture(0, 0).outline.isEmpty());
    QVERIFY(session.newestPicture(0, 0).display.isNull());
}

void TestDisplay::glyphsMeasuredInTheCameraPixels()
{
    // The model's screen filmed, read for a text it does not show: made
    // upright at its own resolution, and at four times that (a resolution
    // given finer than the camera sees the display).
    TempFiles files;
    const auto [screen, shot, framePath] = filmedModelScreen(files);
    QVERIFY(!framePath.isEmpty());
    const double framePerDisplay = (std::hypot(shot.corners[3].x() - shot.corners[0].x(), shot.corners[3].y() - shot.corners[0].y()) +
                                    std::hypot(shot.corners[2].x() - shot.corners[1].x(), shot.corners[2].y() - shot.corners[1].y())) /
                                   (2.0 * 240);
    QVERIFY2(framePerDisplay > 1.2, qPrintable(QString::number(framePerDisplay)));

    ScreenSession session;
    QString error;
    QVERIFY2(session.openSource(framePath, &error), qPrintable(error));
    RunScreen::WaitState states[2];
    const QSize resolutions[2] = {QSize(320, 240), QSize(1280, 960)};
    for (int i = 0; i < 2; ++i) {
        DisplayArea area;
        area.resolution = resolutions[i];
        session.setDisplay(area);
        QTRY_COMPARE_WITH_TIMEOUT(session.newestPicture(0, 0).display.size(), resolutions[i], 10000);
        session.startTextWait(QStringLiteral("表示されない文字"), QRect(), 20);
        QTRY_VERIFY_WITH_TIMEOUT(session.waitState().readings > 0, 20000);
        states[i] = session.waitState();
        session.endWait();
    }
    // The camera sees more than the display's pixels: the glyphs as the
    // display draws them.
    const RunScreen::WaitState &own = states[0];
    QVERIFY(!own.glyphPixelsInFrame);
    QVERIFY2(own.glyphPixels >= 8 && own.glyphPixels <= 20, qPrintable(QString::number(own.glyphPixels)));
    // Finer than the camera: as many of the camera's pixels as it gave them.
    const RunScreen::WaitState &finer = states[1];
    QVERIFY(finer.glyphPixelsInFrame);
    // (The line finder measures the enlarged glyphs a little lower: 24
    // against 29; in the upright picture's own pixels they are 49.)
    const double expected = own.glyphPixels * framePerDisplay;
    QVERIFY2(finer.glyphPixels >= 0.7 * expected && finer.glyphPixels <= 1.2 * expected,
             qPrintable(QStringLiteral("%1 against %2").arg(finer.glyphPixels).arg(expected)));
}

void TestDisplay::displayLinesChecked()
{
    TempFiles files;
    const QString macro = files.writeShiftJis(
        "m.txt", QStringList{"SCREEN camera", "DISPLAY AUTO 240x320", "DISPLAY WHOLE", "DISPLAY 10,10 300,12 298,230 12,228 320x240",
                             "DISPLAY", "DISPLAY 10,10 12,228 298,230 300,12", "DISPLAY AUTO 2x2", "DISPLAY WHOLE 240x320",
                             "DISPLAY 10,10 300,12 298,230"}
                     .join("\r\n"));
    QStringList errors;
    for (const MacroDiagnostic &d : checkMacro(macro, QString()).diagnostics) {
        if (d.level == MacroDiagnostic::Level::Error)
            errors.append(QStringLiteral("%1 %2").arg(d.line).arg(d.message));
    }
    QCOMPARE(errors.size(), 5);
    QVERIFY2(errors[0].startsWith("5 DISPLAY の画面の位置がありません"), qPrintable(errors[0]));
    QVERIFY2(errors[1].startsWith("6 DISPLAY: 画面の位置「10,10 12,228 298,230 300,12」の 4 つの角が"),
             qPrintable(errors[1]));
    QVERIFY2(errors[2].startsWith("7 DISPLAY: 画面の位置「AUTO 2x2」の「2x2」が読めません"), qPrintable(errors[2]));
    QVERIFY2(errors[3].startsWith("8 DISPLAY: "), qPrintable(errors[3]));
    QVERIFY2(errors[4].startsWith("9 DISPLAY: 画面の位置「10,10 300,12 298,230」が読めません"), qPrintable(errors[4]));
}

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    TestDisplay test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_display.moc"
