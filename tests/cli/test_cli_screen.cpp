// quillonemu-cli with the screen, end to end: runs that wait for the model
// handset's screen over its MJPEG stream (the closed loop, a wait that runs
// out with its evidence, a stream that ends in the middle of a wait), what
// stops a run before its first packet, SIGTERM during a wait, and the screen
// command on a still image, a video file and the stream.

#include "handset/mjpegserver.h"
#include "handset/modelscreen.h"
#include "screen/framesource.h"
#include "screen/textcompare.h"
#include "support/hostilepictures.h"
#include "support/busypage.h"
#include "support/fulldisk.h"
#include "support/linespeedreader.h"
#include "support/packets.h"
#include "support/programprocess.h"
#include "support/pseudoterminal.h"
#include "support/serveronthread.h"
#include "support/tempfiles.h"
#include "support/testshare.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QRegularExpression>
#include <QtTest>
#include <csignal>
#include <cstdio>
#include <unistd.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

namespace {

QString streamUrl(CliProcess &handset)
{
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("(http://127\\.0\\.0\\.1:\\d+/)")).match(handset.err());
    return m.hasMatch() ? m.captured(1) : QString();
}

// A busy picture, as a screen in a camera shows; no font needed.
cv::Mat texturedPicture(int width, int height, int seed)
{
    cv::Mat picture(height, width, CV_8UC3);
    cv::RNG rng(seed);
    rng.fill(picture, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(picture, picture, cv::Size(0, 0), 2.0);
    return picture;
}

QString writePng(TempFiles &files, const QString &name, const cv::Mat &picture)
{
    const QString path = files.path(name);
    cv::imwrite(path.toStdString(), picture);
    return path;
}

// An MJPEG stream served from a thread of this test, showing `picture`.
class ServedStream : public ServerOnThread<MjpegServer> {
public:
    explicit ServedStream(const cv::Mat &picture)
    {
        call([&] {
            server_->listen(QHostAddress::LocalHost, 0);
            server_->setPicture(jpegOf(picture));
        });
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/").arg(server_->port()); }
    static QByteArray jpegOf(const cv::Mat &picture)
    {
        std::vector<uchar> jpeg;
        cv::imencode(".jpg", picture, jpeg);
        return QByteArray(reinterpret_cast<const char *>(jpeg.data()), qsizetype(jpeg.size()));
    }
};

// `picture` with an alpha channel: its left half at `leftAlpha`, the rest
// opaque.
cv::Mat withAlpha(const cv::Mat &picture, int leftAlpha)
{
    cv::Mat bgra;
    cv::cvtColor(picture, bgra, cv::COLOR_BGR2BGRA);
    for (int y = 0; y < bgra.rows; ++y)
        for (int x = 0; x < bgra.cols / 2; ++x)
            bgra.at<cv::Vec4b>(y, x)[3] = static_cast<uchar>(leftAlpha);
    return bgra;
}

// Replaces the picture in `path` at once (a still source never sees it half
// written).
void showPicture(const QString &path, const QImage &picture)
{
    const QString part = path + QStringLiteral(".part.png");
    QVERIFY(picture.save(part));
    QVERIFY(std::rename(QFile::encodeName(part).constData(), QFile::encodeName(path).constData()) == 0);
}

// The processor time a process has used, in seconds.
double cpuSeconds(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    // After the command's name in parentheses: state is the 3rd field,
    // utime and stime the 14th and 15th.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(::sysconf(_SC_CLK_TCK));
}

QList<QJsonObject> screenEntries(const QString &log)
{
    QList<QJsonObject> entries;
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o.value("event").toString() == "screen")
            entries.append(o);
    }
    return entries;
}

} // namespace

class TestCliScreen : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void closedLoopAgainstTheModelHandset();
    void closedLoopThroughACamera();
    void textAgainstTheModelHandset();
    void streamThatEndsDuringAWait();
    void stalledStreamStillTimesOut();
    void droppedStreamIsOpenedAgainDuringAWait();
    void failsBeforeTheFirstPacket_data();
    void failsBeforeTheFirstPacket();
    void sigtermEndsAWaitAtOnce();
    void screenCommand_data();
    void screenCommand();
    void templateCroppedFromAStreamIsAMeanOfFrames();
    void checkRefusesAHugeTemplate();
    void stopWhileASourceOpens_data();
    void stopWhileASourceOpens();
    void keptAfterTheKeysReachedTheHandset();
    void filesWholeOrNotAtAll_data();
    void filesWholeOrNotAtAll();
    void regionsOutsideTheFrame_data();
    void regionsOutsideTheFrame();
    void readingIsCutAtTheWaitsEnd();
    void readPrintsTheLinesAsRead();

private:
    TempFiles files_;
};

