#pragma once

#include <QRect>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class FrameSource;
class TextReader;

// Reads a source's frames for a text on a thread of its own: the newest
// frame once the reading before is done and the watch has rested as long
// as that reading took (reading takes tens of milliseconds for a QVGA
// frame, about a tenth of a second for 720p: at 30 frames a second most
// frames are skipped, never queued), until one holds the text waited for;
// with no text waited for, until one frame has been read.
class TextWatch {
public:
    struct Progress {
        bool done = false;
        QString lastRead;
        qint64 readings = 0;
        // The text cannot be read at all.
        QString error;
    };

    // `reader` (opened) is used by this watch alone while it runs; `onDone`
    // is called on the watch's thread when the watch is done.
    TextWatch(const FrameSource &source, std::shared_ptr<TextReader> reader, const QString &wanted,
              const QRect &region, std::function<void()> onDone = {});
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
    std::function<void()> onDone_;
    mutable std::mutex mutex_;
    Progress progress_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};
