#pragma once

#include "handset/cameramodel.h"
#include "handset/mjpegserver.h"
#include "handset/modelscreenoptions.h"

#include <QHostAddress>
#include <QImage>
#include <QObject>
#include <QRect>
#include <QElapsedTimer>
#include <QTimer>
#include <opencv2/core/mat.hpp>
#include <optional>
#include <random>

struct DecodedPacket;

// A model of a handset's screen, for tests and the demo (no handset looks
// like this): QVGA, a status bar with the name of the last key pressed, and
// below it the text typed since the last CLEAR. It is shown as an MJPEG
// stream over HTTP and written as a PNG file after each change, optionally
// late (as a handset takes its time) and with a camera's faults (brightness
// that drifts, sensor noise, a slight blur). On request it misbehaves as a
// handset does on a bad day: after every N-th ENTER a pop-up 「通信エラー」
// covers the text area and takes no key but CLEAR, which takes it away and
// empties the text. With a camera (CameraModel) it is shown as a camera
// pointed at a handset on a desk shows it, drifting and now and then nudged;
// it can be drawn in another font.
class ModelScreen : public QObject {
    Q_OBJECT
public:
    static constexpr int kWidth = 320;
    static constexpr int kHeight = 240;
    static constexpr int kStatusBarHeight = 28;
    // Where the typed text is written.
    static QRect textArea() { return QRect(8, kStatusBarHeight + 8, kWidth - 16, kHeight - kStatusBarHeight - 16); }

    using Options = ModelScreenOptions;

    explicit ModelScreen(const Options &options, QObject *parent = nullptr);

    // Starts serving and writes the first picture; false and `error` when
    // the port cannot be listened on or the file cannot be written.
    bool start(QString *error);
    quint16 port() const { return server_.port(); }

public Q_SLOTS:
    // A packet the handset received: shown after the delay.
    void take(const DecodedPacket &packet);

public:

    // The screen showing `lastKey` in its status bar and `text` below it,
    // or the pop-up over it. Needs a QGuiApplication (the offscreen platform
    // will do). `fontFamily` empty: IPAGothic.
    static QImage render(const QString &lastKey, const QString &text, bool popup = false,
                         const QString &fontFamily = QString());
    // The camera --screen-camera films the screen with.
    static CameraModel::Settings cameraSettings();
    // The pop-up's text.
    static QString popupText() { return QStringLiteral("通信エラー"); }

private:
    void apply(const QString &key, const QString &character, bool clear);
    void show();
    void sendFrame();
    // The picture as shown: through the camera when there is one.
    cv::Mat filmed();

    Options options_;
    MjpegServer server_;
    QTimer noiseTimer_;
    QString lastKey_;
    QString text_;
    int enters_ = 0;
    bool popup_ = false;
    cv::Mat picture_; // BGR, as last shown
    std::optional<CameraModel> camera_;
    QElapsedTimer cameraClock_;
    quint64 cameraFrames_ = 0;
    // When the last camera frame was sent, and how long it took to make.
    QElapsedTimer cameraFrameSent_;
    qint64 cameraFrameMs_ = 0;
    std::mt19937 random_{20261207};
};

// `picture` as a camera would give it: the brightness drifts a little, every
// pixel has its noise, and the lens blurs slightly. The same `random`
// gives the same frame.
cv::Mat cameraLike(const cv::Mat &picture, std::mt19937 &random);

// Whether `family` is an 8-dot bitmap font (Debian's Misaki fonts): drawn
// as a handset draws it, a whole number of pixels a dot, not smoothed.
bool isDotFont(const QString &family);