void TestCliScreen::closedLoopAgainstTheModelHandset()
{
    const QString link = files_.path("handset");
    CliProcess handset({"handset", "--pty", "--link", link, "--screen-stream", "0", "--screen-noise",
                        "--screen-delay", "0.3", "--timeout", "120"});
    QTRY_VERIFY_WITH_TIMEOUT(!streamUrl(handset).isEmpty() && QFileInfo(link).isSymLink(), 10000);
    // The template: the typed text as the model draws it (same fonts here).
    const QRect area = ModelScreen::textArea();
    const cv::Mat typed = toBgr(ModelScreen::render(QStringLiteral("う"), QStringLiteral("あいう")));
    writePng(files_, "typed.png", typed(cv::Rect(area.x(), area.y(), 90, 30)));
    const QString macro = files_.writeShiftJis(
        "loop.txt", QStringList{"BASEWAIT 0.05", "CLEAR", "STRING あいう", "WAITIMAGE typed.png 15",
                                "SNAPSHOT shot-{counter}.png", "CLEAR", "WAITGONE typed.png 15", "UP",
                                "WAITIMAGE typed.png 1.5"}
                        .join("\r\n"));
    const QString log = files_.path("logs/run.log");
    QDir().mkpath(files_.path("logs"));
    qputenv("QUILLONEMU_COM1", QFile::encodeName(link));
    CliProcess run({"run", macro, "--screen", streamUrl(handset), "--log", log});
    QVERIFY(run.waitForEnd(60000));

    // Seen, gone, and the last wait runs out: an error at its line with the
    // counter to resume from and the newest frame beside the log.
    QCOMPARE(run.exitCode(), 1);
    // The time really waited: on a busy machine a tenth or two past the 1.5 s.
    QVERIFY2(run.err().contains(QRegularExpression(QRegularExpression::escape(macro) +
                                                   QStringLiteral(":9: error: WAITIMAGE: 1\\.[5-9] 秒待っても、画像「typed.png」が画面に現れませんでした"))),
             qPrintable(run.err()));
    QVERIFY(run.out().contains("--counter 0"));
    QVERIFY(QFileInfo(files_.path("shot-0.png")).isFile());
    QList<QJsonObject> waits;
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o.value("event").toString() == "screen")
            waits.append(o);
    }
    QCOMPARE(waits.size(), 3);
    QCOMPARE(waits[0].value("found").toBool(), true);
    QVERIFY(waits[0].value("similarity").toDouble() >= 0.8);
    QCOMPARE(waits[0].value("x").toInt(), area.x());
    QCOMPARE(waits[0].value("y").toInt(), area.y());
    QVERIFY(waits[0].value("frames").toInt() >= 1);
    QCOMPARE(waits[1].value("found").toBool(), true);
    QCOMPARE(waits[1].value("keyword").toString(), QStringLiteral("WAITGONE"));
    QCOMPARE(waits[2].value("found").toBool(), false);
    const QString evidence = waits[2].value("evidence").toString();
    QVERIFY2(evidence.startsWith(files_.path("logs") + "/quillonemu-typed-0-"), qPrintable(evidence));
    QVERIFY(QFileInfo(evidence).isFile());
    QVERIFY(run.err().contains(evidence));
    handset.sendSignal(SIGTERM);
    QVERIFY(handset.waitForEnd());
    QVERIFY(handset.out().contains("キー UP"));
}

void TestCliScreen::closedLoopThroughACamera()
{
    // The model handset filmed by a camera (its display in perspective in a
    // 1280x720 frame, drifting): a template cut from the model's own pixels
    // is found on the display made upright, at its place in the display;
    // SNAPSHOT keeps the whole frame.
    const QString link = files_.path("handset-camera");
    CliProcess handset({"handset", "--pty", "--link", link, "--screen-stream", "0", "--screen-camera", "--timeout", "120"});
    QTRY_VERIFY_WITH_TIMEOUT(!streamUrl(handset).isEmpty() && QFileInfo(link).isSymLink(), 10000);
    const QRect area = ModelScreen::textArea();
    const cv::Mat typed = toBgr(ModelScreen::render(QStringLiteral("う"), QStringLiteral("あいう")));
    writePng(files_, "camera-typed.png", typed(cv::Rect(area.x(), area.y(), 90, 30)));
    const QString macro = files_.writeShiftJis(
        "camera.txt", QStringList{"BASEWAIT 0.05", "DISPLAY AUTO 320x240", "CLEAR", "STRING あいう",
                                  "WAITIMAGE camera-typed.png 15 0.8", "SNAPSHOT camera-shot.png"}
                          .join("\r\n"));
    const QString log = files_.path("camera-logs/run.log");
    QDir().mkpath(files_.path("camera-logs"));
    qputenv("QUILLONEMU_COM1", QFile::encodeName(link));
    CliProcess run({"run", macro, "--screen", streamUrl(handset), "--log", log});
    QVERIFY(run.waitForEnd(60000));
    QVERIFY2(run.exitCode() == 0, qPrintable(run.err()));
    const QList<QJsonObject> waits = screenEntries(log);
    QCOMPARE(waits.size(), 1);
    QVERIFY(waits[0].value("found").toBool());
    QVERIFY2(std::abs(waits[0].value("x").toInt() - area.x()) <= 3 && std::abs(waits[0].value("y").toInt() - area.y()) <= 3,
             qPrintable(QJsonDocument(waits[0]).toJson()));
    QCOMPARE(cv::imread(files_.path("camera-shot.png").toStdString()).cols, 1280);
    handset.sendSignal(SIGTERM);
    QVERIFY(handset.waitForEnd());
}

