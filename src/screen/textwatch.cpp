#include "screen/textwatch.h"

#include "screen/framesource.h"
#include "screen/textcompare.h"
#include "screen/textreader.h"

namespace {
// How long the watch waits for a frame before it looks whether it should end.
constexpr int kFrameWaitMs = 50;
} // namespace

TextWatch::TextWatch(const FrameSource &source, std::shared_ptr<TextReader> reader, const QString &wanted,
                     const QRect &region, std::function<void()> onDone)
    : reader_(std::move(reader)), wanted_(wanted), region_(region), onDone_(std::move(onDone))
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
    // for; a single reading takes the newest frame there is.
    const qint64 newest = source.newest().number;
    qint64 seen = wanted_.isEmpty() && newest > 0 ? newest - 1 : newest;
    while (!stopping_) {
        const Frame frame = source.waitNewer(seen, kFrameWaitMs);
        if (frame.isEmpty())
            continue;
        seen = frame.number;
        const QString read = reader_->read(frame.image, region_);
        const bool done = wanted_.isEmpty() || screenTextContains(read, wanted_);
        {
            std::lock_guard lock(mutex_);
            progress_.lastRead = read;
            ++progress_.readings;
            progress_.done = done;
        }
        if (done) {
            if (onDone_)
                onDone_();
            return;
        }
    }
}
