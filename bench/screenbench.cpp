// Figures of seeing the handset, printed as JSON lines for bench/run:
//   match    the matcher's cost per frame for a 120×40 template in 640×480
//            and 1280×720 frames, two-step and plain, on one core;
//   levels   similarities of right and wrong pictures of the model screen
//            in camera-like frames (noise, blur, brightness, JPEG);
//   template FILE
//            the template of the typed text あいう as levels cuts it;
//   serve W H FPS SECONDS [display]
//            an MJPEG stream of camera-like W×H frames at FPS frames a
//            second, for the CPU of a wait that never ends (its URL first);
//            `display`: 1280x720 frames of the model screen (showing かきく)
//            filmed on a desk by the model camera, held still;
//   near     near misses and camera movement: per font and camera
//            condition, how often a word's template is found on the screen
//            that shows it and on one with a character of it changed
//            (SEED=N draws other screens and faults than the usual 7);
//   camera   the share of texts found on handsets' screens in several
//            fonts (one of them 8-dot) and layouts, bare and filmed by a
//            camera on a dark desk (whole 1280x720 frame, no region; the
//            display found and made upright first, as a wait does; apart,
//            those at 14 px or more in the frame, and the 8-dot font's
//            where the lens leaves half the contrast of a dot beside a
//            blank one), and of near misses (one character changed) and
//            absent texts found
//            (ONLY=FONT, CONDITION=bare|camera: a part of it; READINGS=N:
//            a wait of N readings, 5; SHOW=1: the texts not found within a
//            wait, with the last reading; DUMP=DIR: the upright pictures
//            read first, as PNG);
//   typed    the share of texts found as the model handset shows them
//            typed (addresses in full-width letters, and messages in
//            Japanese; wrapped), in its font and two others (one of them
//            8-dot), bare, filmed, and filmed by the model handset's own
//            camera (CAMERAS=N a text, 6; SHOW=1, DUMP=DIR as above), and
//            of near misses found;
//   readfile PICTURE...
//            the reader's reading of each picture (a DUMP's, say);
//   read     the share of typed texts the reader finds on the model
//            screen's camera-like frames (words, and characters at random),
//            false finds, and the time to read a QVGA and a 720p frame.

#include "handset/cameramodel.h"
#include "handset/mjpegserver.h"
#include "support/camerascreens.h"
#include "support/corners.h"
#include "handset/modelscreen.h"
#include "screen/displayfinder.h"
#include "screen/matcher.h"
#include "screen/screenview.h"
#include "screen/stillcut.h"
#include "screen/textcompare.h"
#include "screen/textreader.h"

#include <QElapsedTimer>
#include <QFont>
#include <QPainter>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <numbers>
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

// The CPU time this thread has used, in milliseconds: what a reading costs
// (the recogniser reads on the calling thread), however busy the machine.
double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
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

// A list of nine alike lines (「受信BOX 10件」 to 「受信BOX 18件」) in the
// system's font, `pixels` high, on a `size` frame: each line's template
// looked for, two-step and plain; the lines placed wrong, and the cost.
int matchListCost()
{
    cv::setNumThreads(1);
    const struct {
        QSize size;
        int pixels;
    } lists[] = {{{320, 240}, 20}, {{640, 480}, 22}, {{1280, 720}, 40}};
    for (const auto &list : lists) {
        QImage image(list.size, QImage::Format_RGB888);
        image.fill(Qt::white);
        QPainter painter(&image);
        QFont font;
        font.setPixelSize(list.pixels);
        painter.setFont(font);
        const int pitch = list.pixels + list.pixels / 3;
        std::vector<QRect> lines;
        for (int i = 0; i < 9; ++i) {
            const QRect area(6, 6 + i * pitch, list.size.width() - 12, pitch);
            const QString text = QStringLiteral("受信BOX %1件").arg(10 + i);
            QRect drawn;
            painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, text, &drawn);
            lines.push_back(drawn.intersected(area));
        }
        painter.end();
        const cv::Mat frame = toBgr(image);
        std::vector<double> twoStep, plain;
        int wrong = 0;
        for (const QRect &line : lines) {
            const TemplateMatcher matcher(frame(cv::Rect(line.x(), line.y(), line.width(), line.height())));
            for (int i = 0; i < 10; ++i) {
                QElapsedTimer t;
                t.start();
                const MatchResult r = matcher.match(frame);
                twoStep.push_back(t.nsecsElapsed() / 1e6);
                t.restart();
                matcher.matchFull(frame);
                plain.push_back(t.nsecsElapsed() / 1e6);
                wrong += i == 0 && r.place != line.topLeft();
            }
        }
        print({{"figure", "matchList"}, {"width", list.size.width()}, {"height", list.size.height()},
               {"pixels", list.pixels}, {"lines", 9}, {"linesPlacedWrong", wrong},
               {"twoStepMedian", percentile(twoStep, 0.5)}, {"plainMedian", percentile(plain, 0.5)}});
    }
    return 0;
}