void TestCliScreen::textAgainstTheModelHandset()
{
    // The model shows each change a second late, through a camera's noise:
    // the text typed in full-width letters is found by a half-width WAITTEXT
    // once it shows, READTEXT keeps what the screen said, and a text looked
    // for in a region that does not hold it runs out with what was read
    // there and the evidence. screen --read reads the same picture.
    const QString link = files_.path("handset-text");
    const QString picture = files_.path("screen.png");
    CliProcess handset({"handset", "--pty", "--link", link, "--screen-stream", "0", "--screen-noise",
                        "--screen-delay", "1", "--screen-file", picture, "--timeout", "120"});
    QTRY_VERIFY_WITH_TIMEOUT(!streamUrl(handset).isEmpty() && QFileInfo(link).isSymLink(), 10000);
    const QString macro = files_.writeShiftJis(
        "text.txt", QStringList{"BASEWAIT 0.05", "CLEAR", "STRING ＯＫ１２３", "WAITTEXT OK123 20",
                                "READTEXT said-{counter}.txt", "WAITTEXT OK123 2 0,0,320,28"}
                        .join("\r\n"));
    const QString log = files_.path("text-logs/run.log");
    QDir().mkpath(files_.path("text-logs"));
    qputenv("QUILLONEMU_COM1", QFile::encodeName(link));
    CliProcess run({"run", macro, "--screen", streamUrl(handset), "--log", log, "--counter", "4"});
    QVERIFY(run.waitForEnd(90000));

    QCOMPARE(run.exitCode(), 1);
    QVERIFY2(QRegularExpression(QRegularExpression::escape(macro) +
                                QStringLiteral(":6: error: WAITTEXT: 2\\.\\d 秒待っても、文字列「OK123」が画面に現れませんでした"
                                               "（最後に読めた文字: 「[^」]*」。読んだフレーム \\d+ 枚"))
                 .match(run.err())
                 .hasMatch(),
             qPrintable(run.err()));
    QVERIFY(run.out().contains("--counter 4"));
    QFile said(files_.path("said-4.txt"));
    QVERIFY(said.open(QIODevice::ReadOnly));
    // (How often one reading of a noisy frame is right is a figure of
    // bench/run; here: what was read is what the file and the log keep.)
    const QString saidText = QString::fromUtf8(said.readAll());
    QVERIFY2(!saidText.trimmed().isEmpty(), qPrintable(saidText));

    QList<QJsonObject> entries;
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o.value("event").toString() == "screen")
            entries.append(o);
    }
    QCOMPARE(entries.size(), 3);
    QCOMPARE(entries[0].value("keyword").toString(), QStringLiteral("WAITTEXT"));
    QCOMPARE(entries[0].value("found").toBool(), true);
    // Found once the late screen showed it: not at once, well before the end.
    QVERIFY2(entries[0].value("seconds").toDouble() >= 0.5 && entries[0].value("seconds").toDouble() < 15,
             qPrintable(QString::number(entries[0].value("seconds").toDouble())));
    QCOMPARE(entries[1].value("read").toString(), saidText.trimmed());
    QCOMPARE(entries[2].value("found").toBool(), false);
    QVERIFY(QFileInfo(entries[2].value("evidence").toString()).isFile());
    QVERIFY(run.err().contains(entries[2].value("evidence").toString()));

    CliProcess read({"screen", picture, "--read", "--region", "0,28,320,212"});
    QVERIFY(read.waitForEnd(30000));
    QCOMPARE(read.exitCode(), 0);
    QVERIFY2(screenTextContains(read.out(), "OK123"), qPrintable(read.out()));
    handset.sendSignal(SIGTERM);
    QVERIFY(handset.waitForEnd());
}

void TestCliScreen::streamThatEndsDuringAWait()
{
    const QString link = files_.path("ending");
    CliProcess handset({"handset", "--pty", "--link", link, "--screen-stream", "0", "--timeout", "120"});
    QTRY_VERIFY_WITH_TIMEOUT(!streamUrl(handset).isEmpty() && QFileInfo(link).isSymLink(), 10000);
    const QString url = streamUrl(handset);
    writePng(files_, "never.png", texturedPicture(60, 30, 5));
    const QString macro = files_.writeShiftJis("ending.txt", "WAITIMAGE never.png 60");
    qputenv("QUILLONEMU_COM1", QFile::encodeName(link));
    CliProcess run({"run", macro, "--screen", url, "--log", files_.path("ending.log")});
    QVERIFY(run.waitForOutput("WAITIMAGE"));
    handset.sendSignal(SIGTERM);
    QVERIFY(handset.waitForEnd());
    QElapsedTimer sinceEnd;
    sinceEnd.start();
    QVERIFY(run.waitForEnd(15000));
    QCOMPARE(run.exitCode(), 1);
    QVERIFY2(run.err().contains(macro + ":1: error: WAITIMAGE: 画面の取り込み元「" + url + "」"), qPrintable(run.err()));
    QVERIFY(run.err().contains("最後のフレームは"));
    qInfo("the run ended %lld ms after the stream", sinceEnd.elapsed());
}

void TestCliScreen::stalledStreamStillTimesOut()
{
    // A stream which stops sending frames (a camera that hangs) while its
    // connection stays open.
    ServedStream stream(texturedPicture(160, 120, 8));
    const QString url = stream.url();
    writePng(files_, "absent.png", texturedPicture(30, 20, 9));
    PseudoTerminal pty;
    pty.bindPort(1);
    CliProcess run({"run", files_.writeShiftJis("stall.txt", "WAITIMAGE absent.png 1.5"), "--screen", url, "--log",
                    files_.path("stall.log")});
    QVERIFY(run.waitForOutput("WAITIMAGE"));
    stream.call([&] { stream.server_->setStalled(true); });
    QVERIFY(run.waitForEnd(15000));
    QCOMPARE(run.exitCode(), 1);
    // The time-out fired, or the stream counted as ended after two seconds
    // without a frame; either way the message says when the last frame came.
    QVERIFY2(run.err().contains("最後のフレームは"), qPrintable(run.err()));
    QVERIFY(run.err().contains(QRegularExpression(QStringLiteral("1\\.[5-9] 秒待っても"))) || run.err().contains(url));
}

