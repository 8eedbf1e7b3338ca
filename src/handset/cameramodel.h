#pragma once

#include <QImage>
#include <QPointF>
#include <QSize>
#include <array>
#include <opencv2/core/mat.hpp>

// A camera pointed at a handset lying on a desk, for the model handset, the
// tests and the bench (no camera looks exactly like this): the display's
// picture is set into the handset's dark body on a desk, in perspective
// (keystone), turned a little, lit unevenly, blurred, with sensor noise, and
// passed through JPEG; on request with moiré and a glare spot. Over time the
// camera drifts slowly and is now and then nudged (the handset a little
// nearer or farther, a few pixels aside). Everything follows from the seed:
// the same seed, picture and time give the same frame. Each frame comes
// with where the display's corners truly are.
class CameraModel {
public:
    struct Settings {
        QSize frame{1280, 720};
        // The display's height as a share of the frame's (its width as much
        // as fits within 0.9 of the frame's width).
        double share = 0.7;
        // The display's centre, as a share of the frame (0.5, 0.5: centred).
        QPointF centre{0.5, 0.5};
        // The top edge shorter than the bottom one by this share of it.
        double keystone = 0.03;
        // Turned clockwise by these degrees (negative: anticlockwise).
        double tiltDegrees = 2;
        double blurSigma = 1.0;
        // How much darker the least lit part of the frame is (0: even).
        double unevenLight = 0.25;
        double lightAngleDegrees = 30;
        double noiseSigma = 4;
        int jpegQuality = 80;
        bool moire = false;
        // A glare spot on the display, and where (a share of the display).
        bool glare = false;
        QPointF glareAt{0.7, 0.3};
        // The slow drift's amplitude (frame pixels; 0: none), and how often
        // the camera is nudged on average (seconds; 0: never).
        double driftPixels = 0;
        double nudgeEverySeconds = 0;
        // The LCD's black and white (a lit display's black is not black).
        int lcdBlack = 38;
        int lcdWhite = 235;
    };

    // Where the camera stands at one moment, relative to its settings.
    struct Pose {
        double scale = 1;
        QPointF shift;
        double extraTiltDegrees = 0;
    };

    // A frame and where the display lies in it: its corners, top-left,
    // top-right, bottom-right, bottom-left, in the frame's pixels (the
    // display's outer edge; pixel centres at whole numbers).
    struct Shot {
        cv::Mat frame; // BGR
        std::array<QPointF, 4> corners;
        QImage image() const;
    };

    // Settings drawn from `seed` within what a camera over a handset gives:
    // the display at 50-90 % of a 1280x720 frame, 2-4 % keystone, 1-3°
    // tilt either way, blur, uneven light, noise, JPEG at 70-90; moiré and
    // glare only when asked for.
    static Settings randomSettings(quint32 seed, bool moire = false, bool glare = false);

    explicit CameraModel(quint32 seed) : CameraModel(randomSettings(seed), seed) {}
    CameraModel(const Settings &settings, quint32 seed);

    const Settings &settings() const { return settings_; }

    // The camera's pose `seconds` after it was set up: the slow drift and
    // the nudges until then.
    Pose poseAt(double seconds) const;
    // The display's corners in the frame for a display of `displaySize`.
    std::array<QPointF, 4> cornersFor(QSize displaySize, const Pose &pose) const;

    // `display` (BGR or a QImage) filmed in `pose`; `frameNumber` draws the
    // frame's own noise.
    Shot shoot(const cv::Mat &display, const Pose &pose, quint64 frameNumber = 0) const;
    Shot shoot(const QImage &display, const Pose &pose, quint64 frameNumber = 0) const;
    // Filmed `seconds` after the camera was set up (frames at 15 a second
    // for the noise).
    Shot shootAt(const QImage &display, double seconds) const;

private:
    Settings settings_;
    quint32 seed_;
    cv::Mat desk_;  // BGR
    cv::Mat light_; // CV_32FC3 gain, the same in each colour
};

// `image` as an 8-bit BGR matrix (a copy).
cv::Mat toBgr(const QImage &image);
