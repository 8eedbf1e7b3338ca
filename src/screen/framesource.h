#pragma once

#include "screen/sourceaddress.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <memory>
#include <opencv2/core/mat.hpp>

// One frame as a source delivered it: the picture (8-bit BGR), its number
// counted from 1 since the source opened, and when it came (the process's
// steady clock, screenClockMs()).
struct Frame {
    cv::Mat image;
    qint64 number = 0;
    double atMs = 0;

    bool isEmpty() const { return image.empty(); }
};

// Milliseconds on a steady clock shared by every source and watch.
double screenClockMs();

// What a source has done so far.
struct SourceStatus {
    qint64 framesSeen = 0;
    qint64 framesUndecodable = 0;
    // When the last frame came: steady clock (negative when none yet) and
    // wall clock, for messages.
    double lastFrameMs = -1;
    QDateTime lastFrameTime;
    // The stream ended or the camera went away; endReason says how.
    bool ended = false;
    QString endReason;
    // A stream that ended and was opened again: how often, and why it
    // ended the last time.
    qint64 reopened = 0;
    QString reopenedAfter;
};

// Every kind of picture input behind one interface: cameras, streams, video
// files, still images. A source reads on a thread of its own and keeps only
// the newest frame, so a consumer that falls behind skips to the newest and
// never works through a backlog. Nothing here blocks for long: the calls
// only take the newest frame and the counts.
class FrameSource {
public:
    struct State;

    virtual ~FrameSource();
    FrameSource(const FrameSource &) = delete;
    FrameSource &operator=(const FrameSource &) = delete;

    // The source as the user wrote it, a password in it shown as ***.
    QString name() const;
    // Opens the source and starts reading; false and errorText() (naming
    // the source and the system's reason) when it cannot be opened.
    virtual bool start() = 0;
    QString errorText() const { return errorText_; }
    // Asks a start() in progress on another thread to give up (a stream
    // whose server does not answer is let go within a tenth of a second),
    // and the reader to end. Safe from any thread.
    void cancel();

    // The newest frame (empty before the first).
    Frame newest() const;
    // Frame `number` while the source still keeps it (the newest and the
    // one before it), else an empty frame.
    Frame kept(qint64 number) const;
    // The first frame newer than `afterNumber`, waiting at most `timeoutMs`
    // for it (an empty frame when none came or the source ended). For
    // threads other than the user interface's.
    Frame waitNewer(qint64 afterNumber, int timeoutMs) const;
    SourceStatus status() const;
    // Before a wait: a stream that has ended is opened again at once (it is
    // tried again every few seconds anyway); until that attempt fails the
    // source does not count as ended.
    void resume();

protected:
    explicit FrameSource(const QString &name);
    // For a source made of another's frames: a frame of its own (taken at
    // `atMs` on the steady clock), and whether the end of its reading was
    // asked for (cancel()).
    void publishFrame(const cv::Mat &image, double atMs);
    bool isStopping() const;
    std::shared_ptr<State> state_;
    QString errorText_;
};

// Makes the source that `address` names; start() opens it.
std::unique_ptr<FrameSource> makeFrameSource(const SourceAddress &address);
