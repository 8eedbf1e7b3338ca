#include "screen/matcher.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace {

// The reduced search keeps the template at least this many pixels on its
// shorter side, so that it still holds enough of the picture to be found.
constexpr int kSmallestReducedSide = 6;
constexpr int kLargestFactor = 4;
// The reduced search's places looked at in full, in case its best is not
// the best in full: its few best, and when its best is good enough that the
// template may be shown, every place within kNearBest of that best. On a
// list of alike lines (「受信BOX 10件」, 「受信BOX 11件」, ...) each line is
// such a place, and the reduced picture cannot tell which one is the
// template's: there the right line may score 0.13 below another. (A
// template not shown has many places about as unlike it; its few best say
// that it is not there.)
constexpr int kLeastCandidates = 5;
constexpr double kLikelyShown = 0.6;
constexpr double kNearBest = 0.3;
// More places than this within reach of the best: a picture of many alike
// parts, searched in full.
constexpr int kMostCandidates = 24;
// The places whose parts are compared: the whole template's best few, so
// that on a list of alike lines the line whose parts all match is found
// even where another line's whole correlation is a little higher.
constexpr int kPlacesCompared = 3;
constexpr double kComparedWithin = 0.12;
// A place where the whole template correlates less than this has its
// similarity from the whole (where the template is not shown a part
// correlates no better than the whole): a wait for a picture that is not
// there spends nothing on its parts.
constexpr double kPartsCompared = 0.5;

// A part is a little under half a glyph (the template's shorter side over
// kGlyphOverPart), within these sides: a whole glyph's part still correlates
// 0.87 with a near miss's (「3」 against 「9」), half a glyph's about 0.7. At
// half a glyph a part of a half-width digit held the digit's whole width,
// and through a camera that had moved 「12:30」 passed for 「12:38」 at
// 0.88-0.91 in a font whose 0 and 8 are alike but for their waist. Parts
// of 7 pixels rather than 8 on a 14-pixel font's word (a template about 17
// pixels high) let fewer than half as many near misses pass through a
// camera, at the cost of a few right ones (a smaller part holds more of
// the camera's noise). Template and frame are both smoothed a sixteenth
// of a glyph before parts are compared: a camera's noise weighs less, a
// stroke's shape no less.
constexpr double kGlyphOverPart = 2.2;
constexpr int kSmallestPart = 7;
constexpr int kLargestPart = 32;
// Parts are compared in their detail: each picture less its own blur of
// this share of the template's shorter side (about a sixth of a glyph). The
// mass of ink a part holds is alike in most characters: through a camera's
// blur, a part of 「3」 correlated 0.90 with one of 「9」, and a near miss
// passed the level; in their strokes alone they differ. (Narrower, a
// template cut from a blurred camera frame is no longer found once the
// camera moved.)
constexpr double kDetailBand = 0.15;
// A template with a camera's noise in it (cut from a camera frame) keeps
// more of its broad shape: its finest detail is as much noise as stroke,
// and at 0.15 a third of such templates (at 14 px) went unfound after the
// camera moved.
constexpr double kNoisyDetailBand = 0.25;
// A template whose noise (see noiseOf) is no more than this, in gray
// levels, is the display's own pixels (a screenshot, the model handset's
// picture): its background is flat. Cut from a camera frame through JPEG
// it measured 0.5 to 2.1.
constexpr double kCleanNoise = 0.25;
// A part whose spread is below this share of the template's is plain
// (background): there the frame must be about as plain.
constexpr double kPlainShare = 0.15;
// How much more spread (as a share of the frame's spread over the whole
// template) a plain part may show before it counts as different: a camera's
// uneven light and noise stay within it, a glyph does not.
constexpr double kPlainAllowance = 0.1;
// A blank part's spread in the frame (gray levels, smoothed as compared)
// that is a camera's and no glyph's: its uneven light, moiré and JPEG
// blocks. A band's faint text under a camera's blur (soft keys at 240×320)
// spreads the frame little over the whole template, and its blank parts'
// 2-2.5 levels came to a third of that. A part is blank when its own
// spread is below kBlank of the template's (background and nothing else);
// a plain part with a little ink in it keeps the stricter test, which told
// some near misses apart (「12:38」 shown for 「12:30」).
constexpr double kPlainFloor = 3.0;
constexpr double kBlank = 0.02;
// Parts are held where the template's other parts place them (see
// verify): a part farther than kHeld pixels from there counts less in where
// the others place it, and a part is compared within kSlack pixels of it.
constexpr double kHeld = 0.5;
constexpr double kSlack = 0.3;

