#pragma once

#include <opencv2/core/mat.hpp>

// Whether a frame shows anything new since one kept before. Both are
// reduced to gray blocks of 4×4 pixels, within which a camera's noise
// averages out; their difference is taken less its median (the camera's
// exposure moves all of the picture alike, which no correlation sees); and
// the frame has changed where any block still differs by more than such
// noise leaves. A frame of another size has changed.
//
// A watch searches again only a frame that changed since the one it last
// searched: a display that stays as it was cannot have begun to show the
// picture. Measured on the camera set's displays made upright (five fonts,
// 240x320 to 480x800, moiré and glare): two frames of the same screen
// differ by at most 8, the same screen with one character changed by at
// least 20.
class FrameChange {
public:
    // The level a block must differ by, in gray levels (0-255).
    static constexpr double kLevel = 12;

    // Keeps `frame` (8-bit BGR or gray) as the one later frames are
    // compared with.
    void keep(const cv::Mat &frame);
    void forget() { kept_.release(); }
    bool differs(const cv::Mat &frame) { return difference(frame) > kLevel; }
    // The largest difference of a block between `frame` and the one kept,
    // less the median difference (infinite when none is kept or the sizes
    // differ).
    double difference(const cv::Mat &frame);
    // The largest difference of a block within `area` (frame pixels) in the
    // comparison last made; infinite when it found the sizes differing.
    double differenceWithin(const cv::Rect &area) const;
    // Keeps the frame last compared, as keep() would.
    void keepCompared();

private:
    static cv::Mat reduced(const cv::Mat &frame);

    cv::Mat kept_;
    cv::Size size_;
    // The frame last compared, and its reduction when it was made.
    cv::Mat comparedFrame_;
    cv::Mat compared_;
    // That comparison's differences of each block, less their median.
    cv::Mat differences_;
};
