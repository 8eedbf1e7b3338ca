#pragma once

#include <QRect>
#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class FrameSource;
class TextReader;

// Reads a source's frames for a text on a thread of its own: the newest
// frame once the reading before is done (at 30 frames a second most frames
// are skipped, never queued) — at once when the screen changed since the
// frame last read, else only after the watch has rested a few times as long
// as that reading took, and then read otherwise (TextReader::read's
// `again`) — until one holds the text waited for; with no text waited for,
// until one frame has been read. Only frames that come after the watch
// started are read. A reading in progress is cut when the watch ends or its
// time is up, and when a newer frame shows another screen (that frame is
// read at once; no two readings in a row are cut for a newer frame).
class TextWatch {
public:
    struct Progress {
        bool done = false;
        QString lastRead;
        // The height of its glyphs (pixels of the picture read; 0: no line).
        int glyphPixels = 0;
        qint64 readings = 0;
        // The text cannot be read at all (or not in the region given).
        QString error;
        // The part of the region read, when only part of it lies inside the
        // frame.
        QRect regionRead;
    };

    // `reader` (opened) is used by this watch alone while it runs; `onDone`
    // is called on the watch's thread when the watch is done or cannot go
    // on. No reading goes on past `seconds` from now.
    TextWatch(const FrameSource &source, std::shared_ptr<TextReader> reader, const QString &wanted,
              const QRect &region, double seconds, std::function<void()> onDone = {});
    // A watch that cannot read: done at once with `error`.
    explicit TextWatch(const QString &error);
    ~TextWatch();
    TextWatch(const TextWatch &) = delete;
    TextWatch &operator=(const TextWatch &) = delete;

    Progress progress() const;

private:
    void run(const FrameSource &source);

    std::shared_ptr<TextReader> reader_;
    const QString wanted_;
    const QRect region_;
    const std::chrono::steady_clock::time_point deadline_;
    std::function<void()> onDone_;
    mutable std::mutex mutex_;
    Progress progress_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};