void TestCliScreen::droppedStreamIsOpenedAgainDuringAWait()
{
    // A camera that drops its clients and takes them again: the wait goes
    // on, finds the picture, and the log says the stream was opened again.
    const cv::Mat shown = texturedPicture(160, 120, 11);
    ServedStream stream(texturedPicture(160, 120, 10));
    writePng(files_, "later.png", shown(cv::Rect(40, 30, 60, 40)));
    PseudoTerminal pty;
    pty.bindPort(1);
    const QString log = files_.path("dropped.log");
    CliProcess run({"run", files_.writeShiftJis("dropped.txt", "WAITIMAGE later.png 20"), "--screen", stream.url(), "--log", log});
    QVERIFY(run.waitForOutput("WAITIMAGE"));
    // The wait starts a moment after its line is shown: the clients are
    // dropped a few times, each time once frames go out again (the run's
    // reader is back), so that some of it falls within the wait.
    for (int i = 0; i < 4; ++i) {
        qint64 sent = 0;
        stream.call([&] {
            stream.server_->dropConnections();
            sent = stream.server_->framesSent();
        });
        QTRY_VERIFY2_WITH_TIMEOUT([&] {
            qint64 now = 0;
            stream.call([&] { now = stream.server_->framesSent(); });
            return now > sent + 2;
        }(), qPrintable(run.out() + run.err()), 10000);
    }
    stream.call([&] { stream.server_->setPicture(ServedStream::jpegOf(shown)); });
    QVERIFY(run.waitForEnd(20000));
    QCOMPARE(run.exitCode(), 0);
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QJsonObject wait;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o.value("event").toString() == "screen")
            wait = o;
    }
    QCOMPARE(wait.value("found").toBool(), true);
    QVERIFY2(wait.value("sourceReopened").toInt() >= 1, qPrintable(run.out() + run.err()));
}

void TestCliScreen::failsBeforeTheFirstPacket_data()
{
    QTest::addColumn<QStringList>("macro");
    QTest::addColumn<QString>("screen"); // @still stands for a picture file
    QTest::addColumn<QString>("error");
    QTest::newRow("source cannot be opened") << QStringList{"UP", "WAITIMAGE part.png 5"} << "http://127.0.0.1:1/cam"
                                             << "quillonemu-cli run: 画面の取り込み元「http://127.0.0.1:1/cam」を開けません: Connection refused";
    QTest::newRow("missing source file") << QStringList{"UP"} << "nowhere/screen.png" << "ファイルがありません";
    QTest::newRow("template missing") << QStringList{"UP", "", "WAITIMAGE gone.png 5"} << "@still"
                                      << ":3: error: WAITIMAGE: 画像ファイル「gone.png」を照合に使えません: ファイルがありません";
    QTest::newRow("template corrupt") << QStringList{"UP", "WAITGONE corrupt.png 5"} << "@still"
                                      << ":2: error: WAITGONE: 画像ファイル「corrupt.png」を照合に使えません: 画像として読めません";
    QTest::newRow("no source") << QStringList{"UP", "WAITIMAGE part.png 5"} << ""
                               << ":2: error: WAITIMAGE: 画面の取り込み元がありません";
}

void TestCliScreen::failsBeforeTheFirstPacket()
{
    QFETCH(QStringList, macro);
    QFETCH(QString, screen);
    QFETCH(QString, error);
    const cv::Mat still = texturedPicture(320, 240, 1);
    writePng(files_, "part.png", still(cv::Rect(10, 10, 50, 20)));
    files_.writeBytes("corrupt.png", "\x89PNG\r\n\x1a\n but nothing more");
    PseudoTerminal pty;
    pty.bindPort(1);
    QStringList arguments{"run", files_.writeShiftJis("job.txt", macro.join("\r\n"))};
    if (!screen.isEmpty())
        arguments << "--screen" << (screen == "@still" ? writePng(files_, "still.png", still) : screen);
    CliProcess run(arguments);
    QVERIFY(run.waitForEnd(20000));
    QCOMPARE(run.exitCode(), 1);
    QVERIFY2(run.err().contains(error), qPrintable(run.err()));
    QVERIFY(pty.readAvailable(200).isEmpty());
}

void TestCliScreen::sigtermEndsAWaitAtOnce()
{
    PseudoTerminal pty;
    pty.bindPort(1);
    const cv::Mat still = texturedPicture(320, 240, 2);
    const QString screen = writePng(files_, "shown.png", still);
    writePng(files_, "other.png", texturedPicture(40, 40, 99));
    CliProcess run({"run", files_.writeShiftJis("long.txt", "WAITIMAGE other.png 600\r\nUP"), "--screen", screen});
    QVERIFY(run.waitForOutput("WAITIMAGE"));
    run.sendSignal(SIGTERM);
    QVERIFY(run.endsWithin(3000));
    QCOMPARE(run.exitCode(), 130);
    QVERIFY(pty.readAvailable(100).isEmpty());
}

