#include "handset/modelscreen.h"

#include "link/packetdecoder.h"
#include "platform/wholefile.h"

#include <QFont>
#include <QPainter>
#include <algorithm>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {
// Frames a second of the stream.
constexpr double kFramesPerSecond = 15;
// JPEG quality of the stream's frames.
constexpr int kJpegQuality = 85;
// The camera's seed: the same camera at every start.
constexpr quint32 kCameraSeed = 7;

QByteArray encodedAs(const char *extension, const cv::Mat &picture, const std::vector<int> &parameters = {})
{
    std::vector<uchar> bytes;
    cv::imencode(extension, picture, bytes, parameters);
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

QByteArray jpegOf(const cv::Mat &picture)
{
    return encodedAs(".jpg", picture, {cv::IMWRITE_JPEG_QUALITY, kJpegQuality});
}

// The picture's file, whole or not at all (as the screen layer writes its
// pictures).
bool savePng(const cv::Mat &picture, const QString &path, QString *error)
{
    return writeWholeFile(path, encodedAs(".png", picture), error);
}
} // namespace

QImage ModelScreen::render(const QString &lastKey, const QString &text, bool popup, const QString &fontFamily)
{
    QImage image(kWidth, kHeight, QImage::Format_RGB888);
    image.fill(QColor(0xE8, 0xF0, 0xE0));
    QPainter painter(&image);
    // An 8-dot font at the nearest whole number of pixels a dot.
    const bool dots = isDotFont(fontFamily);
    const auto pixels = [dots](int size) { return dots ? (size + 4) / 8 * 8 : size; };
    painter.setRenderHint(QPainter::TextAntialiasing, !dots);
    QFont font;
    font.setFamilies({fontFamily.isEmpty() ? QStringLiteral("IPAGothic") : fontFamily, QStringLiteral("IPAGothic"), QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP"),
                      QStringLiteral("Noto Sans Mono CJK JP")});
    if (dots)
        font.setStyleStrategy(QFont::NoAntialias);
    font.setPixelSize(pixels(18));
    painter.fillRect(QRect(0, 0, kWidth, kStatusBarHeight), QColor(0x20, 0x30, 0x48));
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(8, 0, kWidth - 16, kStatusBarHeight), Qt::AlignVCenter | Qt::AlignLeft, lastKey);
    font.setPixelSize(pixels(22));
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(textArea(), Qt::AlignTop | Qt::AlignLeft | Qt::TextWrapAnywhere, text);
    if (popup) {
        // Over the whole text area: nothing typed shows through.
        painter.fillRect(textArea(), QColor(0xFF, 0xF4, 0xD0));
        painter.setPen(QPen(QColor(0xB0, 0x20, 0x20), 3));
        painter.drawRect(textArea().adjusted(1, 1, -2, -2));
        font.setPixelSize(pixels(28));
        painter.setFont(font);
        painter.drawText(textArea(), Qt::AlignCenter, popupText());
    }
    return image;
}

ModelScreen::ModelScreen(const Options &options, QObject *parent)
    : QObject(parent), options_(options), server_(this), noiseTimer_(this)
{
    server_.setRate(kFramesPerSecond);
    noiseTimer_.setInterval(qRound(1000 / kFramesPerSecond));
    noiseTimer_.setTimerType(Qt::PreciseTimer);
    connect(&noiseTimer_, &QTimer::timeout, this, &ModelScreen::sendFrame);
    if (options_.camera)
        camera_.emplace(cameraSettings(), kCameraSeed);
}

CameraModel::Settings ModelScreen::cameraSettings()
{
    CameraModel::Settings settings = CameraModel::randomSettings(kCameraSeed);
    settings.share = 0.62;
    settings.centre = QPointF(0.5, 0.5);
    settings.driftPixels = 3;
    settings.nudgeEverySeconds = 8;
    return settings;
}

