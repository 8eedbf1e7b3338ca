#pragma once

#include "platform/linetiming.h"

#include <QtGlobal>
#include <algorithm>
#include <limits>

// When bytes would finish arriving over the real line: at 600 baud with even
// parity a byte takes 11 bit times (about 18.3 ms), a packet 110 (about
// 183 ms). Bytes handed over while the line is still busy with earlier ones
// queue behind them.
class LineClock {
public:
    static constexpr double kByteMs = LineTiming::kByteMs;

    // `count` bytes arrived at `arrivalMs`; returns when their last bit has
    // crossed the line.
    double add(double arrivalMs, qsizetype count)
    {
        busyUntilMs_ = std::max(busyUntilMs_, arrivalMs) + static_cast<double>(count) * kByteMs;
        return busyUntilMs_;
    }

private:
    double busyUntilMs_ = -std::numeric_limits<double>::infinity();
};
