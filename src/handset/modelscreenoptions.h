#pragma once

#include <QHostAddress>
#include <QString>

// How the virtual handset shows its model screen (quillonemu-cli handset
// --screen-stream, --screen-file, --screen-delay, --screen-noise,
// --popup-every, --screen-camera, --screen-font).
struct ModelScreenOptions {
    bool stream = false;
    QHostAddress address = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 0;
    QString file;
    double delaySeconds = 0;
    bool noise = false;
    // A pop-up after every this many ENTERs; 0: never.
    int popupEvery = 0;
    // Shown as a camera pointed at the handset would show it (CameraModel,
    // with a slow drift and now and then a nudge).
    bool camera = false;
    // The font the screen is drawn in (empty: IPAGothic).
    QString fontFamily;
};
