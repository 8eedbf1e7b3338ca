#include "screen/mjpegparts.h"

#include <algorithm>

namespace {

// Whether `bytes` between two parts are only line ends and dashes: a
// boundary declared with the dashes its lines begin with ("--b") is written
// as "--b" by some servers and "----b" by others.
bool onlySeparators(const QByteArray &bytes)
{
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return c == '-' || c == '\r' || c == '\n' || c == ' ' || c == '\t'; });
}

} // namespace

qsizetype httpHeaderEnd(const QByteArray &bytes)
{
    const qsizetype crlf = bytes.indexOf("\r\n\r\n");
    const qsizetype lf = bytes.indexOf("\n\n");
    if (crlf >= 0 && (lf < 0 || crlf < lf))
        return crlf + 4;
    return lf >= 0 ? lf + 2 : -1;
}

QList<QByteArray> httpHeaderLines(const QByteArray &header)
{
    QList<QByteArray> lines = header.split('\n');
    for (QByteArray &line : lines)
        line = line.trimmed();
    return lines;
}

QByteArray httpHeaderValue(const QList<QByteArray> &lines, const QByteArray &name)
{
    for (const QByteArray &line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

MjpegPartSplitter::MjpegPartSplitter(const QByteArray &boundary)
{
    QByteArray b = boundary;
    while (b.startsWith("--"))
        b.remove(0, 2);
    delimiter_ = "--" + b;
}

MjpegPartSplitter::Result MjpegPartSplitter::take(QByteArray *picture)
{
    const auto malformed = [this] {
        stray_ = false;
        return Result::Malformed;
    };
    const qsizetype at = buffer_.indexOf(delimiter_);
    if (at < 0) {
        // Keep what may be the start of a boundary; anything before it is
        // no part.
        const qsizetype keep = std::min<qsizetype>(buffer_.size(), delimiter_.size());
        stray_ = stray_ || !onlySeparators(buffer_.left(buffer_.size() - keep));
        buffer_.remove(0, buffer_.size() - keep);
        return Result::NeedMore;
    }
    stray_ = stray_ || !onlySeparators(buffer_.left(at));
    buffer_.remove(0, at);
    if (stray_)
        return malformed();
    // However the bytes came, a header too long is the same malformed part.
    const qsizetype end = httpHeaderEnd(buffer_.left(kLongestHttpHeader + 1));
    if (end < 0) {
        if (buffer_.size() <= kLongestHttpHeader)
            return Result::NeedMore;
        buffer_.remove(0, delimiter_.size());
        return malformed();
    }
    bool known = false;
    const qint64 length = httpHeaderValue(httpHeaderLines(buffer_.left(end)), "content-length").toLongLong(&known);
    if (known) {
        if (length < 0 || length > kLongestStreamPart) {
            buffer_.remove(0, end);
            return malformed();
        }
        if (buffer_.size() < end + length)
            return Result::NeedMore;
        *picture = buffer_.mid(end, length);
        buffer_.remove(0, end + length);
        return Result::Picture;
    }
    // No length: the part runs to the next boundary.
    const qsizetype following = buffer_.left(end + kLongestStreamPart + delimiter_.size()).indexOf(delimiter_, end);
    if (following < 0) {
        if (buffer_.size() < end + kLongestStreamPart + delimiter_.size())
            return Result::NeedMore;
        buffer_.clear();
        return malformed();
    }
    *picture = buffer_.mid(end, following - end);
    buffer_.remove(0, following);
    return Result::Picture;
}
