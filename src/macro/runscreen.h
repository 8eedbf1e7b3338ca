#pragma once

#include "macro/displayarea.h"

#include <QDateTime>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <functional>

// One screen wait as it ended, for the run's log.
struct ScreenWaitReport {
    qint64 line = 0;       // of the macro file, as an editor counts it
    QString keyword;       // WAITIMAGE, WAITGONE, WAITTEXT or READTEXT
    QString templatePath;
    bool found = false;    // appeared (WAITIMAGE) or went (WAITGONE) in time
    double similarity = -1; // the best seen (-1: no frame)
    QPoint place;
    // WAITIMAGE, WAITGONE: the part of the template that decided the best
    // similarity (its weakest), in frame pixels, and the template's own
    // rectangle there.
    QRect weakestPart;
    QRect bestBox;
    double secondsWaited = 0;
    qint64 framesSeen = 0;
    qint64 framesUndecodable = 0;
    // The stream ended and was opened again during the wait (how often).
    qint64 sourceReopened = 0;
    double seconds = 0;    // the time the wait may take
    QString evidence;      // the frame saved when the wait ran out or failed
    // Why the wait failed when not for its time (the source ended, the
    // template is larger than the frames), as the run's message says it;
    // empty when it was found, ran out or was stopped.
    QString failure;
    // WAITTEXT, READTEXT: the text waited for (WAITTEXT), the text read last,
    // and the frames read.
    QString wantedText;
    QString readText;
    qint64 readings = 0;
    // WAITIMAGE, WAITGONE: the level a match needs; WAITTEXT, READTEXT: the
    // part of the frame read (empty: all of it).
    double level = 0;
    QRect region;
    // The part of `region` inside the frame, when only part of it is.
    QRect regionRead;
};

// What a run needs of the screen it watches (a camera or any other picture
// of the handset's display): a source to open, templates to read, a wait
// for a picture to appear or go, and the newest frame saved. The front ends
// give the real one (ScreenSession); tests give a fake. Nothing here blocks:
// a wait is started, then looked at while the run's own clock runs.
class RunScreen {
public:
    // How a wait goes on.
    struct WaitState {
        bool done = false;           // the picture appeared (or went)
        bool sourceEnded = false;    // the stream ended or the camera went away
        QString endReason;
        bool tooLarge = false;       // the template is larger than the frames
        QSize frameSize;
        double bestSimilarity = -1;  // the highest seen so far (-1: no frame matched)
        QPoint bestPlace;
        // Where the template lay there (its size: scaled when the camera
        // moved), and its part that matched least, which decided the
        // similarity (frame pixels).
        QSize bestSize;
        QRect bestWeakestPart;
        double lastSimilarity = -1;  // in the newest frame matched, and where
        QPoint lastPlace;
        qint64 framesSeen = 0;       // by the source since the wait started
        qint64 framesUndecodable = 0;
        qint64 framesMatched = 0;
        // When the last frame came (invalid when none came).
        QDateTime lastFrameTime;
        // The stream ended and was opened again since the wait started: how
        // often, and why it ended the last time.
        qint64 sourceReopened = 0;
        QString sourceReopenedAfter;
        // Reading the text: what the newest reading found, and how many
        // frames were read since the wait started.
        QString lastRead;
        // The height of its glyphs in the picture read (0: no line found),
        // or, where that picture is the display made upright finer than the
        // camera sees it, in the camera's pixels (`glyphPixelsInFrame`).
        int glyphPixels = 0;
        bool glyphPixelsInFrame = false;
        qint64 readings = 0;
        // The text cannot be read at all (the recogniser's data is missing,
        // the region lies wholly outside the frame).
        QString readError;
        // The part of the region read, when only part of it lies inside
        // the frame (empty otherwise).
        QRect regionRead;
    };

    // How opening a source goes on.
    struct OpenState {
        bool done = false;   // opened, or failed
        bool opened = false; // the source is the screen's now
        QString error;       // why it failed, naming the source
    };

    virtual ~RunScreen() = default;