int matchCost()
{
    cv::setNumThreads(1);
    std::mt19937 random(1);
    for (const cv::Size size : {cv::Size(640, 480), cv::Size(1280, 720)}) {
        const cv::Mat screen = texturedPicture(size.width, size.height, size.width);
        const cv::Rect place(size.width / 2 - 37, size.height / 2 + 11, 120, 40);
        const TemplateMatcher matcher(screen(place));
        // A template of another picture: what a wait for a picture that
        // never comes matches, frame after frame.
        const TemplateMatcher absent(texturedPicture(size.width, size.height, size.width + 1)(place));
        std::vector<double> twoStep, plain, absentTwoStep;
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
            t.restart();
            absent.match(frame);
            absentTwoStep.push_back(t.nsecsElapsed() / 1e6);
        }
        print({{"figure", "match"}, {"width", size.width}, {"height", size.height},
               {"twoStepMedian", percentile(twoStep, 0.5)}, {"twoStepP95", percentile(twoStep, 0.95)},
               {"plainMedian", percentile(plain, 0.5)}, {"plainP95", percentile(plain, 0.95)},
               {"absentTwoStepMedian", percentile(absentTwoStep, 0.5)}, {"frames", 120}, {"placesDiffering", misplaced}});
    }
    return matchListCost();
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

