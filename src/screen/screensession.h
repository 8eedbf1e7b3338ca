#pragma once

#include "macro/runscreen.h"
#include "screen/displaysource.h"
#include "screen/framesource.h"
#include "screen/matcher.h"
#include "screen/picturewatch.h"
#include "screen/screenview.h"
#include "screen/textwatch.h"

#include <QHash>
#include <QObject>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// The screen a run watches, for real: one frame source at a time, the
// templates the run has read, and the watch of the wait in progress. The
// screen window looks at the same frames (ScreenView).
class ScreenSession : public QObject, public RunScreen, public ScreenView {
    Q_OBJECT
public:
    explicit ScreenSession(QObject *parent = nullptr);
    ~ScreenSession() override;

    bool openSource(const QString &source, QString *error) override;
    void startOpen(const QString &source) override;
    OpenState openState() override;
    void abandonOpen() override;
    bool hasSource() const override { return source_ != nullptr; }
    QString sourceName() const override { return source_ ? source_->name() : QString(); }
    void setDisplay(const DisplayArea &area) override;
    bool loadTemplate(const QString &path, QString *reason) override;
    void startWait(const QString &path, double level, bool gone) override;
    WaitState waitState() const override;
    void endWait() override;
    bool saveNewest(const QString &path, QString *error) override;
    bool saveMarked(const QString &path, const QRect &box, const QRect &part, QString *error) override;
    bool saveText(const QString &path, const QString &text, QString *error) override;
    bool prepareTextReading(QString *reason) override;
    void startTextWait(const QString &wanted, const QRect &region, double seconds) override;
    void startFrameWait() override;

    ScreenPicture newestPicture(qint64 knownSource, qint64 knownNumber) const override;
    bool readText(const QImage &picture, QString *text, QString *error) override;
    QString templateProblem(const QImage &picture) const override;
    QImage stillCut(const QList<QImage> &pictures, const QRect &area) const override;

    const FrameSource *source() const { return source_.get(); }
    // The display within the source's frames as the waits see it (none
    // when the frames are used whole).
    const DisplaySource *display() const { return display_.get(); }

private:
    // A source being opened off the session's thread (screensession.cpp).
    struct Opening;

    // The opening in progress is no longer the session's; its thread may
    // still be ending.
    void letGoOfOpening();
    // The wait in progress (of any kind) ends.
    void endWaits();
    // The display in the source's frames, followed as the area says.
    void followDisplay();
    // What the waits watch: the display when one is followed, else the
    // source's frames.
    const FrameSource &watched() const;

    std::unique_ptr<FrameSource> source_;
    DisplayArea area_;
    std::unique_ptr<DisplaySource> display_;
    std::shared_ptr<Opening> opening_;
    // Openings let go that may still be going on (the session waits for
    // them when it ends).
    std::vector<std::shared_ptr<Opening>> abandoned_;
    OpenState opened_;
    // SNAPSHOT's wait: for a frame after this one.
    std::optional<qint64> frameWaitAfter_;
    QHash<QString, std::shared_ptr<const TemplateMatcher>> templates_;
    std::unique_ptr<PictureWatch> watch_;
    // One reader for the session's text waits, one at a time.
    std::shared_ptr<TextReader> reader_;
    std::unique_ptr<TextWatch> textWatch_;
    SourceStatus atWaitStart_;
    qint64 sourceNumber_ = 0;
    // The screen window's readings: a reader of their own (the run's may be
    // reading on its watch's thread at the same time).
    std::mutex viewReading_;
    std::unique_ptr<TextReader> viewReader_;
};

// Reads the picture in `path` as a template; an empty Mat and `reason` when
// it is missing, no picture, or one without a pattern to match.
cv::Mat readTemplate(const QString &path, QString *reason);
// Why `picture` cannot be a template (empty when it can).
QString templatePictureProblem(const cv::Mat &picture);
