#include "screen/stillcut.h"

#include "screen/framechange.h"

#include <opencv2/core.hpp>

cv::Mat stillCut(const std::vector<cv::Mat> &pictures, const cv::Rect &area, int *averaged)
{
    if (averaged)
        *averaged = 0;
    if (pictures.empty() || area.empty() || (area & cv::Rect(0, 0, pictures.front().cols, pictures.front().rows)) != area)
        return {};
    const cv::Mat first = pictures.front()(area);
    // The comparison is of 4×4 blocks: a part smaller than two of them
    // either way is cut from the first picture alone.
    int taken = 1;
    cv::Mat sum;
    first.convertTo(sum, CV_32F);
    if (area.width >= 8 && area.height >= 8) {
        FrameChange change;
        change.keep(first);
        for (size_t i = 1; i < pictures.size(); ++i) {
            const cv::Mat &other = pictures[i];
            if (other.size() != pictures.front().size() || other.type() != first.type())
                break;
            const cv::Mat part = other(area);
            if (change.differs(part))
                break;
            cv::Mat more;
            part.convertTo(more, CV_32F);
            sum += more;
            ++taken;
        }
    }
    cv::Mat mean;
    sum.convertTo(mean, first.type(), 1.0 / taken);
    if (averaged)
        *averaged = taken;
    return mean;
}
