// The display in a camera's frame: how well and how fast it is found,
// followed and made upright, on the measuring set (cameraset.h); and the
// set written out for other figures.
//
//   quillonemu-bench-display find     JSON lines: per layout and condition,
//                                     displays found, corner error (px),
//                                     time of a search; bare screens taken
//                                     for a display
//   quillonemu-bench-display follow   JSON lines: time per 720p frame of
//                                     following and making upright, still
//                                     and after a nudge (LAYOUT=NAME: that
//                                     layout alone), and of it the search
//                                     and following apart from the upright
//                                     picture
//   quillonemu-bench-display bands    JSON lines: per layout and condition,
//                                     templates as wide as the display cut
//                                     from its own pixels (the status bar,
//                                     the soft keys, the text's whole row)
//                                     found at their place in the upright
//                                     display, and the text's row found on
//                                     the screen with one character of it
//                                     changed (LAYOUT=NAME: that layout
//                                     alone; SHOW=DIR: each template not
//                                     found and its upright display, as PNG)
//   quillonemu-bench-display picture FILE
//                                     the documentation's picture: a camera
//                                     frame with the display's outline and,
//                                     beside it, the display made upright
//   quillonemu-bench-display write DIR
//                                     the set's frames as PNG files and
//                                     DIR/index.jsonl (one line a frame:
//                                     file, font, layout, condition, seed,
//                                     text, near miss or not, corners, the
//                                     text's box in display pixels)

#include "cameraset.h"
#include "macro/statement.h"
#include "screen/displayfinder.h"
#include "screen/matcher.h"
#include "support/corners.h"

#include <QDir>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <chrono>
#include <ctime>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

using Clock = std::chrono::steady_clock;

