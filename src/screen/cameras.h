#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// A camera as the system lists it: its name and the device index the
// camera interface opens it by.
struct CameraEntry {
    QString name;
    int index = 0;
};

// The system's camera list, in the order camera:N counts them: on Linux the
// V4L2 devices' first nodes (a UVC camera has a second node for metadata),
// in device order; empty where the system gives no names.
QList<CameraEntry> cameraEntries();

// Their names.
QStringList listCameras();
