#include "screen/framesource.h"

#include "screen/cameras.h"
#include "screen/mjpeghttp.h"
#include "screen/picturedecode.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QUrl>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <thread>

namespace {

// A stream that gives no frame for this long has ended (a camera pulled, a
// server gone or stalled): a wait fails within about this time.
constexpr int kReadTimeoutMs = 2000;
constexpr int kOpenTimeoutMs = 5000;
constexpr int kProbeTimeoutMs = 2000;
// An ended stream is tried again this often in the background.
constexpr int kReopenPauseMs = 2000;
// A still image (and a video file after its end) is shown as frames at
// this rate, and its file looked at as often, so that a change is seen
// within a tenth of a second.
constexpr int kStillFrameMs = 100;
// How long the end of a source waits for its reader to notice; a reader
// stuck in the system past this is left to end on its own.
constexpr int kReaderEndWaitMs = 500;

using SteadyClock = std::chrono::steady_clock;
const SteadyClock::time_point kEpoch = SteadyClock::now();

} // namespace

double screenClockMs()
{
    return std::chrono::duration<double, std::milli>(SteadyClock::now() - kEpoch).count();
}

// What a source's reader thread and its consumers share. The reader holds
// it too, so a reader that outlives its source (stuck in a read) touches
// nothing freed.
struct FrameSource::State {
    QString name;
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    Frame newest;
    // The frame before the newest, kept for a watch that starts just after
    // the screen changed (the picture it watches go may be on it only).
    Frame previous;
    SourceStatus status;
    bool stopping = false;
    // No reader until start() makes one.
    bool readerDone = true;
    // A stream whose reader opens it again when it ends; asked to try at
    // once (resume()).
    bool reopenable = false;
    bool reopenNow = false;

    void publish(cv::Mat image, double atMs = -1)
    {
        if (image.channels() == 4)
            cv::cvtColor(image, image, cv::COLOR_BGRA2BGR);
        else if (image.channels() == 1)
            cv::cvtColor(image, image, cv::COLOR_GRAY2BGR);
        std::lock_guard lock(mutex);
        previous = newest;
        newest.image = image;
        newest.number = ++status.framesSeen;
        newest.atMs = atMs >= 0 ? atMs : screenClockMs();
        status.lastFrameMs = newest.atMs;
        status.lastFrameTime = QDateTime::currentDateTime();
        changed.notify_all();
    }
    void undecodable()
    {
        std::lock_guard lock(mutex);
        ++status.framesUndecodable;
    }
    void end(const QString &reason)
    {
        std::lock_guard lock(mutex);
        status.ended = true;
        status.endReason = reason;
        changed.notify_all();
    }
    void reopened(const QString &after)
    {
        std::lock_guard lock(mutex);
        status.ended = false;
        status.endReason.clear();
        ++status.reopened;
        status.reopenedAfter = after;
        changed.notify_all();
    }
    // Sleeps until `deadline` or until the source ends; true when it ends.
    bool sleepUntil(SteadyClock::time_point deadline)
    {
        std::unique_lock lock(mutex);
        return changed.wait_until(lock, deadline, [this] { return stopping; });
    }
    // Sleeps for `ms` or until asked to open again; true when the source ends.
    bool pauseBeforeReopening(int ms)
    {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping || reopenNow; });
        reopenNow = false;
        return stopping;
    }
    bool isStopping() const
    {
        std::lock_guard lock(mutex);
        return stopping;
    }
    void readerStarted()
    {
        std::lock_guard lock(mutex);
        readerDone = false;
    }
    void readerEnded()
    {
        std::lock_guard lock(mutex);
        readerDone = true;
        changed.notify_all();
    }
};

FrameSource::FrameSource(const QString &name)
    : state_(std::make_shared<State>())
{
    state_->name = shownSource(name);
}

FrameSource::~FrameSource()
{
    std::unique_lock lock(state_->mutex);
    state_->stopping = true;
    state_->changed.notify_all();
    state_->changed.wait_for(lock, std::chrono::milliseconds(kReaderEndWaitMs), [this] { return state_->readerDone; });
}

void FrameSource::publishFrame(const cv::Mat &image, double atMs)
{
    state_->publish(image, atMs);
}

