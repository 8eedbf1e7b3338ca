#pragma once

#include <opencv2/core/mat.hpp>
#include <opencv2/core/matx.hpp>

// A frame resampled through a perspective transform into a picture of its
// own (the handset's display made upright): bilinear, the frame's edge
// repeated beyond it, to the levels cv::remap gives, and where the
// processor has SSSE3 about twice as fast. Where each pixel comes from
// (cv::remap's fixed-point maps) is worked out again only when the
// transform or the size changed: a display that stays where it was costs
// only the resampling, one that moved about a third more.
class UprightWarp {
public:
    // `frame` (8-bit, BGR) resampled to a picture of `size`, each of whose
    // pixels `toFrame` takes to its place in the frame.
    cv::Mat warp(const cv::Mat &frame, const cv::Matx33d &toFrame, cv::Size size);

private:
    void mapFrom(const cv::Matx33d &back, cv::Size size);

    cv::Matx33d mapped_ = cv::Matx33d::zeros();
    cv::Size mappedSize_;
    cv::Mat mapXY_, mapFraction_;
};
