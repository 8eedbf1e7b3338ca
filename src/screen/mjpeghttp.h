#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

class MjpegPartSplitter;
class QTcpSocket;

// An MJPEG stream over plain HTTP (multipart/x-mixed-replace of JPEG
// images, as network cameras and the model handset serve it), read part by
// part on one thread with blocking calls. A part that is malformed (a stray
// line between parts, a length that does not fit) is reported and skipped,
// and reading goes on at the next boundary; what the server answers instead
// of a stream (401, 404, an HTML page) is named.
class MjpegHttpReader {
public:
    enum class Opened { Mjpeg, NotMjpeg, Failed };

    struct Part {
        enum class Kind { Picture, Malformed, Ended };
        Kind kind = Kind::Ended;
        QByteArray bytes;
        // Ended: why, in the user's words.
        QString reason;
    };

    // `stopping` is asked between waits of at most a tenth of a second, so
    // that no call holds a source that is being closed.
    MjpegHttpReader(const QUrl &url, std::function<bool()> stopping);
    ~MjpegHttpReader();
    MjpegHttpReader(const MjpegHttpReader &) = delete;
    MjpegHttpReader &operator=(const MjpegHttpReader &) = delete;

    // Connects, asks for the stream and reads the answer's header within
    // `timeoutMs`. Failed and `reason` when it cannot be reached or answers
    // with an error or no video; NotMjpeg when it answers with something
    // other than a multipart stream (left to a general video reader).
    Opened open(int timeoutMs, QString *reason);

    // The next part; Ended when the server closes, fails or sends nothing
    // for `stallMs`.
    Part next(int stallMs);

private:
    bool fill(int stallMs, QString *reason);

    QUrl url_;
    std::function<bool()> stopping_;
    std::unique_ptr<QTcpSocket> socket_;
    // What has come and is not taken yet: the answer's header, then
    // the parts.
    QByteArray buffer_;
    std::unique_ptr<MjpegPartSplitter> parts_;
};
