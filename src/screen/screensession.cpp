#include "screen/screensession.h"

#include "screen/picturedecode.h"
#include "screen/screenfiles.h"
#include "screen/stillcut.h"
#include "screen/textreader.h"

#include <QFile>
#include <QFileInfo>
#include <opencv2/imgproc.hpp>
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <opencv2/imgcodecs.hpp>
#include <optional>
#include <thread>

namespace {

// A picture's pixels in the frames' channel order (BGR), and a Mat over
// them (valid while the picture lives).
QImage toBgr(const QImage &picture)
{
    return picture.convertToFormat(QImage::Format_RGB888).rgbSwapped();
}

cv::Mat bgrMat(const QImage &bgr)
{
    return cv::Mat(bgr.height(), bgr.width(), CV_8UC3, const_cast<uchar *>(bgr.constBits()),
                   static_cast<size_t>(bgr.bytesPerLine()));
}

// A closed outline through `points` (frame pixels, between pixels too).
void drawPolygon(cv::Mat &frame, const QList<QPointF> &points, const cv::Scalar &colour, int thickness)
{
    std::vector<cv::Point> fixed;
    for (const QPointF &p : points)
        fixed.emplace_back(qRound(p.x() * 16), qRound(p.y() * 16));
    cv::polylines(frame, std::vector<std::vector<cv::Point>>{fixed}, true, colour, thickness, cv::LINE_AA, 4);
}

} // namespace

cv::Mat readTemplate(const QString &path, QString *reason)
{
    // Read in colour and made gray as the frames are: the image reader's own
    // gray conversion weighs the colours differently, and the same picture
    // would not match itself exactly.
    cv::Mat picture = readPictureFile(path, reason, true);
    if (picture.empty())
        return picture;
    if (picture.channels() == 4) {
        // Transparent pixels would be matched as the colour they hide
        // (black, mostly): a template is what the screen shows, whole.
        double leastOpacity = 255;
        cv::Mat alpha;
        cv::extractChannel(picture, alpha, 3);
        cv::minMaxLoc(alpha, &leastOpacity);
        if (leastOpacity < 255) {
            *reason = QStringLiteral("透明な部分があります。照合では透明な部分も色として比べられ（多くは黒）、"
                                     "見つかるはずの画像が見つかりません。画面から切り取った、透明な部分のない画像を使ってください");
            return {};
        }
        cv::cvtColor(picture, picture, cv::COLOR_BGRA2BGR);
    }
    *reason = templatePictureProblem(picture);
    return reason->isEmpty() ? picture : cv::Mat();
}

QString templatePictureProblem(const cv::Mat &picture)
{
    const double spread = patternSpread(picture);
    if (spread >= kLeastPatternSpread)
        return {};
    return QStringLiteral("画像がほぼ一色で、模様がありません（明るさのばらつき %1、照合には %2 以上が要ります）。"
                          "一色の画像は画面のどこにでも、またはどこにも見つかるため、文字や図柄を含む範囲を使ってください")
        .arg(spread, 0, 'f', 1)
        .arg(kLeastPatternSpread, 0, 'f', 0);
}

QString ScreenSession::templateProblem(const QImage &picture) const
{
    const QImage bgr = toBgr(picture);
    return templatePictureProblem(bgrMat(bgr));
}

QImage ScreenSession::stillCut(const QList<QImage> &pictures, const QRect &area) const
{
    if (pictures.isEmpty() || area.isEmpty() || !pictures.front().rect().contains(area))
        return {};
    // Only the part is converted: the pictures are whole frames.
    std::vector<QImage> parts;
    std::vector<cv::Mat> mats;
    parts.reserve(size_t(pictures.size()));
    for (const QImage &picture : pictures) {
        if (picture.size() != pictures.front().size())
            break;
        parts.push_back(toBgr(picture.copy(area)));
        mats.push_back(bgrMat(parts.back()));
    }
    const cv::Mat cut = ::stillCut(mats, cv::Rect(0, 0, area.width(), area.height()));
    return QImage(cut.data, cut.cols, cut.rows, static_cast<qsizetype>(cut.step), QImage::Format_BGR888)
        .convertToFormat(QImage::Format_RGB888);
}

ScreenSession::ScreenSession(QObject *parent)
    : QObject(parent)
{
}

// What an opening's thread and the session share. The thread holds it too:
// an opening the session abandoned ends on its own, touching nothing freed,
// and what it opened is closed with it.
struct ScreenSession::Opening {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    std::unique_ptr<FrameSource> source;
    QString error;
    // Tells the session (cleared when the session lets the opening go).
    std::function<void()> onDone;
    // The source being started, for abandonOpen() to cancel; and whether the
    // session let the opening go.
    FrameSource *starting = nullptr;
    bool abandoned = false;
    // The opening's thread has ended (touches nothing of the program's any
    // more: the program may end).
    bool threadEnded = false;
};

