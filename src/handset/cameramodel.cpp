#include "handset/cameramodel.h"

#include <QtMath>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <random>

cv::Mat toBgr(const QImage &image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    const cv::Mat view(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar *>(rgb.constBits()),
                       static_cast<size_t>(rgb.bytesPerLine()));
    cv::Mat bgr;
    cv::cvtColor(view, bgr, cv::COLOR_RGB2BGR);
    return bgr;
}

namespace {

// A one-colour picture as three alike colours (to weigh or add to a
// colour picture).
cv::Mat inEachColour(const cv::Mat &one)
{
    cv::Mat three;
    cv::merge(std::vector<cv::Mat>{one, one, one}, three);
    return three;
}

double uniform(std::mt19937 &random, double low, double high)
{
    return std::uniform_real_distribution<double>(low, high)(random);
}

// The handset's body around a display of w x h, in the display's pixels: a
// rounded slab reaching below the display (where the keys are), traced
// clockwise.
std::vector<cv::Point2f> bodyOutline(double w, double h)
{
    const double m = 0.08 * std::max(w, h);
    const double left = -m, right = w + m, top = -3 * m, bottom = h + 0.9 * h;
    const double r = 1.5 * m;
    const struct {
        double cx, cy, from;
    } corners[] = {{right - r, top + r, -90}, {right - r, bottom - r, 0}, {left + r, bottom - r, 90}, {left + r, top + r, 180}};
    std::vector<cv::Point2f> outline;
    for (const auto &c : corners) {
        for (int i = 0; i <= 8; ++i) {
            const double a = qDegreesToRadians(c.from + 90.0 * i / 8);
            outline.emplace_back(float(c.cx + r * std::cos(a)), float(c.cy + r * std::sin(a)));
        }
    }
    return outline;
}

std::vector<cv::Point> mapped(const std::vector<cv::Point2f> &points, const cv::Mat &homography)
{
    std::vector<cv::Point2f> out;
    cv::perspectiveTransform(points, out, homography);
    std::vector<cv::Point> whole;
    // Sub-pixel places for fillPoly (4 fractional bits).
    for (const cv::Point2f &p : out)
        whole.emplace_back(qRound(p.x * 16), qRound(p.y * 16));
    return whole;
}

} // namespace

QImage CameraModel::Shot::image() const
{
    cv::Mat rgb;
    cv::cvtColor(frame, rgb, cv::COLOR_BGR2RGB);
    return QImage(rgb.data, rgb.cols, rgb.rows, static_cast<qsizetype>(rgb.step), QImage::Format_RGB888).copy();
}

CameraModel::Settings CameraModel::randomSettings(quint32 seed, bool moire, bool glare)
{
    std::mt19937 random(seed * 2654435761u + 12345u);
    Settings s;
    // Up to 0.86, so that a nudge nearer (x1.05) still keeps the display
    // within 90 % of the frame.
    s.share = uniform(random, 0.5, 0.86);
    const double room = (0.9 - s.share) / 2;
    s.centre = QPointF(0.5 + uniform(random, -0.12, 0.12), 0.5 + uniform(random, -room, room) * 0.8);
    s.keystone = uniform(random, 0.02, 0.04);
    s.tiltDegrees = uniform(random, 1, 3) * (random() % 2 ? 1 : -1);
    s.blurSigma = uniform(random, 0.6, 1.6);
    s.unevenLight = uniform(random, 0.1, 0.35);
    s.lightAngleDegrees = uniform(random, 0, 360);
    s.noiseSigma = uniform(random, 2, 6);
    s.jpegQuality = int(uniform(random, 70, 90));
    s.moire = moire;
    s.glare = glare;
    s.glareAt = QPointF(uniform(random, 0.2, 0.8), uniform(random, 0.2, 0.8));
    s.lcdBlack = int(uniform(random, 36, 56));
    s.lcdWhite = int(uniform(random, 215, 245));
    return s;
}

