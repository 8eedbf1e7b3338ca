#include "screen/textwatch.h"

#include "screen/framesource.h"
#include "screen/textcompare.h"
#include "screen/textreader.h"

#include <algorithm>
#include <chrono>

namespace {
// How long the watch waits for a frame before it looks whether it should end.
constexpr int kFrameWaitMs = 50;
// After each reading the watch rests this share of the reading's time: the
// reading and the source's own decoding stay within one core of a 2-core
// machine, and the windows keep the other. Measured on a 30 fps 720p
// stream: resting half the reading's time, a wait used 116 % of a core (a
// busy 720p picture takes up to half a second to read, decoding the stream
// about a third of a core).
constexpr double kRestShare = 1.0;
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
    TextReader::Limit limit;
    limit.cancelled = [this] { return stopping_.load(); };
    limit.deadline = deadline_;
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
        const auto began = std::chrono::steady_clock::now();
        const std::optional<QString> reading = reader_->read(frame.image, region_, limit);
        if (!reading)
            return; // cut short: the watch ends
        const QString &read = *reading;
        const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(
            (std::chrono::steady_clock::now() - began) * kRestShare);
        const bool done = wanted_.isEmpty() || screenTextContains(read, wanted_);
        {
            std::lock_guard lock(mutex_);
            progress_.lastRead = read;
            ++progress_.readings;
            if (partly)
                progress_.regionRead = TextReader::areaRead(QSize(frame.image.cols, frame.image.rows), region_);
            progress_.done = done;
        }
        if (done) {
            if (onDone_)
                onDone_();
            return;
        }
        const auto until = std::chrono::steady_clock::now() + rest;
        while (!stopping_ && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(rest, std::chrono::milliseconds(kFrameWaitMs)));
    }
}
