#include "screen/matcher.h"

#include <algorithm>
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

MatchResult bestOf(const cv::Mat &frame, const cv::Mat &picture, QPoint offset)
{
    cv::Mat scores;
    cv::matchTemplate(frame, picture, scores, cv::TM_CCOEFF_NORMED);
    double best = 0;
    cv::Point place;
    cv::minMaxLoc(scores, nullptr, &best, nullptr, &place);
    // A flat area against a flat template gives no number; it is no match.
    if (!(best == best))
        best = 0;
    return {best, QPoint(place.x + offset.x(), place.y + offset.y())};
}

} // namespace

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

TemplateMatcher::TemplateMatcher(const cv::Mat &picture)
    : gray_(toGray(picture))
{
    factor_ = std::clamp(std::min(gray_.cols, gray_.rows) / kSmallestReducedSide, 1, kLargestFactor);
    if (factor_ > 1)
        cv::resize(gray_, reduced_, cv::Size(gray_.cols / factor_, gray_.rows / factor_), 0, 0, cv::INTER_AREA);
}

MatchResult TemplateMatcher::matchFull(const cv::Mat &frame) const
{
    return bestOf(toGray(frame), gray_, QPoint());
}

MatchResult TemplateMatcher::match(const cv::Mat &frame) const
{
    const cv::Mat gray = toGray(frame);
    // Frames not much larger than the template: one full search is cheap.
    if (factor_ == 1 || static_cast<double>(gray.cols - gray_.cols + 1) * (gray.rows - gray_.rows + 1) < 4096)
        return bestOf(gray, gray_, QPoint());

    cv::Mat small;
    cv::resize(gray, small, cv::Size(gray.cols / factor_, gray.rows / factor_), 0, 0, cv::INTER_AREA);
    if (small.cols < reduced_.cols || small.rows < reduced_.rows)
        return bestOf(gray, gray_, QPoint());
    cv::Mat scores;
    cv::matchTemplate(small, reduced_, scores, cv::TM_CCOEFF_NORMED);

    double top = 0;
    cv::minMaxLoc(scores, nullptr, &top);
    MatchResult best;
    const int margin = factor_ + 1;
    for (int i = 0;; ++i) {
        double value = 0;
        cv::Point at;
        cv::minMaxLoc(scores, nullptr, &value, nullptr, &at);
        if (i > 0 && !(value > 0))
            break;
        if (i >= kLeastCandidates && (top < kLikelyShown || value < top - kNearBest))
            break;
        if (i >= kMostCandidates)
            return bestOf(gray, gray_, QPoint());
        // The neighbourhood in the full frame, within its bounds.
        const int x0 = std::max(0, at.x * factor_ - margin);
        const int y0 = std::max(0, at.y * factor_ - margin);
        const int x1 = std::min(gray.cols, at.x * factor_ + gray_.cols + margin);
        const int y1 = std::min(gray.rows, at.y * factor_ + gray_.rows + margin);
        const MatchResult found = bestOf(gray(cv::Rect(x0, y0, x1 - x0, y1 - y0)), gray_, QPoint(x0, y0));
        if (found.similarity > best.similarity)
            best = found;
        // The next candidate lies outside this one's neighbourhood.
        cv::rectangle(scores, cv::Rect(at.x - reduced_.cols / 2, at.y - reduced_.rows / 2, reduced_.cols, reduced_.rows),
                      cv::Scalar(-1), cv::FILLED);
    }
    return best;
}
