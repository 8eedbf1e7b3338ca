#include "screen/framesource.h"

#include "screen/cameras.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QUrl>
#include <chrono>
#include <condition_variable>
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
// A still image is shown as frames at this rate, and its file looked at as
// often, so that a change is seen within a tenth of a second.
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
    SourceStatus status;
    bool stopping = false;
    // No reader until start() makes one.
    bool readerDone = true;

    void publish(cv::Mat image)
    {
        if (image.channels() == 4)
            cv::cvtColor(image, image, cv::COLOR_BGRA2BGR);
        else if (image.channels() == 1)
            cv::cvtColor(image, image, cv::COLOR_GRAY2BGR);
        std::lock_guard lock(mutex);
        newest.image = image;
        newest.number = ++status.framesSeen;
        newest.atMs = screenClockMs();
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
    // Sleeps until `deadline` or until the source ends; true when it ends.
    bool sleepUntil(SteadyClock::time_point deadline)
    {
        std::unique_lock lock(mutex);
        return changed.wait_until(lock, deadline, [this] { return stopping; });
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
    state_->name = name;
}

FrameSource::~FrameSource()
{
    std::unique_lock lock(state_->mutex);
    state_->stopping = true;
    state_->changed.notify_all();
    state_->changed.wait_for(lock, std::chrono::milliseconds(kReaderEndWaitMs), [this] { return state_->readerDone; });
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

namespace {

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

QString fileReason(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("ファイルがありません");
    if (info.isDir())
        return QStringLiteral("フォルダです");
    if (!info.isReadable())
        return QStringLiteral("読む権限がありません");
    return QString();
}

// Whether a stream's codec, as the reader names it ("MJPG", or "mjpe" for
// FFmpeg's own name), is Motion JPEG.
bool isMotionJpeg(int fourcc)
{
    const QByteArray name = QByteArray(reinterpret_cast<const char *>(&fourcc), 4).toLower();
    return name.startsWith("mjp");
}

// Cameras, streams and video files: cv::VideoCapture on a thread of its own.
class CaptureSource : public FrameSource {
public:
    explicit CaptureSource(const SourceAddress &address)
        : FrameSource(address.text), address_(address)
    {
    }

    bool start() override
    {
        auto capture = std::make_shared<cv::VideoCapture>();
        const std::string path = QFile::encodeName(address_.text).toStdString();
        const std::vector<int> timeouts{cv::CAP_PROP_OPEN_TIMEOUT_MSEC, kOpenTimeoutMs, cv::CAP_PROP_READ_TIMEOUT_MSEC,
                                        kReadTimeoutMs};
        bool paced = false;
        switch (address_.kind) {
        case SourceAddress::Kind::Camera:
            if (!openCamera(*capture))
                return false;
            break;
        case SourceAddress::Kind::Stream:
            if (!capture->open(path, cv::CAP_FFMPEG, timeouts)) {
                errorText_ = QStringLiteral("画面の取り込み元「%1」を開けません: %2。").arg(address_.text, streamReason(address_.text));
                return false;
            }
            break;
        default: {
            const QString reason = fileReason(address_.text);
            if (!reason.isEmpty() || !capture->open(path, cv::CAP_FFMPEG)) {
                errorText_ = QStringLiteral("画面の取り込み元「%1」を開けません: %2。")
                                 .arg(address_.text, reason.isEmpty() ? QStringLiteral("動画として読めません") : reason);
                return false;
            }
            paced = true;
            break;
        }
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
    bool openCamera(cv::VideoCapture &capture)
    {
        const QList<CameraEntry> cameras = cameraEntries();
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
            errorText_ = QStringLiteral("画面の取り込み元「%1」を開けません: そのカメラは一覧にありません（%2 台）。")
                             .arg(address_.text, QString::number(cameras.size()));
            return false;
        }
#ifdef Q_OS_LINUX
        const int api = cv::CAP_V4L2;
#else
        const int api = cv::CAP_ANY;
#endif
        if (!capture.open(index, api)) {
            errorText_ = QStringLiteral("画面の取り込み元「%1」を開けません: カメラ %2 を開けません（使用中か、権限がありません）。")
                             .arg(address_.text, QString::number(index));
            return false;
        }
        return true;
    }

    // The reader: frames as they come; a video file at its own pace, its
    // last frame kept after its end.
    static void read(std::shared_ptr<State> state, std::shared_ptr<cv::VideoCapture> capture, bool paced, bool raw,
                     double fps, QString endReason)
    {
        const SteadyClock::time_point start = SteadyClock::now();
        qint64 played = 0;
        while (!state->isStopping()) {
            if (!capture->grab()) {
                if (!paced)
                    state->end(endReason);
                break;
            }
            cv::Mat image;
            if (capture->retrieve(image) && raw)
                image = image.empty() ? image : cv::imdecode(image, cv::IMREAD_COLOR);
            if (image.empty() || image.depth() != CV_8U) {
                state->undecodable();
                continue;
            }
            if (paced && state->sleepUntil(start + std::chrono::microseconds(static_cast<qint64>(played * 1e6 / fps))))
                break;
            ++played;
            state->publish(image);
        }
        capture.reset();
        state->readerEnded();
    }

    SourceAddress address_;
};

// A still image, shown as frames at a steady rate and read again whenever
// its file changes. A change that cannot be read (the file half written,
// not a picture) is counted and the picture before it stays.
class StillImageSource : public FrameSource {
public:
    explicit StillImageSource(const SourceAddress &address)
        : FrameSource(address.text)
    {
    }

    bool start() override
    {
        const QString path = name();
        const QString reason = fileReason(path);
        const cv::Mat image = reason.isEmpty() ? cv::imread(QFile::encodeName(path).toStdString()) : cv::Mat();
        if (image.empty()) {
            errorText_ = QStringLiteral("画面の取り込み元「%1」を開けません: %2。")
                             .arg(path, reason.isEmpty() ? QStringLiteral("画像として読めません") : reason);
            return false;
        }
        state_->readerStarted();
        std::thread(read, state_, path, image, stamp(path)).detach();
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
                const cv::Mat changed = cv::imread(QFile::encodeName(path).toStdString());
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
};

} // namespace

std::unique_ptr<FrameSource> makeFrameSource(const SourceAddress &address)
{
    // The stream reader's own log would repeat on standard error what the
    // source reports in the user's words (a refused connection, a frame
    // that cannot be decoded); it is quiet unless asked for.
    if (qEnvironmentVariableIsEmpty("OPENCV_FFMPEG_LOGLEVEL") && qEnvironmentVariableIsEmpty("OPENCV_FFMPEG_DEBUG"))
        qputenv("OPENCV_FFMPEG_LOGLEVEL", "-8");
    if (address.kind == SourceAddress::Kind::StillImage)
        return std::make_unique<StillImageSource>(address);
    return std::make_unique<CaptureSource>(address);
}
