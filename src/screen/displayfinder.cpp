#include "screen/displayfinder.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <iterator>
#include <opencv2/imgproc.hpp>

namespace {

// The small copy searched: about this wide.
constexpr int kSearchWidth = 320;
// The least share of the small copy a display covers.
constexpr double kLeastShare = 0.04;
// How far (small copy's pixels) a display keeps from the frame's edge: a
// bright patch running off the frame is no display (a screen capture's own
// light area). A pixel: at two, a dark screen filmed from near by, its
// status bar or soft keys 5 to 8 frame pixels from the frame's edge, was
// taken for one running off it (dark screens at nine tenths of the frame's
// height within 12 pixels of its edge: 111 of 114 found, where 84 were).
constexpr int kEdgeMargin = 1;
// The most a display's longer side is of its shorter one.
constexpr double kMostAspect = 3;
// A lit band (a dark screen's status bar or soft keys): at least this many
// times as wide as high, and at least this share of the small copy.
constexpr double kBandAspect = 4;
constexpr double kLeastBandShare = 0.003;
// Bands are looked for from this share of the way from the body's
// darkness to Otsu's split, displays from a quarter of it.
constexpr double kBandShareOfOtsu = 0.12;
// How far the ends of the two bands that frame a dark screen may lie from
// the sides they make: a share of the bands' length, and small copy's
// pixels (a blurred band's corners are found a pixel or two off).
constexpr double kBandEndsShare = 0.02;
constexpr double kBandEnds = 3;
// The least brightness step across a display's edge.
constexpr double kLeastStep = 10;
// Samples along each edge when it is placed precisely.
constexpr int kEdgeSamples = 20;
// A band across the display's top or bottom (a status bar, soft keys)
// dimmer than the screen and lighter than the body: from this share of the
// display's height (and 3 frame pixels; the glow of a bright screen's edge
// into the body is thinner) to this share, its brightness even across its
// thickness to within this (levels, or a quarter of its step from the
// body).
constexpr double kThinnestBar = 0.02;
constexpr double kThickestBar = 0.15;
constexpr double kEvenBar = 6;
// How far (frame pixels) a followed display's edges are looked for.
constexpr float kFollowReach = 7;
// A followed display whose corners, averaged over the last frames, moved
// less than this (pixels) is left where it was: the noise of each frame
// does not shake the upright picture.
constexpr float kStill = 0.6f;
// Corners found within this (pixels) of where the display is are averaged
// with those of the frames before (an edge on a dark screen is found with a
// few tenths of a pixel's noise); farther, the display moved and is placed
// where they are at once.
constexpr float kJitter = 1.5f;
// The weight of each frame's corners in that average.
constexpr float kAveraged = 0.25f;
// After a search that found no display, the frames skipped before the next
// one (a screen capture, which never shows one, costs little).
constexpr int kSkipAfterMiss = 7;

double luminance(const cv::Mat &frame, float x, float y)
{
    const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    if (x0 < 0 || y0 < 0 || x0 + 1 >= frame.cols || y0 + 1 >= frame.rows)
        return -1;
    const float fx = x - float(x0), fy = y - float(y0);
    auto at = [&](int xx, int yy) {
        const cv::Vec3b &p = frame.at<cv::Vec3b>(yy, xx);
        return (p[0] + 2.0 * p[1] + p[2]) / 4;
    };
    return (at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx) * (1 - fy) + (at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx) * fy;
}

// The four points in order: top-left, top-right, bottom-right, bottom-left.
DisplayCorners ordered(const std::vector<cv::Point2f> &points)
{
    cv::Point2f centre(0, 0);
    for (const cv::Point2f &p : points)
        centre += p / 4;
    std::vector<cv::Point2f> sorted = points;
    std::sort(sorted.begin(), sorted.end(), [&](const cv::Point2f &a, const cv::Point2f &b) {
        return std::atan2(a.y - centre.y, a.x - centre.x) < std::atan2(b.y - centre.y, b.x - centre.x);
    });
    // Clockwise on the screen from the one nearest the top-left.
    const auto first = std::min_element(sorted.begin(), sorted.end(),
                                        [](const cv::Point2f &a, const cv::Point2f &b) { return a.x + a.y < b.x + b.y; });
    std::rotate(sorted.begin(), first, sorted.end());
    return {sorted[0], sorted[1], sorted[2], sorted[3]};
}

double length(const cv::Point2f &a, const cv::Point2f &b)
{
    return std::hypot(double(a.x - b.x), double(a.y - b.y));
}

// How far the farthest corner lies from where it was.
float moved(const DisplayCorners &from, const DisplayCorners &to)
{
    double most = 0;
    for (size_t i = 0; i < 4; ++i)
        most = std::max(most, length(from[i], to[i]));
    return float(most);
}

// Whether every corner moved by about the same (within a pixel), as they do
// when the camera or the handset moves.
bool movedAlike(const DisplayCorners &from, const DisplayCorners &to)
{
    for (size_t i = 1; i < 4; ++i)
        if (length(to[i] - from[i], to[0] - from[0]) > 1)
            return false;
    return true;
}

// Whether four corners make a shape a display seen by a camera can have:
// opposite sides about as long, no side very short, and no wider than
// three times its height nor taller than three times its width (a
// handset's display is 1:2 to 2:1, a wide one 20:9; the lit band of a dark
// screen's status bar or soft keys, alone on a body as dark as the screen,
// is far wider).
bool plausible(const DisplayCorners &c)
{
    const double top = length(c[0], c[1]), right = length(c[1], c[2]), bottom = length(c[2], c[3]), left = length(c[3], c[0]);
    if (std::min({top, right, bottom, left}) < 8)
        return false;
    const double wide = top + bottom, high = left + right;
    if (wide > kMostAspect * high || high > kMostAspect * wide)
        return false;
    return top / bottom > 0.75 && top / bottom < 1.33 && left / right > 0.75 && left / right < 1.33;
}

// Whether the band just outside the four-sided shape `c` (small copy's
// pixels) is dark, as a handset's body around its display is: a light
// patch framed within a light screen (a pop-up) is no display. Looked at
// no farther out than `farthest`.
bool darkAround(const cv::Mat &gray, const DisplayCorners &c, double level, float farthest = FLT_MAX)
{
    // Each side: a body beside it, within the frame.
    for (size_t i = 0; i < 4; ++i) {
        const cv::Point2f a = c[i], b = c[(i + 1) % 4];
        const double edge = length(a, b);
        const cv::Point2f outward = cv::Point2f(b.y - a.y, a.x - b.x) / float(edge);
        const float away = std::min(farthest, float(std::max(4.0, 0.05 * edge)));
        double sum = 0;
        int count = 0;
        for (int k = 1; k < 16; ++k) {
            // A display near the frame's edge (the camera nudged) has less
            // of the body beside it in the frame: looked at as far out as
            // the frame goes, though no nearer than 2 pixels.
            for (float reach = away; reach >= 2; reach -= 1) {
                const cv::Point2f p = a + (b - a) * (float(k) / 16) + outward * reach;
                const int x = int(std::lround(p.x)), y = int(std::lround(p.y));
                if (x < 0 || y < 0 || x >= gray.cols || y >= gray.rows)
                    continue;
                sum += gray.at<uchar>(y, x);
                ++count;
                break;
            }
        }
        if (count < 8 || sum / count >= level)
            return false;
    }
    return true;
}

// How far `p` lies from the line through `a` and `b`.
double offLine(const cv::Point2f &p, const cv::Point2f &a, const cv::Point2f &b)
{
    const cv::Point2f d = b - a;
    return std::abs(d.x * (p.y - a.y) - d.y * (p.x - a.x)) / std::max(1e-6, length(a, b));
}

// Whether every corner keeps kEdgeMargin from the edge of a picture of
// `size`: a bright patch running off the frame is no display.
bool offEdge(const DisplayCorners &c, cv::Size size)
{
    return std::all_of(c.begin(), c.end(), [&](const cv::Point2f &p) {
        return p.x >= kEdgeMargin && p.y >= kEdgeMargin && p.x < size.width - kEdgeMargin && p.y < size.height - kEdgeMargin;
    });
}

// A lit band lying across the small copy (a dark screen's status bar or
// soft keys): a filled rectangle many times as wide as high, off the frame's
// edge, the dark body beside it (the screen's black counts as body; looked
// at close by, as the screen's first line may lie a few pixels below its
// status bar).
std::optional<DisplayCorners> bandOf(const std::vector<cv::Point> &hull, double area, const cv::Mat &gray, double level)
{
    const cv::RotatedRect box = cv::minAreaRect(hull);
    const float longer = std::max(box.size.width, box.size.height), shorter = std::min(box.size.width, box.size.height);
    // A tilted band's outline steps a pixel at a time: its hull is a pixel
    // thicker than the band is on the average (a bar 7 pixels thick, tilted
    // 2°, filled 81 % of its hull's rectangle).
    if (shorter < 2 || longer < kBandAspect * shorter || area < 0.85 * longer * (shorter - 1))
        return std::nullopt;
    cv::Point2f points[4];
    box.points(points);
    const DisplayCorners c = ordered({points, points + 4});
    const bool across = length(c[0], c[1]) > length(c[1], c[2]);
    if (!across || !offEdge(c, gray.size()) || !darkAround(gray, c, level, std::max(2.f, shorter / 3)))
        return std::nullopt;
    return c;
}

// A lit band found in the small copy, and the level it was lit at.
struct Band {
    DisplayCorners corners;
    double level;
};

// The screen a dark screen's status bar and soft keys frame: the status
// bar's upper corners and the soft keys' lower ones.
DisplayCorners framedBy(const DisplayCorners &statusBar, const DisplayCorners &softKeys)
{
    return {statusBar[0], statusBar[1], softKeys[2], softKeys[3]};
}

// A dark screen whose black is as dark as the body around it (an OLED's
// black) has no edge of its own: it is framed by its status bar above and
// its soft keys below, two lit bands as long as each other whose ends line
// up, with room for the screen's lines between them and the dark body
// around all of it. The two bands of the largest such frame, in the small
// copy: the status bar, then the soft keys.
std::optional<DisplayBars> framedByBars(const std::vector<Band> &bands, const cv::Mat &gray, double leastArea)
{
    std::optional<DisplayBars> best;
    double bestArea = leastArea;
    for (const Band &above : bands) {
        for (const Band &below : bands) {
            const DisplayCorners &a = above.corners, &b = below.corners;
            const double top = length(a[0], a[1]), bottom = length(b[3], b[2]);
            if (&above == &below || std::abs(top - bottom) > 0.08 * std::max(top, bottom))
                continue;
            const DisplayCorners framed = framedBy(a, b);
            const double high = std::max(length(a[0], a[3]), length(b[0], b[3]));
            if (offLine(b[0], a[0], a[1]) < 3 * high || b[0].y < a[3].y)
                continue;
            const double ends = kBandEnds + kBandEndsShare * top;
            if (offLine(a[3], framed[0], framed[3]) > ends || offLine(b[0], framed[0], framed[3]) > ends ||
                offLine(a[2], framed[1], framed[2]) > ends || offLine(b[1], framed[1], framed[2]) > ends)
                continue;
            const double area = cv::contourArea(std::vector<cv::Point2f>(framed.begin(), framed.end()));
            if (area <= bestArea || !plausible(framed) || !darkAround(gray, framed, std::min(above.level, below.level)))
                continue;
            best = {a, b};
            bestArea = area;
        }
    }
    return best;
}

// Where a line through `p` along `d` meets one through `q` along `e`.
std::optional<cv::Point2f> meet(const cv::Vec4f &a, const cv::Vec4f &b)
{
    const cv::Point2f d(a[0], a[1]), p(a[2], a[3]), e(b[0], b[1]), q(b[2], b[3]);
    const float cross = d.x * e.y - d.y * e.x;
    if (std::abs(cross) < 1e-3f)
        return std::nullopt;
    const cv::Point2f w = q - p;
    const float t = (w.x * e.y - w.y * e.x) / cross;
    return p + t * d;
}

// Where `profile` first crosses `level` from sample `from` to `last`
// (rising: to it or above; else below it), in samples, between the sample
// before and the one that crossed; none when it does not.
std::optional<double> crossing(const std::vector<double> &profile, int from, int last, double level, bool rising)
{
    for (int s = from; s <= last; ++s) {
        const double before = profile[size_t(s - 1)], here = profile[size_t(s)];
        if (rising ? here >= level : here < level)
            return (s - 1) + (rising ? level - before : before - level) / std::max(1e-6, rising ? here - before : before - here);
    }
    return std::nullopt;
}

// The straight line that most of `points` lie on (seven in ten within 1.5
// pixels), where an edge's samples found it; none when they do not.
std::optional<cv::Vec4f> straightThrough(const std::vector<cv::Point2f> &points)
{
    cv::Vec4f line;
    cv::fitLine(points, line, cv::DIST_HUBER, 0, 0.01, 0.01);
    int near = 0;
    for (const cv::Point2f &p : points) {
        const cv::Point2f d = p - cv::Point2f(line[2], line[3]);
        near += std::abs(d.x * line[1] - d.y * line[0]) < 1.5f;
    }
    if (near < int(points.size() * 0.7))
        return std::nullopt;
    return line;
}

// Where the display's edge from `a` to `b` (clockwise) truly lies when a
// band lies along it inside the display, dimmer than the screen and lighter
// than the body (a status bar, soft keys): the band's outer edge; nothing
// when there is no such band. Each sample looks out from the edge: the
// band is an even stretch of brightness (a blurred edge from the screen
// straight to the body is no stretch of it), then the body's darkness.
std::optional<cv::Vec4f> barBeyond(const cv::Mat &frame, const cv::Point2f &a, const cv::Point2f &b, float thinnest,
                                   float farthest)
{
    const float edge = float(length(a, b));
    if (edge < 8 || farthest < 2 * thinnest)
        return std::nullopt;
    const cv::Point2f along = (b - a) / edge;
    const cv::Point2f outward(along.y, -along.x);
    const float step = 0.5f;
    const int steps = int(farthest / step) + 1;
    std::vector<double> profile(static_cast<size_t>(steps)), middle;
    std::vector<cv::Point2f> points;
    for (int k = 0; k < kEdgeSamples; ++k) {
        const cv::Point2f base = a + (b - a) * (0.1f + 0.8f * float(k) / (kEdgeSamples - 1));
        // Out to the frame's edge at most (a display near it).
        int seen = 0;
        for (; seen < steps; ++seen) {
            const cv::Point2f p = base + outward * (float(seen) * step);
            profile[size_t(seen)] = luminance(frame, p.x, p.y);
            if (profile[size_t(seen)] < 0)
                break;
        }
        double body = 255;
        for (int s = 1; s + 1 < seen; ++s)
            body = std::min(body, (profile[size_t(s - 1)] + profile[size_t(s)] + profile[size_t(s + 1)]) / 3);
        int reached = 0; // where the body begins
        while (reached < seen && profile[size_t(reached)] > body + kLeastStep / 2)
            ++reached;
        if (reached == seen || float(reached) * step < thinnest)
            continue;
        // The band's brightness between halfway out and three quarters (the
        // edge found may lie a little inside the screen's light).
        middle.assign(profile.begin() + reached / 2, profile.begin() + reached * 3 / 4 + 1);
        std::nth_element(middle.begin(), middle.begin() + long(middle.size() / 2), middle.end());
        const double bar = middle[middle.size() / 2];
        const double even = std::max(kEvenBar, (bar - body) / 4);
        if (bar - body < kLeastStep || std::any_of(middle.begin(), middle.end(), [&](double v) { return std::abs(v - bar) > even; }))
            continue;
        if (const std::optional<double> at = crossing(profile, reached / 2 + 1, reached, (bar + body) / 2, false))
            points.push_back(base + outward * (float(*at) * step));
    }
    // The time and the signs drawn in a bar hide its brightness from some
    // samples (a bar as thick as a WVGA display's, 60 of 800 pixels, from
    // nearly half): enough that lie along both halves of the edge.
    const auto inHalf = [&](bool first) {
        return std::count_if(points.begin(), points.end(),
                             [&](const cv::Point2f &p) { return ((p - a).dot(along) < edge / 2) == first; });
    };
    if (points.size() < size_t(kEdgeSamples * 0.4) || inHalf(true) < 2 || inHalf(false) < 2)
        return std::nullopt;
    return straightThrough(points);
}

// The display grown over the bands along its top and bottom (barBeyond()):
// each edge moved out to its band's, between the sides beside it.
DisplayCorners overBars(const cv::Mat &frame, const DisplayCorners &c)
{
    const auto through = [](const cv::Point2f &a, const cv::Point2f &b) {
        const cv::Point2f d = (b - a) / float(length(a, b));
        return cv::Vec4f(d.x, d.y, a.x, a.y);
    };
    const double high = (length(c[0], c[3]) + length(c[1], c[2])) / 2;
    const float thinnest = float(std::max(3.0, kThinnestBar * high)), farthest = float(kThickestBar * high);
    DisplayCorners grown = c;
    for (const size_t i : {size_t(0), size_t(2)}) { // the top edge, then the bottom
        const std::optional<cv::Vec4f> bar = barBeyond(frame, c[i], c[i + 1], thinnest, farthest);
        if (!bar)
            continue;
        const std::optional<cv::Point2f> first = meet(through(c[(i + 3) % 4], c[i]), *bar);
        const std::optional<cv::Point2f> second = meet(*bar, through(c[i + 1], c[(i + 2) % 4]));
        if (first && second)
            grown[i] = *first, grown[i + 1] = *second;
    }
    return grown;
}

} // namespace

