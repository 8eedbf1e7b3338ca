#include "linespeedreader.h"

#include "platform/linetiming.h"
#include "pseudoterminal.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <algorithm>
#include <chrono>
#include <poll.h>
#include <unistd.h>

LineSpeedReader::LineSpeedReader(const PseudoTerminal &pty) : thread_([this, fd = pty.masterFd()] { run(fd); })
{
}

LineSpeedReader::~LineSpeedReader()
{
    stop();
}

void LineSpeedReader::stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

double LineSpeedReader::nowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

void LineSpeedReader::run(int fd)
{
    // Like the virtual handset: bytes waiting on an idle line start across
    // it when they are seen; each takes one byte time.
    double lineFreeAt = 0;
    while (!stop_) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN))
            continue;
        lineFreeAt = std::max(lineFreeAt, nowMs());
        for (;;) {
            const double due = lineFreeAt + LineTiming::kByteMs;
            std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(std::max(0.0, due - nowMs())));
            const auto wanted = std::max<qint64>(1, static_cast<qint64>((nowMs() - lineFreeAt) / LineTiming::kByteMs));
            char buffer[256];
            const ssize_t n = ::read(fd, buffer, static_cast<size_t>(std::min<qint64>(wanted, sizeof buffer)));
            if (n <= 0)
                break;
            lineFreeAt += static_cast<double>(n) * LineTiming::kByteMs;
            const std::lock_guard lock(mutex_);
            for (ssize_t i = 0; i < n; ++i) {
                bytes_.append(buffer[i]);
                times_.append(lineFreeAt - static_cast<double>(n - 1 - i) * LineTiming::kByteMs);
            }
            if (n < wanted || stop_)
                break;
        }
    }
}

QByteArray LineSpeedReader::bytes() const
{
    const std::lock_guard lock(mutex_);
    return bytes_;
}

QList<double> LineSpeedReader::times() const
{
    const std::lock_guard lock(mutex_);
    return times_;
}

bool LineSpeedReader::waitFor(qsizetype count, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    while (bytes().size() < count) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void LineSpeedReader::waitForQuiet(int quietMs, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    qsizetype seen = -1;
    QDeadlineTimer quiet(quietMs);
    while (!deadline.hasExpired()) {
        const qsizetype now = bytes().size();
        if (now != seen) {
            seen = now;
            quiet.setRemainingTime(quietMs);
        } else if (quiet.hasExpired()) {
            return;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