// A pose whose whole template correlates less than the straight one's by
// more than this is not where the template lies.
constexpr double kPoseWholeSlack = 0.01;
// The poses a camera that moved shows the template in, nearest first.
constexpr double kScales[] = {0.90, 0.935, 0.97, 1.0, 1.03, 1.065, 1.10};
constexpr double kAngles[] = {-3.0, -1.5, 0.0, 1.5, 3.0};
// The blur a camera may add to what the template shows (Gaussian sigma,
// pixels): at each place the whole template is compared blurred as much as
// each of these, and its parts are compared as blurred as the frame's
// likeliest.
constexpr double kCameraBlur[] = {0.0, 0.8, 1.3, 1.8};
// The frame's pixels that are its own: all but a band along its edge as
// deep as what lies beyond the edge may reach at the camera's `blur` (the
// display's edge as a camera shows it once made upright, see verify). Empty
// for a frame too small to have any.
cv::Rect trustedPart(const cv::Mat &gray, double blur)
{
    const int edge = 1 + int(std::ceil(2 * blur));
    const cv::Rect trusted(edge, edge, gray.cols - 2 * edge, gray.rows - 2 * edge);
    return trusted.width > 0 && trusted.height > 0 ? trusted : cv::Rect();
}

// Whether the template's place `box` reaches into the frame's untrusted band.
bool reachesEdge(const cv::Mat &gray, const cv::Rect &box, const cv::Rect &trusted)
{
    return !trusted.empty() && (box & trusted) != (box & cv::Rect(0, 0, gray.cols, gray.rows));
}

double orZero(double value)
{
    return value == value ? value : 0.0;
}

// The best few places of `scores` (a cv::matchTemplate result), each
// outside the others' neighbourhoods of `apart`.
std::vector<MatchResult> peaksOf(cv::Mat scores, QPoint offset, int count, cv::Size apart)
{
    std::vector<MatchResult> peaks;
    for (int i = 0; i < count; ++i) {
        double value = 0;
        cv::Point at;
        cv::minMaxLoc(scores, nullptr, &value, nullptr, &at);
        // A flat area against a flat template gives no number; it is no match.
        value = orZero(value);
        if (i > 0 && !(value > 0))
            break;
        MatchResult r;
        r.whole = value;
        r.place = QPoint(at.x + offset.x(), at.y + offset.y());
        peaks.push_back(r);
        cv::rectangle(scores, cv::Rect(at.x - apart.width / 2, at.y - apart.height / 2, apart.width, apart.height),
                      cv::Scalar(-1), cv::FILLED);
    }
    return peaks;
}

// The normalised correlation of two pictures of one size, in double
// precision (cv::matchTemplate's float sums leave the same picture short of 1
// by a few thousandths on a part of a few hundred pixels).
double correlation(const cv::Mat &a, const cv::Mat &b)
{
    cv::Mat x, y;
    a.convertTo(x, CV_64F);
    b.convertTo(y, CV_64F);
    x -= cv::mean(x)[0];
    y -= cv::mean(y)[0];
    const double norms = std::sqrt(x.dot(x) * y.dot(y));
    return norms > 0 ? x.dot(y) / norms : 0.0;
}

// Where between whole pixels the peak of `scores` at `at` lies (a parabola
// through it and its neighbours, each way): within half a pixel, nothing
// at the scores' edge.
cv::Point2d peakFraction(const cv::Mat &scores, cv::Point at)
{
    auto along = [](double before, double peak, double after) {
        const double curve = before - 2 * peak + after;
        return curve < 0 ? std::clamp(0.5 * (before - after) / curve, -0.5, 0.5) : 0.0;
    };
    cv::Point2d fraction;
    if (at.x > 0 && at.x + 1 < scores.cols)
        fraction.x = along(scores.at<float>(at.y, at.x - 1), scores.at<float>(at), scores.at<float>(at.y, at.x + 1));
    if (at.y > 0 && at.y + 1 < scores.rows)
        fraction.y = along(scores.at<float>(at.y - 1, at.x), scores.at<float>(at), scores.at<float>(at.y + 1, at.x));
    return fraction;
}