cv::Matx33d uprightToFrame(const DisplayCorners &corners, cv::Size size)
{
    const float w = float(size.width), h = float(size.height);
    const std::vector<cv::Point2f> upright = {{-0.5f, -0.5f}, {w - 0.5f, -0.5f}, {w - 0.5f, h - 0.5f}, {-0.5f, h - 0.5f}};
    return cv::getPerspectiveTransform(upright, std::vector<cv::Point2f>(corners.begin(), corners.end()));
}

QList<QPointF> outlineOf(const DisplayCorners &corners)
{
    QList<QPointF> outline;
    for (const cv::Point2f &c : corners)
        outline.append(QPointF(c.x, c.y));
    return outline;
}

DisplayFinder::DisplayFinder(const DisplayArea &area) : area_(area), skipped_(kSkipAfterMiss)
{
    if (area_.mode == DisplayArea::Mode::Corners) {
        DisplayCorners corners;
        for (size_t i = 0; i < 4; ++i)
            corners[i] = cv::Point2f(float(area_.corners[i].x()), float(area_.corners[i].y()));
        last_ = corners;
    }
}

std::optional<DisplayCorners> DisplayFinder::find(const cv::Mat &frame, std::optional<DisplayBars> *bars)
{
    if (bars)
        bars->reset();
    if (frame.empty() || frame.type() != CV_8UC3)
        return std::nullopt;
    const double factor = std::max(1.0, double(frame.cols) / kSearchWidth);
    cv::Mat small, gray;
    cv::resize(frame, small, cv::Size(), 1 / factor, 1 / factor, cv::INTER_AREA);
    cv::cvtColor(small, gray, cv::COLOR_BGR2GRAY);
    if (gray.cols < 16 || gray.rows < 16)
        return std::nullopt;

    // The levels tried: from just above the darkest (the body) to Otsu's
    // split of the frame.
    cv::Mat ignored;
    const double otsu = cv::threshold(gray, ignored, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    int histogram[256] = {};
    for (int y = 0; y < gray.rows; ++y) {
        const uchar *row = gray.ptr<uchar>(y);
        for (int x = 0; x < gray.cols; ++x)
            ++histogram[row[x]];
    }
    int dark = 0;
    for (int seen = 0; dark < 255 && (seen += histogram[dark]) < int(gray.total() / 20); ++dark) {
    }

    // The small copy's pixels in the frame's.
    auto inFrame = [&](const DisplayCorners &c) {
        DisplayCorners scaled;
        for (size_t i = 0; i < 4; ++i)
            scaled[i] = cv::Point2f(float((c[i].x + 0.5) * factor - 0.5), float((c[i].y + 0.5) * factor - 0.5));
        return scaled;
    };
    const double leastArea = kLeastShare * double(gray.total());
    std::optional<DisplayCorners> best;
    double bestArea = 0;
    // Lit bands seen while no display is found.
    std::vector<Band> bands;
    cv::Mat binary;
    std::vector<std::vector<cv::Point>> contours;
    // (The lowest level only for bands: a dark screen's status bar is
    // often dim.)
    for (const double share : {kBandShareOfOtsu, 0.25, 0.45, 0.7, 1.0}) {
        const double level = dark + (otsu - dark) * share;
        if (level - dark < kLeastStep / 2)
            continue;
        cv::threshold(gray, binary, level, 255, cv::THRESH_BINARY);
        cv::findContours(binary, contours, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);
        for (const std::vector<cv::Point> &contour : contours) {
            const double area = cv::contourArea(contour);
            const bool larger = share > kBandShareOfOtsu && area >= leastArea && area > bestArea;
            if (!larger && (best || area < kLeastBandShare * double(gray.total())))
                continue;
            std::vector<cv::Point> hull, corners;
            cv::convexHull(contour, hull);
            if (!best) {
                if (const std::optional<DisplayCorners> band = bandOf(hull, area, gray, level)) {
                    bands.push_back({*band, level});
                    continue;
                }
            }
            if (!larger)
                continue;
            const double around = cv::arcLength(hull, true);
            for (const double tolerance : {0.02, 0.04, 0.06}) {
                cv::approxPolyDP(hull, corners, tolerance * around, true);
                if (corners.size() <= 4)
                    break;
            }
            if (corners.size() != 4 || !cv::isContourConvex(corners))
                continue;
            // Nearly all of the four-sided shape is lit (a display, not a
            // ragged patch of light).
            if (area < 0.85 * cv::contourArea(corners))
                continue;
            std::vector<cv::Point2f> points;
            for (const cv::Point &p : corners)
                points.emplace_back(float(p.x), float(p.y));
            const DisplayCorners inSmall = ordered(points);
            if (!offEdge(inSmall, gray.size()) || !darkAround(gray, inSmall, level))
                continue;
            const DisplayCorners candidate = inFrame(inSmall);
            if (!plausible(candidate))
                continue;
            best = candidate;
            bestArea = area;
        }
    }
    // The small copy's corners are a few pixels off: placed precisely in
    // the frame itself (kept as found when the edges are too soft).
    const float reach = float(2 * factor + 3);
    if (best) {
        // A dim status bar or soft keys lie outside the lit patch, or
        // partly (where the light falls off): the display grown over them,
        // placed precisely then.
        const std::optional<DisplayCorners> precise = refine(frame, *best, reach);
        const DisplayCorners placed = precise ? *precise : *best;
        const DisplayCorners grown = overBars(frame, placed);
        if (moved(placed, grown) > 0)
            if (const std::optional<DisplayCorners> again = refine(frame, grown, reach))
                return overBars(frame, *again);
        return grown;
    }
    const std::optional<DisplayBars> framed = framedByBars(bands, gray, leastArea);
    if (!framed)
        return std::nullopt;
    // The sides of a screen framed by its bars are edges only along the
    // bars: each bar is placed precisely on its own (looked for nearer too:
    // a bar's ends are short, and the time or a sign within it is close;
    // and farther: a dim bar found at a low level is a little wider than
    // it is, by the glow around it).
    DisplayBars placed;
    for (size_t i = 0; i < 2; ++i) {
        std::optional<DisplayCorners> precise;
        for (const float near : {reach, kFollowReach, 2 * reach})
            if (!precise)
                precise = refine(frame, inFrame((*framed)[i]), near, true);
        placed[i] = precise ? *precise : inFrame((*framed)[i]);
    }
    if (bars)
        *bars = placed;
    return framedBy(placed[0], placed[1]);
}

std::optional<DisplayCorners> DisplayFinder::refine(const cv::Mat &frame, const DisplayCorners &rough, float reach, bool bar)
{
    if (frame.empty() || frame.type() != CV_8UC3)
        return std::nullopt;
    const float step = 0.5f;
    const int steps = int(2 * reach / step) + 1;
    std::array<cv::Vec4f, 4> lines;
    std::vector<double> profile(static_cast<size_t>(steps));
    for (size_t i = 0; i < 4; ++i) {
        const cv::Point2f a = rough[i], b = rough[(i + 1) % 4];
        const float edge = float(length(a, b));
        if (edge < 8)
            return std::nullopt;
        const cv::Point2f along = (b - a) / edge;
        // Into the display (clockwise corners: to the right of the edge).
        const cv::Point2f inward(-along.y, along.x);
        std::vector<cv::Point2f> points;
        for (int k = 0; k < kEdgeSamples; ++k) {
            const cv::Point2f base = a + (b - a) * (0.1f + 0.8f * float(k) / (kEdgeSamples - 1));
            bool inside = true;
            for (int s = 0; s < steps && inside; ++s) {
                const cv::Point2f p = base + inward * (-reach + float(s) * step);
                profile[size_t(s)] = luminance(frame, p.x, p.y);
                inside = profile[size_t(s)] >= 0;
            }
            if (!inside)
                continue;
            // Outside: the body just beyond the reach; inside: the display's
            // usual brightness over the inner half (text is the exception).
            // A bar's is the darker quarter of what is lighter than the body
            // anywhere along the reach: the time and the signs drawn in it
            // close to its ends are lighter (the ends were placed on them),
            // and a dim bar found in the small copy is wider than it is by
            // the glow of those signs (its ends found a few pixels out).
            const double outside = (profile[0] + profile[1] + profile[2]) / 3;
            std::vector<double> inner;
            if (bar)
                std::copy_if(profile.begin(), profile.end(), std::back_inserter(inner),
                             [&](double v) { return v >= outside + kLeastStep; });
            else
                inner.assign(profile.begin() + steps / 2, profile.end());
            if (inner.size() < 3)
                continue;
            const auto usual = inner.begin() + long(inner.size() / (bar ? 4 : 2));
            std::nth_element(inner.begin(), usual, inner.end());
            const double lit = *usual;
            if (lit - outside < kLeastStep)
                continue;
            if (const std::optional<double> at = crossing(profile, 1, steps - 1, (outside + lit) / 2, true))
                points.push_back(base + inward * float(-reach + float(*at) * step));
        }
        if (points.size() < size_t(kEdgeSamples * 0.6))
            return std::nullopt;
        // The edge is straight where it was found: most samples lie on it.
        const std::optional<cv::Vec4f> line = straightThrough(points);
        if (!line)
            return std::nullopt;
        lines[i] = *line;
    }
    DisplayCorners corners;
    for (size_t i = 0; i < 4; ++i) {
        const std::optional<cv::Point2f> corner = meet(lines[(i + 3) % 4], lines[i]);
        if (!corner || length(*corner, rough[i]) > 2 * reach)
            return std::nullopt;
        corners[i] = *corner;
    }
    return corners;
}

std::optional<DisplayCorners> DisplayFinder::locate(const cv::Mat &frame)
{
    switch (area_.mode) {
    case DisplayArea::Mode::WholeFrame:
        return std::nullopt;
    case DisplayArea::Mode::Corners:
        return last_;
    case DisplayArea::Mode::Found:
        break;
    }
    if (last_) {
        // A screen framed by its bars is followed by them. A bar's short
        // ends are not always placed in a noisy frame: while the other bar
        // stays where it was, so does the one not placed.
        // Nor is a move of the display taken at once unless both bars
        // moved alike (an end placed a few pixels off moves one corner).
        std::optional<DisplayCorners> followed;
        bool sure = true;
        if (bars_) {
            const std::optional<DisplayCorners> top = refine(frame, (*bars_)[0], kFollowReach, true);
            const std::optional<DisplayCorners> bottom = refine(frame, (*bars_)[1], kFollowReach, true);
            const bool stays = (top && moved((*bars_)[0], *top) < kJitter) || (bottom && moved((*bars_)[1], *bottom) < kJitter);
            if ((top && bottom) || ((top || bottom) && stays))
                followed = framedBy(top ? *top : (*bars_)[0], bottom ? *bottom : (*bars_)[1]);
            sure = top && bottom && movedAlike((*bars_)[0], *top) && movedAlike((*bars_)[1], *bottom);
        } else {
            followed = refine(frame, *last_, kFollowReach);
            if (followed)
                followed = overBars(frame, *followed);
        }
        if (followed) {
            if (moved(*last_, *followed) >= kJitter && sure) {
                last_ = averaged_ = followed;
                return last_;
            }
            for (size_t i = 0; i < 4; ++i)
                (*averaged_)[i] += ((*followed)[i] - (*averaged_)[i]) * kAveraged;
            if (moved(*last_, *averaged_) >= kStill)
                last_ = averaged_;
            return last_;
        }
    }
    if (!last_ && skipped_ < kSkipAfterMiss) {
        ++skipped_;
        return std::nullopt;
    }
    skipped_ = 0;
    ++searches_;
    last_ = averaged_ = find(frame, &bars_);
    return last_;
}

cv::Mat DisplayFinder::rectify(const cv::Mat &frame, const DisplayCorners &corners)
{
    cv::Size size(area_.resolution.width(), area_.resolution.height());
    if (size.empty()) {
        const cv::Size seen(int(std::lround((length(corners[0], corners[1]) + length(corners[3], corners[2])) / 2)),
                            int(std::lround((length(corners[0], corners[3]) + length(corners[1], corners[2])) / 2)));
        // Kept while the display stays about as large: the upright
        // picture does not change its size by a pixel now and then.
        if (size_.empty() || std::abs(seen.width - size_.width) > size_.width / 30 ||
            std::abs(seen.height - size_.height) > size_.height / 30)
            size_ = seen;
        size = size_;
    }
    if (size.width < 1 || size.height < 1)
        return {};
    return warp_.warp(frame, uprightToFrame(corners, size), size);
}
