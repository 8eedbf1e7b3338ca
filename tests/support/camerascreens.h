#pragma once

// Handsets' screens as a camera films them, for the reading tests and the
// bench: a screen laid out as handsets do (status bar, title, lines of text,
// soft keys; light or dark theme) in a font of choice, and that screen on a
// handset's dark body on a dark desk in a 1280x720 frame, with keystone,
// tilt, blur, uneven light, noise and JPEG. Needs a QGuiApplication.

#include "handset/modelscreen.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QStringList>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

struct HandsetScreen {
    QString family = QStringLiteral("IPAGothic");
    // The body text's glyphs, in pixels; a bitmap font is drawn unsmoothed.
    int pixels = 22;
    bool bitmap = false;
    bool dark = false;
    QSize size{240, 320};
    QStringList lines;
};

// The screen, BGR.
inline cv::Mat drawScreen(const HandsetScreen &s)
{
    QImage image(s.size, QImage::Format_RGB888);
    const QColor background = s.dark ? QColor(0x14, 0x16, 0x1C) : QColor(0xF4, 0xF4, 0xEE);
    const QColor ink = s.dark ? QColor(0xE8, 0xE8, 0xE8) : QColor(0x10, 0x10, 0x10);
    image.fill(background);
    QPainter painter(&image);
    QFont font;
    font.setFamilies({s.family, QStringLiteral("IPAGothic")});
    font.setStyleStrategy(s.bitmap ? QFont::NoAntialias : QFont::PreferAntialias);
    painter.setRenderHint(QPainter::TextAntialiasing, !s.bitmap);
    const int bar = std::max(s.pixels, s.size.height() / 14);
    // Status bar: a band of its own colour, the time and a battery.
    painter.fillRect(QRect(0, 0, s.size.width(), bar), QColor(0x20, 0x30, 0x48));
    font.setPixelSize(std::max(8, bar * 2 / 3));
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(4, 0, s.size.width() - 8, bar), Qt::AlignVCenter | Qt::AlignRight, QStringLiteral("12:34"));
    painter.fillRect(QRect(6, bar / 4, bar, bar / 2), Qt::white);
    font.setPixelSize(s.pixels);
    painter.setFont(font);
    painter.setPen(ink);
    const int step = s.pixels * 3 / 2 + 2;
    int y = bar + s.pixels / 2;
    for (const QString &line : s.lines) {
        painter.drawText(QRect(s.pixels / 2, y, s.size.width() - s.pixels, step), Qt::AlignVCenter | Qt::AlignLeft, line);
        y += step;
    }
    // Soft keys on a band of the theme's other shade.
    const int keys = bar;
    painter.fillRect(QRect(0, s.size.height() - keys, s.size.width(), keys),
                     s.dark ? QColor(0x30, 0x34, 0x40) : QColor(0xD0, 0xD4, 0xDC));
    font.setPixelSize(std::max(8, keys * 2 / 3));
    painter.setFont(font);
    const QRect keyRow(6, s.size.height() - keys, s.size.width() - 12, keys);
    painter.drawText(keyRow, Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("メニュー"));
    painter.drawText(keyRow, Qt::AlignVCenter | Qt::AlignRight, QStringLiteral("戻る"));
    painter.end();
    return toBgr(image);
}

// `text` as the model handset shows it typed: Latin letters, digits and
// signs full-width (its character table's), the rest as it is.
inline QString shownAsTyped(const QString &text)
{
    QString shown = text;
    for (QChar &c : shown)
        c = c.unicode() > 0x20 && c.unicode() < 0x7F ? QChar(c.unicode() + 0xFEE0) : c;
    return shown;
}

// Where a camera sees the screen: the display's height as a share of the
// frame's, keystone (the top edge this share narrower than the bottom), tilt
// in degrees, and the place of the display's centre.
struct CameraView {
    double share = 0.7;
    double keystone = 0.03;
    double tiltDegrees = 2.0;
    cv::Point2d centre{640, 360};
    // The desk's gray (the handset's body is darker still).
    int desk = 40;
    double blur = 0.9;
    double noise = 4.0;
    int jpegQuality = 80;
    // Light falling off from one side: the far side this much darker.
    double shade = 0.2;
};