void TestCliScreen::screenCommand_data()
{
    QTest::addColumn<QStringList>("arguments"); // @still, @video, @part, @other stand for files
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output"); // in standard output, or standard error when it fails
    QTest::newRow("found in a still image") << QStringList{"@still", "--find", "@part"} << 0
                                           << "類似度 1.000、位置 (37, 81): 見つかりました";
    QTest::newRow("not found") << QStringList{"@still", "--find", "@other"} << 1 << "見つかりません（0.87 未満）";
    QTest::newRow("found below a lower level") << QStringList{"@still", "--find", "@other", "--level", "0"} << 0
                                              << "見つかりました（0 以上）";
    QTest::newRow("found in a video file") << QStringList{"@video", "--find", "@part"} << 0 << "位置 (37, 81)";
    QTest::newRow("snapshot cropped") << QStringList{"@still", "--snapshot", "@out", "--crop", "37,81,60,25"} << 0
                                      << "60×25 のフレーム";
    QTest::newRow("crop outside") << QStringList{"@still", "--snapshot", "@out", "--crop", "300,200,60,60"} << 1
                                  << "はみ出しています";
    QTest::newRow("list") << QStringList{"--list"} << 0 << "";
    QTest::newRow("template larger") << QStringList{"@part", "--find", "@still"} << 1 << "より大きい";
    QTest::newRow("template missing") << QStringList{"@still", "--find", "nothing.png"} << 1 << "「nothing.png」を照合に使えません";
    // One colour matches any flat part of a frame at 1.000: refused.
    QTest::newRow("template of one colour") << QStringList{"@flat", "--find", "@flat"} << 1 << "模様がありません";
    QTest::newRow("no mode") << QStringList{"@still"} << 2 << "--list、--snapshot、--find";
    QTest::newRow("two modes") << QStringList{"@still", "--find", "@part", "--snapshot", "x.png"} << 2 << "どれか 1 つ";
    QTest::newRow("no source") << QStringList{"--find", "@part"} << 2 << "取り込み元が指定されていません";
    QTest::newRow("bad level") << QStringList{"@still", "--find", "@part", "--level", "1.5"} << 2 << "「1.5」";
    QTest::newRow("bad crop") << QStringList{"@still", "--snapshot", "x.png", "--crop", "1,2,3"} << 2 << "「1,2,3」";
    QTest::newRow("camera out of the list") << QStringList{"camera:NoSuchCameraHere", "--snapshot", "x.png"} << 1
                                            << "「camera:NoSuchCameraHere」を開けません: ";
    // Pictures that lie: refused with the reason, never an abort.
    QTest::newRow("template claiming 60000x60000") << QStringList{"@still", "--find", "@huge"} << 1 << "60000×60000";
    QTest::newRow("still claiming 60000x60000") << QStringList{"@hugestill", "--snapshot", "@out"} << 1 << "60000×60000";
    QTest::newRow("still cut in half") << QStringList{"@cut", "--snapshot", "@out"} << 1 << "途中で切れているか";
    QTest::newRow("bmp cut in half") << QStringList{"@cutbmp", "--snapshot", "@out"} << 1 << "画像として読めません";
    QTest::newRow("template with transparent parts") << QStringList{"@still", "--find", "@clear"} << 1 << "透明な部分があります";
    QTest::newRow("template with an opaque alpha") << QStringList{"@still", "--find", "@opaque"} << 0 << "位置 (37, 81)";
}

void TestCliScreen::screenCommand()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    const cv::Mat still = texturedPicture(320, 240, 3);
    const QString video = files_.path("clip.avi");
    {
        cv::VideoWriter writer(video.toStdString(), cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 25, still.size());
        QVERIFY(writer.isOpened());
        for (int i = 0; i < 3; ++i)
            writer.write(still);
    }
    const QHash<QString, QString> files{
        {"@still", writePng(files_, "screen.png", still)},
        {"@part", writePng(files_, "part.png", still(cv::Rect(37, 81, 60, 25)))},
        {"@other", writePng(files_, "other.png", texturedPicture(60, 25, 77))},
        {"@video", video},
        {"@flat", writePng(files_, "flat.png", cv::Mat(40, 30, CV_8UC3, cv::Scalar(200, 30, 30)))},
        {"@out", files_.path("out.png")},
        {"@huge", files_.writeBytes("huge.png", claimingSize(encodedPicture(still(cv::Rect(37, 81, 60, 25)), ".png"), 60000, 60000))},
        {"@hugestill", files_.writeBytes("hugestill.jpg", claimingSize(encodedPicture(still, ".jpg"), 60000, 60000))},
        {"@cut", files_.writeBytes("cut.jpg", cutInHalf(encodedPicture(still, ".jpg")))},
        {"@cutbmp", files_.writeBytes("cut.bmp", cutInHalf(encodedPicture(still, ".bmp")))},
        {"@clear", writePng(files_, "clear.png", withAlpha(still(cv::Rect(37, 81, 60, 25)), 0))},
        {"@opaque", writePng(files_, "opaque.png", withAlpha(still(cv::Rect(37, 81, 60, 25)), 255))},
    };
    for (QString &a : arguments)
        a = files.value(a, a);
    QFile::remove(files_.path("out.png"));
    CliProcess cli(QStringList{"screen"} + arguments);
    QVERIFY(cli.waitForEnd(20000));
    QCOMPARE(cli.exitCode(), exitCode);
    const QString text = exitCode == 0 || output.contains("見つかりません") ? cli.out() : cli.err();
    QVERIFY2(text.contains(output), qPrintable(cli.out() + cli.err()));
    // Nothing of the image and video libraries' own on standard error.
    for (const QString &line : cli.err().split(u'\n', Qt::SkipEmptyParts)) {
        if (line.contains(QLatin1String("quillonemu-cli")))
            continue;
        for (const char *library : {"WARN", "libpng", "libjpeg", "OpenCV", "imdecode", "terminate", "Premature", "Corrupt JPEG"})
            QVERIFY2(!line.contains(QLatin1String(library)), qPrintable(cli.err()));
    }
    if (arguments.contains(files["@out"]) && exitCode == 0)
        QCOMPARE(cv::imread(files["@out"].toStdString()).size(), cv::Size(60, 25));
}