// Whether `pose`, found in another pose than the straight template's
// `straight`, may stand for the template: only where the whole template
// lies there at least about as well as straight. Else every pose gives a
// near miss another try at passing, and one pose's parts happen to fit
// better (「12:38」 taken for 「12:30」 at 0.97 times its size on a screen
// that had not moved at all).
bool fitsAsWell(const MatchResult &pose, const MatchResult &straight)
{
    return pose.whole >= straight.whole - kPoseWholeSlack;
}

// The camera's noise in `gray` (standard deviation, gray levels): the
// typical response of a filter that passes noise and not smooth shading
// (J. Immerkær's), the lowest quarter of it, so that the edges of text do not count.
double noiseOf(const cv::Mat &gray)
{
    if (gray.cols < 3 || gray.rows < 3)
        return 0;
    const cv::Mat kernel = (cv::Mat_<float>(3, 3) << 1, -2, 1, -2, 4, -2, 1, -2, 1);
    cv::Mat response;
    cv::filter2D(gray, response, CV_32F, kernel, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
    response = cv::abs(response);
    std::vector<float> values(response.begin<float>(), response.end<float>());
    std::nth_element(values.begin(), values.begin() + long(values.size() / 4), values.end());
    // The filter's gain on white noise is 6; a quarter of a normal
    // deviate's absolute values lie below 0.3186 of its standard deviation.
    return values[values.size() / 4] / 0.3186 / 6;
}

MatchResult bestOf(const cv::Mat &frame, const cv::Mat &picture, QPoint offset)
{
    cv::Mat scores;
    cv::matchTemplate(frame, picture, scores, cv::TM_CCOEFF_NORMED);
    return peaksOf(scores, offset, 1, picture.size()).front();
}

// The template's place `box` in `gray`, with the pixels outside `trusted`
// (frame pixels) taken from the nearest within it.
cv::Mat placeSeen(const cv::Mat &gray, const cv::Rect &box, const cv::Rect &trusted)
{
    cv::Rect inside = box & trusted;
    if (inside.empty()) {
        // Wholly outside: the nearest trusted pixel stands for it all.
        const int x = std::clamp(box.x, trusted.x, trusted.br().x - 1);
        const int y = std::clamp(box.y, trusted.y, trusted.br().y - 1);
        inside = cv::Rect(x, y, 1, 1);
    }
    const cv::Rect toBox = box - inside.tl();
    cv::Mat seen;
    cv::copyMakeBorder(gray(inside), seen, std::max(0, -toBox.y), std::max(0, toBox.br().y - inside.height),
                       std::max(0, -toBox.x), std::max(0, toBox.br().x - inside.width),
                       cv::BORDER_REPLICATE | cv::BORDER_ISOLATED);
    return seen(cv::Rect(std::max(0, toBox.x), std::max(0, toBox.y), box.width, box.height)).clone();
}

// The template (`picture`) at `box` in the frame, its pixels outside the
// frame's `trusted` ones taken from the nearest within, as the frame's are.
cv::Mat templateSeen(const cv::Mat &picture, const cv::Rect &box, const cv::Rect &trusted)
{
    return placeSeen(picture, cv::Rect(0, 0, box.width, box.height), trusted - box.tl());
}

// How alike the whole template (`picture`) is to its place at `place` in
// `gray` within the frame's trusted pixels, when that place reaches the
// frame's edge as far as the blurriest camera's could (see verify); else
// its correlation as the search gave it, `whole`.
double wholeWithinEdge(const cv::Mat &gray, const cv::Mat &picture, QPoint place, double whole)
{
    const cv::Rect box(place.x(), place.y(), picture.cols, picture.rows);
    const cv::Rect trusted = trustedPart(gray, kCameraBlur[std::size(kCameraBlur) - 1]);
    if (!reachesEdge(gray, box, trusted))
        return whole;
    return correlation(placeSeen(gray, box, trusted), templateSeen(picture, box, trusted));
}

} // namespace

