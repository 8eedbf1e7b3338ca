#include "screen/displaysource.h"

namespace {
// How long the thread waits for a frame before it looks whether it should end.
constexpr int kFrameWaitMs = 50;
} // namespace

DisplaySource::DisplaySource(const FrameSource &frames, const DisplayArea &area)
    : FrameSource(frames.name()), frames_(frames), finder_(area)
{
    thread_ = std::thread([this] { run(); });
}

DisplaySource::~DisplaySource()
{
    cancel();
    thread_.join();
}

QList<QPointF> DisplaySource::outline(qint64 *frameNumber) const
{
    std::lock_guard lock(mutex_);
    if (frameNumber)
        *frameNumber = outlineFrame_;
    return outline_;
}

double DisplaySource::lastCostMs() const
{
    std::lock_guard lock(mutex_);
    return lastCostMs_;
}

double DisplaySource::framePixelsPerUpright() const
{
    std::lock_guard lock(mutex_);
    return framePixelsPerUpright_;
}

void DisplaySource::run()
{
    // The newest frame now is looked at too: the display is known before
    // the next one comes.
    qint64 seen = 0;
    while (!isStopping()) {
        const Frame frame = frames_.waitNewer(seen, kFrameWaitMs);
        if (frame.isEmpty())
            continue;
        seen = frame.number;
        const double start = screenClockMs();
        // A display does not come into a frame that has not changed since
        // one searched in vain (a screen capture, a desk without a handset).
        const bool unchanged = finder_.area().mode == DisplayArea::Mode::Found &&
                               !searchedInVain_.differs(frame.image);
        const qint64 searches = finder_.searches();
        const std::optional<DisplayCorners> corners = unchanged ? std::nullopt : finder_.locate(frame.image);
        if (corners)
            searchedInVain_.forget();
        else if (finder_.searches() > searches)
            searchedInVain_.keepCompared();
        cv::Mat upright = corners ? finder_.rectify(frame.image, *corners) : cv::Mat();
        if (upright.empty())
            upright = frame.image;
        {
            std::lock_guard lock(mutex_);
            const bool madeUpright = corners && upright.data != frame.image.data;
            outline_ = madeUpright ? outlineOf(*corners) : QList<QPointF>();
            // Down the display: its left and right sides, top to bottom.
            framePixelsPerUpright_ = madeUpright ? (cv::norm((*corners)[3] - (*corners)[0]) + cv::norm((*corners)[2] - (*corners)[1])) /
                                                       (2.0 * upright.rows)
                                                 : 0.0;
            outlineFrame_ = frame.number;
            lastCostMs_ = screenClockMs() - start;
        }
        publishFrame(upright, frame.atMs);
    }
}
