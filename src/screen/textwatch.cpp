#include "screen/textwatch.h"

#include "screen/framesource.h"
#include "screen/textcompare.h"
#include "screen/textreader.h"

#include "screen/matcher.h"

#include <algorithm>
#include <chrono>
#include <opencv2/imgproc.hpp>

namespace {
// How long the watch waits for a frame before it looks whether it should end.
constexpr int kFrameWaitMs = 50;
// A screen that has not changed since it was last read is read again (with
// the camera's new noise, and its lines at another glyph height, which may
// read better) only after the watch has rested this many times the last
// reading's time: a wait for a text that does not come costs a fraction of
// a core, the decoding of the stream aside. A screen that changed is read
// at once: the text waited for comes with a change.
constexpr double kRestShare = 4.0;
// The screen changed when a part of its small picture (one pixel for 8x8 of
// the frame's, which sets a camera's noise aside) moved by more than this
// many gray levels beyond the whole picture's drift in brightness.
constexpr double kChangedGray = 12.0;
constexpr int kThumbnailStep = 8;

// The small picture of `area` in `frame` that tells a change.
cv::Mat thumbnail(const cv::Mat &frame, const QRect &area)
{
    cv::Mat small;
    cv::resize(toGray(frame(cv::Rect(area.x(), area.y(), area.width(), area.height()))), small,
               cv::Size(std::max(1, area.width() / kThumbnailStep), std::max(1, area.height() / kThumbnailStep)), 0, 0,
               cv::INTER_AREA);
    small.convertTo(small, CV_32F);
    return small;
}

bool changed(const cv::Mat &before, const cv::Mat &now)
{
    if (before.empty() || before.size() != now.size())
        return true;
    cv::Mat difference = now - before;
    difference -= cv::mean(difference);
    double most = 0;
    cv::minMaxLoc(cv::abs(difference), nullptr, &most);
    return most > kChangedGray;
}
} // namespace

TextWatch::TextWatch(const FrameSource &source, std::shared_ptr<TextReader> reader, const QString &wanted,
                     const QRect &region, double seconds, std::function<void()> onDone)
    : reader_(std::move(reader)), wanted_(wanted), region_(region),
      deadline_(std::chrono::steady_clock::now() +
                std::chrono::milliseconds(static_cast<qint64>(std::clamp(seconds, 0.0, 1e9) * 1000.0))),
      onDone_(std::move(onDone))
{
    thread_ = std::thread([this, &source] { run(source); });
}

TextWatch::TextWatch(const QString &error)
{
    progress_.error = error;
}

TextWatch::~TextWatch()
{
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
}

TextWatch::Progress TextWatch::progress() const
{
    std::lock_guard lock(mutex_);
    return progress_;
}

void TextWatch::run(const FrameSource &source)
{
    // Only frames that come after the watch started can show what it waits
    // for (the run starts it once the keys before it have reached the
    // handset); a single reading too takes the first frame that comes.
    qint64 seen = source.newest().number;
    // The small picture of the frame being read, the newest frame looked at
    // while reading it, whether the reading before was cut, and whether
    // this one is. A newer frame that shows another screen cuts the reading
    // short (that frame is read at once instead): a reading takes up to a
    // frame interval or more, and the text waited for comes with a change.
    // No two readings in a row are cut so: a screen that changes all the
    // time is still read.
    cv::Mat readingSmall;
    qint64 lookedAt = 0;
    bool cutBefore = false;
    bool cutForNewer = false;
    TextReader::Limit limit;
    limit.cancelled = [&] {
        if (stopping_)
            return true;
        if (cutBefore || cutForNewer)
            return cutForNewer;
        const Frame newer = source.newest();
        if (newer.isEmpty() || newer.number <= lookedAt)
            return false;
        lookedAt = newer.number;
        const QRect area = TextReader::areaRead(QSize(newer.image.cols, newer.image.rows), region_);
        cutForNewer = !area.isEmpty() && changed(readingSmall, thumbnail(newer.image, area));
        return cutForNewer;
    };
    limit.deadline = deadline_;
    // The small picture of the frame last read, and when an unchanged
    // screen may be read again.
    cv::Mat lastRead;
    auto restUntil = std::chrono::steady_clock::now();
    // How many times the screen was read since it last changed.
    int again = 0;
    while (!stopping_ && std::chrono::steady_clock::now() < deadline_) {
        const Frame frame = source.waitNewer(seen, kFrameWaitMs);
        if (frame.isEmpty())
            continue;
        seen = frame.number;
        // A region outside the frame can never be read: the wait fails at
        // once, as for a template larger than the frame.
        bool partly = false;
        const QString problem = TextReader::regionProblem(QSize(frame.image.cols, frame.image.rows), region_, &partly);
        if (!partly && !problem.isEmpty()) {
            {
                std::lock_guard lock(mutex_);
                progress_.error = problem;
            }
            if (onDone_)
                onDone_();
            return;
        }
        const QRect area = TextReader::areaRead(QSize(frame.image.cols, frame.image.rows), region_);
        cv::Mat small = thumbnail(frame.image, area);
        const bool fresh = changed(lastRead, small);
        if (!fresh && std::chrono::steady_clock::now() < restUntil)
            continue;
        again = fresh ? 0 : again + 1;
        const auto began = std::chrono::steady_clock::now();
        int glyphPixels = 0;
        readingSmall = small;
        lookedAt = frame.number;
        cutForNewer = false;
        const std::optional<QString> reading = reader_->read(frame.image, region_, limit, again, &glyphPixels);
        if (!reading) {
            if (!cutForNewer || stopping_)
                return; // cut short: the watch ends
            cutBefore = true;
            continue; // the newer frame is read next
        }
        cutBefore = false;
        const QString &read = *reading;
        const auto now = std::chrono::steady_clock::now();
        restUntil = now + std::chrono::duration_cast<std::chrono::steady_clock::duration>((now - began) * kRestShare);
        lastRead = std::move(small);
        const bool done = wanted_.isEmpty() || screenTextContains(read, wanted_);
        {
            std::lock_guard lock(mutex_);
            progress_.lastRead = read;
            progress_.glyphPixels = glyphPixels;
            ++progress_.readings;
            if (partly)
                progress_.regionRead = area;
            progress_.done = done;
        }
        if (done) {
            if (onDone_)
                onDone_();
            return;
        }
    }
}
