#pragma once

#include <QPointF>
#include <algorithm>
#include <array>
#include <cmath>
#include <opencv2/core/types.hpp>
#include <vector>

// How far the farthest of a display's four corners, as found, lies from
// where they truly are (frame pixels; top-left, top-right, bottom-right,
// bottom-left alike in both).
inline double cornerError(const std::array<cv::Point2f, 4> &found, const std::array<QPointF, 4> &truth)
{
    double worst = 0;
    for (size_t i = 0; i < 4; ++i)
        worst = std::max(worst, std::hypot(found[i].x - truth[i].x(), found[i].y - truth[i].y()));
    return worst;
}

inline double cornerError(const std::array<cv::Point2f, 4> &found, const std::vector<cv::Point2f> &truth)
{
    std::array<QPointF, 4> corners;
    for (size_t i = 0; i < 4; ++i)
        corners[i] = QPointF(truth[i].x, truth[i].y);
    return cornerError(found, corners);
}
