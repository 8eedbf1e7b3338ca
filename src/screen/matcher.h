#pragma once

#include <QPoint>
#include <QSize>
#include <opencv2/core/mat.hpp>

// Where a template looks most like a frame, and how much.
struct MatchResult {
    // Normalised cross-correlation (cv::TM_CCOEFF_NORMED) at the best place:
    // 1 for the same picture, about 0 for an unrelated one.
    double similarity = -1;
    // The best place's top-left corner, in frame pixels.
    QPoint place;
};

// Finds one template in frames, grayscale, by normalised cross-correlation
// as cv::matchTemplate computes it; no scaling or rotation is searched.
//
// A large frame is searched in two steps: the whole of it reduced (the
// template with it) for the few most likely places, then each of those at
// full size in a small neighbourhood. At 720p this takes a few milliseconds
// where a full search takes tens; a plain full search is kept for frames
// too small to gain from it and for comparison.
class TemplateMatcher {
public:
    // `picture`: 8-bit, gray, BGR or BGRA.
    explicit TemplateMatcher(const cv::Mat &picture);

    QSize size() const { return QSize(gray_.cols, gray_.rows); }
    // Whether the template fits in a frame of `frame`'s size.
    bool fitsIn(const cv::Mat &frame) const { return gray_.cols <= frame.cols && gray_.rows <= frame.rows; }

    // The best place in `frame` (which the template must fit in).
    MatchResult match(const cv::Mat &frame) const;
    // The same by one full-size search, for comparison.
    MatchResult matchFull(const cv::Mat &frame) const;

private:
    cv::Mat gray_;
    cv::Mat reduced_;
    int factor_ = 1;
};

// `frame` as 8-bit gray.
cv::Mat toGray(const cv::Mat &frame);

// How much pattern `picture` holds: the spread (standard deviation) of its
// gray levels. A template with almost none (one colour, or one colour with
// a camera's noise on it) correlates with nothing in particular: it is
// "found" in any flat part of a frame, or in none.
double patternSpread(const cv::Mat &picture);
constexpr double kLeastPatternSpread = 5.0;