void TestCliScreen::templateCroppedFromAStreamIsAMeanOfFrames()
{
    // A camera's stream, every frame with its own noise: the part cropped
    // as a template is the mean of the frames that show the same there,
    // its noise far below one frame's.
    const cv::Mat clean = texturedPicture(320, 240, 5);
    auto noisy = [&](int seed) {
        cv::Mat frame, noise(clean.size(), CV_16SC3);
        clean.convertTo(frame, CV_16SC3);
        cv::RNG(uint64(seed)).fill(noise, cv::RNG::NORMAL, 0, 8);
        frame += noise;
        frame.convertTo(frame, CV_8UC3);
        return frame;
    };
    ServedStream stream(noisy(1));
    const QString out = files_.path("mean.png");
    CliProcess cli({"screen", stream.url(), "--snapshot", out, "--crop", "40,30,80,60"});
    // A new frame every 30 ms or so, for 20 s at most.
    for (int seed = 2; !cli.endsWithin(30) && seed < 600; ++seed)
        stream.call([&] { stream.server_->setPicture(ServedStream::jpegOf(noisy(seed))); });
    QVERIFY(cli.waitForEnd(1000));
    QVERIFY2(cli.exitCode() == 0, qPrintable(cli.out() + cli.err()));
    const cv::Rect part(40, 30, 80, 60);
    const cv::Mat saved = cv::imread(out.toStdString());
    QCOMPARE(saved.size(), part.size());
    const QByteArray one = ServedStream::jpegOf(noisy(1));
    const cv::Mat oneFrame = cv::imdecode(cv::Mat(1, int(one.size()), CV_8U, const_cast<char *>(one.data())), cv::IMREAD_COLOR);
    const double meanOff = cv::norm(saved, clean(part), cv::NORM_L2), frameOff = cv::norm(oneFrame(part), clean(part), cv::NORM_L2);
    QVERIFY2(meanOff < 0.6 * frameOff, qPrintable(QStringLiteral("%1 against %2").arg(meanOff).arg(frameOff)));
}

void TestCliScreen::checkRefusesAHugeTemplate()
{
    // The image library throws for a header claiming more than 2^30 pixels:
    // before, the check ended there (SIGABRT, exit 134).
    files_.writeBytes("claims.png", claimingSize(encodedPicture(texturedPicture(40, 30, 4), ".png"), 60000, 60000));
    CliProcess check({"check", files_.writeShiftJis("claims.txt", "UP\r\nWAITIMAGE claims.png 5"), "--screen", "camera"});
    QVERIFY(check.waitForEnd(20000));
    QCOMPARE(check.exitCode(), 2);
    QVERIFY2(check.out().contains("claims.png") && check.out().contains("60000×60000"), qPrintable(check.out() + check.err()));
}

void TestCliScreen::stopWhileASourceOpens_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("Ctrl-C") << SIGINT;
    QTest::newRow("SIGTERM") << SIGTERM;
}

void TestCliScreen::stopWhileASourceOpens()
{
    // A server that takes the connection and never answers: opening it
    // would take the stream reader's whole time-out.
    QFETCH(int, signalNumber);
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    PseudoTerminal pty;
    pty.bindPort(1);
    const QString url = QStringLiteral("http://127.0.0.1:%1/cam").arg(silent.serverPort());
    CliProcess run({"run", files_.writeShiftJis("opening.txt", "SCREEN " + url + "\r\nUP")});
    QVERIFY(run.waitForOutput("SCREEN"));
    QElapsedTimer sinceSignal;
    sinceSignal.start();
    run.sendSignal(signalNumber);
    QVERIFY(run.endsWithin(5000));
    const qint64 took = sinceSignal.elapsed();
    qInfo("stopped %lld ms after the signal", took);
    // Not torn down under the opening still going on (that crashed at exit).
    QVERIFY(run.endedNormally());
    QCOMPARE(run.exitCode(), 130);
    QVERIFY2(run.out().contains(QStringLiteral("停止しました")), qPrintable(run.out() + run.err()));
    QVERIFY2(took < 1500, qPrintable(QString::number(took)));
    QVERIFY(pty.readAvailable(100).isEmpty());
}

