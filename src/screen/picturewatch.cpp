#include "screen/picturewatch.h"

#include "screen/framesource.h"

namespace {
// How long the watch waits for a frame before it looks whether it should end.
constexpr int kFrameWaitMs = 50;
// Frames in a row without the picture before it counts as gone.
constexpr int kGoneFrames = 2;
// Poses (the template scaled or turned, as a camera that moved shows it)
// tried in a frame besides the one that was best before: one more a frame,
// in turn, so that a wait costs about two straight searches a frame and
// finds a moved camera's pose within about a second at 30 frames a second.
constexpr int kPosesTriedAFrame = 1;
} // namespace

PictureWatch::PictureWatch(const FrameSource &source, std::shared_ptr<const TemplateMatcher> matcher, double level,
                           Goal goal, std::function<void()> onDone)
    : source_(source), matcher_(std::move(matcher)), level_(level), goal_(goal), onDone_(std::move(onDone))
{
    thread_ = std::thread([this] { run(); });
}

PictureWatch::~PictureWatch()
{
    stopping_ = true;
    thread_.join();
}

PictureWatch::Progress PictureWatch::progress() const
{
    std::lock_guard lock(mutex_);
    return progress_;
}

void PictureWatch::run()
{
    // Only frames that come after the watch started can show what it waits
    // for: the newest one now may have been taken before.
    qint64 seen = source_.newest().number;
    int goneInARow = 0;
    TemplateMatcher::PoseSearch poses;
    while (!stopping_) {
        const Frame frame = source_.waitNewer(seen, kFrameWaitMs);
        if (frame.isEmpty())
            continue;
        seen = frame.number;
        const QSize size(frame.image.cols, frame.image.rows);
        if (!matcher_->fitsIn(frame.image)) {
            std::lock_guard lock(mutex_);
            progress_.tooLarge = true;
            progress_.frameSize = size;
            continue;
        }
        const MatchResult result = matcher_->match(frame.image, level_, &poses, kPosesTriedAFrame);
        goneInARow = result.similarity < level_ ? goneInARow + 1 : 0;
        const bool done = goal_ == Goal::Appear ? result.similarity >= level_ : goneInARow >= kGoneFrames;
        {
            std::lock_guard lock(mutex_);
            progress_.tooLarge = false;
            progress_.frameSize = size;
            progress_.last = result;
            if (result.similarity > progress_.best.similarity)
                progress_.best = result;
            ++progress_.framesMatched;
            if (done) {
                progress_.done = true;
                progress_.doneFrame = frame.number;
            }
        }
        if (done) {
            if (onDone_)
                onDone_();
            return;
        }
    }
}