void FrameSource::cancel()
{
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
    state_->changed.notify_all();
}

bool FrameSource::isStopping() const
{
    return state_->isStopping();
}

QString FrameSource::name() const
{
    return state_->name;
}

Frame FrameSource::newest() const
{
    std::lock_guard lock(state_->mutex);
    return state_->newest;
}

Frame FrameSource::kept(qint64 number) const
{
    std::lock_guard lock(state_->mutex);
    for (const Frame *frame : {&state_->newest, &state_->previous})
        if (frame->number == number && !frame->isEmpty())
            return *frame;
    return Frame();
}

Frame FrameSource::waitNewer(qint64 afterNumber, int timeoutMs) const
{
    std::unique_lock lock(state_->mutex);
    state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return state_->newest.number > afterNumber || state_->status.ended || state_->stopping;
    });
    return state_->newest.number > afterNumber ? state_->newest : Frame();
}

SourceStatus FrameSource::status() const
{
    std::lock_guard lock(state_->mutex);
    return state_->status;
}

void FrameSource::resume()
{
    std::lock_guard lock(state_->mutex);
    if (!state_->reopenable || !state_->status.ended)
        return;
    state_->status.ended = false;
    state_->reopenNow = true;
    state_->changed.notify_all();
}

namespace {

QString cannotOpen(const QString &source, const QString &reason)
{
    return QStringLiteral("画面の取り込み元「%1」を開けません: %2。").arg(shownSource(source), reason);
}

// Why a stream could not be opened, in the system's words when its server
// cannot be reached.
QString streamReason(const QString &text)
{
    const QUrl url(text);
    if (!url.isValid() || url.host().isEmpty())
        return QStringLiteral("URL として読めません");
    const int defaultPort = url.scheme().compare(QLatin1String("rtsp"), Qt::CaseInsensitive) == 0 ? 554
                            : url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443
                                                                                                     : 80;
    // Only asked once the stream reader has failed: a server that is there
    // answers at once, so a short wait does.
    QTcpSocket socket;
    socket.connectToHost(url.host(), static_cast<quint16>(url.port(defaultPort)));
    if (!socket.waitForConnected(kProbeTimeoutMs))
        return socket.errorString();
    return QStringLiteral("接続できましたが、映像として読めません");
}

// Whether a stream's codec, as the reader names it ("MJPG", or "mjpe" for
// FFmpeg's own name), is Motion JPEG.
bool isMotionJpeg(int fourcc)
{
    const QByteArray name = QByteArray(reinterpret_cast<const char *>(&fourcc), 4).toLower();
    return name.startsWith("mjp");
}

bool isPlainHttp(const QString &text)
{
    return text.startsWith(QLatin1String("http://"), Qt::CaseInsensitive);
}

// Keeps showing `last` as new frames until the source ends: after a video
// file's end the waits look at its last frame.
void holdLastFrame(FrameSource::State &state, const cv::Mat &last)
{
    SteadyClock::time_point next = SteadyClock::now();
    while (!last.empty()) {
        next += std::chrono::milliseconds(kStillFrameMs);
        if (state.sleepUntil(next))
            return;
        state.publish(last);
    }
}

// Cameras, streams and video files: an MJPEG stream over HTTP read part by
// part (MjpegHttpReader), everything else through cv::VideoCapture, each on
// a thread of its own.
class CaptureSource : public FrameSource {
public:
    explicit CaptureSource(const SourceAddress &address)
        : FrameSource(address.text), address_(address)
    {
    }