CameraModel::CameraModel(const Settings &settings, quint32 seed) : settings_(settings), seed_(seed)
{
    std::mt19937 random(seed ^ 0x5bd1e995u);
    const int W = settings_.frame.width(), H = settings_.frame.height();
    // The desk: a brownish grey with the grain of wood running across it.
    const double base = uniform(random, 55, 95);
    const double period = uniform(random, 9, 23), phase = uniform(random, 0, 6.28);
    cv::Mat grain(H, 1, CV_32F);
    for (int y = 0; y < H; ++y)
        grain.at<float>(y) = float(1 + 0.06 * std::sin(y / period + phase) + 0.03 * std::sin(y / (period * 3.7)));
    cv::Mat rows;
    cv::repeat(grain, 1, W, rows);
    cv::Mat channels[3] = {rows * (base * 0.8), rows * (base * 0.95), rows * (base * 1.1)};
    cv::merge(channels, 3, desk_);
    desk_.convertTo(desk_, CV_8UC3);

    // The light: darker towards one side, and towards the corners.
    cv::Mat light(H, W, CV_32F);
    const double a = qDegreesToRadians(settings_.lightAngleDegrees);
    const double half = std::hypot(W, H) / 2;
    for (int y = 0; y < H; ++y) {
        float *row = light.ptr<float>(y);
        for (int x = 0; x < W; ++x) {
            const double dx = x - W / 2.0, dy = y - H / 2.0;
            const double along = std::clamp((dx * std::cos(a) + dy * std::sin(a)) / half, -1.0, 1.0);
            const double r2 = (dx * dx + dy * dy) / (half * half);
            row[x] = float(1.02 - settings_.unevenLight * (0.5 + 0.5 * along) - 0.12 * r2);
        }
    }
    light_ = inEachColour(light);
}

CameraModel::Pose CameraModel::poseAt(double seconds) const
{
    Pose pose;
    if (settings_.driftPixels > 0) {
        const double d = settings_.driftPixels;
        const double p = (seed_ % 1000) / 159.0;
        pose.shift = QPointF(d * std::sin(2 * M_PI * seconds / 23 + p), d * std::sin(2 * M_PI * seconds / 31 + 2 * p));
        pose.extraTiltDegrees = 0.3 * std::sin(2 * M_PI * seconds / 41 + 3 * p);
    }
    if (settings_.nudgeEverySeconds > 0) {
        std::mt19937 random(seed_ ^ 0x9e3779b9u);
        double scale = 1;
        QPointF shift;
        for (double t = uniform(random, 0.5, 1.5) * settings_.nudgeEverySeconds; t <= seconds;
             t += uniform(random, 0.5, 1.5) * settings_.nudgeEverySeconds) {
            // Nearer or farther by 5 %, or back; a few pixels aside.
            const double scales[] = {0.95, 1.0, 1.05};
            double next = scale;
            while (next == scale)
                next = scales[random() % 3];
            scale = next;
            shift = QPointF(uniform(random, -6, 6), uniform(random, -6, 6));
        }
        pose.scale = scale;
        pose.shift += shift;
    }
    return pose;
}

std::array<QPointF, 4> CameraModel::cornersFor(QSize displaySize, const Pose &pose) const
{
    const double W = settings_.frame.width(), H = settings_.frame.height();
    double s = settings_.share * H / displaySize.height();
    if (displaySize.width() * s > 0.9 * W)
        s = 0.9 * W / displaySize.width();
    s *= pose.scale;
    const double w = displaySize.width() * s, h = displaySize.height() * s;
    const QPointF centre(settings_.centre.x() * W, settings_.centre.y() * H);
    const double top = w / 2 * (1 - settings_.keystone);
    const QPointF local[4] = {{-top, -h / 2}, {top, -h / 2}, {w / 2, h / 2}, {-w / 2, h / 2}};
    const double a = qDegreesToRadians(settings_.tiltDegrees + pose.extraTiltDegrees);
    std::array<QPointF, 4> corners;
    for (int i = 0; i < 4; ++i) {
        const QPointF &p = local[i];
        corners[i] = centre + pose.shift + QPointF(p.x() * std::cos(a) - p.y() * std::sin(a), p.x() * std::sin(a) + p.y() * std::cos(a));
    }
    return corners;
}

CameraModel::Shot CameraModel::shoot(const QImage &display, const Pose &pose, quint64 frameNumber) const
{
    return shoot(toBgr(display), pose, frameNumber);
}

CameraModel::Shot CameraModel::shootAt(const QImage &display, double seconds) const
{
    return shoot(display, poseAt(seconds), quint64(std::max(0.0, seconds) * 15));
}