namespace {
// How long a session that goes away waits for an opening it abandoned: a
// stream lets go within a tenth of a second; a camera or a video library
// that cannot be asked to stop is left to end on its own.
constexpr int kOpeningEndWaitMs = 2000;
}

ScreenSession::~ScreenSession()
{
    abandonOpen();
    // The openings let go end before the session does: the program may end
    // after it, and a thread still inside the network library then would
    // find it torn down.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kOpeningEndWaitMs);
    for (const std::shared_ptr<Opening> &opening : abandoned_) {
        std::unique_lock lock(opening->mutex);
        opening->changed.wait_until(lock, deadline, [&] { return opening->threadEnded; });
    }
    endWaits();
    display_.reset();
}

void ScreenSession::followDisplay()
{
    display_.reset();
    if (source_ && area_.mode != DisplayArea::Mode::WholeFrame)
        display_ = std::make_unique<DisplaySource>(*source_, area_);
}

const FrameSource &ScreenSession::watched() const
{
    return display_ ? *display_ : *source_;
}

void ScreenSession::setDisplay(const DisplayArea &area)
{
    if (area == area_ && (display_ || area_.mode == DisplayArea::Mode::WholeFrame))
        return;
    endWaits();
    area_ = area;
    followDisplay();
}

void ScreenSession::endWaits()
{
    watch_.reset();
    textWatch_.reset();
    frameWaitAfter_.reset();
}

void ScreenSession::startOpen(const QString &source)
{
    abandonOpen();
    opened_ = OpenState();
    auto opening = std::make_shared<Opening>();
    opening_ = opening;
    const SourceAddress address = parseSourceAddress(source);
    if (!address.isValid()) {
        opening->done = true;
        opening->error = address.problem;
        return;
    }
    // The session lives on its own thread: the wake-up is handed there. (A
    // call queued for a session that is gone by then is dropped.)
    opening->onDone = [this] {
        QMetaObject::invokeMethod(
            this, [this] { if (wakeUp_) wakeUp_(); }, Qt::QueuedConnection);
    };
    std::thread([opening, address] {
        std::unique_ptr<FrameSource> source;
        bool opened = false;
        QString error;
        try {
            source = makeFrameSource(address);
            {
                std::lock_guard lock(opening->mutex);
                if (!opening->abandoned)
                    opening->starting = source.get();
            }
            if (opening->starting) {
                opened = source->start();
                error = source->errorText();
            }
        } catch (...) {
            error = QStringLiteral("画面の取り込み元「%1」を開けません。").arg(address.text);
        }
        std::unique_lock lock(opening->mutex);
        opening->starting = nullptr;
        opening->done = true;
        if (opened && !opening->abandoned)
            opening->source = std::move(source);
        else
            opening->error = error;
        if (opening->onDone)
            opening->onDone();
        opening->changed.notify_all();
        lock.unlock();
        // What an abandoned opening opened is closed here, off the session's
        // thread; then the session may end.
        source.reset();
        lock.lock();
        opening->threadEnded = true;
        opening->changed.notify_all();
    }).detach();
}

RunScreen::OpenState ScreenSession::openState()
{
    if (!opening_)
        return opened_;
    std::unique_ptr<FrameSource> source;
    {
        std::lock_guard lock(opening_->mutex);
        if (!opening_->done)
            return {};
        opened_.done = true;
        opened_.error = opening_->error;
        source = std::move(opening_->source);
        opening_->onDone = nullptr;
    }
    letGoOfOpening();
    if (source) {
        // The new source takes the old one's place; the waits on it end.
        endWaits();
        display_.reset();
        source_ = std::move(source);
        followDisplay();
        ++sourceNumber_;
        opened_.opened = true;
    }
    return opened_;
}

void ScreenSession::abandonOpen()
{
    if (!opening_)
        return;
    {
        std::lock_guard lock(opening_->mutex);
        opening_->onDone = nullptr;
        opening_->abandoned = true;
        if (opening_->starting)
            opening_->starting->cancel();
    }
    letGoOfOpening();
}

void ScreenSession::letGoOfOpening()
{
    std::erase_if(abandoned_, [](const std::shared_ptr<Opening> &opening) {
        std::lock_guard lock(opening->mutex);
        return opening->threadEnded;
    });
    abandoned_.push_back(std::move(opening_));
}

bool ScreenSession::openSource(const QString &source, QString *error)
{
    startOpen(source);
    {
        std::unique_lock lock(opening_->mutex);
        opening_->changed.wait(lock, [this] { return opening_->done; });
    }
    const OpenState state = openState();
    if (!state.opened)
        *error = state.error;
    return state.opened;
}