    bool start() override
    {
        if (address_.kind == SourceAddress::Kind::Stream && isPlainHttp(address_.text)) {
            switch (startMjpeg()) {
            case MjpegHttpReader::Opened::Mjpeg:
                return true;
            case MjpegHttpReader::Opened::Failed:
                return false;
            case MjpegHttpReader::Opened::NotMjpeg:
                break;
            }
        }
        auto capture = std::make_shared<cv::VideoCapture>();
        const std::string path = QFile::encodeName(address_.text).toStdString();
        const std::vector<int> timeouts{cv::CAP_PROP_OPEN_TIMEOUT_MSEC, kOpenTimeoutMs, cv::CAP_PROP_READ_TIMEOUT_MSEC,
                                        kReadTimeoutMs};
        bool paced = false;
        try {
            switch (address_.kind) {
            case SourceAddress::Kind::Camera:
                if (!openCamera(*capture))
                    return false;
                break;
            case SourceAddress::Kind::Stream:
                if (!capture->open(path, cv::CAP_FFMPEG, timeouts)) {
                    errorText_ = cannotOpen(address_.text, streamReason(address_.text));
                    return false;
                }
                break;
            default: {
                const QString reason = fileProblem(address_.text);
                if (!reason.isEmpty() || !capture->open(path, cv::CAP_FFMPEG)) {
                    errorText_ = cannotOpen(address_.text, reason.isEmpty() ? QStringLiteral("動画として読めません") : reason);
                    return false;
                }
                paced = true;
                break;
            }
            }
        } catch (const std::exception &e) {
            errorText_ = cannotOpen(address_.text, QStringLiteral("映像として読めません（%1）").arg(QString::fromLocal8Bit(e.what()).trimmed()));
            return false;
        }
        double fps = capture->get(cv::CAP_PROP_FPS);
        if (!(fps > 0 && fps < 1000))
            fps = 25;
        const QString endReason = address_.kind == SourceAddress::Kind::Camera
                                      ? QStringLiteral("カメラが外されたか、%1 秒以上フレームが来ません").arg(kReadTimeoutMs / 1000)
                                      : QStringLiteral("ストリームが終わったか、%1 秒以上フレームが来ません").arg(kReadTimeoutMs / 1000);
        state_->readerStarted();
        // An MJPEG stream is taken as its JPEG images, decoded here, so that
        // one that cannot be decoded is counted rather than skipped unseen
        // inside the stream reader.
        const bool raw = address_.kind == SourceAddress::Kind::Stream &&
                         isMotionJpeg(static_cast<int>(capture->get(cv::CAP_PROP_FOURCC))) &&
                         capture->set(cv::CAP_PROP_FORMAT, -1);
        std::thread(read, state_, capture, paced, raw, fps, endReason).detach();
        return true;
    }

private:
    struct OpenResult {
        MjpegHttpReader::Opened opened;
        QString reason;
    };

    MjpegHttpReader::Opened startMjpeg()
    {
        std::promise<OpenResult> promise;
        std::future<OpenResult> opened = promise.get_future();
        state_->readerStarted();
        state_->reopenable = true;
        std::thread(readMjpeg, state_, QUrl(address_.text), std::move(promise)).detach();
        const OpenResult result = opened.get();
        if (result.opened == MjpegHttpReader::Opened::Failed)
            errorText_ = cannotOpen(address_.text, result.reason);
        if (result.opened != MjpegHttpReader::Opened::Mjpeg)
            state_->reopenable = false;
        return result.opened;
    }

