// Figures of seeing the handset, printed as JSON lines for bench/run:
//   match    the matcher's cost per frame for a 120×40 template in 640×480
//            and 1280×720 frames, two-step and plain, on one core;
//   levels   similarities of right and wrong pictures of the model screen
//            in camera-like frames (noise, blur, brightness, JPEG);
//   template FILE
//            the template of the typed text あいう as levels cuts it;
//   serve W H FPS SECONDS
//            an MJPEG stream of camera-like W×H frames at FPS frames a
//            second, for the CPU of a wait that never ends (its URL first).

#include "handset/mjpegserver.h"
#include "handset/modelscreen.h"
#include "screen/matcher.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <random>

namespace {

void print(const QJsonObject &o)
{
    std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

cv::Mat texturedPicture(int width, int height, int seed)
{
    cv::Mat picture(height, width, CV_8UC3);
    cv::RNG rng(seed);
    rng.fill(picture, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(picture, picture, cv::Size(0, 0), 2.0);
    for (int i = 0; i < 60; ++i) {
        cv::rectangle(picture, cv::Rect(rng.uniform(0, width), rng.uniform(0, height), rng.uniform(4, 80), rng.uniform(4, 40)),
                      cv::Scalar(rng.uniform(0, 256), rng.uniform(0, 256), rng.uniform(0, 256)), cv::FILLED);
    }
    return picture;
}

cv::Mat throughJpeg(const cv::Mat &frame)
{
    std::vector<uchar> bytes;
    cv::imencode(".jpg", frame, bytes, {cv::IMWRITE_JPEG_QUALITY, 85});
    return cv::imdecode(bytes, cv::IMREAD_COLOR);
}

int matchCost()
{
    cv::setNumThreads(1);
    std::mt19937 random(1);
    for (const cv::Size size : {cv::Size(640, 480), cv::Size(1280, 720)}) {
        const cv::Mat screen = texturedPicture(size.width, size.height, size.width);
        const cv::Rect place(size.width / 2 - 37, size.height / 2 + 11, 120, 40);
        const TemplateMatcher matcher(screen(place));
        std::vector<double> twoStep, plain;
        int misplaced = 0;
        for (int i = 0; i < 120; ++i) {
            const cv::Mat frame = cameraLike(screen, random);
            QElapsedTimer t;
            t.start();
            const MatchResult r = matcher.match(frame);
            twoStep.push_back(t.nsecsElapsed() / 1e6);
            t.restart();
            const MatchResult full = matcher.matchFull(frame);
            plain.push_back(t.nsecsElapsed() / 1e6);
            misplaced += r.place != full.place;
        }
        print({{"figure", "match"}, {"width", size.width}, {"height", size.height},
               {"twoStepMedian", percentile(twoStep, 0.5)}, {"twoStepP95", percentile(twoStep, 0.95)},
               {"plainMedian", percentile(plain, 0.5)}, {"plainP95", percentile(plain, 0.95)},
               {"frames", 120}, {"placesDiffering", misplaced}});
    }
    return 0;
}

// The template as a user cuts it: the typed text's own box, two pixels of
// margin around its dark pixels.
cv::Mat typedTemplate()
{
    const QRect area = ModelScreen::textArea();
    const cv::Mat screen = toBgr(ModelScreen::render(QStringLiteral("う"), QStringLiteral("あいう")));
    cv::Mat ink;
    cv::cvtColor(screen(cv::Rect(area.x(), area.y(), area.width(), area.height())), ink, cv::COLOR_BGR2GRAY);
    cv::threshold(ink, ink, 128, 255, cv::THRESH_BINARY_INV);
    cv::Rect box = cv::boundingRect(ink) + cv::Point(area.x(), area.y());
    box = cv::Rect(box.x - 2, box.y - 2, box.width + 4, box.height + 4);
    return screen(box).clone();
}

int levels()
{
    std::mt19937 random(2);
    const cv::Mat picture = typedTemplate();
    const TemplateMatcher matcher(picture);
    print({{"figure", "template"}, {"width", picture.cols}, {"height", picture.rows}});
    struct Case {
        const char *name;
        bool right;
        QString key, text;
    };
    const Case cases[] = {
        {"the same text", true, "う", "あいう"},
        {"the same text, another key shown", true, "DOWN", "あいう"},
        {"the text and more after it", true, "お", "あいうえお"},
        {"empty", false, "CLEAR", ""},
        {"first character", false, "あ", "あ"},
        {"first two characters", false, "い", "あい"},
        {"last character differs", false, "か", "あいか"},
        {"other characters", false, "く", "かきく"},
        {"half-width letters", false, "ｕ", "ａｉｕ"},
    };
    for (const Case &c : cases) {
        const cv::Mat shown = toBgr(ModelScreen::render(c.key, c.text));
        std::vector<double> values;
        for (int i = 0; i < 60; ++i)
            values.push_back(matcher.match(throughJpeg(cameraLike(shown, random))).similarity);
        print({{"figure", "levels"}, {"case", c.name}, {"right", c.right}, {"min", percentile(values, 0)},
               {"median", percentile(values, 0.5)}, {"max", percentile(values, 1)}, {"frames", 60}});
    }
    return 0;
}

int serve(int width, int height, double fps, double seconds)
{
    std::mt19937 random(3);
    const cv::Mat screen = texturedPicture(width, height, 11);
    QList<QByteArray> frames;
    for (int i = 0; i < 30; ++i) {
        std::vector<uchar> bytes;
        cv::imencode(".jpg", cameraLike(screen, random), bytes, {cv::IMWRITE_JPEG_QUALITY, 85});
        frames.append(QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size())));
    }
    MjpegServer server;
    server.setRate(fps);
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 1;
    std::printf("http://127.0.0.1:%u/\n", server.port());
    std::fflush(stdout);
    int next = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] { server.setPicture(frames[next++ % frames.size()]); });
    tick.start(qRound(1000 / fps));
    QTimer::singleShot(qRound(seconds * 1000), qApp, &QCoreApplication::quit);
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == "match")
        return matchCost();
    if (args.value(0) == "levels")
        return levels();
    if (args.value(0) == "template" && args.size() == 2)
        return cv::imwrite(args[1].toStdString(), typedTemplate()) ? 0 : 1;
    if (args.value(0) == "serve" && args.size() == 5)
        return serve(args[1].toInt(), args[2].toInt(), args[3].toDouble(), args[4].toDouble());
    std::fprintf(stderr, "usage: quillonemu-bench-screen match | levels | template FILE | serve W H FPS SECONDS\n");
    return 2;
}