CameraModel::Shot CameraModel::shoot(const cv::Mat &display, const Pose &pose, quint64 frameNumber) const
{
    Shot shot;
    const int w = display.cols, h = display.rows;
    shot.corners = cornersFor(QSize(w, h), pose);
    // From the display's pixels to the frame's: its outer edge (half a pixel
    // beyond the outer pixels' centres) onto the corners.
    std::vector<cv::Point2f> from = {{-0.5f, -0.5f}, {w - 0.5f, -0.5f}, {w - 0.5f, h - 0.5f}, {-0.5f, h - 0.5f}};
    std::vector<cv::Point2f> to;
    for (const QPointF &c : shot.corners)
        to.emplace_back(float(c.x()), float(c.y()));
    const cv::Mat homography = cv::getPerspectiveTransform(from, to);

    cv::Mat frame = desk_.clone();
    // The body, and the speaker's slot above the display.
    const std::vector<cv::Point> body = mapped(bodyOutline(w, h), homography);
    cv::fillPoly(frame, std::vector<std::vector<cv::Point>>{body}, cv::Scalar(13, 12, 12), cv::LINE_AA, 4);
    const double m = 0.08 * std::max(w, h);
    const std::vector<cv::Point> slot = mapped({{float(w * 0.38), float(-1.8 * m)}, {float(w * 0.62), float(-1.8 * m)},
                                                {float(w * 0.62), float(-1.3 * m)}, {float(w * 0.38), float(-1.3 * m)}},
                                               homography);
    cv::fillPoly(frame, std::vector<std::vector<cv::Point>>{slot}, cv::Scalar(40, 40, 42), cv::LINE_AA, 4);

    // The lit display: its black is grey, its white not quite white. It
    // covers the frame through a mask warped the same way, so that its edge
    // falls where the corners say. Outside the corners' box (and the
    // pixels the mask's edge spreads to) the mask is naught and the frame is
    // the desk's own, so the display is warped and laid on within that box
    // only.
    cv::Mat lcd;
    display.convertTo(lcd, CV_8UC3, (settings_.lcdWhite - settings_.lcdBlack) / 255.0, settings_.lcdBlack);
    const cv::Rect box = (cv::boundingRect(to) + cv::Point(-3, -3) + cv::Size(6, 6)) & cv::Rect(0, 0, frame.cols, frame.rows);
    cv::Mat f;
    frame.convertTo(f, CV_32FC3);
    if (!box.empty()) {
        const cv::Mat toBox = (cv::Mat_<double>(3, 3) << 1, 0, -box.x, 0, 1, -box.y, 0, 0, 1) * homography;
        cv::Mat warped, mask;
        cv::warpPerspective(lcd, warped, toBox, box.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
        cv::Mat inside(h + 2, w + 2, CV_8U, cv::Scalar(0));
        inside(cv::Rect(1, 1, w, h)).setTo(255);
        const cv::Mat shifted = toBox * (cv::Mat_<double>(3, 3) << 1, 0, -1, 0, 1, -1, 0, 0, 1);
        cv::warpPerspective(inside, mask, shifted, box.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, 0);

        cv::Mat wf, alpha;
        warped.convertTo(wf, CV_32FC3);
        mask.convertTo(alpha, CV_32F, 1 / 255.0);
        if (settings_.moire) {
            // Two close gratings (the display's pixels against the sensor's).
            cv::Mat pattern(box.size(), CV_32F);
            for (int y = 0; y < pattern.rows; ++y) {
                float *row = pattern.ptr<float>(y);
                for (int x = 0; x < pattern.cols; ++x) {
                    const int fx = box.x + x, fy = box.y + y;
                    row[x] = float(9 * std::sin(0.9 * fx + 0.21 * fy) * (0.5 + 0.5 * std::sin(0.013 * fx - 0.02 * fy)));
                }
            }
            wf += inEachColour(pattern);
        }
        if (settings_.glare) {
            std::vector<cv::Point2f> at;
            cv::perspectiveTransform(std::vector<cv::Point2f>{{float(settings_.glareAt.x() * w), float(settings_.glareAt.y() * h)}},
                                     at, homography);
            const double sigma =
                0.12 * std::hypot(shot.corners[2].x() - shot.corners[1].x(), shot.corners[2].y() - shot.corners[1].y());
            cv::Mat spot(box.size(), CV_32F);
            for (int y = 0; y < spot.rows; ++y) {
                float *row = spot.ptr<float>(y);
                for (int x = 0; x < spot.cols; ++x) {
                    const float dx = float(box.x + x) - at[0].x, dy = float(box.y + y) - at[0].y;
                    const double r2 = dx * dx + dy * dy;
                    row[x] = float(150 * std::exp(-r2 / (2 * sigma * sigma)));
                }
            }
            wf += inEachColour(spot);
        }
        const cv::Mat alpha3 = inEachColour(alpha);
        cv::Mat under = f(box);
        const cv::Mat laid = under.mul(cv::Scalar::all(1) - alpha3) + wf.mul(alpha3);
        laid.copyTo(under);
    }
    f = f.mul(light_);
    cv::GaussianBlur(f, f, cv::Size(0, 0), settings_.blurSigma);
    cv::Mat noise(f.size(), CV_32FC3);
    cv::RNG rng(quint64(seed_) * 1000003u + frameNumber + 1);
    rng.fill(noise, cv::RNG::NORMAL, 0, settings_.noiseSigma);
    f += noise;
    f.convertTo(frame, CV_8UC3);

    std::vector<uchar> jpeg;
    cv::imencode(".jpg", frame, jpeg, {cv::IMWRITE_JPEG_QUALITY, settings_.jpegQuality});
    shot.frame = cv::imdecode(jpeg, cv::IMREAD_COLOR);
    return shot;
}
