#pragma once

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

// A frame as busy as a camera's 1080p picture of a page of print in many
// sizes: one reading of it takes the recogniser some 15 s. No font needed.
inline cv::Mat busyPage()
{
    cv::Mat page(1080, 1920, CV_8UC3, cv::Scalar::all(235));
    cv::RNG rng(29);
    for (int y = 18; y < page.rows;) {
        const double scale = rng.uniform(0.8, 2.5);
        std::string line;
        for (int i = 0; i < 160; ++i)
            line += static_cast<char>(rng.uniform(0, 6) == 0 ? ' ' : 'A' + rng.uniform(0, 26));
        cv::putText(page, line, cv::Point(4, y), cv::FONT_HERSHEY_PLAIN, scale, cv::Scalar::all(20), 1);
        y += int(18 * scale) + 4;
    }
    return page;
}