int serve(int width, int height, double fps, double seconds, bool display)
{
    std::mt19937 random(3);
    const cv::Mat screen = texturedPicture(width, height, 11);
    const cv::Mat shown = toBgr(ModelScreen::render(QStringLiteral("く"), QStringLiteral("かきく")));
    const CameraModel camera(ModelScreen::cameraSettings(), 7);
    QList<QByteArray> frames;
    for (int i = 0; i < 30; ++i) {
        std::vector<uchar> bytes;
        cv::imencode(".jpg", display ? camera.shoot(shown, CameraModel::Pose(), quint64(i)).frame : cameraLike(screen, random),
                     bytes, {cv::IMWRITE_JPEG_QUALITY, 85});
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

// A text of 4 to 20 characters as a user types it: words of one kind (kana,
// kanji, Latin letters and digits) or of all, or characters at random.
QString typedText(std::mt19937 &random, int kind, bool words, int longest = 20)
{
    static const QStringList kana{"こんにちは", "ありがとう", "おはよう", "よろしく", "おやすみ", "メール", "アドレス",
                                  "データ", "フォルダ", "はい", "いいえ", "もしもし", "さようなら", "ひらがな",
                                  "カタカナ", "テスト", "サーバ", "ソフトバンク"};
    static const QStringList kanji{"送信", "受信", "完了", "失敗", "東京都", "千代田区", "山田太郎", "電話番号", "新着",
                                   "確認", "設定", "画面", "表示", "入力", "会社", "大阪府", "日本語", "時間"};
    static const QStringList latin{"taro", "yamada", "example", "jp", "info", "mail", "2026", "0312345678", "abc",
                                   "test", "user", "123", "host", "net", "OK", "NG", "ID", "box"};
    const QStringList *sets[] = {&kana, &kanji, &latin};
    const int length = std::uniform_int_distribution<int>(4, std::max(4, longest))(random);
    QString text;
    while (text.size() < length) {
        const QStringList *set = sets[kind < 3 ? kind : random() % 3];
        const QString word = set->at(qsizetype(random() % set->size()));
        if (words) {
            if (set == &latin && !text.isEmpty())
                text += random() % 2 ? u'.' : u'@';
            text += word;
        } else {
            text += word.at(qsizetype(random() % word.size()));
        }
    }
    return text.left(std::max<qsizetype>(4, length));
}

int reading()
{
    std::mt19937 random(5);
    TextReader reader;
    if (!reader.open()) {
        std::fprintf(stderr, "%s\n", qPrintable(reader.errorText()));
        return 1;
    }
    for (const bool words : {true, false}) {
        int found = 0;
        int foundWithinWait = 0;
        int falseFinds = 0;
        std::vector<double> qvga;
        std::vector<double> hd;
        constexpr int kScreens = 200;
        // A wait reads frame after frame, each with its own noise: found
        // within this many readings (a wait of a second or less).
        constexpr int kReadingsInAWait = 5;
        for (int i = 0; i < kScreens; ++i) {
            const QString text = typedText(random, i % 4, words);
            const QString other = typedText(random, i % 4, words);
            const cv::Mat screen = toBgr(ModelScreen::render(QStringLiteral("ENTER"), text));
            cv::Mat frame;
            // The frames' noise from the screen's own seed: the same frames
            // whatever was read before.
            std::mt19937 noise(1000 + i + (words ? 0 : kScreens));
            for (int reading = 0; reading < kReadingsInAWait; ++reading) {
                frame = throughJpeg(cameraLike(screen, noise));
                const double began = threadCpuMs();
                // Read again as a wait reads an unchanged screen.
                const QString read = reader.read(frame, QRect(), TextReader::Limit(), reading).value_or(QString());
                if (reading == 0)
                    qvga.push_back(threadCpuMs() - began);
                // A text not on the screen (another one that happens to be
                // in it is no false find).
                if (!screenTextContains(text, other))
                    falseFinds += screenTextContains(read, other) ? 1 : 0;
                if (screenTextContains(read, text)) {
                    found += reading == 0 ? 1 : 0;
                    ++foundWithinWait;
                    break;
                }
                if (reading == 0 && qEnvironmentVariableIsSet("SHOW"))
                    std::fprintf(stderr, "want %s\n got %s\n", qPrintable(text), qPrintable(comparableText(read)));
            }
            if (i % 10 == 0) {
                // The same screen as a 720p camera frames it: scaled up, with
                // a border around the handset's display.
                cv::Mat large(720, 1280, CV_8UC3, cv::Scalar(40, 40, 40));
                cv::Mat display;
                cv::resize(frame, display, cv::Size(960, 720), 0, 0, cv::INTER_LINEAR);
                display.copyTo(large(cv::Rect(160, 0, 960, 720)));
                const double began = threadCpuMs();
                reader.read(large);
                hd.push_back(threadCpuMs() - began);
            }
        }
        print({{"figure", "read"}, {"texts", words ? "words" : "characters at random"}, {"screens", kScreens},
               {"found", found}, {"foundWithinWait", foundWithinWait}, {"readingsInAWait", kReadingsInAWait},
               {"falseFinds", falseFinds}, {"qvgaMedian", percentile(qvga, 0.5)},
               {"qvgaP95", percentile(qvga, 0.95)}, {"hdMedian", percentile(hd, 0.5)}, {"hdP95", percentile(hd, 0.95)}});
    }
    return 0;
}

// A handset's screen in `family` at `pixels`: a status bar, lines of menu
// text (one of them `word`, at `line`), soft keys; light or dark. `box`: the
// word's ink with two pixels around it.
cv::Mat handsetScreen(const QString &family, int pixels, const QString &word, int line, bool dark, QRect *box)
{
    QImage image(320, 240, QImage::Format_RGB888);
    const QColor paper = dark ? QColor(24, 28, 36) : QColor(250, 250, 246);
    const QColor ink = dark ? QColor(230, 230, 230) : QColor(20, 20, 30);
    image.fill(paper);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing, !isDotFont(family));
    QFont font(family);
    font.setPixelSize(pixels);
    font.setHintingPreference(QFont::PreferFullHinting);
    painter.fillRect(QRect(0, 0, 320, 20), QColor(40, 60, 110));
    painter.setPen(Qt::white);
    QFont small(family);
    small.setPixelSize(14);
    painter.setFont(small);
    painter.drawText(QRect(4, 0, 312, 20), Qt::AlignVCenter | Qt::AlignRight, QStringLiteral("12:34"));
    painter.drawText(QRect(4, 0, 312, 20), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Y!  ||||"));
    painter.fillRect(QRect(0, 218, 320, 22), QColor(200, 200, 200));
    painter.setPen(QColor(0, 0, 0));
    painter.drawText(QRect(10, 218, 300, 22), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("メニュー"));
    painter.drawText(QRect(10, 218, 300, 22), Qt::AlignVCenter | Qt::AlignRight, QStringLiteral("戻る"));
    static const QStringList others{QStringLiteral("新着メール"), QStringLiteral("設定"), QStringLiteral("電話帳"),
                                    QStringLiteral("カメラ 2026"), QStringLiteral("ブラウザ")};
    painter.setFont(font);
    painter.setPen(ink);
    const int pitch = pixels + pixels / 2;
    const int lines = std::min(5, 190 / pitch);
    QRect area;
    for (int i = 0; i < lines; ++i) {
        const QRect row(36, 26 + i * pitch, 250, pitch);
        painter.drawText(row, Qt::AlignVCenter | Qt::AlignLeft, i == line % lines ? word : others[i]);
        if (i == line % lines)
            area = row;
    }
    painter.end();
    const cv::Mat screen = toBgr(image);
    cv::Mat gray;
    cv::cvtColor(screen(cv::Rect(area.x(), area.y(), area.width(), area.height())), gray, cv::COLOR_BGR2GRAY);
    cv::Mat mark;
    cv::absdiff(gray, cv::Scalar(dark ? 30 : 248), mark);
    cv::threshold(mark, mark, 60, 255, cv::THRESH_BINARY);
    const cv::Rect ink0 = cv::boundingRect(mark);
    *box = QRect(area.x() + ink0.x - 2, area.y() + ink0.y - 2, ink0.width + 4, ink0.height + 4);
    return screen;
}

// What a camera makes of a picture of the display: each fault switched on
// by name. `moved`: the camera was nudged (scale ±10 %, tilt ±3°, a shift)
// rather than a display rectified near its own resolution (±3 %, ±1.5°).
// `where`: a point of the picture, moved as the picture is. `noiseOf`: the
// frame's own noise, where several frames of one view are filmed.
cv::Mat filmed(const cv::Mat &picture, const QString &faults, bool moved, std::mt19937 &random, cv::Point2d *where,
               unsigned noiseOf = 0)
{
    auto uniform = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(random); };
    cv::Mat frame = picture.clone();
    const bool all = faults == QLatin1String("camera");
    if (all || faults == QLatin1String("tilt") || moved) {
        const double scale = moved ? uniform(0.9, 1.1) : uniform(0.97, 1.03);
        const double angle = moved ? uniform(-3, 3) : uniform(-1.5, 1.5);
        const double keystone = uniform(-0.02, 0.02) * frame.cols;
        const cv::Point2d shift(uniform(-6, 6), uniform(-6, 6));
        const cv::Point2d centre(frame.cols / 2.0, frame.rows / 2.0);
        const double c = std::cos(angle * CV_PI / 180) * scale, s = std::sin(angle * CV_PI / 180) * scale;
        cv::Point2f from[4] = {{0, 0}, {float(frame.cols), 0}, {float(frame.cols), float(frame.rows)}, {0, float(frame.rows)}};
        cv::Point2f to[4];
        for (int i = 0; i < 4; ++i) {
            const cv::Point2d p = cv::Point2d(from[i]) - centre;
            const double lean = i < 2 ? (i == 0 ? keystone : -keystone) : 0;
            to[i] = cv::Point2f(float(centre.x + c * p.x - s * p.y + shift.x + lean), float(centre.y + s * p.x + c * p.y + shift.y));
        }
        const cv::Mat h = cv::getPerspectiveTransform(from, to);
        cv::warpPerspective(frame, frame, h, frame.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
        std::vector<cv::Point2d> in{*where}, out;
        cv::perspectiveTransform(in, out, h);
        *where = out[0];
    }
    if (all || faults == QLatin1String("light")) {
        // Light falling off across the display, in some direction.
        cv::Mat gain(frame.size(), CV_32F);
        const double a = uniform(0, 2 * CV_PI), low = uniform(0.65, 0.85);
        for (int y = 0; y < frame.rows; ++y)
            for (int x = 0; x < frame.cols; ++x) {
                const double t = ((x - frame.cols / 2.0) * std::cos(a) + (y - frame.rows / 2.0) * std::sin(a)) / frame.cols + 0.5;
                gain.at<float>(y, x) = float(low + (1 - low) * std::clamp(t, 0.0, 1.0));
            }
        cv::Mat channels[3];
        cv::split(frame, channels);
        for (cv::Mat &ch : channels) {
            ch.convertTo(ch, CV_32F);
            ch = ch.mul(gain);
            ch.convertTo(ch, CV_8U);
        }
        cv::merge(channels, 3, frame);
    }
    if (all || faults == QLatin1String("blur"))
        cv::GaussianBlur(frame, frame, cv::Size(0, 0), uniform(0.8, 1.5));
    if (all || faults == QLatin1String("noise")) {
        cv::Mat noise(frame.size(), CV_16SC3);
        // From `random` alone: each cell's frames the same whichever
        // cells ran before.
        const double sigma = uniform(5, 10);
        cv::RNG(random() + noiseOf).fill(noise, cv::RNG::NORMAL, cv::Scalar::all(0), cv::Scalar::all(sigma));
        frame.convertTo(frame, CV_16SC3);
        frame += noise;
        frame.convertTo(frame, CV_8UC3);
    }
    if (all || faults == QLatin1String("jpeg")) {
        std::vector<uchar> bytes;
        cv::imencode(".jpg", frame, bytes, {cv::IMWRITE_JPEG_QUALITY, int(uniform(50, 85))});
        frame = cv::imdecode(bytes, cv::IMREAD_COLOR);
    }
    return frame;
}

// Near misses and camera movement, per font and condition: a word's
// template (cut from the display's own pixels, or for "moved" from one
// camera frame, or for "display" and "display-size" from the display found
// in a camera's frames and made upright) looked for on the screen showing
// it and on the same screen with one character of the word changed.
int nearMisses(double level)
{
    cv::setNumThreads(1);
    const QString pairs[][2] = {
        {"残り3件", "残り9件"},       {"受信BOX 12件", "受信BOX 13件"}, {"メール送信", "メール受信"},
        {"未読3通", "未読8通"},       {"発信履歴", "着信履歴"},         {"12:30 予定", "12:38 予定"},
        {"送信しました", "受信しました"}, {"接続中", "接続済"},
    };
    const struct {
        const char *name;
        QString family;
        std::vector<int> pixels;
    } fonts[] = {{"IPAGothic (model)", "IPAGothic", {14, 18, 24}},
                 {"VL Gothic", "VL Gothic", {14, 18, 24}},
                 {"Takao Gothic", "TakaoGothic", {14, 18, 24}},
                 {"Misaki 8-dot", "MisakiGothic", {8, 16, 24}}};
    QStringList conditions{"clean", "blur", "noise", "jpeg", "light", "tilt", "camera", "moved", "display", "display-size"};
    if (qEnvironmentVariableIsSet("CONDITIONS"))
        conditions = qEnvironmentVariable("CONDITIONS").split(u',');
    for (const auto &font : fonts) {
        if (qEnvironmentVariableIsSet("FONTS") && !qEnvironmentVariable("FONTS").contains(QLatin1String(font.name).left(3)))
            continue;
        for (const QString &condition : conditions) {
            std::mt19937 random(qEnvironmentVariableIsSet("SEED") ? qEnvironmentVariableIntValue("SEED") : 7);
            const bool moved = condition == QLatin1String("moved");
            const bool throughDisplay = condition.startsWith(QLatin1String("display"));
            int right = 0, found = 0, near = 0, falseFinds = 0, falseInAWait = 0;
            // A wait of about a second at 10 frames a second.
            constexpr int kFramesInAWait = 10;
            std::vector<double> rightValues, nearValues, ms;
            for (const auto &pair : pairs) {
                for (int way = 0; way < 2; ++way) {
                    for (const int pixels : font.pixels) {
                        const bool dark = (pixels + way) % 4 == 0;
                        const int line = int(random() % 5);
                        QRect box, nearBox;
                        const cv::Mat shown = handsetScreen(font.family, pixels, pair[way], line, dark, &box);
                        const cv::Mat other = handsetScreen(font.family, pixels, pair[1 - way], line, dark, &nearBox);
                        const cv::Rect cut(box.x(), box.y(), box.width(), box.height());
                        cv::Point2d centre(box.center().x() + 0.5, box.center().y() + 0.5);
                        cv::Mat picture = shown(cut).clone();
                        if (moved) {
                            // Cut in the screen window from the last frames
                            // of a still camera (their mean, stillcut.h),
                            // around the word where they show it (the
                            // camera's shift is up to 6 pixels: cut where the
                            // word had been, a 14-pixel word lost a third of
                            // its height). STILL=1: from one frame, as
                            // before.
                            const int frames = qEnvironmentVariableIntValue("STILL") > 0 ? qEnvironmentVariableIntValue("STILL")
                                                                                          : kStillFrames;
                            std::vector<cv::Mat> still;
                            cv::Point2d seen = centre;
                            std::mt19937 after;
                            for (int f = 0; f < frames; ++f) {
                                std::mt19937 view = random; // the same view in every frame
                                seen = centre;
                                still.insert(still.begin(),
                                             filmed(shown, QStringLiteral("camera"), false, view, &seen, unsigned(f)));
                                after = view;
                            }
                            random = after;
                            const cv::Rect around(int(std::lround(seen.x - cut.width / 2.0)), int(std::lround(seen.y - cut.height / 2.0)),
                                                  cut.width, cut.height);
                            picture = stillCut(still, around & cv::Rect(0, 0, shown.cols, shown.rows));
                        }
                        // "display": the whole handset filmed on a desk by
                        // a still camera, its display found and made
                        // upright at its resolution (DISPLAY AUTO 320x240;
                        // "display-size": at its size in the frame, no
                        // resolution given), the template cut from the mean
                        // of those upright frames; then the camera nudged
                        // (nearer or farther by 5 %, its display within 90 %
                        // of the frame's height; a few pixels aside; half a
                        // degree) and the display found again.
                        CameraView nudged;
                        DisplayArea area;
                        if (condition == QLatin1String("display"))
                            area.resolution = QSize(shown.cols, shown.rows);
                        // A wait's display source follows the display from
                        // frame to frame.
                        DisplayFinder rightFinder(area);
                        DisplayFinder nearFinder(area);
                        const auto upright = [&](const cv::Mat &screen, std::mt19937 &noise) {
                            DisplayFinder &finder = &screen == &shown ? rightFinder : nearFinder;
                            const cv::Mat whole = filmed(screen, nudged, noise);
                            const std::optional<DisplayCorners> corners = finder.locate(whole);
                            return corners ? finder.rectify(whole, *corners) : cv::Mat();
                        };
                        if (throughDisplay) {
                            const CameraView view = randomView(random);
                            DisplayFinder finder(area);
                            std::vector<cv::Mat> still;
                            for (int f = 0; f < kStillFrames; ++f) {
                                const cv::Mat whole = filmed(shown, view, random);
                                if (const std::optional<DisplayCorners> corners = finder.locate(whole))
                                    still.insert(still.begin(), finder.rectify(whole, *corners));
                            }
                            // Where the word lies in the upright display (at
                            // its size in the frame, the display's pixels
                            // scaled).
                            const double sx = still.empty() ? 1.0 : double(still.front().cols) / shown.cols;
                            const double sy = still.empty() ? 1.0 : double(still.front().rows) / shown.rows;
                            const cv::Rect seen(int(std::lround(cut.x * sx)), int(std::lround(cut.y * sy)),
                                                int(std::lround(cut.width * sx)), int(std::lround(cut.height * sy)));
                            if (!still.empty())
                                picture = stillCut(still, seen);
                            nudged = view;
                            const auto uniform = [&](double a, double b) {
                                return std::uniform_real_distribution<double>(a, b)(random);
                            };
                            nudged.share *= random() % 2 && view.share * 1.05 <= 0.9 ? 1.05 : 0.95;
                            nudged.centre += cv::Point2d(uniform(-8, 8), uniform(-6, 6));
                            nudged.tiltDegrees += uniform(-0.5, 0.5);
                        }
                        const TemplateMatcher matcher(picture);
                        const QString faults = moved ? QStringLiteral("camera") : condition;
                        cv::Point2d where = centre;
                        const cv::Mat frame = throughDisplay ? upright(shown, random) : filmed(shown, faults, moved, random, &where);
                        if (throughDisplay && !frame.empty())
                            where = cv::Point2d(centre.x * frame.cols / shown.cols, centre.y * frame.rows / shown.rows);
                        QElapsedTimer timer;
                        timer.start();
                        const MatchResult r = frame.empty() ? MatchResult() : matcher.match(frame, level);
                        ms.push_back(timer.nsecsElapsed() / 1e6);
                        const QPointF at = QRectF(r.place, r.size).center();
                        const bool placed = std::hypot(at.x() - where.x, at.y() - where.y) <= box.height() / 2.0 + 2;
                        ++right;
                        found += r.similarity >= level && placed;
                        rightValues.push_back(placed ? r.similarity : 0);
                        cv::Point2d unused = centre;
                        const cv::Mat nearFrame = throughDisplay ? upright(other, random) : filmed(other, faults, moved, random, &unused);
                        const MatchResult n = nearFrame.empty() ? MatchResult() : matcher.match(nearFrame, level);
                        ++near;
                        falseFinds += n.similarity >= level;
                        // Through the display, also as a wait looks at the
                        // near miss: frame after frame of the nudged camera
                        // (a draw of the noise of the cell's own).
                        if (throughDisplay) {
                            bool taken = n.similarity >= level;
                            std::mt19937 noise(unsigned(1000 * line + 10 * pixels + way));
                            for (int f = 1; f < kFramesInAWait && !taken; ++f) {
                                const cv::Mat again = upright(other, noise);
                                taken = !again.empty() && matcher.match(again, level).similarity >= level;
                            }
                            falseInAWait += taken ? 1 : 0;
                        }
                        nearValues.push_back(n.similarity);
                        if (qEnvironmentVariableIsSet("SHOW") && (r.similarity < level || n.similarity >= level))
                            std::fprintf(stderr, "%s %s %d px %s: right %.3f (placed %d, scale %.3f, %.1f°) near %.3f\n",
                                         font.name, qPrintable(condition), pixels, qPrintable(pair[way]), r.similarity,
                                         placed, r.scale, r.angle, n.similarity);
                    }
                }
            }
            print({{"figure", "near"}, {"font", font.name}, {"condition", condition}, {"right", right}, {"found", found},
                   {"near", near}, {"falseFinds", falseFinds}, {"rightP5", percentile(rightValues, 0.05)},
                   {"rightMedian", percentile(rightValues, 0.5)}, {"nearMedian", percentile(nearValues, 0.5)},
                   {"nearP95", percentile(nearValues, 0.95)}, {"msMedian", percentile(ms, 0.5)},
                   {"falseWithinWait", throughDisplay ? falseInAWait : -1}});
        }
    }
    return 0;
}

// `text` with one character changed to another of its kind.
QString nearMiss(const QString &text, std::mt19937 &random)
{
    static const QString kana = QStringLiteral("あいうえおかきくけこさしすせそたちつてとなにぬねのアイウエオカキクケコサシスセソ");
    static const QString kanji = QStringLiteral("送受信完了失敗東京都千代田区山田太郎電話番号新着確認設定画面表示入力会社大阪府日本語時間");
    static const QString latin = QStringLiteral("abcdefghijkmnpqrstuvwxyz23456789");
    for (;;) {
        QString changed = text;
        const qsizetype at = qsizetype(random() % text.size());
        const QChar c = text.at(at);
        const QString &set = c.unicode() < 0x80 ? latin : (c.unicode() >= 0x4E00 ? kanji : kana);
        changed[at] = set.at(qsizetype(random() % set.size()));
        if (comparableText(changed) != comparableText(text) && !comparableText(text).contains(comparableText(changed)))
            return changed;
    }
}

// Texts as the model handset shows them typed: addresses (full-width
// letters, each in a square cell, wrapped over lines) and messages in
// Japanese, in the model's font, in VL Gothic and in an 8-dot font: sharp
// (the screen's own pixels through JPEG, as the model handset streams them
// without noise, or a screen capture: once a text, every frame alike), bare
// (camera-like noise and JPEG), filmed on a desk (the display found and
// made upright at its resolution, as a wait with DISPLAY AUTO 320x240
// does), and filmed as the model handset's camera (--screen-camera) films
// it, at moments 8 s apart of its drift and nudges (made upright alike).
// Found within a wait of 5 readings, and near misses (one character
// changed) found. CAMERAS=N cameras (or moments) a text (6); CONDITION=
// one of the conditions alone ("handset camera").
int typedTexts()
{
    TextReader reader;
    if (!reader.open()) {
        std::fprintf(stderr, "%s\n", qPrintable(reader.errorText()));
        return 1;
    }
    const QStringList addresses{"taro@example.jp", "hanako_01@example.ne.jp", "yamada.ichiro@mail.example.com",
                                "info@test-shop.co.jp", "user.name123@docomo.ne.jp", "k.suzuki@softbank.ne.jp",
                                "abc-def@ezweb.ne.jp", "mail2026@example.com"};
    const QStringList messages{"こんにちは。テストメールです。よろしくお願いします。", "東京都千代田区丸の内一丁目二番三号",
                               "お世話になっております。山田太郎です。明日の会議について", "送信しました受信しました確認してください"};
    const int cameras = qEnvironmentVariableIntValue("CAMERAS") > 0 ? qEnvironmentVariableIntValue("CAMERAS") : 6;
    constexpr int kReadingsInAWait = 5;
    const CameraModel handsetsCamera(ModelScreen::cameraSettings(), 7);
    for (const auto &[kind, typed] : {std::pair{"addresses", addresses}, std::pair{"messages", messages}}) {
        for (const char *family : {"IPAGothic", "VL Gothic", "MisakiGothic"}) {
            for (const char *condition : {"sharp", "bare", "camera", "handset camera"}) {
                if (qEnvironmentVariableIsSet("CONDITION") && qEnvironmentVariable("CONDITION") != QLatin1String(condition))
                    continue;
                const bool onCamera = std::strcmp(condition, "camera") == 0;
                const bool onHandsetsCamera = std::strcmp(condition, "handset camera") == 0;
                const bool sharp = std::strcmp(condition, "sharp") == 0;
                int texts = 0, found = 0, foundWithinWait = 0, nearMisses = 0;
                for (const QString &text : typed) {
                    const QImage shown =
                        ModelScreen::render(QStringLiteral("m"), shownAsTyped(text), false, QString::fromLatin1(family));
                    const cv::Mat drawn = toBgr(shown);
                    DisplayArea area;
                    area.resolution = QSize(drawn.cols, drawn.rows);
                    for (int c = 0; c < (sharp ? 1 : cameras); ++c) {
                        std::mt19937 random(1000 * int(typed.indexOf(text)) + c);
                        const QString missed = nearMiss(text, random);
                        const CameraView view = randomView(random);
                        DisplayFinder finder(area);
                        QString read;
                        int at = -1;
                        for (int r = 0; r < kReadingsInAWait && at < 0; ++r) {
                            cv::Mat upright;
                            if (onCamera || onHandsetsCamera) {
                                const cv::Mat frame = onHandsetsCamera
                                                          ? handsetsCamera.shootAt(shown, 1 + 8 * c + r / 15.0).frame
                                                          : filmed(drawn, view, random);
                                const std::optional<DisplayCorners> corners = finder.locate(frame);
                                upright = corners ? finder.rectify(frame, *corners) : frame;
                            } else {
                                upright = throughJpeg(sharp ? drawn : cameraLike(drawn, random));
                            }
                            if (r == 0 && qEnvironmentVariableIsSet("DUMP"))
                                cv::imwrite(QStringLiteral("%1/%2-%3-%4-%5-%6.png").arg(qEnvironmentVariable("DUMP"), kind, family)
                                                .arg(QLatin1String(condition)).arg(typed.indexOf(text)).arg(c).toStdString(), upright);
                            read = reader.read(upright, QRect(), TextReader::Limit(), r).value_or(QString());
                            nearMisses += screenTextContains(read, missed) ? 1 : 0;
                            at = screenTextContains(read, text) ? r : -1;
                        }
                        ++texts;
                        found += at == 0 ? 1 : 0;
                        foundWithinWait += at >= 0 ? 1 : 0;
                        if (at < 0 && qEnvironmentVariableIsSet("SHOW"))
                            std::fprintf(stderr, "%s %s %s camera %d: %s\n", kind, family, condition, c,
                                         qPrintable(QString(read).replace(u'\n', u'|')));
                    }
                }
                print({{"figure", "typed"}, {"kind", kind}, {"font", family}, {"condition", condition},
                       {"texts", texts}, {"found", found}, {"foundWithinWait", foundWithinWait},
                       {"readingsInAWait", kReadingsInAWait}, {"nearMissesFound", nearMisses}});
            }
        }
    }
    return 0;
}

int cameraReading()
{
    TextReader reader;
    if (!reader.open()) {
        std::fprintf(stderr, "%s\n", qPrintable(reader.errorText()));
        return 1;
    }
    struct Font {
        const char *name;
        const char *family;
        bool bitmap;
    };
    const Font fonts[] = {{"IPAGothic (model's)", "IPAGothic", false},
                          {"VL Gothic", "VL Gothic", false},
                          {"TakaoGothic", "TakaoGothic", false},
                          {"IPAexGothic", "IPAexGothic", false},
                          {"Misaki (8-dot)", "MisakiGothic", true}};
    const QSize sizes[] = {{240, 320}, {320, 240}, {480, 800}};
    const int kScreens = qEnvironmentVariableIntValue("SCREENS") > 0 ? qEnvironmentVariableIntValue("SCREENS") : 24;
    const int kReadingsInAWait = qEnvironmentVariableIntValue("READINGS") > 0 ? qEnvironmentVariableIntValue("READINGS") : 5;
    // Glyphs this large in the frame (pixels) a camera shows sharply
    // enough to read (figures apart for them).
    constexpr double kReadableInFrame = 14;
    // An 8-dot font's finest pattern, a dot beside a blank one, keeps this
    // share of its contrast at least through the lens (figures apart for
    // such screens): a Gaussian blur of sigma pixels keeps
    // exp(-pi^2 sigma^2 / 2p^2) of a pattern of period 2p.
    constexpr double kDotsContrast = 0.5;
    const bool show = qEnvironmentVariableIsSet("SHOW");
    for (const Font &font : fonts) {
        if (qEnvironmentVariableIsSet("ONLY") && !QString::fromLatin1(font.name).contains(qEnvironmentVariable("ONLY")))
            continue;
        for (const bool onCamera : {false, true}) {
            if (qEnvironmentVariableIsSet("CONDITION") && qEnvironmentVariable("CONDITION") != (onCamera ? "camera" : "bare"))
                continue;
            int found = 0, foundWithinWait = 0, small = 0, smallFound = 0, readable = 0, readableFound = 0, nearMisses = 0, absent = 0,
                dotsSeen = 0, dotsSeenFound = 0;
            std::vector<double> times, cornerErrors;
            for (int i = 0; i < kScreens; ++i) {
                // Each screen its own seed: the same screens and frames
                // whatever was read before.
                std::mt19937 random(31 + i);
                HandsetScreen s;
                s.family = QString::fromLatin1(font.family);
                s.bitmap = font.bitmap;
                s.size = sizes[i % 3];
                const int large = s.size.width() >= 480 ? 2 : 1;
                static const int glyphs[] = {12, 14, 16, 18, 22, 26};
                s.pixels = font.bitmap ? 8 * large * (i % 2 + 1) : glyphs[random() % 6] * (large == 2 ? 3 : 2) / 2;
                s.dark = i % 3 == 1;
                const int longest = std::min(12, (s.size.width() - 2 * s.pixels) / s.pixels);
                for (int l = 0; l < 4; ++l)
                    s.lines.append(typedText(random, int(random() % 4), true, longest));
                const int wantedLine = int(random() % 4);
                const QString wanted = s.lines.at(wantedLine);
                const QString missed = nearMiss(wanted, random);
                const QString other = typedText(random, int(random() % 4), true, longest);
                const QString all = s.lines.join(u'\n');
                const cv::Mat screen = drawScreen(s);
                const CameraView view = randomView(random);
                bool seen = false;
                QString lastRead;
                DisplayFinder finder; // a wait's own display source
                for (int r = 0; r < kReadingsInAWait && !seen; ++r) {
                    std::vector<cv::Point2f> truth;
                    const cv::Mat frame = onCamera ? filmed(screen, view, random, &truth) : throughJpeg(cameraLike(screen, random));
                    const double began = threadCpuMs();
                    // As a wait reads it: the display found, followed and
                    // made upright (the frame as it is where none is found).
                    cv::Mat upright = frame;
                    if (onCamera) {
                        const std::optional<DisplayCorners> corners = finder.locate(frame);
                        if (corners)
                            upright = finder.rectify(frame, *corners);
                        // How far the display's corners are placed from
                        // where they are, in the wait's first frame.
                        if (r == 0)
                            cornerErrors.push_back(corners ? cornerError(*corners, truth) : 1e9);
                    }
                    if (r == 0 && qEnvironmentVariableIsSet("DUMP"))
                        cv::imwrite(QStringLiteral("%1/%2-%3-%4.png").arg(qEnvironmentVariable("DUMP")).arg(font.family)
                                        .arg(onCamera).arg(i).toStdString(), upright);
                    const QString read = reader.read(upright, QRect(), TextReader::Limit(), r).value_or(QString());
                    times.push_back(threadCpuMs() - began);
                    if (!screenTextContains(all, missed))
                        nearMisses += screenTextContains(read, missed) ? 1 : 0;
                    if (!screenTextContains(all, other))
                        absent += screenTextContains(read, other) ? 1 : 0;
                    seen = screenTextContains(read, wanted);
                    found += seen && r == 0 ? 1 : 0;
                    foundWithinWait += seen ? 1 : 0;
                    lastRead = read;
                }
                // The glyphs' size in the frame's pixels (the font's size).
                const double inFrame = onCamera ? s.pixels * view.share * 720 / s.size.height() : s.pixels * 1.0;
                // The texts not found within the wait, with the last reading.
                if (!seen && show)
                    std::fprintf(stderr, "%d %s %s %dpx (%.1f in frame)%s: want %s\n got %s\n", i, font.name, onCamera ? "camera" : "bare",
                                 s.pixels, inFrame, s.dark ? " dark" : "", qPrintable(wanted),
                                 qPrintable(QString(lastRead).replace(u'\n', u'|')));
                small += s.pixels < 16 ? 1 : 0;
                smallFound += s.pixels < 16 && seen ? 1 : 0;
                // The frame's pixels a dot, and what the lens leaves of a
                // dot beside a blank one.
                const double dot = inFrame / 8;
                const bool dotsShown = onCamera && font.bitmap &&
                                       std::exp(-std::numbers::pi * std::numbers::pi * view.blur * view.blur / (2 * dot * dot)) >= kDotsContrast;
                dotsSeen += dotsShown ? 1 : 0;
                dotsSeenFound += dotsShown && seen ? 1 : 0;
                readable += inFrame >= kReadableInFrame ? 1 : 0;
                readableFound += inFrame >= kReadableInFrame && seen ? 1 : 0;
            }
            print({{"figure", "camera"}, {"font", font.name}, {"condition", onCamera ? "camera" : "bare"},
                   {"screens", kScreens}, {"found", found}, {"foundWithinWait", foundWithinWait},
                   {"readingsInAWait", kReadingsInAWait}, {"small", small}, {"smallFound", smallFound},
                   {"largeInFrame", readable}, {"largeInFrameFound", readableFound},
                   {"dotsShown", dotsSeen}, {"dotsShownFound", dotsSeenFound},
                   {"nearMissesFound", nearMisses}, {"absentFound", absent}, {"readMedian", percentile(times, 0.5)},
                   {"readP95", percentile(times, 0.95)}});
            if (onCamera)
                print({{"figure", "camera display"}, {"font", font.name}, {"screens", kScreens},
                       {"cornersWithin3px", int(std::count_if(cornerErrors.begin(), cornerErrors.end(), [](double e) { return e <= 3; }))},
                       {"cornerErrorMedian", percentile(cornerErrors, 0.5)}, {"cornerErrorMax", percentile(cornerErrors, 1.0)}});
        }
    }
    return 0;
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
    if (args.value(0) == "near")
        return nearMisses(args.size() > 1 ? args[1].toDouble() : 0.87);
    if (args.value(0) == "read")
        return reading();
    if (args.value(0) == "typed")
        return typedTexts();
    if (args.value(0) == "camera")
        return cameraReading();
    if (args.value(0) == "readfile") {
        TextReader reader;
        if (!reader.open()) {
            std::fprintf(stderr, "%s\n", qPrintable(reader.errorText()));
            return 1;
        }
        for (const QString &file : args.mid(1))
            std::printf("%s: %s\n", qPrintable(file), qPrintable(reader.read(cv::imread(file.toStdString())).replace(u'\n', u'|')));
        return 0;
    }
    if (args.value(0) == "template" && args.size() == 2)
        return cv::imwrite(args[1].toStdString(), typedTemplate()) ? 0 : 1;
    if (args.value(0) == "serve" && (args.size() == 5 || (args.size() == 6 && args[5] == "display")))
        return serve(args[1].toInt(), args[2].toInt(), args[3].toDouble(), args[4].toDouble(), args.size() == 6);
    std::fprintf(stderr, "usage: quillonemu-bench-screen match | levels | near [LEVEL] | read | camera | readfile PICTURE... | template FILE | serve W H FPS SECONDS [display]\n");
    return 2;
}