bool ModelScreen::start(QString *error)
{
    if (options_.stream && !server_.listen(options_.address, options_.port)) {
        *error = QStringLiteral("%1:%2 で画面の配信を始められません: %3。")
                     .arg(options_.address.toString())
                     .arg(options_.port)
                     .arg(server_.errorText());
        return false;
    }
    cameraClock_.start();
    picture_ = toBgr(render(lastKey_, text_, false, options_.fontFamily));
    if (!options_.file.isEmpty() && !savePng(filmed(), options_.file, error))
        return false;
    sendFrame();
    if (options_.stream && (options_.noise || camera_))
        noiseTimer_.start();
    return true;
}

void ModelScreen::take(const DecodedPacket &packet)
{
    if (!packet.isValid())
        return;
    const QString key = packet.keyName.isEmpty() ? packet.character : packet.keyName;
    const QString character = packet.packet.kind() == KeyPacket::Key ? QString() : packet.character;
    const bool clear = packet.keyName == QLatin1String("CLEAR");
    if (options_.delaySeconds <= 0) {
        apply(key, character, clear);
        return;
    }
    QTimer::singleShot(qRound(options_.delaySeconds * 1000), Qt::PreciseTimer, this,
                       [this, key, character, clear] { apply(key, character, clear); });
}

void ModelScreen::apply(const QString &key, const QString &character, bool clear)
{
    if (popup_ && !clear)
        return;
    popup_ = false;
    lastKey_ = key;
    if (clear)
        text_.clear();
    text_ += character;
    if (options_.popupEvery > 0 && key == QLatin1String("ENTER") && ++enters_ % options_.popupEvery == 0)
        popup_ = true;
    show();
}

void ModelScreen::show()
{
    picture_ = toBgr(render(lastKey_, text_, popup_, options_.fontFamily));
    if (!options_.file.isEmpty()) {
        QString error;
        savePng(filmed(), options_.file, &error);
    }
    // A camera frame made just now leaves the next to the stream's timer,
    // which comes within one frame interval.
    if (camera_ && cameraFrameSent_.isValid() && cameraFrameSent_.elapsed() < cameraFrameMs_)
        return;
    sendFrame();
}

void ModelScreen::sendFrame()
{
    if (!options_.stream)
        return;
    if (camera_) {
        // A camera's frame takes a while to make (several times as long in
        // a sanitizer's build or on a busy machine): the next one comes no
        // sooner than that long after it, so that the packets coming in and
        // the stream's clients are served between frames instead of
        // waiting behind them.
        QElapsedTimer making;
        making.start();
        server_.setPicture(jpegOf(filmed()));
        cameraFrameMs_ = making.elapsed();
        cameraFrameSent_.start();
        const int interval = std::max(qRound(1000 / kFramesPerSecond), int(2 * cameraFrameMs_));
        if (noiseTimer_.isActive() && noiseTimer_.interval() != interval)
            noiseTimer_.setInterval(interval);
        return;
    }
    if (!options_.noise) {
        server_.setPicture(jpegOf(picture_));
        return;
    }
    server_.setPicture(jpegOf(cameraLike(picture_, random_)));
}

cv::Mat ModelScreen::filmed()
{
    if (!camera_)
        return picture_;
    const double seconds = cameraClock_.elapsed() / 1000.0;
    return camera_->shoot(picture_, camera_->poseAt(seconds), ++cameraFrames_).frame;
}

bool isDotFont(const QString &family)
{
    return family.startsWith(QLatin1String("Misaki"));
}

cv::Mat cameraLike(const cv::Mat &picture, std::mt19937 &random)
{
    std::uniform_real_distribution<double> brightness(-8, 8);
    cv::Mat frame;
    cv::GaussianBlur(picture, frame, cv::Size(3, 3), 0.7);
    cv::Mat noise(frame.size(), CV_16SC3);
    // Drawn from `random` alone, not from OpenCV's generator, which every
    // draw on the thread shares: the same seed gives the same frame
    // whatever was drawn before it.
    const double drift = brightness(random);
    cv::RNG(random()).fill(noise, cv::RNG::NORMAL, cv::Scalar::all(drift), cv::Scalar::all(5));
    frame.convertTo(frame, CV_16SC3);
    frame += noise;
    frame.convertTo(frame, CV_8UC3);
    return frame;
}
