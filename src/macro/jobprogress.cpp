#include "macro/jobprogress.h"

#include "macro/passtiming.h"

#include <algorithm>

JobProgress::JobProgress(qint64 counter, std::optional<qint64> endCounter, std::optional<double> passesBefore)
    : startCounter_(counter), passesBefore_(passesBefore.value_or(double(std::max<qint64>(0, counter)))),
      counter_(counter), endCounter_(endCounter)
{
}

void JobProgress::passCompleted(qint64 counter, double durationMs, qint64 packets, double atMs)
{
    counter_ = counter;
    ++passes_;
    totalMs_ += durationMs;
    packets_ += packets;
    lastAtMs_ = atMs;
}

std::optional<double> JobProgress::shareDone() const
{
    if (!endCounter_)
        return std::nullopt;
    const double whole = passesBefore_ + double(*endCounter_ - startCounter_);
    if (whole <= 0)
        return std::nullopt;
    return std::clamp((passesBefore_ + double(counter_ - startCounter_)) / whole, 0.0, 1.0);
}

std::optional<double> JobProgress::passMs() const
{
    if (passes_ == 0)
        return std::nullopt;
    const double measured = totalMs_ / double(passes_);
    const double line = double(packets_) / double(passes_) * kPacketWireSeconds * 1000.0;
    return std::max(measured, line) / handsets_;
}

std::optional<double> JobProgress::endsAtMs() const
{
    const std::optional<double> pass = passMs();
    if (!pass || !endCounter_)
        return std::nullopt;
    const qint64 left = std::max<qint64>(0, *endCounter_ - counter_);
    return lastAtMs_ + double(left) * *pass;
}