    // Makes ready what seeing a screen needs (the front ends load it only
    // when a run or a window asks), so that SCREEN later spends no time
    // on it; false and `error` when it cannot be.
    virtual bool prepare(QString *error)
    {
        Q_UNUSED(error);
        return true;
    }

    // Opens `source` (as the user writes it) in place of the source open
    // now, waiting until it has opened; false and `error` naming the source
    // and the reason. (Before a run starts: nothing else happens meanwhile.)
    virtual bool openSource(const QString &source, QString *error) = 0;
    // The same without waiting: opening a source can take seconds (a stream
    // whose server does not answer), so it goes on off the caller's thread.
    // openState() tells how it goes (the wake-up is called when it is done);
    // once it says opened, the new source has taken the place of the old,
    // which stays until then. abandonOpen() drops the opening in progress:
    // it ends on its own, and what it opened is closed.
    virtual void startOpen(const QString &source) = 0;
    virtual OpenState openState() = 0;
    virtual void abandonOpen() = 0;
    virtual bool hasSource() const = 0;
    // Where the display lies in the source's frames (DISPLAY, the screen
    // window's corners): waits and readings then look at the upright
    // picture of the display, not at the whole frame. AUTO until set; a new
    // source keeps it.
    virtual void setDisplay(const DisplayArea &area) { Q_UNUSED(area); }
    virtual QString sourceName() const = 0;

    // Reads the template in `path` (kept for the waits that name it); false
    // and `reason` when it is missing or no picture.
    virtual bool loadTemplate(const QString &path, QString *reason) = 0;

    // Starts watching for the template `path` (loaded before) to appear,
    // or to be gone when `gone`, at similarity `level`.
    virtual void startWait(const QString &path, double level, bool gone) = 0;
    virtual WaitState waitState() const = 0;
    virtual void endWait() = 0;

    // Whether the screen's text can be read (the recogniser and its language
    // data); false and `reason` when not. The first call loads the data.
    virtual bool prepareTextReading(QString *reason) = 0;
    // Starts reading the text of the frames that come from now on, within
    // `region` (frame pixels; the whole frame when empty), frame after frame
    // (the newest whenever a reading is done), until one holds `wanted` as
    // screenTextContains compares; with an empty `wanted`, until one frame
    // has been read. waitState() and endWait() as for a picture; endWait()
    // cuts a reading in progress, and no reading goes on past `seconds`.
    virtual void startTextWait(const QString &wanted, const QRect &region, double seconds) = 0;

    // Starts waiting for a frame that comes from now on: waitState() is
    // done once one has come (SNAPSHOT then saves it).
    virtual void startFrameWait() = 0;

    // Writes the newest frame as PNG; false and `error` naming the file,
    // or saying that no frame has come.
    virtual bool saveNewest(const QString &path, QString *error) = 0;
    // The same as evidence of a picture wait: with the place the template
    // came closest (`box`) and its part that matched least (`part`) drawn
    // on the frame, when they are not empty.
    virtual bool saveMarked(const QString &path, const QRect &box, const QRect &part, QString *error)
    {
        Q_UNUSED(box);
        Q_UNUSED(part);
        return saveNewest(path, error);
    }
    // Writes `text` (READTEXT's) in UTF-8 to `path`, whole or not at all;
    // false and `error` naming the file and the system's reason.
    virtual bool saveText(const QString &path, const QString &text, QString *error) = 0;

    // Where a wait that runs out saves the newest frame as evidence (the
    // folder of the run's log, say); empty: the temporary folder.
    QString evidenceFolder() const { return evidenceFolder_; }
    void setEvidenceFolder(const QString &folder) { evidenceFolder_ = folder; }

    // Called on the run's thread when a wait in progress may have changed
    // (the picture seen, the source ended): the run sets it to wake its wait.
    void setWakeUp(std::function<void()> wakeUp) { wakeUp_ = std::move(wakeUp); }

protected:
    std::function<void()> wakeUp_;
    QString evidenceFolder_;
};