// The CPU time this thread has used, in milliseconds.
double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void print(const QJsonObject &object)
{
    QTextStream(stdout) << QJsonDocument(object).toJson(QJsonDocument::Compact) << Qt::endl;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

constexpr quint32 kSeeds[] = {11, 23, 37, 41, 59, 62};

int find()
{
    for (const CameraSet::Layout &layout : CameraSet::layouts()) {
        for (const CameraSet::Condition condition : CameraSet::conditions()) {
            int shots = 0, found = 0;
            std::vector<double> errors, times;
            int index = 0;
            for (const CameraSet::Font &font : CameraSet::fonts()) {
                for (const quint32 seed : kSeeds) {
                    const CameraSet::Screen screen = CameraSet::screen(font, layout, index++);
                    const CameraModel::Shot shot = CameraSet::film(screen.picture, seed + quint32(index), condition);
                    const Clock::time_point start = Clock::now();
                    const std::optional<DisplayCorners> corners = DisplayFinder::find(shot.frame);
                    times.push_back(msSince(start));
                    ++shots;
                    if (!corners)
                        continue;
                    const double error = cornerError(*corners, shot.corners);
                    errors.push_back(error);
                    found += error <= 4;
                }
            }
            print({{"layout", layout.name}, {"condition", CameraSet::conditionName(condition)}, {"shots", shots},
                   {"found", found}, {"error_median_px", percentile(errors, 0.5)}, {"error_max_px", percentile(errors, 1.0)},
                   {"search_median_ms", percentile(times, 0.5)}, {"search_p95_ms", percentile(times, 0.95)}});
        }
        // The bare screens (a screen capture): no display in them.
        int taken = 0, bare = 0;
        for (const CameraSet::Font &font : CameraSet::fonts()) {
            cv::Mat picture;
            const QImage image = CameraSet::screen(font, layout, bare).picture.convertToFormat(QImage::Format_BGR888);
            picture = cv::Mat(image.height(), image.width(), CV_8UC3, const_cast<uchar *>(image.constBits()),
                              size_t(image.bytesPerLine()))
                          .clone();
            taken += DisplayFinder::find(picture).has_value();
            ++bare;
        }
        print({{"layout", layout.name}, {"condition", "bare screen"}, {"shots", bare}, {"taken_for_display", taken}});
    }
    return 0;
}

int follow()
{
    // One core, and its CPU time: other programs on the machine do not
    // count.
    cv::setNumThreads(1);
    const CameraSet::Font font = CameraSet::fonts().first();
    const QString only = qEnvironmentVariable("LAYOUT");
    for (const CameraSet::Layout &layout : CameraSet::layouts()) {
        if (!only.isEmpty() && layout.name != only)
            continue;
        for (const bool resolution : {true, false}) {
            std::vector<double> still, searches, located;
            double worst = 0;
            int lost = 0;
            for (const quint32 seed : kSeeds) {
                const CameraSet::Screen screen = CameraSet::screen(font, layout, int(seed));
                const CameraModel camera = CameraSet::camera(seed, CameraSet::Condition::Plain);
                DisplayArea area;
                if (resolution)
                    area.resolution = layout.size;
                DisplayFinder finder(area);
                // The camera still for 20 frames (each its own noise), then
                // nudged, then still again.
                for (int frame = 0; frame < 40; ++frame) {
                    CameraModel::Pose pose;
                    if (frame >= 20) {
                        pose.scale = seed % 2 ? 1.05 : 0.95;
                        pose.shift = QPointF(4, -3);
                    }
                    const CameraModel::Shot shot = camera.shoot(screen.picture, pose, quint64(frame));
                    const qint64 before = finder.searches();
                    const double start = threadCpuMs();
                    const std::optional<DisplayCorners> corners = finder.locate(shot.frame);
                    const double locatedMs = threadCpuMs() - start;
                    if (corners)
                        finder.rectify(shot.frame, *corners);
                    const double ms = threadCpuMs() - start;
                    (finder.searches() > before ? searches : still).push_back(ms);
                    if (finder.searches() == before)
                        located.push_back(locatedMs);
                    if (!corners) {
                        ++lost;
                        continue;
                    }
                    worst = std::max(worst, cornerError(*corners, shot.corners));
                }
            }
            print({{"layout", layout.name}, {"resolution_given", resolution}, {"frames", int(still.size() + searches.size())},
                   {"searched", int(searches.size())}, {"lost", lost}, {"error_max_px", worst},
                   {"followed_median_ms", percentile(still, 0.5)}, {"followed_p95_ms", percentile(still, 0.95)},
                   {"located_median_ms", percentile(located, 0.5)}, {"located_p95_ms", percentile(located, 0.95)},
                   {"searched_median_ms", percentile(searches, 0.5)}});
        }
    }
    return 0;
}

// Templates as wide as the display, cut from its own pixels (a screenshot,
// the model handset's picture), looked for in the display a camera films,
// found and made upright at its resolution as a wait does.
int bands()
{
    cv::setNumThreads(1);
    const QString only = qEnvironmentVariable("LAYOUT");
    for (const CameraSet::Layout &layout : CameraSet::layouts()) {
        if (!only.isEmpty() && layout.name != only)
            continue;
        for (const CameraSet::Condition condition : CameraSet::conditions()) {
            int shots = 0, found = 0, near = 0, nearFound = 0;
            int kindFound[3] = {0, 0, 0};
            std::vector<double> similarities;
            int index = 0;
            for (const CameraSet::Font &font : CameraSet::fonts()) {
                for (const quint32 seed : kSeeds) {
                    const CameraSet::Screen screen = CameraSet::screen(font, layout, index++);
                    const cv::Mat own = toBgr(screen.picture);
                    const int w = own.cols, h = own.rows;
                    const QRect t = screen.textBox;
                    const cv::Rect row(0, std::max(0, t.y() - 4), w, std::min(h, t.bottom() + 5) - std::max(0, t.y() - 4));
                    // The status bar and the soft keys as a layout draws
                    // them (about a twentieth and a tenth of the display),
                    // and the text's row.
                    const cv::Rect cuts[] = {cv::Rect(0, 0, w, h / 20), cv::Rect(0, h - h / 10, w, h / 10), row};
                    const TemplateMatcher matchers[] = {TemplateMatcher(own(cuts[0])), TemplateMatcher(own(cuts[1])),
                                                        TemplateMatcher(own(cuts[2]))};
                    for (int shot = 0; shot < 2; ++shot) {
                        const bool missed = shot == 1;
                        const CameraModel::Shot filmed =
                            CameraSet::film(missed ? screen.nearMiss : screen.picture, seed + quint32(index), condition);
                        DisplayArea area;
                        area.resolution = layout.size;
                        DisplayFinder finder(area);
                        const std::optional<DisplayCorners> corners = finder.locate(filmed.frame);
                        const cv::Mat upright = corners ? finder.rectify(filmed.frame, *corners) : filmed.frame;
                        for (int kind = 0; kind < 3; ++kind) {
                            const cv::Rect &cut = cuts[kind];
                            if (missed && kind != 2)
                                continue;
                            const MatchResult r = upright.cols >= cut.width && upright.rows >= cut.height
                                                      ? matchers[kind].match(upright, Statement::kDefaultLevel)
                                                      : MatchResult();
                            const bool placed = std::abs(r.place.x() - cut.x) <= 3 && std::abs(r.place.y() - cut.y) <= 3;
                            const bool isFound = r.similarity >= Statement::kDefaultLevel && placed;
                            if (missed) {
                                ++near;
                                nearFound += r.similarity >= Statement::kDefaultLevel;
                            } else {
                                ++shots;
                                found += isFound;
                                kindFound[kind] += isFound;
                                if (!isFound && qEnvironmentVariableIsSet("SHOW")) {
                                    const QString name = QStringLiteral("%1/%2-%3-%4-%5")
                                                             .arg(qEnvironmentVariable("SHOW"), layout.name)
                                                             .arg(index)
                                                             .arg(kind)
                                                             .arg(CameraSet::conditionName(condition));
                                    cv::imwrite((name + "-upright.png").toStdString(), upright);
                                    cv::imwrite((name + "-cut.png").toStdString(), own(cut));
                                    std::fprintf(stderr, "%s: %.3f at %d,%d (cut at %d,%d) weakest %d,%d %dx%d\n", qPrintable(name), r.similarity,
                                                 r.place.x(), r.place.y(), cut.x, cut.y, r.weakestPart.x(), r.weakestPart.y(),
                                                 r.weakestPart.width(), r.weakestPart.height());
                                }
                                similarities.push_back(placed ? std::max(0.0, r.similarity) : 0.0);
                            }
                        }
                    }
                }
            }
            print({{"layout", layout.name}, {"condition", CameraSet::conditionName(condition)}, {"templates", shots},
                   {"found", found}, {"status_bars", kindFound[0]}, {"soft_keys", kindFound[1]}, {"rows", kindFound[2]},
                   {"similarity_p5", percentile(similarities, 0.05)},
                   {"similarity_median", percentile(similarities, 0.5)}, {"near_misses", near}, {"near_found", nearFound}});
        }
    }
    return 0;
}

int write(const QString &folder)
{
    QDir().mkpath(folder);
    QFile index(QDir(folder).filePath(QStringLiteral("index.jsonl")));
    if (!index.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 1;
    int n = 0;
    for (const CameraSet::Font &font : CameraSet::fonts()) {
        for (const CameraSet::Layout &layout : CameraSet::layouts()) {
            for (const CameraSet::Condition condition : CameraSet::conditions()) {
                const CameraSet::Screen screen = CameraSet::screen(font, layout, n);
                for (const bool nearMiss : {false, true}) {
                    const quint32 seed = quint32(1000 + n);
                    const CameraModel::Shot shot = CameraSet::film(nearMiss ? screen.nearMiss : screen.picture, seed, condition);
                    const QString name = QStringLiteral("frame-%1%2.png").arg(n, 4, 10, QLatin1Char('0')).arg(nearMiss ? "-near" : "");
                    cv::imwrite(QDir(folder).filePath(name).toStdString(), shot.frame);
                    const QString display = QStringLiteral("display-%1%2.png").arg(n, 4, 10, QLatin1Char('0')).arg(nearMiss ? "-near" : "");
                    (nearMiss ? screen.nearMiss : screen.picture).save(QDir(folder).filePath(display));
                    QJsonArray corners;
                    for (const QPointF &c : shot.corners)
                        corners.append(QJsonArray{c.x(), c.y()});
                    const QJsonObject line{{"file", name}, {"display", display}, {"font", font.name}, {"layout", layout.name},
                                           {"condition", CameraSet::conditionName(condition)}, {"seed", int(seed)},
                                           {"text", screen.text}, {"shown", nearMiss ? screen.nearMissText : screen.text},
                                           {"near_miss", nearMiss}, {"corners", corners},
                                           {"text_box", QJsonArray{screen.textBox.x(), screen.textBox.y(), screen.textBox.width(),
                                                                   screen.textBox.height()}}};
                    index.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
                }
                ++n;
            }
        }
    }
    return 0;
}

int picture(const QString &path)
{
    const CameraSet::Layout layout = CameraSet::layouts()[1];
    const CameraSet::Screen screen = CameraSet::screen(CameraSet::fonts()[1], layout, 1);
    const CameraModel::Shot shot = CameraSet::film(screen.picture, 5, CameraSet::Condition::Glare);
    DisplayArea area;
    area.resolution = layout.size;
    DisplayFinder finder(area);
    const std::optional<DisplayCorners> corners = finder.locate(shot.frame);
    if (!corners)
        return 1;
    cv::Mat frame = shot.frame.clone();
    std::vector<cv::Point> outline;
    for (const cv::Point2f &c : *corners)
        outline.emplace_back(qRound(c.x * 16), qRound(c.y * 16));
    cv::polylines(frame, std::vector<std::vector<cv::Point>>{outline}, true, cv::Scalar(0, 220, 0), 3, cv::LINE_AA, 4);
    const cv::Mat upright = finder.rectify(shot.frame, *corners);
    cv::Mat small;
    cv::resize(frame, small, cv::Size(640, 360), 0, 0, cv::INTER_AREA);
    cv::Mat out(360, 640 + 8 + upright.cols, CV_8UC3, cv::Scalar(255, 255, 255));
    small.copyTo(out(cv::Rect(0, 0, 640, 360)));
    upright.copyTo(out(cv::Rect(648, (360 - upright.rows) / 2, upright.cols, upright.rows)));
    return cv::imwrite(path.toStdString(), out) ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    if (mode == QLatin1String("find"))
        return find();
    if (mode == QLatin1String("follow"))
        return follow();
    if (mode == QLatin1String("bands"))
        return bands();
    if (mode == QLatin1String("picture") && args.size() == 3)
        return picture(args[2]);
    if (mode == QLatin1String("write") && args.size() == 3)
        return write(args[2]);
    QTextStream(stderr) << "usage: quillonemu-bench-display find | follow | bands | picture FILE | write DIR\n";
    return 2;
}
