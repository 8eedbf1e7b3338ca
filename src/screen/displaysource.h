#pragma once

#include "screen/displayfinder.h"
#include "screen/framechange.h"
#include "screen/framesource.h"

#include <QList>
#include <QPointF>
#include <mutex>
#include <thread>

// The handset's display within another source's frames, upright, as a
// source of its own: each frame that comes is looked at on a thread of this
// source's (the display found and followed, or at the corners given) and
// its upright picture published under the frame's own time; a frame in
// which no display is found is published as it is, and one that has not
// changed since a search found none there is not searched again. The waits and readings
// watch this source, so that what they see and the places they give are
// the display's.
class DisplaySource : public FrameSource {
public:
    // `frames` must outlive this source.
    DisplaySource(const FrameSource &frames, const DisplayArea &area);
    ~DisplaySource() override;

    bool start() override { return true; }

    // The display's outline in the frame it was last looked for in (empty
    // when that frame was used as it is), and that frame's number.
    QList<QPointF> outline(qint64 *frameNumber = nullptr) const;
    // Milliseconds the newest frame took to look at and make upright.
    double lastCostMs() const;
    // How many of the frame's pixels one pixel of the newest upright picture
    // spans down the display (below 1 where the upright picture is finer
    // than the camera sees the display: a resolution given larger than the
    // display's size in the frame); 0 when the frame is used as it is.
    double framePixelsPerUpright() const;

private:
    void run();

    const FrameSource &frames_;
    DisplayFinder finder_;
    // The frame a search last found no display in.
    FrameChange searchedInVain_;
    mutable std::mutex mutex_;
    QList<QPointF> outline_;
    qint64 outlineFrame_ = 0;
    double lastCostMs_ = 0;
    double framePixelsPerUpright_ = 0;
    std::thread thread_;
};
