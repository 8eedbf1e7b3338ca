#pragma once

#include <QImage>
#include <QList>
#include <QPolygonF>
#include <QRect>
#include <QString>

// The frames a template is cut from at most (ScreenView::stillCut): a
// quarter of a second of a 30 fps camera; the screen window and
// `quillonemu-cli screen --crop` alike.
constexpr int kStillFrames = 8;

// The newest frame of the screen as the screen window shows it.
struct ScreenPicture {
    // The frame (null when there is none, or when it is the one the caller
    // has already).
    QImage image;
    // The frame's number, counted from 1 since its source opened, and the
    // source's own number (a new one at every opening).
    qint64 number = 0;
    qint64 sourceNumber = 0;
    QString sourceName;
    // The display within the frame: its upright picture (null when the frame
    // is the display already, or none was found) and its outline in the
    // frame's pixels (top-left, top-right, bottom-right, bottom-left; empty
    // then too).
    QImage display;
    QPolygonF outline;
    // The stream ended or the camera went away; endReason says how.
    bool ended = false;
    QString endReason;
};

// What the screen window needs of the screen the runs watch: the newest
// frame as a picture, and the text on a picture read as WAITTEXT reads it.
// Nothing here blocks except readText.
class ScreenView {
public:
    virtual ~ScreenView() = default;

    // The newest frame; its image stays null when it is frame `knownNumber`
    // of source `knownSource` (nothing new to show).
    virtual ScreenPicture newestPicture(qint64 knownSource, qint64 knownNumber) const = 0;

    // The text on `picture`, as a screen wait reads a frame. It takes tens of
    // milliseconds (the first call loads the language data, a second or
    // so): for a thread other than the user interface's; one reading at a
    // time. False and `error` when the text cannot be read at all.
    virtual bool readText(const QImage &picture, QString *text, QString *error) = 0;

    // Why `picture` cannot be a template of WAITIMAGE or WAITGONE (empty
    // when it can): one almost without a pattern matches anything flat.
    virtual QString templateProblem(const QImage &picture) const = 0;

    // `area` of the first of `pictures` (the newest of those the window
    // showed, then older ones, all of one size), cut as the mean of it and
    // the pictures after it that show there what it shows (stillcut.h): a
    // camera's noise averages out of a template. Null when `area` does not
    // lie within them.
    virtual QImage stillCut(const QList<QImage> &pictures, const QRect &area) const = 0;
};