ScreenPicture ScreenSession::newestPicture(qint64 knownSource, qint64 knownNumber) const
{
    ScreenPicture picture;
    if (!source_)
        return picture;
    picture.sourceNumber = sourceNumber_;
    picture.sourceName = source_->name();
    const SourceStatus status = source_->status();
    picture.ended = status.ended;
    picture.endReason = status.endReason;
    const Frame frame = source_->newest();
    picture.number = frame.number;
    if (frame.isEmpty() || (knownSource == sourceNumber_ && knownNumber == frame.number))
        return picture;
    // Frames are 8-bit BGR: the same bytes, in the picture's own order.
    const cv::Mat &image = frame.image;
    picture.image = QImage(image.data, image.cols, image.rows, static_cast<qsizetype>(image.step), QImage::Format_BGR888)
                        .convertToFormat(QImage::Format_RGB888);
    if (display_) {
        picture.outline = QPolygonF(display_->outline());
        const cv::Mat upright = display_->newest().image;
        if (!picture.outline.isEmpty() && !upright.empty()) {
            picture.display = QImage(upright.data, upright.cols, upright.rows, static_cast<qsizetype>(upright.step),
                                     QImage::Format_BGR888)
                                  .convertToFormat(QImage::Format_RGB888);
        }
    }
    return picture;
}

bool ScreenSession::readText(const QImage &picture, QString *text, QString *error)
{
    std::lock_guard lock(viewReading_);
    if (!viewReader_) {
        auto reader = std::make_unique<TextReader>();
        if (!reader->open()) {
            *error = reader->errorText();
            return false;
        }
        viewReader_ = std::move(reader);
    }
    const QImage bgr = toBgr(picture);
    *text = viewReader_->read(bgrMat(bgr));
    return true;
}

bool ScreenSession::loadTemplate(const QString &path, QString *reason)
{
    if (templates_.contains(path))
        return true;
    const cv::Mat picture = readTemplate(path, reason);
    if (picture.empty())
        return false;
    templates_.insert(path, std::make_shared<const TemplateMatcher>(picture));
    return true;
}

void ScreenSession::startWait(const QString &path, double level, bool gone)
{
    endWaits();
    if (!source_)
        return;
    source_->resume();
    atWaitStart_ = source_->status();
    std::shared_ptr<const TemplateMatcher> matcher = templates_.value(path);
    if (!matcher) {
        QString reason;
        if (!loadTemplate(path, &reason))
            return;
        matcher = templates_.value(path);
    }
    // The watch's thread tells the run's thread, which wakes its wait.
    watch_ = std::make_unique<PictureWatch>(watched(), matcher, level,
                                            gone ? PictureWatch::Goal::Gone : PictureWatch::Goal::Appear, [this] {
                                                QMetaObject::invokeMethod(
                                                    this, [this] { if (wakeUp_) wakeUp_(); }, Qt::QueuedConnection);
                                            });
}

RunScreen::WaitState ScreenSession::waitState() const
{
    WaitState state;
    if (!source_)
        return state;
    const SourceStatus status = source_->status();
    state.sourceEnded = status.ended;
    state.endReason = status.endReason;
    state.framesSeen = status.framesSeen - atWaitStart_.framesSeen;
    state.framesUndecodable = status.framesUndecodable - atWaitStart_.framesUndecodable;
    state.lastFrameTime = status.lastFrameTime;
    state.sourceReopened = status.reopened - atWaitStart_.reopened;
    state.sourceReopenedAfter = status.reopenedAfter;
    if (watch_) {
        const PictureWatch::Progress progress = watch_->progress();
        state.done = progress.done;
        state.tooLarge = progress.tooLarge;
        state.frameSize = progress.frameSize;
        state.bestSimilarity = progress.best.similarity;
        state.bestPlace = progress.best.place;
        state.bestSize = progress.best.size;
        state.bestWeakestPart = progress.best.weakestPart;
        state.lastSimilarity = progress.last.similarity;
        state.lastPlace = progress.last.place;
        state.framesMatched = progress.framesMatched;
    }
    if (textWatch_) {
        const TextWatch::Progress progress = textWatch_->progress();
        state.done = progress.done;
        state.lastRead = progress.lastRead;
        state.glyphPixels = progress.glyphPixels;
        // A display made upright at a resolution finer than the camera sees
        // it holds no more than the camera's pixels: its glyphs are as small
        // as the camera shows them.
        const double framePixels = display_ ? display_->framePixelsPerUpright() : 0.0;
        if (progress.glyphPixels > 0 && framePixels > 0 && framePixels < 1) {
            state.glyphPixels = std::max(1, int(std::lround(progress.glyphPixels * framePixels)));
            state.glyphPixelsInFrame = true;
        }
        state.readings = progress.readings;
        state.readError = progress.error;
        state.regionRead = progress.regionRead;
    }
    if (frameWaitAfter_)
        state.done = source_->newest().number > *frameWaitAfter_;
    return state;
}