void TestCliScreen::keptAfterTheKeysReachedTheHandset()
{
    // The handset at line speed shows each key once its packet has come:
    // the picture and the text kept right after the STRING hold the typed
    // text (the last key may still be on its way to the screen), not the
    // screen from before.
    PseudoTerminal pty;
    pty.bindPort(1);
    LineSpeedReader handset(pty);
    const QString typed = QStringLiteral("ABCDEFGHIJ");
    auto screenWith = [&](int keys) { return ModelScreen::render(typed.mid(keys - 1, keys > 0 ? 1 : 0), typed.left(keys)); };
    const QString screen = files_.path("typing.png");
    showPicture(screen, screenWith(0));
    const QString macro = files_.writeShiftJis(
        "typing.txt", QStringList{"BASEWAIT 0", "STRING " + typed, "SNAPSHOT typing-shot.png", "READTEXT typing-said.txt"}
                          .join("\r\n"));
    CliProcess run({"run", macro, "--screen", screen});
    for (int keys = 1; keys <= typed.size(); ++keys) {
        QVERIFY(handset.waitFor(keys * 10, 10000));
        showPicture(screen, screenWith(keys));
    }
    QVERIFY(run.waitForEnd(30000));
    QCOMPARE(run.exitCode(), 0);
    const QImage shot = QImage(files_.path("typing-shot.png")).convertToFormat(QImage::Format_RGB888);
    QVERIFY(shot == screenWith(typed.size()).convertToFormat(QImage::Format_RGB888) ||
            shot == screenWith(typed.size() - 1).convertToFormat(QImage::Format_RGB888));
    QFile said(files_.path("typing-said.txt"));
    QVERIFY(said.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(said.readAll());
    QVERIFY2(screenTextContains(text, typed.left(typed.size() - 1)), qPrintable(text));
}

void TestCliScreen::filesWholeOrNotAtAll_data()
{
    QTest::addColumn<QStringList>("macro"); // empty: screen --snapshot
    QTest::addColumn<int>("bytesLeft"); // on the disk
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("error");
    // 8 KB of a picture's 200 fit: a cut file.
    QTest::newRow("screen --snapshot") << QStringList() << 8192 << "full-cli.png" << "quillonemu-cli screen: 「";
    QTest::newRow("SNAPSHOT") << QStringList{"SLEEP 0.5", "SNAPSHOT full-shot.png"} << 8192 << "full-shot.png"
                              << ":2: error: SNAPSHOT: 「";
    QTest::newRow("READTEXT") << QStringList{"SLEEP 0.5", "READTEXT full-said.txt"} << 0 << "full-said.txt"
                              << ":2: error: READTEXT: 「";
    QTest::newRow("evidence") << QStringList{"SLEEP 0.5", "WAITIMAGE full-other.png 0.3"} << 8192 << ""
                              << "最後のフレームは保存できませんでした（「";
}

void TestCliScreen::filesWholeOrNotAtAll()
{
    // A full disk (the file-size limit stands for it; a run's fills once
    // its port is open): the file is not left cut, and the message gives
    // the system's reason.
    QFETCH(QStringList, macro);
    QFETCH(int, bytesLeft);
    QFETCH(QString, file);
    QFETCH(QString, error);
    const QString folder = files_.path(QStringLiteral("full-%1").arg(QTest::currentDataTag()).replace(' ', '-'));
    QVERIFY(QDir().mkpath(folder));
    const QString still = folder + "/screen.png";
    QVERIFY(cv::imwrite(still.toStdString(), texturedPicture(320, 240, 6)));
    QVERIFY(cv::imwrite((folder + "/full-other.png").toStdString(), texturedPicture(40, 30, 61)));
    PseudoTerminal pty;
    pty.bindPort(1);
    if (macro.isEmpty()) {
        CliProcess cli({"screen", still, "--snapshot", folder + "/" + file}, [bytesLeft](QProcess &p) {
            p.setChildProcessModifier([bytesLeft] {
                FullDisk::ignoreSignalInChild();
                rlimit l{};
                ::getrlimit(RLIMIT_FSIZE, &l);
                l.rlim_cur = static_cast<rlim_t>(bytesLeft);
                ::setrlimit(RLIMIT_FSIZE, &l);
            });
        });
        QVERIFY(cli.waitForEnd(30000));
        QCOMPARE(cli.exitCode(), 1);
        QVERIFY2(cli.err().contains(error), qPrintable(cli.err()));
        QVERIFY2(cli.err().contains(QStringLiteral("に書き込めません（システムの理由: File too large）")), qPrintable(cli.err()));
    } else {
        QFile m(folder + "/macro.txt");
        QVERIFY(m.open(QIODevice::WriteOnly) && m.write(macro.join("\r\n").toLatin1()) > 0);
        m.close();
        CliProcess cli({"run", m.fileName(), "--screen", still}, [](QProcess &p) {
            p.setChildProcessModifier(&FullDisk::ignoreSignalInChild);
        });
        QVERIFY(cli.waitForOutput("SLEEP"));
        QVERIFY(FullDisk::fillFor(cli.processId(), static_cast<rlim_t>(bytesLeft)));
        QVERIFY(cli.waitForEnd(30000));
        QCOMPARE(cli.exitCode(), 1);
        QVERIFY2(cli.err().contains(error), qPrintable(cli.err()));
        QVERIFY2(cli.err().contains(QStringLiteral("に書き込めません（システムの理由: File too large）")), qPrintable(cli.err()));
    }
    // Nothing cut is left behind, under its name or another.
    QStringList left = QDir(folder).entryList(QDir::Files);
    left.removeAll("screen.png");
    left.removeAll("full-other.png");
    left.removeAll("macro.txt");
    QVERIFY2(left.isEmpty(), qPrintable(left.join(' ')));
}

void TestCliScreen::regionsOutsideTheFrame_data()
{
    QTest::addColumn<QStringList>("arguments"); // @still for the picture; a macro when it starts with a statement
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");
    const QString outside = QStringLiteral("範囲 1000,1000,50,50 がフレーム（320×240）の外にあるため、読めません。");
    QTest::newRow("--read wholly outside") << QStringList{"screen", "@still", "--read", "--region", "1000,1000,50,50"} << 1
                                           << "quillonemu-cli screen: --region の" + outside;
    QTest::newRow("--read partly outside") << QStringList{"screen", "@still", "--read", "--region", "0,200,320,100"} << 0
                                           << "範囲 0,200,320,100 の一部はフレーム（320×240）の外にあります（読んだのは 0,200,320,40）";
    QTest::newRow("READTEXT wholly outside") << QStringList{"READTEXT r.txt 1000,1000,50,50"} << 1
                                             << ":1: error: READTEXT: " + outside;
    QTest::newRow("WAITTEXT wholly outside") << QStringList{"WAITTEXT OK 60 1000,1000,50,50"} << 1
                                             << ":1: error: WAITTEXT: " + outside;
    QTest::newRow("WAITTEXT partly outside") << QStringList{"WAITTEXT never 1 0,200,320,100"} << 1
                                             << "範囲 0,200,320,100 の一部はフレームの外にあり、読んだのは 0,200,320,40 です。";
}

void TestCliScreen::regionsOutsideTheFrame()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    const QString still = writePng(files_, "region.png", toBgr(ModelScreen::render("K", "OK")));
    if (arguments.first() != "screen") {
        arguments = QStringList{"run", files_.writeShiftJis("region.txt", arguments.first()), "--screen", still, "--log",
                                files_.path("region.log")};
    }
    arguments.replaceInStrings("@still", still);
    PseudoTerminal pty;
    pty.bindPort(1);
    QFile::remove(files_.path("region.log"));
    QElapsedTimer took;
    took.start();
    CliProcess cli(arguments);
    QVERIFY(cli.waitForEnd(30000));
    QCOMPARE(cli.exitCode(), exitCode);
    QVERIFY2(cli.err().contains(error), qPrintable(cli.err()));
    // Wholly outside fails at the first frame, not at the wait's end.
    QVERIFY2(took.elapsed() < 20000, qPrintable(QString::number(took.elapsed())));
    const QList<QJsonObject> entries = screenEntries(files_.path("region.log"));
    if (QByteArray(QTest::currentDataTag()).startsWith("WAITTEXT partly")) {
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries[0].value("regionRead").toString(), QStringLiteral("0,200,320,40"));
    }
}

