#include "screen/framechange.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <opencv2/imgproc.hpp>

cv::Mat FrameChange::reduced(const cv::Mat &frame)
{
    // Halved twice: at exactly half the size a linear resize takes the mean
    // of each 2×2 pixels, three times as fast as the area's own resize.
    cv::Mat half, small;
    cv::resize(frame, half, cv::Size(std::max(1, frame.cols / 2), std::max(1, frame.rows / 2)), 0, 0, cv::INTER_LINEAR);
    cv::resize(half, small, cv::Size(std::max(1, half.cols / 2), std::max(1, half.rows / 2)), 0, 0, cv::INTER_LINEAR);
    if (small.channels() == 3)
        cv::cvtColor(small, small, cv::COLOR_BGR2GRAY);
    else if (small.channels() == 4)
        cv::cvtColor(small, small, cv::COLOR_BGRA2GRAY);
    return small;
}

void FrameChange::keep(const cv::Mat &frame)
{
    if (frame.empty()) {
        forget();
        return;
    }
    kept_ = reduced(frame);
    size_ = frame.size();
}

void FrameChange::keepCompared()
{
    // Compared with nothing kept, or with a frame of another size: reduced
    // only now.
    if (compared_.empty()) {
        keep(comparedFrame_);
        return;
    }
    kept_ = compared_;
    size_ = comparedFrame_.size();
}

double FrameChange::difference(const cv::Mat &frame)
{
    comparedFrame_ = frame;
    compared_.release();
    differences_.release();
    if (kept_.empty() || frame.empty() || frame.size() != size_)
        return std::numeric_limits<double>::infinity();
    compared_ = reduced(frame);
    const cv::Mat &small = compared_;
    if (small.type() != kept_.type())
        return std::numeric_limits<double>::infinity();
    cv::Mat diff;
    cv::subtract(small, kept_, diff, cv::noArray(), CV_16S);
    // The median difference, from a histogram of -255..255.
    int histogram[511] = {};
    for (int y = 0; y < diff.rows; ++y) {
        const short *row = diff.ptr<short>(y);
        for (int x = 0; x < diff.cols; ++x)
            ++histogram[row[x] + 255];
    }
    const int half = int(diff.total() / 2);
    int median = 0;
    for (int seen = 0; median < 510 && (seen += histogram[median]) <= half; ++median) {
    }
    diff.convertTo(differences_, CV_16S, 1, 255 - median);
    double lowest = 0, highest = 0;
    cv::minMaxLoc(differences_, &lowest, &highest);
    return std::max(highest, -lowest);
}

double FrameChange::differenceWithin(const cv::Rect &area) const
{
    if (differences_.empty())
        return std::numeric_limits<double>::infinity();
    // In blocks: every block the area touches.
    const double scaleX = double(differences_.cols) / comparedFrame_.cols, scaleY = double(differences_.rows) / comparedFrame_.rows;
    const cv::Rect blocks = cv::Rect(cv::Point(int(std::floor(area.x * scaleX)), int(std::floor(area.y * scaleY))),
                                     cv::Point(int(std::ceil(area.br().x * scaleX)), int(std::ceil(area.br().y * scaleY)))) &
                            cv::Rect(0, 0, differences_.cols, differences_.rows);
    if (blocks.empty())
        return 0;
    double lowest = 0, highest = 0;
    cv::minMaxLoc(differences_(blocks), &lowest, &highest);
    return std::max(highest, -lowest);
}