void ScreenSession::endWait()
{
    endWaits();
}

void ScreenSession::startFrameWait()
{
    endWaits();
    if (!source_)
        return;
    atWaitStart_ = source_->status();
    frameWaitAfter_ = source_->newest().number;
}

bool ScreenSession::prepareTextReading(QString *reason)
{
    if (!reader_)
        reader_ = TextReader::shared(reason);
    return reader_ != nullptr;
}

void ScreenSession::startTextWait(const QString &wanted, const QRect &region, double seconds)
{
    endWaits();
    if (!source_)
        return;
    source_->resume();
    atWaitStart_ = source_->status();
    QString reason;
    if (!prepareTextReading(&reason)) {
        textWatch_ = std::make_unique<TextWatch>(reason);
        return;
    }
    textWatch_ = std::make_unique<TextWatch>(watched(), reader_, wanted, region, seconds, [this] {
        QMetaObject::invokeMethod(
            this, [this] { if (wakeUp_) wakeUp_(); }, Qt::QueuedConnection);
    });
}

bool ScreenSession::saveNewest(const QString &path, QString *error)
{
    const Frame frame = source_ ? source_->newest() : Frame();
    if (frame.isEmpty()) {
        *error = QStringLiteral("「%1」: まだフレームが 1 枚も来ていません。").arg(path);
        return false;
    }
    if (display_) {
        // The whole frame, with the display's outline drawn as it was
        // found in it.
        const QList<QPointF> outline = display_->outline();
        if (!outline.isEmpty()) {
            cv::Mat marked = frame.image.clone();
            drawPolygon(marked, outline, cv::Scalar(0, 220, 0), 2);
            return saveFramePng(marked, path, error);
        }
    }
    return saveFramePng(frame.image, path, error);
}

bool ScreenSession::saveMarked(const QString &path, const QRect &box, const QRect &part, QString *error)
{
    const Frame frame = source_ ? source_->newest() : Frame();
    if (frame.isEmpty() || (box.isEmpty() && part.isEmpty()))
        return saveNewest(path, error);
    // With the display found in the frame and made upright, the places are
    // the upright picture's pixels: drawn where they lie in the frame, the
    // display's outline with them.
    const QList<QPointF> outline = display_ ? display_->outline() : QList<QPointF>();
    const cv::Mat upright = display_ ? display_->newest().image : cv::Mat();
    std::optional<cv::Matx33d> toFrame;
    if (outline.size() == 4 && !upright.empty()) {
        DisplayCorners corners;
        for (size_t i = 0; i < 4; ++i)
            corners[i] = cv::Point2f(float(outline[qsizetype(i)].x()), float(outline[qsizetype(i)].y()));
        toFrame = uprightToFrame(corners, upright.size());
    }
    // The template's place in yellow, its part that did not match in red,
    // each with a dark edge so that it shows on a light screen and a dark.
    cv::Mat marked = frame.image.clone();
    if (toFrame)
        drawPolygon(marked, outline, cv::Scalar(0, 220, 0), 2);
    auto draw = [&](const QRect &r, const cv::Scalar &colour) {
        if (r.isEmpty())
            return;
        const cv::Rect area(r.x() - 1, r.y() - 1, r.width() + 2, r.height() + 2);
        if (!toFrame) {
            cv::rectangle(marked, area, cv::Scalar(0, 0, 0), 3);
            cv::rectangle(marked, area, colour, 1);
            return;
        }
        const std::vector<cv::Point2f> corners = {cv::Point2f(float(area.x), float(area.y)),
                                                  cv::Point2f(float(area.x + area.width - 1), float(area.y)),
                                                  cv::Point2f(float(area.x + area.width - 1), float(area.y + area.height - 1)),
                                                  cv::Point2f(float(area.x), float(area.y + area.height - 1))};
        std::vector<cv::Point2f> inFrame;
        cv::perspectiveTransform(corners, inFrame, *toFrame);
        QList<QPointF> polygon;
        for (const cv::Point2f &p : inFrame)
            polygon.append(QPointF(p.x, p.y));
        drawPolygon(marked, polygon, cv::Scalar(0, 0, 0), 3);
        drawPolygon(marked, polygon, colour, 1);
    };
    draw(box, cv::Scalar(0, 220, 255));
    draw(part, cv::Scalar(0, 0, 255));
    return saveFramePng(marked, path, error);
}

bool ScreenSession::saveText(const QString &path, const QString &text, QString *error)
{
    return saveTextFile(path, text, error);
}
