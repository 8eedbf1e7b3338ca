#pragma once

#include <QtGlobal>

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