bool closerMatch(const MatchResult &a, const MatchResult &b)
{
    const bool partsA = !a.weakestPart.isEmpty(), partsB = !b.weakestPart.isEmpty();
    return partsA != partsB ? partsA : a.similarity > b.similarity;
}

cv::Mat toGray(const cv::Mat &frame)
{
    cv::Mat gray;
    if (frame.channels() == 3)
        cv::cvtColor(frame, gray, cv::COLOR_BGR2GRAY);
    else if (frame.channels() == 4)
        cv::cvtColor(frame, gray, cv::COLOR_BGRA2GRAY);
    else
        gray = frame;
    return gray;
}

double patternSpread(const cv::Mat &picture)
{
    cv::Scalar mean;
    cv::Scalar spread;
    cv::meanStdDev(toGray(picture), mean, spread);
    return spread[0];
}

TemplateMatcher::Pose TemplateMatcher::makePose(const cv::Mat &gray, double scale, double angle) const
{
    Pose pose;
    pose.scale = scale;
    pose.angle = angle;
    if (scale == 1.0 && angle == 0.0) {
        pose.gray = gray;
    } else {
        const cv::Size size(std::max(1, int(std::lround(gray.cols * scale))), std::max(1, int(std::lround(gray.rows * scale))));
        cv::Mat turn = cv::getRotationMatrix2D(cv::Point2f((gray.cols - 1) / 2.0f, (gray.rows - 1) / 2.0f), angle, scale);
        turn.at<double>(0, 2) += (size.width - gray.cols) / 2.0;
        turn.at<double>(1, 2) += (size.height - gray.rows) / 2.0;
        cv::warpAffine(gray, pose.gray, turn, size, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    }
    if (factor_ > 1)
        cv::resize(pose.gray, pose.reduced, cv::Size(std::max(1, pose.gray.cols / factor_), std::max(1, pose.gray.rows / factor_)), 0, 0,
                   cv::INTER_AREA);
    smoothPose(&pose);
    return pose;
}

// Each part's spread, and whether it is plain, in `pose`'s own picture.
void TemplateMatcher::weighParts(Pose *pose)
{
    for (Part &part : pose->parts) {
        part.spread = patternSpread(pose->smooth.front()(part.rect));
        part.plain = part.spread < kPlainShare * pose->spread;
    }
}

void TemplateMatcher::smoothPose(Pose *pose) const
{
    pose->smooth.clear();
    pose->detail.clear();
    for (const double blur : kCameraBlur) {
        cv::Mat smooth;
        cv::GaussianBlur(pose->gray, smooth, cv::Size(0, 0), std::hypot(smoothing_, blur));
        pose->smooth.push_back(smooth);
        cv::Mat detail, mass;
        smooth.convertTo(detail, CV_32F);
        cv::GaussianBlur(detail, mass, cv::Size(0, 0), detailSigma_, 0, cv::BORDER_REPLICATE);
        pose->detail.push_back(detail - mass);
    }
    pose->spread = patternSpread(pose->smooth.front());
    weighParts(pose);
}

TemplateMatcher::TemplateMatcher(const cv::Mat &picture)
{
    const cv::Mat gray = toGray(picture).clone();
    factor_ = std::clamp(std::min(gray.cols, gray.rows) / kSmallestReducedSide, 1, kLargestFactor);
    // A one-line template's height is about a glyph's: a part a little under
    // half of it.
    const int glyph = std::min(gray.cols, gray.rows);
    smoothing_ = std::clamp(glyph / 16.0, 0.5, 1.6);
    detailSigma_ = (noiseOf(gray) <= kCleanNoise ? kDetailBand : kNoisyDetailBand) * glyph;
    side_ = std::clamp(int(glyph / kGlyphOverPart), kSmallestPart, kLargestPart);
    shift_ = std::max(1, int(std::lround(glyph / 6.0)));

    struct Choice {
        double scale, angle;
    };
    std::vector<Choice> choices;
    for (const double scale : kScales)
        for (const double angle : kAngles)
            choices.push_back({scale, angle});
    std::stable_sort(choices.begin(), choices.end(), [](const Choice &a, const Choice &b) {
        return std::abs(a.scale - 1) / 0.1 + std::abs(a.angle) / 3 < std::abs(b.scale - 1) / 0.1 + std::abs(b.angle) / 3;
    });
    for (const Choice &c : choices) {
        Pose pose = makePose(gray, c.scale, c.angle);
        // Overlapping cells, half a cell apart, the last flush with the edge.
        const int side = std::max(kSmallestPart, int(std::lround(side_ * c.scale)));
        const int width = std::min(side, pose.gray.cols);
        const int height = std::min(side, pose.gray.rows);
        auto starts = [](int length, int cell) {
            std::vector<int> at;
            for (int x = 0; x + cell < length; x += std::max(1, cell / 2))
                at.push_back(x);
            at.push_back(length - cell);
            return at;
        };
        for (const int y : starts(pose.gray.rows, height)) {
            for (const int x : starts(pose.gray.cols, width)) {
                Part part;
                part.rect = cv::Rect(x, y, width, height);
                pose.parts.push_back(part);
            }
        }
        weighParts(&pose);
        poses_.push_back(std::move(pose));
    }
}

void TemplateMatcher::verify(const cv::Mat &gray, const Pose &given, MatchResult *result) const
{
    const int d = shift_;
    // The template's place in the frame, smoothed as the template is (its
    // edges as the template's own: the same picture then scores 1), with
    // room around it for the parts to move.
    const cv::Rect box(result->place.x(), result->place.y(), given.gray.cols, given.gray.rows);
    const cv::Rect frame(0, 0, gray.cols, gray.rows);
    const auto seenWithin = [&](const cv::Rect &trusted) {
        cv::Mat seen = placeSeen(gray, box, trusted);
        cv::GaussianBlur(seen, seen, cv::Size(0, 0), smoothing_);
        return seen;
    };
    cv::Mat seen = seenWithin(frame);
    // The template as blurred as the frame looks.
    const auto likeliestBlur = [&](const Pose &pose) {
        size_t blur = 0;
        double likeliest = -2;
        for (size_t i = 0; i < pose.smooth.size(); ++i) {
            cv::Mat score;
            cv::matchTemplate(seen, pose.smooth[i], score, cv::TM_CCOEFF_NORMED);
            if (orZero(score.at<float>(0, 0)) > likeliest) {
                likeliest = orZero(score.at<float>(0, 0));
                blur = i;
            }
        }
        return blur;
    };
    size_t blur = likeliestBlur(given);
    // The frame's edge is the display's as a camera shows it once made
    // upright: what lies beyond the display (the handset's dark body) is
    // blurred into its outermost pixels, as far as the camera's blur
    // reaches, and a corner found a little off adds a pixel. A template
    // that reaches there (a status bar, the soft keys, any row as wide as
    // the display) is compared within the frame's trusted pixels alone:
    // there both pictures take the nearest trusted pixel for theirs. (A
    // template of the display's own pixels as wide as the display scored
    // 0.3-0.8 on its right place, a dark column at its edge.)
    const cv::Rect trusted = trustedPart(gray, kCameraBlur[blur]);
    Pose within;
    const bool edged = reachesEdge(gray, box, trusted);
    if (edged) {
        within = given;
        within.gray = templateSeen(given.gray, box, trusted);
        smoothPose(&within);
        seen = seenWithin(trusted);
        blur = likeliestBlur(within);
    }
    const Pose &pose = edged ? within : given;
    cv::Mat region;
    cv::copyMakeBorder(seen, region, d, d, d, d, cv::BORDER_REPLICATE);
    const double boxSpread = patternSpread(seen);

    double weakest = 2;
    cv::Rect where;
    // The frame's detail, as the template's (see makePose).
    cv::Mat detail;
    region.convertTo(detail, CV_32F);
    cv::Mat mass;
    cv::GaussianBlur(detail, mass, cv::Size(0, 0), detailSigma_, 0, cv::BORDER_REPLICATE);
    detail -= mass;
    const cv::Mat &ownDetail = pose.detail[blur];
    // First each part where it fits best on its own, within d pixels.
    struct Placed {
        cv::Point2d offset; // from its place in the template, pixels
        double weight = 0;
    };
    std::vector<Placed> placed(pose.parts.size());
    // A part's centre as the affine motion below takes it: 1, then x and y
    // from the template's middle, -1 to 1.
    const cv::Point2d middle((pose.gray.cols - 1) / 2.0, (pose.gray.rows - 1) / 2.0);
    auto across = [&](const cv::Rect &r) {
        return cv::Vec3d(1, (r.x + (r.width - 1) / 2.0 - middle.x) / std::max(1.0, middle.x),
                         (r.y + (r.height - 1) / 2.0 - middle.y) / std::max(1.0, middle.y));
    };
    for (size_t i = 0; i < pose.parts.size(); ++i) {
        const Part &part = pose.parts[i];
        if (part.plain)
            continue;
        cv::Mat scores;
        cv::matchTemplate(detail(cv::Rect(part.rect.x, part.rect.y, part.rect.width + 2 * d, part.rect.height + 2 * d)),
                          ownDetail(part.rect), scores, cv::TM_CCOEFF_NORMED);
        cv::Point best;
        cv::minMaxLoc(scores, nullptr, nullptr, nullptr, &best);
        // Between whole pixels: a turned or scaled picture puts a part a
        // fraction of a pixel off, which costs a small glyph's part as much
        // correlation as a changed stroke does.
        const cv::Point2d fraction = peakFraction(scores, best);
        placed[i].offset = cv::Point2d(best.x - d + fraction.x, best.y - d + fraction.y);
        placed[i].weight = part.spread;
    }
    // Then where its neighbours put it: one affine motion of the whole
    // template (a camera's scale, turn and keystone are about one over a
    // word), fitted to the parts' own offsets and refitted without the
    // parts far from it. A part of a changed character that slid on its
    // own to some stroke of the other character is held back to where the
    // template's other parts say it lies.
    cv::Matx23d motion(0, 0, 0, 0, 0, 0);
    {
        std::vector<double> weights(placed.size());
        for (size_t i = 0; i < placed.size(); ++i)
            weights[i] = placed[i].weight;
        for (int round = 0; round < 3; ++round) {
            cv::Matx33d normal = cv::Matx33d::zeros();
            cv::Vec3d alongX(0, 0, 0), alongY(0, 0, 0);
            for (size_t i = 0; i < placed.size(); ++i) {
                if (weights[i] <= 0)
                    continue;
                const cv::Vec3d v = across(pose.parts[i].rect);
                normal += weights[i] * (v * v.t());
                alongX += weights[i] * placed[i].offset.x * v;
                alongY += weights[i] * placed[i].offset.y * v;
            }
            cv::Vec3d ax, ay;
            if (!cv::solve(normal, alongX, ax, cv::DECOMP_SVD) || !cv::solve(normal, alongY, ay, cv::DECOMP_SVD))
                break;
            motion = cv::Matx23d(ax[0], ax[1], ax[2], ay[0], ay[1], ay[2]);
            for (size_t i = 0; i < placed.size(); ++i) {
                if (placed[i].weight <= 0)
                    continue;
                const cv::Vec2d p = motion * across(pose.parts[i].rect);
                const double off = cv::norm(placed[i].offset - cv::Point2d(p[0], p[1]));
                weights[i] = placed[i].weight / (1 + off * off / (kHeld * kHeld));
            }
        }
    }

    for (size_t i = 0; i < pose.parts.size(); ++i) {
        const Part &part = pose.parts[i];
        double score = 0;
        cv::Rect at = part.rect;
        if (part.plain) {
            const double own = pose.spread > 0 ? part.spread / pose.spread : 0;
            const double floor = own < kBlank ? kPlainFloor : 0.0;
            const double seen =
                boxSpread > 1 ? std::max(0.0, patternSpread(region(part.rect + cv::Point(d, d))) - floor) / boxSpread : 0;
            score = std::clamp(1 - 2 * std::max(0.0, seen - own - kPlainAllowance), 0.0, 1.0);
        } else {
            // Where the others place it, and within kSlack of that where
            // it fits best on its own.
            const cv::Vec2d there = motion * across(part.rect);
            const cv::Point2d predicted(there[0], there[1]);
            cv::Point2d offset = placed[i].offset;
            const cv::Point2d away = offset - predicted;
            const double far = cv::norm(away);
            if (far > kSlack)
                offset = predicted + away * (kSlack / far);
            offset.x = std::clamp(offset.x, double(-d), double(d));
            offset.y = std::clamp(offset.y, double(-d), double(d));
            const cv::Mat own = ownDetail(part.rect);
            cv::Mat between;
            cv::getRectSubPix(detail, own.size(),
                              cv::Point2f(float(part.rect.x + d + offset.x + (own.cols - 1) / 2.0),
                                          float(part.rect.y + d + offset.y + (own.rows - 1) / 2.0)),
                              between, CV_32F);
            score = correlation(between, own);
            // The whole pixel nearest, when it lies as near the motion's
            // place: interpolating costs the same picture a little.
            const cv::Point whole(int(std::lround(offset.x)), int(std::lround(offset.y)));
            if (cv::norm(cv::Point2d(whole) - predicted) <= kSlack && std::abs(whole.x) <= d && std::abs(whole.y) <= d)
                score = std::max(score, correlation(detail(part.rect + whole + cv::Point(d, d)), own));
            at = cv::Rect(part.rect.x + int(std::lround(offset.x)), part.rect.y + int(std::lround(offset.y)), part.rect.width,
                          part.rect.height);
        }
        if (score < weakest) {
            weakest = score;
            where = at;
        }
    }
    // Never below 0 (a part unlike its place may correlate negatively): -1
    // says that nothing was compared.
    result->similarity = std::clamp(weakest, 0.0, 1.0);
    result->weakestPart = QRect(result->place.x() + where.x, result->place.y() + where.y, where.width, where.height);
    result->size = QSize(pose.gray.cols, pose.gray.rows);
    result->scale = pose.scale;
    result->angle = pose.angle;
}

TemplateMatcher::Prepared TemplateMatcher::prepare(const cv::Mat &frame) const
{
    Prepared p;
    p.gray = toGray(frame);
    const cv::Mat &straight = poses_.front().gray;
    // Frames not much larger than the template: one full search is cheap.
    if (factor_ == 1 || static_cast<double>(p.gray.cols - straight.cols + 1) * (p.gray.rows - straight.rows + 1) < 4096)
        return p;
    cv::resize(p.gray, p.small, cv::Size(p.gray.cols / factor_, p.gray.rows / factor_), 0, 0, cv::INTER_AREA);
    return p;
}

MatchResult TemplateMatcher::matchPose(const Prepared &frame, int index) const
{
    const Pose &pose = poses_[size_t(index)];
    const cv::Mat &gray = frame.gray;
    MatchResult none;
    if (pose.gray.cols > gray.cols || pose.gray.rows > gray.rows)
        return none;

    std::vector<MatchResult> places;
    double rough = 0;
    const bool twoStep = !frame.small.empty() && frame.small.cols >= pose.reduced.cols && frame.small.rows >= pose.reduced.rows;
    if (twoStep) {
        cv::Mat scores;
        cv::matchTemplate(frame.small, pose.reduced, scores, cv::TM_CCOEFF_NORMED);
        double top = 0;
        cv::minMaxLoc(scores, nullptr, &top);
        rough = orZero(top);
        const int margin = factor_ + 1;
        for (int i = 0;; ++i) {
            double value = 0;
            cv::Point at;
            cv::minMaxLoc(scores, nullptr, &value, nullptr, &at);
            if (i > 0 && !(value > 0))
                break;
            if (i >= kLeastCandidates && (top < kLikelyShown || value < top - kNearBest))
                break;
            if (i >= kMostCandidates) {
                places.clear();
                break;
            }
            // The neighbourhood in the full frame, within its bounds.
            const int x0 = std::max(0, at.x * factor_ - margin);
            const int y0 = std::max(0, at.y * factor_ - margin);
            const int x1 = std::min(gray.cols, at.x * factor_ + pose.gray.cols + margin);
            const int y1 = std::min(gray.rows, at.y * factor_ + pose.gray.rows + margin);
            places.push_back(bestOf(gray(cv::Rect(x0, y0, x1 - x0, y1 - y0)), pose.gray, QPoint(x0, y0)));
            // The next candidate lies outside this one's neighbourhood.
            cv::rectangle(scores,
                          cv::Rect(at.x - pose.reduced.cols / 2, at.y - pose.reduced.rows / 2, pose.reduced.cols, pose.reduced.rows),
                          cv::Scalar(-1), cv::FILLED);
        }
    }
    if (places.empty()) {
        cv::Mat scores;
        cv::matchTemplate(gray, pose.gray, scores, cv::TM_CCOEFF_NORMED);
        places = peaksOf(scores, QPoint(), kPlacesCompared, pose.gray.size());
    }
    std::stable_sort(places.begin(), places.end(), [](const MatchResult &a, const MatchResult &b) { return a.whole > b.whole; });
    // Places a few pixels from a better one are the same place (the parts
    // move a few pixels on their own): only the better is compared.
    std::vector<MatchResult> distinct;
    for (const MatchResult &p : places) {
        const bool near = std::any_of(distinct.begin(), distinct.end(), [&](const MatchResult &q) {
            return std::abs(p.place.x() - q.place.x()) * 2 < pose.gray.cols && std::abs(p.place.y() - q.place.y()) * 2 < pose.gray.rows;
        });
        if (!near)
            distinct.push_back(p);
    }
    places = distinct;

    MatchResult best;
    for (size_t i = 0; i < places.size() && int(i) < kPlacesCompared; ++i) {
        if (places[i].whole < places.front().whole - kComparedWithin)
            break;
        MatchResult r = places[i];
        r.rough = twoStep ? rough : r.whole;
        if (r.whole < kPartsCompared && wholeWithinEdge(gray, pose.gray, r.place, r.whole) < kPartsCompared) {
            // Not even the whole alike: its parts are not looked at. (At
            // the display's edge, the body the camera blurs into it is no
            // part of the likeness.)
            r.similarity = std::max(0.0, r.whole);
            r.size = QSize(pose.gray.cols, pose.gray.rows);
            r.scale = pose.scale;
            r.angle = pose.angle;
            if (closerMatch(r, best))
                best = r;
            continue;
        }
        verify(gray, pose, &r);
        if (closerMatch(r, best))
            best = r;
    }
    return best;
}

MatchResult TemplateMatcher::matchFull(const cv::Mat &frame) const
{
    Prepared p;
    p.gray = toGray(frame);
    return matchPose(p, 0);
}

MatchResult TemplateMatcher::match(const cv::Mat &frame, double level) const
{
    const Prepared p = prepare(frame);
    const MatchResult straight = matchPose(p, 0);
    MatchResult best = straight;
    for (int i = 1; i < poseCount() && best.similarity < level; ++i) {
        const MatchResult r = matchPose(p, i);
        if (closerMatch(r, best) && fitsAsWell(r, straight))
            best = r;
    }
    return best;
}

MatchResult TemplateMatcher::match(const cv::Mat &frame, double level, PoseSearch *search, int extraPoses) const
{
    const Prepared p = prepare(frame);
    search->remembered = std::clamp(search->remembered, 0, poseCount() - 1);
    MatchResult best = matchPose(p, search->remembered);
    int bestPose = search->remembered;
    // Other poses only where the reduced search finds the template likely: a
    // moved camera's picture still correlates well when reduced, where the
    // straight template's details no longer line up in full.
    for (int i = 0; i < extraPoses && best.similarity < level && best.rough >= kLikelyShown && poseCount() > 1; ++i) {
        int pose = search->next % poseCount();
        if (pose == search->remembered)
            pose = (pose + 1) % poseCount();
        search->next = pose + 1;
        const MatchResult r = matchPose(p, pose);
        if (closerMatch(r, best)) {
            best = r;
            bestPose = pose;
        }
    }
    // Seen in another pose: the straight template, when it is seen too, is
    // what the user cut, and its place is the one to report; and the pose
    // stands only where the whole template lies there about as well.
    if (bestPose != 0 && best.similarity >= level) {
        const MatchResult straight = matchPose(p, 0);
        if (straight.similarity >= level || !fitsAsWell(best, straight)) {
            best = straight;
            bestPose = 0;
        }
    }
    search->remembered = bestPose;
    return best;
}
