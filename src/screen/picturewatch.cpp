#include "screen/picturewatch.h"

#include "screen/framechange.h"
#include "screen/framesource.h"

#include <algorithm>
#include <cmath>
#include <utility>

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
// A frame is searched at least this often, changed or not.
constexpr double kLongestUnsearchedMs = 1000;
} // namespace

PictureWatch::PictureWatch(const FrameSource &source, std::shared_ptr<const TemplateMatcher> matcher, double level,
                           Goal goal, std::function<void()> onDone)
    : source_(source), matcher_(std::move(matcher)), level_(level), goal_(goal), onDone_(std::move(onDone)),
      // Only frames that come after the watch started can show what it
      // waits for: the newest one now may have been taken before.
      startFrame_(source.newest().number),
      before_(goal == Goal::Gone ? source.kept(startFrame_ - 1) : Frame())
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
    // Watching a picture go, the newest frame at the start and the one
    // before it are looked at too: neither ends the watch alone (it takes
    // two frames without the picture, or one changed where it was seen).
    qint64 seen = goal_ == Goal::Gone ? std::max<qint64>(0, startFrame_ - 1) : startFrame_;
    Frame first = std::exchange(before_, Frame());
    int goneInARow = 0;
    TemplateMatcher::PoseSearch poses;
    // The frame last searched, and whether its picture has been searched in
    // every pose the matcher would try on it: only then does an unchanged
    // frame keep its result.
    FrameChange change;
    double searchedAtMs = 0;
    int searchesOfThePicture = 0;
    bool settled = false;
    MatchResult result;
    // Where the picture was seen in the frame searched before (empty when
    // it was not).
    cv::Rect seenAt;
    while (!stopping_) {
        const Frame frame = first.isEmpty() ? source_.waitNewer(seen, kFrameWaitMs) : std::exchange(first, Frame());
        if (frame.isEmpty())
            continue;
        seen = frame.number;
        const QSize size(frame.image.cols, frame.image.rows);
        if (!matcher_->fitsIn(frame.image)) {
            std::lock_guard lock(mutex_);
            progress_.tooLarge = true;
            progress_.frameSize = size;
            change.forget();
            continue;
        }
        // Only a result that leaves the watch going is kept: the frame that
        // ends it is always one searched.
        const bool changed = change.differs(frame.image);
        const bool going = goal_ == Goal::Appear ? result.similarity < level_ : result.similarity >= level_;
        if (settled && going && !changed && frame.atMs - searchedAtMs < kLongestUnsearchedMs) {
            std::lock_guard lock(mutex_);
            ++progress_.framesMatched;
            continue;
        }
        if (changed) {
            change.keepCompared();
            searchesOfThePicture = 0;
        }
        searchedAtMs = frame.atMs;
        const TemplateMatcher::PoseSearch before = poses;
        result = matcher_->match(frame.image, level_, &poses, kPosesTriedAFrame);
        // Settled when the picture was seen (its pose stands: the same frame
        // would be searched alike), when no other pose was tried (the
        // template is not likely there in any: the search stands as it
        // is), or every pose has been on this picture. (Seen again in the
        // straight pose after a near miss had been tried in another, an
        // unchanged frame was searched once more.)
        const bool otherPoseTried = poses.next != before.next || poses.remembered != before.remembered;
        settled = result.similarity >= level_ || !otherPoseTried || ++searchesOfThePicture >= matcher_->poseCount();
        goneInARow = result.similarity < level_ ? goneInARow + 1 : 0;
        // Not seen where the frame changed beyond the camera's noise at the
        // place it was seen: gone in this frame, not a dip of the noise that
        // the second frame is waited for. (A frame not compared, one of
        // another size, waits for the second.)
        const double changedThere = seenAt.empty() ? 0 : change.differenceWithin(seenAt);
        if (goal_ == Goal::Gone && goneInARow > 0 && std::isfinite(changedThere) && changedThere > FrameChange::kLevel)
            goneInARow = kGoneFrames;
        seenAt = result.similarity >= level_ ? cv::Rect(result.place.x(), result.place.y(), result.size.width(),
                                                        result.size.height())
                                             : cv::Rect();
        const bool done = goal_ == Goal::Appear ? result.similarity >= level_ : goneInARow >= kGoneFrames;
        {
            std::lock_guard lock(mutex_);
            progress_.tooLarge = false;
            progress_.frameSize = size;
            progress_.last = result;
            if (closerMatch(result, progress_.best))
                progress_.best = result;
            ++progress_.framesMatched;
            ++progress_.framesSearched;
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