void TestCliScreen::readingIsCutAtTheWaitsEnd()
{
    // One reading of so busy a frame takes many seconds: it is cut when the
    // wait's time is up, and the log says how long the wait really took.
    const QString page = writePng(files_, "busy.png", busyPage());
    PseudoTerminal pty;
    pty.bindPort(1);
    const QString log = files_.path("busy.log");
    QElapsedTimer took;
    took.start();
    CliProcess run({"run", files_.writeShiftJis("busy.txt", "WAITTEXT 受信しました 2"), "--screen", page, "--log", log});
    QVERIFY(run.waitForEnd(60000));
    const double seconds = double(took.elapsed()) / 1000.0;
    qInfo("a 2 s WAITTEXT on a busy 1080p frame ended after %.1f s", seconds);
    QCOMPARE(run.exitCode(), 1);
    // The message says how long the wait took: its 2 s and the rest of the
    // word being read (on a busy machine a word took 2 s more).
    QVERIFY2(run.err().contains(QRegularExpression(":1: error: WAITTEXT: [2-7]\\.\\d 秒待っても")), qPrintable(run.err()));
    QVERIFY2(seconds < 8, qPrintable(QString::number(seconds)));
    const QList<QJsonObject> entries = screenEntries(log);
    QCOMPARE(entries.size(), 1);
    QVERIFY(entries[0].value("seconds").toDouble() >= 2.0);
    QVERIFY(entries[0].value("seconds").toDouble() <= seconds);

    // SIGTERM in the middle of a reading ends the run at once.
    CliProcess stopped({"run", files_.writeShiftJis("busy-stop.txt", "WAITTEXT 受信しました 60"), "--screen", page});
    QVERIFY(stopped.waitForOutput("WAITTEXT"));
    // The reading has gone on for a while: the program has been busy for a
    // second since the wait began.
    const double busyAtStart = cpuSeconds(stopped.processId());
    QTRY_VERIFY_WITH_TIMEOUT(cpuSeconds(stopped.processId()) > busyAtStart + 1.0, 20000);
    QElapsedTimer sinceSignal;
    sinceSignal.start();
    stopped.sendSignal(SIGTERM);
    QVERIFY(stopped.endsWithin(5000));
    qInfo("SIGTERM during a reading ended the run in %lld ms", sinceSignal.elapsed());
    QCOMPARE(stopped.exitCode(), 130);
    QVERIFY(sinceSignal.elapsed() < 3000);
}

void TestCliScreen::readPrintsTheLinesAsRead()
{
    // The status bar and the text are two lines, printed as two; nothing of
    // the recogniser's own notes reaches standard error, also for a picture
    // without any text.
    const QString screen = writePng(files_, "lines.png", toBgr(ModelScreen::render("9", "ABCDEF")));
    CliProcess read({"screen", screen, "--read"});
    QVERIFY(read.waitForEnd(30000));
    QCOMPARE(read.exitCode(), 0);
    const QStringList lines = read.out().split('\n', Qt::SkipEmptyParts);
    QVERIFY2(lines.size() >= 2 && !read.out().contains("<U+"), qPrintable(read.out()));
    QVERIFY2(screenTextContains(lines.last(), "ABCDEF"), qPrintable(read.out()));
    QCOMPARE(read.err(), QString());
    CliProcess noise({"screen", writePng(files_, "noise.png", texturedPicture(320, 240, 12)), "--read"});
    QVERIFY(noise.waitForEnd(30000));
    QCOMPARE(noise.exitCode(), 0);
    QVERIFY2(noise.err().isEmpty() || noise.err().count('\n') == 1, qPrintable(noise.err()));
    // Nothing to read is said, naming what was read, not printed as an
    // empty line (it had looked like a reading that never happened).
    CliProcess blank({"screen", writePng(files_, "blank.png", cv::Mat(240, 320, CV_8UC3, cv::Scalar(230, 230, 230))), "--read",
                      "--region", "10,20,100,50"});
    QVERIFY(blank.waitForEnd(30000));
    QCOMPARE(blank.exitCode(), 0);
    QCOMPARE(blank.out(), QString());
    QVERIFY2(blank.err().contains("（320×240）の 10,20,100,50 に読める文字はありませんでした"), qPrintable(blank.err()));
}

QUILLON_TEST_MAIN(TestCliScreen)
#include "test_cli_screen.moc"