    // The HTTP reader: each part decoded here; a malformed or undecodable
    // one is counted (once, however many pieces it left) and the frame
    // before it stays. A stream that ends is opened again at once, and
    // every few seconds after that (or when a wait asks) while it cannot be.
    static void readMjpeg(std::shared_ptr<State> state, QUrl url, std::promise<OpenResult> promise)
    {
        MjpegHttpReader reader(url, [state] { return state->isStopping(); });
        OpenResult result;
        result.opened = reader.open(kOpenTimeoutMs, &result.reason);
        const bool streaming = result.opened == MjpegHttpReader::Opened::Mjpeg;
        // A source that falls back to another reader starts that one at once.
        if (!streaming)
            state->readerEnded();
        promise.set_value(result);
        bool lastBad = false;
        // The last part decoded, and its picture: a server that sends the
        // same picture again (a screen that stays as it is) costs no
        // decoding.
        QByteArray lastBytes;
        cv::Mat lastImage;
        // Whether a frame came since the stream was last opened again: one
        // that ends again before any (a camera stalled behind a server that
        // still answers) has ended, rather than being opened again and again.
        bool framesSinceOpening = true;
        while (streaming && !state->isStopping()) {
            const MjpegHttpReader::Part part = reader.next(kReadTimeoutMs);
            if (part.kind == MjpegHttpReader::Part::Kind::Picture) {
                QString problem;
                const bool again = !lastImage.empty() && part.bytes == lastBytes;
                const cv::Mat image = again ? lastImage : decodePicture(part.bytes, &problem);
                lastBytes = image.empty() ? QByteArray() : part.bytes;
                lastImage = image;
                if (image.empty())
                    state->undecodable();
                else
                    state->publish(image);
                lastBad = image.empty();
                framesSinceOpening = framesSinceOpening || !image.empty();
                continue;
            }
            if (part.kind == MjpegHttpReader::Part::Kind::Malformed) {
                if (!lastBad)
                    state->undecodable();
                lastBad = true;
                continue;
            }
            QString failure;
            if (!framesSinceOpening) {
                state->end(QStringLiteral("%1。開き直しても、フレームが 1 枚も来ません").arg(part.reason));
                if (state->pauseBeforeReopening(kReopenPauseMs))
                    break;
            }
            while (!state->isStopping()) {
                if (reader.open(kOpenTimeoutMs, &failure) == MjpegHttpReader::Opened::Mjpeg) {
                    state->reopened(part.reason);
                    lastBad = false;
                    framesSinceOpening = false;
                    break;
                }
                state->end(QStringLiteral("%1。開き直そうとしましたが、開けません（%2）").arg(part.reason, failure));
                if (state->pauseBeforeReopening(kReopenPauseMs))
                    break;
            }
        }
        if (streaming)
            state->readerEnded();
    }

    bool openCamera(cv::VideoCapture &capture)
    {
        const QList<CameraEntry> cameras = cameraEntries();
        // The camera as the user counts it.
        const QString asWritten = address_.cameraName.isEmpty()
                                      ? QStringLiteral("カメラ %1").arg(std::max(1, address_.cameraNumber))
                                      : QStringLiteral("名前に「%1」を含むカメラ").arg(address_.cameraName);
#ifdef Q_OS_LINUX
        // Here the system lists every camera: with none, nothing is tried
        // (the camera interface would only warn on standard error).
        if (cameras.isEmpty()) {
            errorText_ = cannotOpen(address_.text, QStringLiteral("カメラが見つかりません（この機械にはカメラがつながっていないか、認識されていません）"));
            return false;
        }
#endif
        int index = -1;
        if (!address_.cameraName.isEmpty()) {
            for (const CameraEntry &c : cameras) {
                if (c.name.contains(address_.cameraName, Qt::CaseInsensitive)) {
                    index = c.index;
                    break;
                }
            }
        } else if (address_.cameraNumber > 0) {
            // Where the system gives no list, camera:N is its N-th device.
            index = cameras.isEmpty() ? address_.cameraNumber - 1
                    : address_.cameraNumber <= cameras.size() ? cameras[address_.cameraNumber - 1].index
                                                           : -1;
        } else {
            index = cameras.isEmpty() ? 0 : cameras.first().index;
        }
        if (index < 0) {
            errorText_ = cannotOpen(address_.text, QStringLiteral("%1 は見つかりません（見つかったカメラは %2 台: %3）")
                                                       .arg(asWritten, QString::number(cameras.size()), listCameras().join(QStringLiteral("、"))));
            return false;
        }
#ifdef Q_OS_LINUX
        const int api = cv::CAP_V4L2;
#else
        const int api = cv::CAP_ANY;
#endif
        if (!capture.open(index, api)) {
            errorText_ = cannotOpen(address_.text, cameras.isEmpty()
                                                       ? QStringLiteral("%1 が見つからないか、使用中か、権限がありません").arg(asWritten)
                                                       : QStringLiteral("%1 を開けません（使用中か、権限がありません）").arg(asWritten));
            return false;
        }
        return true;
    }

