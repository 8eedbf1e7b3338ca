// The virtual handset's model screen: what it shows after the packets a real
// link sends, as the PNG file and as the MJPEG stream a frame source reads
// over loopback HTTP, late by --screen-delay, noisy with --screen-noise; and
// its command-line mistakes. The expected pictures are drawn in this process
// with the same fonts, so no particular font needs to be present.

#include "handset/modelscreen.h"
#include "link/keytable.h"
#include "link/seriallink.h"
#include "link/textsender.h"
#include "screen/framesource.h"
#include "screen/matcher.h"
#include "support/programprocess.h"
#include "support/tempfiles.h"
#include "support/testshare.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest>
#include <opencv2/imgcodecs.hpp>

namespace {

// The URL the handset says it serves on.
QString streamUrl(CliProcess &handset)
{
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("(http://127\\.0\\.0\\.1:\\d+/)")).match(handset.err());
    return m.hasMatch() ? m.captured(1) : QString();
}

cv::Mat readPng(const QString &path)
{
    return cv::imread(path.toStdString());
}

bool samePicture(const cv::Mat &a, const cv::Mat &b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// The part of the text area that holds the first characters.
cv::Mat textTemplate(const QImage &screen)
{
    const QRect r = ModelScreen::textArea();
    return toBgr(screen)(cv::Rect(r.x(), r.y(), 110, 30)).clone();
}

// The virtual handset on a pseudo-terminal linked at `name`, its model
// screen written to `name`.png, with `options` more; port 9 of this process
// points at it.
struct HandsetWithScreen {
    HandsetWithScreen(TempFiles &files, const QString &name, const QStringList &options)
        : link(files.path(name)), png(files.path(name + ".png")),
          handset(QStringList{"handset", "--pty", "--link", link, "--fast", "--screen-file", png} + options +
                  QStringList{"--timeout", "60"})
    {
    }
    // Waits for the link and the first picture and opens port 9 on it;
    // false when either did not come or the port did not open.
    bool open()
    {
        if (!QTest::qWaitFor([&] { return QFileInfo(link).isSymLink() && QFileInfo(png).isFile(); }, 10000))
            return false;
        qputenv("QUILLONEMU_COM9", QFile::encodeName(link));
        return serial.OpenPort();
    }

    const QString link;
    const QString png;
    CliProcess handset;
    SerialLink serial{[] { return QStringLiteral("9"); }};
};

} // namespace

class TestHandsetScreen : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void showsWhatWasTypedInTheFileAndTheStream();
    void changesLateByTheDelay();
    void popUpAfterEveryNthEnter();
    void badCommandLines_data();
    void badCommandLines();

private:
    TempFiles files_;
};

void TestHandsetScreen::showsWhatWasTypedInTheFileAndTheStream()
{
    const QString link = files_.path("handset");
    const QString png = files_.path("screen.png");
    CliProcess handset({"handset", "--pty", "--link", link, "--fast", "--screen-stream", "0", "--screen-file", png,
                        "--screen-noise", "--timeout", "60"});
    QTRY_VERIFY_WITH_TIMEOUT(!streamUrl(handset).isEmpty() && QFileInfo(link).isSymLink(), 10000);
    QVERIFY(samePicture(readPng(png), toBgr(ModelScreen::render(QString(), QString()))));

    std::unique_ptr<FrameSource> source = makeFrameSource(parseSourceAddress(streamUrl(handset)));
    QVERIFY2(source->start(), qPrintable(source->errorText()));

    qputenv("QUILLONEMU_COM9", QFile::encodeName(link));
    SerialLink serial([] { return QStringLiteral("9"); });
    QVERIFY2(serial.OpenPort(), qPrintable(serial.errorText()));
    TextSender text(serial);
    serial.SendPacket(*KeyTable::find("MAIL"));
    text.SendString(QStringLiteral("あいうえお"));
    serial.SendPacket(*KeyTable::find("DOWN"));

    const QImage typed = ModelScreen::render(QStringLiteral("DOWN"), QStringLiteral("あいうえお"));
    QTRY_VERIFY_WITH_TIMEOUT(samePicture(readPng(png), toBgr(typed)), 10000);
    // The stream shows it too, through the camera's noise.
    const TemplateMatcher matcher(textTemplate(typed));
    const QPoint place = ModelScreen::textArea().topLeft();
    QTRY_VERIFY_WITH_TIMEOUT(matcher.match(source->newest().image).similarity > 0.8, 10000);
    QCOMPARE(matcher.match(source->newest().image).place, place);
    // Every frame is a new camera picture, even of the same screen.
    const Frame one = source->waitNewer(source->newest().number, 5000);
    const Frame two = source->waitNewer(one.number, 5000);
    QVERIFY(!one.isEmpty() && !two.isEmpty());
    QVERIFY(cv::norm(one.image, two.image, cv::NORM_L1) > 0);

    // CLEAR empties the text.
    serial.SendPacket(*KeyTable::find("CLEAR"));
    QTRY_VERIFY_WITH_TIMEOUT(samePicture(readPng(png), toBgr(ModelScreen::render(QStringLiteral("CLEAR"), QString()))),
                             10000);
    QTRY_VERIFY_WITH_TIMEOUT(matcher.match(source->newest().image).similarity < 0.5, 10000);
    serial.ClosePort();
    handset.sendSignal(SIGTERM);
    QVERIFY(handset.waitForEnd());
    QCOMPARE(handset.exitCode(), 0);
}

