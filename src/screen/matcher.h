#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <opencv2/core/mat.hpp>
#include <vector>

// Where a template looks most like a frame, and how much.
struct MatchResult {
    // How alike the template and the frame are at the best place: the
    // weakest part's normalised correlation (see TemplateMatcher). 1 for the
    // same picture, about 0 for an unrelated one (never below 0); one
    // character changed in a word brings it down as far as a wrong word
    // does. -1 when nothing was compared.
    double similarity = -1;
    // The best place's top-left corner, in frame pixels, and the size the
    // template has there (its own, or scaled when the camera moved).
    QPoint place;
    QSize size;
    // The whole template's correlation there (cv::TM_CCOEFF_NORMED).
    double whole = -1;
    // The reduced search's best correlation (the whole's in frames searched
    // in full): whether the template may be there at all, in any pose.
    double rough = -1;
    // The part that decided `similarity`, in frame pixels (empty when the
    // template was not placed).
    QRect weakestPart;
    // The template as it was found: scaled and turned (degrees) about its
    // centre; 1 and 0 when straight.
    double scale = 1;
    double angle = 0;
};

// Whether `a` is a closer match than `b`: a place where the template's
// parts were compared (the whole template alike enough there) is closer
// than one judged by the whole alone, whatever their numbers say (they
// measure different things: a near miss's changed part may score below the
// whole of a screen that shows only its first character); else the higher
// similarity.
bool closerMatch(const MatchResult &a, const MatchResult &b);

// Finds one template in frames, grayscale, in two stages.
//
// First the place: by normalised cross-correlation of the whole template
// (as cv::matchTemplate computes it). A large frame is searched in two
// steps: the whole of it reduced (the template with it) for the few most
// likely places, then each of those at full size in a small neighbourhood.
//
// Then the parts: the template is cut into overlapping cells of about a
// glyph's size, and each must be seen where the others place it: each part
// is first looked for on its own within a few pixels, one affine motion of
// the whole template (what is left of a camera's scale, turn and keystone)
// is fitted to those places, and each part is compared at the motion's
// place for it (within a third of a pixel). A part of a changed character
// cannot slide on its own onto a stroke of the other one. The
// weakest part decides: correlation over a whole word hardly moves when one
// character of it changes, the part holding that character does. A part
// without pattern (the space between words) must be as plain in the frame.
//
// When the straight template does not reach the level asked for, it is
// looked for scaled (±10 %) and turned (±3°) as well, as a camera that moved
// shows it.
class TemplateMatcher {
public:
    // `picture`: 8-bit, gray, BGR or BGRA.
    explicit TemplateMatcher(const cv::Mat &picture);

    QSize size() const { return QSize(poses_.front().gray.cols, poses_.front().gray.rows); }
    // Whether the template fits in a frame of `frame`'s size.
    bool fitsIn(const cv::Mat &frame) const
    {
        return size().width() <= frame.cols && size().height() <= frame.rows;
    }

    // Which poses (scale, turn) a watch tries first, frame after frame: the
    // one that was best last, then a few more in turn, so that a wait costs
    // a few straight searches a frame and follows a camera that moved.
    struct PoseSearch {
        int remembered = 0;
        int next = 1;
    };

    // The best place in `frame` (which the template must fit in): straight,
    // and when that does not reach `level`, every pose until one does (the
    // straight template only with the default level).
    MatchResult match(const cv::Mat &frame, double level = 0) const;
    // The same within a watch: the remembered pose, then `extraPoses` more.
    MatchResult match(const cv::Mat &frame, double level, PoseSearch *search, int extraPoses) const;
    // The straight template by one full-size search, for comparison.
    MatchResult matchFull(const cv::Mat &frame) const;

    int poseCount() const { return int(poses_.size()); }

private:
    struct Part {
        cv::Rect rect;
        double spread = 0;
        bool plain = false;
    };
    struct Pose {
        double scale = 1;
        double angle = 0;
        cv::Mat gray;
        cv::Mat reduced;
        // Smoothed as the frame is when compared, and more: as blurred
        // as the camera's picture may be.
        std::vector<cv::Mat> smooth;
        // Each of those less its broad shape (CV_32F): the strokes alone.
        std::vector<cv::Mat> detail;
        double spread = 0;
        std::vector<Part> parts;
    };
    // A frame made ready once for every pose.
    struct Prepared {
        cv::Mat gray;
        cv::Mat small;
    };

    Prepared prepare(const cv::Mat &frame) const;
    MatchResult matchPose(const Prepared &frame, int pose) const;
    void verify(const cv::Mat &gray, const Pose &given, MatchResult *result) const;
    // Smooths `pose`'s picture as the frame is when compared, and sets the
    // spread of it and its parts.
    void smoothPose(Pose *pose) const;
    // Each part's spread, and whether it is plain, in `pose`'s own picture.
    static void weighParts(Pose *pose);
    Pose makePose(const cv::Mat &gray, double scale, double angle) const;

    std::vector<Pose> poses_;
    int factor_ = 1;
    int side_ = 8;  // of a part
    int shift_ = 1; // how far from its place a part is looked for
    double smoothing_ = 1; // of both pictures (Gaussian sigma, pixels)
    double detailSigma_ = 3; // the blur taken away to leave the detail
};

// `frame` as 8-bit gray.
cv::Mat toGray(const cv::Mat &frame);

// How much pattern `picture` holds: the spread (standard deviation) of its
// gray levels. A template with almost none (one colour, or one colour with
// a camera's noise on it) correlates with nothing in particular: it is
// "found" in any flat part of a frame, or in none.
double patternSpread(const cv::Mat &picture);
constexpr double kLeastPatternSpread = 5.0;