inline CameraView randomView(std::mt19937 &random)
{
    auto uniform = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(random); };
    CameraView v;
    v.share = uniform(0.5, 0.9);
    v.keystone = uniform(0.02, 0.04);
    v.tiltDegrees = uniform(1.0, 3.0) * (random() % 2 ? 1 : -1);
    v.centre = cv::Point2d(640 + uniform(-120, 120), 360 + uniform(-20, 20));
    v.blur = uniform(0.6, 1.3);
    v.noise = uniform(2.0, 6.0);
    v.jpegQuality = int(uniform(65, 90));
    v.shade = uniform(0.05, 0.3);
    return v;
}

// `screen` on a handset's dark body on a dark desk, 1280x720 BGR; `random`
// gives the frame's own noise. `corners`, when given, gets where the
// display's corners are in the frame (top-left, top-right, bottom-right,
// bottom-left): the screen is drawn from its first pixels' middles to its
// last's (what maps beyond them is left as it was), so its edges lie there.
inline cv::Mat filmed(const cv::Mat &screen, const CameraView &v, std::mt19937 &random,
                      std::vector<cv::Point2f> *corners = nullptr)
{
    const cv::Size frameSize(1280, 720);
    cv::Mat frame(frameSize, CV_8UC3, cv::Scalar(v.desk - 2, v.desk + 2, v.desk + 6));
    const double height = v.share * frameSize.height;
    const double width = height * screen.cols / screen.rows;
    // The body around the display, then the display itself.
    const double theta = v.tiltDegrees * CV_PI / 180.0;
    auto place = [&](double x, double y) { // relative to the display's centre, before tilt
        const double top = (y < 0 ? 1.0 - v.keystone * (-y / (height / 2)) / 2 : 1.0);
        const double px = x * top;
        return cv::Point2f(float(v.centre.x + px * std::cos(theta) - y * std::sin(theta)),
                           float(v.centre.y + px * std::sin(theta) + y * std::cos(theta)));
    };
    const double margin = height * 0.12;
    std::vector<cv::Point> body;
    for (const auto &[x, y] : {std::pair{-1.0, -1.0}, {1.0, -1.0}, {1.0, 1.0}, {-1.0, 1.0}}) {
        const cv::Point2f p = place(x * (width / 2 + margin), y * (height / 2 + margin * (y > 0 ? 3 : 1)));
        body.emplace_back(int(p.x), int(p.y));
    }
    cv::fillConvexPoly(frame, body, cv::Scalar(24, 24, 26), cv::LINE_AA);
    const std::vector<cv::Point2f> from{{0, 0}, {float(screen.cols), 0}, {float(screen.cols), float(screen.rows)},
                                        {0, float(screen.rows)}};
    const std::vector<cv::Point2f> to{place(-width / 2, -height / 2), place(width / 2, -height / 2),
                                      place(width / 2, height / 2), place(-width / 2, height / 2)};
    const cv::Mat toFrame = cv::getPerspectiveTransform(from, to);
    cv::warpPerspective(screen, frame, toFrame, frameSize, cv::INTER_LINEAR, cv::BORDER_TRANSPARENT);
    if (corners) {
        const float w = float(screen.cols - 1), h = float(screen.rows - 1);
        cv::perspectiveTransform(std::vector<cv::Point2f>{{0, 0}, {w, 0}, {w, h}, {0, h}}, *corners, toFrame);
    }
    // Uneven light, the lens's blur, the sensor's noise, the stream's JPEG.
    cv::Mat light(1, frameSize.width, CV_32F);
    for (int x = 0; x < frameSize.width; ++x)
        light.at<float>(0, x) = float(1.0 - v.shade * x / frameSize.width);
    cv::Mat lit;
    frame.convertTo(lit, CV_32FC3);
    cv::Mat light3;
    cv::merge(std::vector<cv::Mat>(3, cv::repeat(light, frameSize.height, 1)), light3);
    cv::multiply(lit, light3, lit);
    cv::GaussianBlur(lit, lit, cv::Size(0, 0), v.blur);
    cv::Mat noise(frameSize, CV_32FC3);
    // From `random` alone (not OpenCV's shared generator): the same frame
    // whatever was filmed before.
    const double level = std::normal_distribution<double>(0, 3)(random);
    cv::RNG(random()).fill(noise, cv::RNG::NORMAL, cv::Scalar::all(level), cv::Scalar::all(v.noise));
    lit += noise;
    lit.convertTo(frame, CV_8UC3);
    std::vector<uchar> bytes;
    cv::imencode(".jpg", frame, bytes, {cv::IMWRITE_JPEG_QUALITY, v.jpegQuality});
    return cv::imdecode(bytes, cv::IMREAD_COLOR);
}