    // The reader: frames as they come; a video file at its own pace, its
    // last frame shown on after its end. Whatever the video library throws
    // is a frame it could not give.
    static void read(std::shared_ptr<State> state, std::shared_ptr<cv::VideoCapture> capture, bool paced, bool raw,
                     double fps, QString endReason)
    {
        const SteadyClock::time_point start = SteadyClock::now();
        qint64 played = 0;
        cv::Mat last;
        while (!state->isStopping()) {
            cv::Mat image;
            try {
                if (!capture->grab()) {
                    if (!paced)
                        state->end(endReason);
                    break;
                }
                if (capture->retrieve(image) && raw && !image.empty()) {
                    QString problem;
                    image = decodePicture(QByteArray::fromRawData(reinterpret_cast<const char *>(image.data),
                                                                  static_cast<qsizetype>(image.total() * image.elemSize())),
                                          &problem);
                }
            } catch (const std::exception &e) {
                if (!paced)
                    state->end(QStringLiteral("映像を読めなくなりました（%1）").arg(QString::fromLocal8Bit(e.what()).trimmed()));
                break;
            }
            if (image.empty() || image.depth() != CV_8U || image.channels() == 2 || image.channels() > 4 ||
                image.cols > kLargestPictureSide || image.rows > kLargestPictureSide) {
                state->undecodable();
                continue;
            }
            if (paced && state->sleepUntil(start + std::chrono::microseconds(static_cast<qint64>(played * 1e6 / fps))))
                break;
            ++played;
            state->publish(image);
            last = image;
        }
        capture.reset();
        if (paced)
            holdLastFrame(*state, last);
        state->readerEnded();
    }

    SourceAddress address_;
};

// A still image, shown as frames at a steady rate and read again whenever
// its file changes. A change that cannot be read (the file half written,
// not a picture, a header claiming a huge size) is counted and the picture
// before it stays.
class StillImageSource : public FrameSource {
public:
    explicit StillImageSource(const SourceAddress &address)
        : FrameSource(address.text), path_(address.text)
    {
    }

    bool start() override
    {
        QString problem;
        const cv::Mat image = readPictureFile(path_, &problem);
        if (image.empty()) {
            errorText_ = cannotOpen(path_, problem);
            return false;
        }
        state_->readerStarted();
        std::thread(read, state_, path_, image, stamp(path_)).detach();
        return true;
    }

private:
    static QString stamp(const QString &path)
    {
        const QFileInfo info(path);
        return info.exists() ? QStringLiteral("%1/%2").arg(info.lastModified().toMSecsSinceEpoch()).arg(info.size())
                             : QString();
    }

    static void read(std::shared_ptr<State> state, QString path, cv::Mat image, QString seen)
    {
        SteadyClock::time_point next = SteadyClock::now();
        for (;;) {
            const QString now = stamp(path);
            if (now != seen && !now.isEmpty()) {
                seen = now;
                QString problem;
                const cv::Mat changed = readPictureFile(path, &problem);
                if (changed.empty())
                    state->undecodable();
                else
                    image = changed;
            }
            state->publish(image);
            next += std::chrono::milliseconds(kStillFrameMs);
            if (state->sleepUntil(next))
                break;
        }
        state->readerEnded();
    }

    QString path_;
};

// Whether a file named as a video is a picture the image library reads (a
// still in a format the address does not list): only for names that are
// no video container, since a raw Motion JPEG file starts as a JPEG does.
bool isStillPicture(const QString &path)
{
    static const QStringList videos{QStringLiteral("avi"), QStringLiteral("mp4"), QStringLiteral("mkv"), QStringLiteral("mov"),
                                    QStringLiteral("webm"), QStringLiteral("mjpeg"), QStringLiteral("mjpg"), QStringLiteral("m4v"),
                                    QStringLiteral("wmv"), QStringLiteral("flv"), QStringLiteral("mpg"), QStringLiteral("mpeg"),
                                    QStringLiteral("ts"), QStringLiteral("3gp"), QStringLiteral("ogv"), QStringLiteral("gif")};
    return !videos.contains(QFileInfo(path).suffix().toLower()) && isPictureFile(path);
}

} // namespace

std::unique_ptr<FrameSource> makeFrameSource(const SourceAddress &address)
{
    quietPictureLibraries();
    if (address.kind == SourceAddress::Kind::StillImage ||
        (address.kind == SourceAddress::Kind::VideoFile && isStillPicture(address.text)))
        return std::make_unique<StillImageSource>(address);
    return std::make_unique<CaptureSource>(address);
}