void TestHandsetScreen::changesLateByTheDelay()
{
    HandsetWithScreen h(files_, "late", {"--screen-delay", "0.8"});
    QVERIFY2(h.open(), qPrintable(h.serial.errorText() + h.handset.err()));
    const QString &png = h.png;
    CliProcess &handset = h.handset;
    SerialLink &serial = h.serial;
    serial.SendPacket(*KeyTable::find("UP"));
    QVERIFY(handset.waitForOutput(QStringLiteral("キー UP")));
    QElapsedTimer sinceReport;
    sinceReport.start();
    const cv::Mat shown = toBgr(ModelScreen::render(QStringLiteral("UP"), QString()));
    QTRY_VERIFY_WITH_TIMEOUT(samePicture(readPng(png), shown), 10000);
    // The handset reported the packet when it had come; the screen followed
    // no sooner than the delay after that.
    QVERIFY2(sinceReport.elapsed() >= 700, qPrintable(QString::number(sinceReport.elapsed())));
    serial.ClosePort();
    handset.sendSignal(SIGTERM);
    QVERIFY(handset.waitForEnd());
}

void TestHandsetScreen::popUpAfterEveryNthEnter()
{
    HandsetWithScreen h(files_, "popup", {"--popup-every", "2"});
    QVERIFY2(h.open(), qPrintable(h.serial.errorText() + h.handset.err()));
    const QString &png = h.png;
    CliProcess &handset = h.handset;
    SerialLink &serial = h.serial;
    TextSender text(serial);
    const auto key = [&](const char *name) { serial.SendPacket(*KeyTable::find(name)); };
    const auto shows = [&](const QString &lastKey, const QString &typed, bool popup) {
        return samePicture(readPng(png), toBgr(ModelScreen::render(lastKey, typed, popup)));
    };

    // The first ENTER does nothing; the second brings the pop-up over the
    // text.
    text.SendString(QStringLiteral("あい"));
    key("ENTER");
    text.SendString(QStringLiteral("う"));
    key("ENTER");
    QTRY_VERIFY_WITH_TIMEOUT(shows(QStringLiteral("ENTER"), QStringLiteral("あいう"), true), 10000);
    // Keys and characters go nowhere while it shows; CLEAR takes it and the
    // text away, and the handset takes keys again.
    text.SendString(QStringLiteral("え"));
    key("ENTER");
    key("CLEAR");
    text.SendString(QStringLiteral("お"));
    QTRY_VERIFY_WITH_TIMEOUT(shows(QStringLiteral("お"), QStringLiteral("お"), false), 10000);
    // The ENTER it ignored was not counted: the next pop-up comes at the
    // fourth ENTER taken.
    key("ENTER");
    text.SendString(QStringLiteral("か"));
    QTRY_VERIFY_WITH_TIMEOUT(shows(QStringLiteral("か"), QStringLiteral("おか"), false), 10000);
    key("ENTER");
    QTRY_VERIFY_WITH_TIMEOUT(shows(QStringLiteral("ENTER"), QStringLiteral("おか"), true), 10000);
    serial.ClosePort();
    handset.sendSignal(SIGTERM);
    QVERIFY(handset.waitForEnd());
}

void TestHandsetScreen::badCommandLines_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::newRow("port words") << QStringList{"--screen-stream", "web"} << 2 << "--screen-stream の値「web」";
    QTest::newRow("port too large") << QStringList{"--screen-stream", "70000"} << 2 << "「70000」";
    QTest::newRow("bad address") << QStringList{"--screen-stream", "localhost:8080"} << 2 << "「localhost:8080」";
    QTest::newRow("delay alone") << QStringList{"--screen-delay", "1"} << 2 << "--screen-delay は";
    QTest::newRow("noise alone") << QStringList{"--screen-noise"} << 2 << "--screen-noise は";
    QTest::newRow("pop-ups alone") << QStringList{"--popup-every", "3"} << 2 << "--popup-every は";
    QTest::newRow("pop-ups every 0") << QStringList{"--screen-file", "x.png", "--popup-every", "0"} << 2
                                     << "--popup-every の値「0」";
    QTest::newRow("negative delay") << QStringList{"--screen-file", "x.png", "--screen-delay", "-1"} << 2
                                    << "--screen-delay の値「-1」";
    QTest::newRow("unwritable file") << QStringList{"--screen-file", "/nonexistent/dir/s.png"} << 1
                                     << "/nonexistent/dir/s.png";
}

void TestHandsetScreen::badCommandLines()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    CliProcess cli(QStringList{"handset", "--pty", "--timeout", "5"} + arguments);
    QVERIFY(cli.waitForEnd());
    QCOMPARE(cli.exitCode(), exitCode);
    QVERIFY2(cli.err().contains(message), qPrintable(cli.err()));
}

QUILLON_TEST_MAIN(TestHandsetScreen)
#include "test_handset_screen.moc"
