#pragma once

#include <QtGlobal>
#include <algorithm>
#include <cmath>
#include <limits>

// The serial line's timing: 600 baud, and 11 bit times a byte (start bit,
// 8 data bits, parity bit, stop bit), so a byte takes about 18.3 ms and a
// ten-byte packet about 183 ms. Everything that reasons about line time
// (the sending queue's bound, the checker's estimates, the virtual
// handset's pace) takes it from here.
namespace LineTiming {

constexpr qint32 kBaudRate = 600;
constexpr int kBitsPerByte = 11;
constexpr double kByteMs = kBitsPerByte * 1000.0 / kBaudRate;

// The longest the bytes written but not yet on the line may grow: about
// 10 s of line time. A typical address typed by STRING or SENDSTR fits, so
// it still goes out without the sender waiting.
constexpr qint64 kQueueBoundBytes = 512;

// The time `bytes` bytes take on the line, in milliseconds.
constexpr double lineMs(qint64 bytes)
{
    return static_cast<double>(bytes) * kByteMs;
}

} // namespace LineTiming

// When bytes handed to the line will have crossed it: each takes one byte
// time, and bytes handed over while the line is still busy with earlier
// ones queue behind them. The sending queue's bound and the virtual
// handset's "line done" times both count this way.
class LineClock {
public:
    // `count` bytes were handed over at `atMs`; returns when their last bit
    // has crossed the line.
    double add(double atMs, qint64 count)
    {
        busyUntilMs_ = std::max(busyUntilMs_, atMs) + LineTiming::lineMs(count);
        return busyUntilMs_;
    }

    // `count` bytes are known still to wait at `atMs`: the line is busy at
    // least until they have crossed it.
    void holdAtLeast(double atMs, qint64 count)
    {
        busyUntilMs_ = std::max(busyUntilMs_, atMs + LineTiming::lineMs(count));
    }

    // When the last byte handed over will have crossed the line (minus
    // infinity before the first).
    double busyUntilMs() const { return busyUntilMs_; }

    // The bytes not yet across at `nowMs`.
    qint64 bytesOnLine(double nowMs) const
    {
        const double left = (busyUntilMs_ - nowMs) / LineTiming::kByteMs;
        return left > 0 ? static_cast<qint64>(std::ceil(left)) : 0;
    }

private:
    double busyUntilMs_ = -std::numeric_limits<double>::infinity();
};
