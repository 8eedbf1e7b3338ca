#pragma once

#include <QByteArray>
#include <QList>

// The parts of a multipart/x-mixed-replace stream (MJPEG over HTTP), split
// from its bytes as they come: a part's Content-Length when it has one,
// otherwise up to the next boundary. A stray line between parts, a part
// header too long, a length beyond any picture are malformed parts, and
// splitting goes on at the next boundary. Nothing here waits or reads:
// MjpegHttpReader feeds it what the connection gives.
class MjpegPartSplitter {
public:
    enum class Result { Picture, Malformed, NeedMore };

    // `boundary` as the stream's header declares it (dashes in front or not).
    explicit MjpegPartSplitter(const QByteArray &boundary);

    void feed(const QByteArray &bytes) { buffer_ += bytes; }
    // The next part: Picture and its bytes, Malformed (skipped), or
    // NeedMore until more bytes are fed.
    Result take(QByteArray *picture);
    // Bytes kept for parts not whole yet (bounded: a part too long is
    // dropped as malformed).
    qsizetype buffered() const { return buffer_.size(); }

private:
    QByteArray buffer_;
    QByteArray delimiter_;
    bool stray_ = false;
};

// An HTTP header's end (after its blank line) in `bytes`, or -1 while it
// has not come; its lines, trimmed; the value of the field `name` (lower
// case) among them.
qsizetype httpHeaderEnd(const QByteArray &bytes);
QList<QByteArray> httpHeaderLines(const QByteArray &header);
QByteArray httpHeaderValue(const QList<QByteArray> &lines, const QByteArray &name);

// A header or a part's header longer than this is none; a part longer
// than this is no picture.
constexpr qsizetype kLongestHttpHeader = 16 * 1024;
constexpr qsizetype kLongestStreamPart = 64 * 1024 * 1024;
