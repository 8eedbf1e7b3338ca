#pragma once

#include "macro/displayarea.h"
#include "screen/uprightwarp.h"

#include <QList>
#include <QPointF>
#include <array>
#include <opencv2/core/mat.hpp>
#include <opencv2/core/matx.hpp>
#include <optional>

// A display's four corners in a frame: top-left, top-right, bottom-right,
// bottom-left, at its outer edge (pixel centres at whole numbers).
using DisplayCorners = std::array<cv::Point2f, 4>;

// A dark screen's status bar and soft keys, each as four corners.
using DisplayBars = std::array<DisplayCorners, 2>;

QList<QPointF> outlineOf(const DisplayCorners &corners);
// From the upright picture of `size` to the frame, for a display within
// `corners`: the upright picture's outer edge onto them.
cv::Matx33d uprightToFrame(const DisplayCorners &corners, cv::Size size);

// Finds a handset's lit display in a camera's frames and makes an upright
// picture of it. The display is the bright four-sided patch inside the
// darker body around it: found on a small copy of the frame at several
// levels of brightness (so that uneven light, a glare spot and a dark theme
// do not hide it), then its edges are placed precisely in the frame itself.
// From frame to frame it is followed: its edges are looked for near where
// they were (the corners found averaged while it stays), and only when
// they are no longer there (the camera or the handset moved) is it looked
// for anew; while none is found, only every few frames are searched. A
// frame in which no display lies (a screen capture, which is the display
// already; a patch touching the frame's edge) gives none.
class DisplayFinder {
public:
    explicit DisplayFinder(const DisplayArea &area = DisplayArea());

    const DisplayArea &area() const { return area_; }

    // The display in `frame` (BGR) as the area says: found and followed
    // (AUTO), the corners given, or none (WHOLE, or no display found).
    std::optional<DisplayCorners> locate(const cv::Mat &frame);

    // The upright picture of the display within `corners`: at the area's
    // resolution when given, else at the display's size in the frame (kept
    // while the display stays about as large). Where each upright pixel
    // comes from is kept while the corners and size stay the same: a display
    // that stays where it was costs only the resampling, one that moved
    // about a third more.
    cv::Mat rectify(const cv::Mat &frame, const DisplayCorners &corners);

    // A search of the whole frame, nothing followed. A dark screen framed
    // by its status bar and soft keys (no edge of its own) gives those two
    // bars in `bars` too, when asked for.
    static std::optional<DisplayCorners> find(const cv::Mat &frame, std::optional<DisplayBars> *bars = nullptr);
    // The display's edges placed precisely near `rough`; nullopt when they
    // are not there (too little contrast across them).
    static std::optional<DisplayCorners> refine(const cv::Mat &frame, const DisplayCorners &rough, float reach,
                                                bool bar = false);

    // Full searches made so far (the rest were followed).
    qint64 searches() const { return searches_; }

private:
    DisplayArea area_;
    std::optional<DisplayCorners> last_;
    // The corners found while following, averaged over the last frames.
    std::optional<DisplayCorners> averaged_;
    // The status bar and soft keys of a dark screen framed by them, as the
    // search placed them (followed from there).
    std::optional<DisplayBars> bars_;
    cv::Size size_;
    qint64 searches_ = 0;
    // The resampling rectify() makes the upright picture with.
    UprightWarp warp_;
    // Frames not searched since a search found no display.
    int skipped_ = 0;
};
