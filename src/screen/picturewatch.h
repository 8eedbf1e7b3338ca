#pragma once

#include "screen/framesource.h"
#include "screen/matcher.h"

#include <QSize>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// Watches a source's frames for one template on a thread of its own: each
// frame the matcher gets to is looked at (the newest one whenever it falls
// behind), and the watch is done when the picture is seen (similarity at
// least `level`) or, watching for it to go, when it is not seen in two
// frames in a row, or in one that changed, beyond a camera's noise, where
// it was seen. Watching it go, the newest frame at the start and the one
// before it are looked at first: a wait that starts just after the key
// that took the picture away ends on the frame that already shows it gone,
// when the one before still showed it. A frame that shows nothing new
// since the one last searched (FrameChange), once every pose has been
// tried on that picture, keeps that search's result rather than being
// searched again: a display that stays as it was neither begins to show
// the picture nor stops showing it. A frame is searched at least once a
// second all the same.
class PictureWatch {
public:
    enum class Goal { Appear, Gone };

    struct Progress {
        bool done = false;
        // The template is larger than the frames.
        bool tooLarge = false;
        QSize frameSize;
        // The highest similarity seen in any frame, and where.
        MatchResult best;
        // The newest frame's.
        MatchResult last;
        // Frames looked at, and of those the ones searched (the rest had
        // not changed since the one searched before).
        qint64 framesMatched = 0;
        qint64 framesSearched = 0;
        // The number of the frame that ended the watch.
        qint64 doneFrame = 0;
    };

    // `onDone` is called on the watch's thread when the watch is done.
    PictureWatch(const FrameSource &source, std::shared_ptr<const TemplateMatcher> matcher, double level, Goal goal,
                 std::function<void()> onDone = {});
    ~PictureWatch();
    PictureWatch(const PictureWatch &) = delete;
    PictureWatch &operator=(const PictureWatch &) = delete;

    Progress progress() const;

private:
    void run();

    const FrameSource &source_;
    std::shared_ptr<const TemplateMatcher> matcher_;
    const double level_;
    const Goal goal_;
    std::function<void()> onDone_;
    const qint64 startFrame_;
    // Watching a picture go: the frame before the newest at the start,
    // until the watch's thread takes it.
    Frame before_;
    mutable std::mutex mutex_;
    Progress progress_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};
