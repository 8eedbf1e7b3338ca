#include "app/frmscreen.h"

#include "app/screenwindowfiles.h"

#include "keypad/keypadwindows.h"
#include "macro/macrorunner.h"
#include "platform/cp932.h"
#include "screen/screenplugin.h"
#include "screen/screenview.h"
#include "screen/sourceaddress.h"
#include "widgets/appearance.h"
#include "widgets/desktop.h"
#include "widgets/placement.h"
#include "widgets/taskbar.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHideEvent>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// How often the window looks for a new frame: well within a frame of a
// 30 fps source.
constexpr int kRefreshMs = 15;
constexpr qint64 kRateWindowMs = 2000;
// How long a found wait stays marked.
constexpr int kFoundShownMs = 2000;
// How long a notice (a picture saved, a checkpoint put in) stays in the
// status line.
constexpr qint64 kNoticeShownMs = 5000;
// How often the recording's last lines are looked at.
constexpr qint64 kRecordingLookMs = 200;
// A window too wide for the room beside the main window shows its picture
// smaller to fit there, though not narrower than this (a QVGA screen at its
// own size); narrower still, it keeps its size and lies over the main
// window.
constexpr int kNarrowestBeside = 320;
// After the window took a new frame's size, any other size it has is not
// taken for the user's resizing until the window manager has had this long
// to answer: under load it may first report the size from an earlier
// request, and the window grown over the main window stayed there.
constexpr qint64 kOwnResizeMs = 1000;

const QColor kWaitingColour(255, 200, 0);
const QColor kFoundColour(0, 200, 0);
const QColor kRanOutColour(230, 0, 0);

const QString kCaption = QStringLiteral("画面");

QString shortened(const QString &text, qsizetype longest)
{
    const QString line = text.simplified();
    return line.size() > longest ? line.left(longest) + QStringLiteral("…") : line;
}

} // namespace

using namespace ScreenWindowFiles;

frmScreen::frmScreen(Desktop &desktop, LazyScreen &screen, KeypadWindows &keypad)
    : desktop_(desktop), screen_(screen), keypad_(keypad)
{
    setObjectName(QStringLiteral("frmScreen"));
    setWindowIcon(programIcon());
    setFont(userInterfaceFont());
    setWindowTitle(caption(QString()));

    picture = new FramePicture(this);
    lblNoSource = new QLabel(this);
    lblNoSource->setObjectName(QStringLiteral("lblNoSource"));
    lblNoSource->setAlignment(Qt::AlignCenter);
    lblNoSource->setWordWrap(true);
    cmdSource = new QPushButton(QStringLiteral("画面の取り込み元(&S)..."), this);
    cmdSource->setObjectName(QStringLiteral("cmdSource"));
    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setTextFormat(Qt::PlainText);
    lblStatus->setMinimumWidth(1);
    lblWait = new QLabel(this);
    lblWait->setObjectName(QStringLiteral("lblWait"));
    lblWait->setTextFormat(Qt::PlainText);
    lblWait->setMinimumWidth(1);
    lblWait->hide();
    // The lines wrap: a narrow window shows them whole (the reason a wait
    // ended too).
    lblStatus->setWordWrap(true);
    lblWait->setWordWrap(true);
    for (QLabel *label : {lblStatus, lblWait})
        label->setIndent(4);
    // Wide enough for the frame's line with a selection, whatever the
    // frame: a drag does not make it wrap and move the picture.
    setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("1280×720  30.0 fps  選択 999×999（999, 999 から）")) + 16);
    evidenceBar = new QWidget(this);
    evidenceBar->setObjectName(QStringLiteral("evidenceBar"));
    cmdLive = new QPushButton(QStringLiteral("ライブ表示に戻る(&L)"), evidenceBar);
    cmdLive->setObjectName(QStringLiteral("cmdLive"));
    cmdOpenEvidence = new QPushButton(QStringLiteral("証拠のフレームを開く(&O)"), evidenceBar);
    cmdOpenEvidence->setObjectName(QStringLiteral("cmdOpenEvidence"));
    cmdEvidenceFolder = new QPushButton(QStringLiteral("フォルダを開く(&F)"), evidenceBar);
    cmdEvidenceFolder->setObjectName(QStringLiteral("cmdEvidenceFolder"));
    auto *bar = new QHBoxLayout(evidenceBar);
    bar->setContentsMargins(4, 0, 4, 0);
    for (QPushButton *button : {cmdLive, cmdOpenEvidence, cmdEvidenceFolder})
        bar->addWidget(button);
    bar->addStretch(1);
    evidenceBar->hide();
    lblRecording = new QLabel(this);
    lblRecording->setObjectName(QStringLiteral("lblRecording"));
    lblRecording->setTextFormat(Qt::PlainText);
    lblRecording->setMinimumWidth(1);
    lblRecording->setIndent(4);
    lblRecording->hide();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 2);
    layout->setSpacing(2);
    layout->addWidget(picture, 1);
    layout->addWidget(lblNoSource);
    layout->addWidget(cmdSource, 0, Qt::AlignHCenter);
    layout->addWidget(lblStatus);
    layout->addWidget(lblWait);
    layout->addWidget(evidenceBar);
    layout->addWidget(lblRecording);

    auto item = [this](const QString &caption, const char *name, void (frmScreen::*handler)()) {
        auto *action = new QAction(caption, this);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    mnuSavePicture = item(QStringLiteral("選択範囲を画像として保存(&P)..."), "mnuSavePicture", &frmScreen::mnuSavePicture_Click);
    mnuReadText = item(QStringLiteral("選択範囲の文字を読む(&R)"), "mnuReadText", &frmScreen::mnuReadText_Click);
    mnuWaitAppear = item(QStringLiteral("選択範囲が現れるまで待つ(&A)"), "mnuWaitAppear", &frmScreen::mnuWaitAppear_Click);
    mnuWaitGone = item(QStringLiteral("選択範囲が消えるまで待つ(&G)"), "mnuWaitGone", &frmScreen::mnuWaitGone_Click);
    mnuWaitText = item(QStringLiteral("この文字が現れるまで待つ(&T)"), "mnuWaitText", &frmScreen::mnuWaitText_Click);
    mnuUndoCheckpoint = item(QStringLiteral("最後のチェックポイントを取り消す(&Z)"), "mnuUndoCheckpoint",
                             &frmScreen::mnuUndoCheckpoint_Click);
    mnuShowDisplay = item(QStringLiteral("表示部分を正面から見る(&U)"), "mnuShowDisplay", &frmScreen::mnuShowDisplay_Click);
    mnuShowDisplay->setCheckable(true);
    mnuSetCorners = item(QStringLiteral("表示部分の四隅を合わせる(&C)"), "mnuSetCorners", &frmScreen::mnuSetCorners_Click);
    mnuSetCorners->setCheckable(true);
    mnuApplyCorners = item(QStringLiteral("表示部分をこの四隅に決める(&K)..."), "mnuApplyCorners", &frmScreen::mnuApplyCorners_Click);
    const QList<QPair<QString, int>> zooms{{QStringLiteral("等倍(&1)"), 1},
                                           {QStringLiteral("2 倍(&2)"), 2},
                                           {QStringLiteral("3 倍(&3)"), 3},
                                           {QStringLiteral("ウィンドウに合わせる(&W)"), FramePicture::kFillZoom}};
    for (const auto &[caption, zoom] : zooms) {
        auto *action = new QAction(caption, this);
        action->setObjectName(QStringLiteral("mnuZoom%1").arg(zoom));
        action->setCheckable(true);
        action->setChecked(zoom == 1);
        connect(action, &QAction::triggered, this, [this, zoom = zoom] { setZoom(zoom); });
        mnuZoom.append(action);
    }
    mnuLive = item(QStringLiteral("ライブ表示に戻る(&L)"), "mnuLive", &frmScreen::showLive);
    mnuOpenEvidence = new QAction(QStringLiteral("証拠のフレームを開く(&O)"), this);
    mnuOpenEvidence->setObjectName(QStringLiteral("mnuOpenEvidence"));
    mnuEvidenceFolder = new QAction(QStringLiteral("証拠のフォルダを開く(&F)"), this);
    mnuEvidenceFolder->setObjectName(QStringLiteral("mnuEvidenceFolder"));
    auto openEvidence = [this] { desktop_.openPath(this, evidencePath_); };
    auto openFolder = [this] { desktop_.openPath(this, QFileInfo(evidencePath_).absolutePath()); };
    connect(mnuOpenEvidence, &QAction::triggered, this, openEvidence);
    connect(cmdOpenEvidence, &QPushButton::clicked, this, openEvidence);
    connect(mnuEvidenceFolder, &QAction::triggered, this, openFolder);
    connect(cmdEvidenceFolder, &QPushButton::clicked, this, openFolder);
    connect(cmdLive, &QPushButton::clicked, this, &frmScreen::showLive);
    mnuSource = new QAction(QStringLiteral("画面の取り込み元(&S)..."), this);
    mnuSource->setObjectName(QStringLiteral("mnuSource"));
    connect(mnuSource, &QAction::triggered, this, &frmScreen::sourceWanted);
    connect(cmdSource, &QPushButton::clicked, this, &frmScreen::sourceWanted);
    connect(picture, &FramePicture::menuAsked, this, &frmScreen::showMenu);
    // The corners as the user drags them: the status line follows.
    connect(picture, &FramePicture::outlineChanged, this, &frmScreen::showStatus);
    connect(picture, &FramePicture::selectionChanged, this, &frmScreen::showStatus);

    clock_.start();
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &frmScreen::refresh);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        // Room for the window's frame and the status line.
        const QSize room = screen->availableGeometry().size() - QSize(40, 120);
        picture->setLargest(room);
    }
    picture->setFocus();
    refresh();
}

frmScreen::~frmScreen()
{
    if (reading_.joinable())
        reading_.join();
}

void frmScreen::watchRun(MacroRunner &runner)
{
    connect(&runner, &MacroRunner::screenWaitStarted, this, &frmScreen::waitStarted);
    connect(&runner, &MacroRunner::screenWaitEnded, this, &frmScreen::waitEnded);
}

void frmScreen::runStarted()
{
    running_ = true;
    evidencePath_.clear();
    wait_.reset();
    phase_ = WaitPhase::None;
    picture->setMark(std::nullopt);
    // A selection made before is no part of what the run marks.
    picture->setSelection(QRect());
    showLive();
}

void frmScreen::runEnded()
{
    running_ = false;
    keepingPictureSize([this] {
        lblWait->setMinimumHeight(0);
        lblWait->setVisible(!lblWait->text().isEmpty());
    });
}

void frmScreen::setHandsetName(const QString &name)
{
    handsetName_ = name;
    setWindowTitle(caption(sourceNumber_ != 0 ? sourceName_ : QString()));
}

QString frmScreen::caption(const QString &source) const
{
    QString text = kCaption;
    if (!handsetName_.isEmpty())
        text += QStringLiteral(" - ") + handsetName_;
    if (!source.isEmpty())
        text += QStringLiteral(" - ") + source;
    return text;
}

void frmScreen::showLive()
{
    keepingPictureSize([this] {
        dropEvidence();
        if (isVisible())
            refresh();
        showStatus();
    });
}

void frmScreen::dropEvidence()
{
    evidence_.clear();
    evidenceBar->hide();
    if (phase_ == WaitPhase::RanOut || phase_ == WaitPhase::Failed) {
        phase_ = WaitPhase::None;
        wait_.reset();
        picture->setMark(std::nullopt);
    }
    frameNumber_ = 0; // the live frame again (now, or when shown)
}

void frmScreen::showBeside(const QWidget *mainWindow, const QRect &keypad)
{
    beside_ = mainWindow;
    if (!placed_ && mainWindow && mainWindow->isVisible() && mainWindow->screen()) {
        // Beside the main window and the keypad next to it, as the keypad
        // goes beside the main window.
        keypadPlace_ = keypad;
        refresh(); // the newest frame first: placed at its size
        adjustSize();
        placed_ = true;
        ownSize_ = size();
        // Before the main window has its frame, where a frame goes is not
        // known: placed once the window manager has framed this one.
        if (mainWindow->frameGeometry() != mainWindow->geometry())
            putBeside(outerSize(size(), mainWindow), true);
        else
            placeWhenFramed_ = true;
    }
    bringBack(this);
}

void frmScreen::keepBeside()
{
    // A window grown over the main window or off the screen (a larger
    // frame came) goes beside it again.
    if (!placed_ || !beside_ || !beside_->isVisible() || !isVisible())
        return;
    putBeside(frameGeometry().size(), false);
}

void frmScreen::putBeside(const QSize &outer, bool always)
{
    if (!beside_ || !beside_->screen())
        return;
    const QRect anchor = beside_->frameGeometry() | keypadPlace_;
    const QRect available = beside_->screen()->availableGeometry();
    if (!always && !frameGeometry().intersects(anchor) && available.contains(frameGeometry()))
        return;
    const QSize fitted = fitBeside(anchor, outer, available);
    ownSize_ = size();
    placeFrameAt(placeBeside(anchor, fitted, available));
}

QSize frmScreen::fitBeside(const QRect &anchor, const QSize &outer, const QRect &available)
{
    // (Enlarged by the user's choice, it stays as large.)
    const int room = std::max(available.right() - anchor.right(), anchor.left() - available.left());
    if (outer.width() <= room || picture->frame().isNull() || !picture->isVisible() || picture->zoom() != 1)
        return outer;
    // The window's frame and the room around the picture stay as they are.
    const int around = outer.width() - picture->width();
    if (room - around < kNarrowestBeside)
        return outer;
    const QSize shown = picture->frame().size().scaled(QSize(room - around, picture->height()), Qt::KeepAspectRatio);
    const QSize before = size();
    resize(before - picture->size() + shown);
    return outer + (size() - before);
}

void frmScreen::placeFrameAt(const QPoint &frame)
{
    // Placed by its inside, which means the same before and after the
    // window manager frames it: its frame as it is, or as the main window's
    // before it has one.
    QPoint inside = geometry().topLeft() - frameGeometry().topLeft();
    if (inside.isNull() && beside_)
        inside = beside_->geometry().topLeft() - beside_->frameGeometry().topLeft();
    setGeometry(QRect(frame + inside, size()));
}

void frmScreen::keepingPictureSize(const std::function<void()> &change)
{
    const bool shown = isVisible() && picture->isVisible() && !picture->frame().isNull();
    const QSize before = picture->size();
    change();
    if (!shown || !layout())
        return;
    layout()->activate();
    const int shortBy = before.height() - picture->height();
    if (shortBy != 0)
        resize(width(), height() + shortBy);
}

void frmScreen::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refresh_.start();
    refresh();
}

void frmScreen::hideEvent(QHideEvent *event)
{
    refresh_.stop();
    // The frames a selection is cut from are not held while nothing is
    // shown (eight 1080p frames are 50 MB).
    shownLately_.clear();
    // Shown again where the user left it, for the program's life.
    if (placed_ && !event->spontaneous())
        move(frameGeometry().topLeft());
    QWidget::hideEvent(event);
}

void frmScreen::refresh()
{
    // Once the window manager has framed it, the window placed beside the
    // main window is looked at again (its frame was not known when placed).
    const bool ownResizePending = size() != ownSize_ && resizedAt_ >= 0 && clock_.elapsed() - resizedAt_ < kOwnResizeMs;
    if (placed_ && !framed_ && frameGeometry() != geometry() && !ownResizePending) {
        framed_ = true;
        // (Not when the user has resized it meanwhile.)
        if (placeWhenFramed_)
            putBeside(frameGeometry().size(), true);
        else if (size() == ownSize_)
            keepBeside();
        placeWhenFramed_ = false;
    }
    if (!view_ && viewError_.isEmpty() && screen_.hasSource())
        view_ = screen_.view(&viewError_);
    const bool hasSource = view_ && screen_.hasSource();
    picture->setVisible(hasSource);
    lblNoSource->setVisible(!hasSource);
    cmdSource->setVisible(!hasSource);
    if (!hasSource) {
        lblNoSource->setText(!viewError_.isEmpty()      ? viewError_
                             : !sourceProblem_.isEmpty() ? sourceProblem_
                                                         : QStringLiteral("画面の取り込み元がありません。"));
        setWindowTitle(caption(QString()));
        showStatus();
        return;
    }
    const ScreenPicture newest = view_->newestPicture(sourceNumber_, frameNumber_);
    if (newest.sourceNumber != sourceNumber_) {
        // A source chosen (another, or the same again): the live picture.
        if (!evidence_.isEmpty())
            dropEvidence();
        sourceNumber_ = newest.sourceNumber;
        frameNumber_ = 0;
        frameTimes_.clear();
        sourceName_ = newest.sourceName;
        setWindowTitle(caption(sourceName_));
    }
    sourceEnd_ = newest.ended ? newest.endReason : QString();
    if (!newest.image.isNull()) {
        frameNumber_ = newest.number;
        frameTimes_.append({clock_.elapsed(), newest.number});
        frame_ = newest.image;
        display_ = newest.display;
        outline_ = newest.outline;
        if (evidence_.isEmpty())
            showNewest();
    }
    while (frameTimes_.size() > 2 && frameTimes_.first().first < clock_.elapsed() - kRateWindowMs)
        frameTimes_.removeFirst();
    if (phase_ == WaitPhase::Waiting)
        markWait();
    if (clock_.elapsed() - recordingLookedAt_ >= kRecordingLookMs) {
        recordingLookedAt_ = clock_.elapsed();
        showRecordingLines();
    }
    showStatus();
}

void frmScreen::showSourceProblem(const QString &reason)
{
    sourceProblem_ = reason;
    showNotice(reason);
    refresh();
}

void frmScreen::showFrame(const QImage &image)
{
    if (!shownLately_.isEmpty() && shownLately_.front().size() != image.size())
        shownLately_.clear();
    if (shownLately_.isEmpty() || shownLately_.front().cacheKey() != image.cacheKey()) {
        shownLately_.prepend(image);
        if (shownLately_.size() > kStillFrames)
            shownLately_.removeLast();
    }
    const bool resized = image.size() != picture->frame().size();
    picture->setFrame(image);
    if (resized) {
        adjustSize();
        ownSize_ = size();
        resizedAt_ = clock_.elapsed();
        framed_ = false; // looked at again at the next refresh
    }
}

double frmScreen::framesPerSecond() const
{
    if (frameTimes_.size() < 2)
        return 0;
    const double ms = double(frameTimes_.last().first - frameTimes_.first().first);
    return ms > 0 ? double(frameTimes_.last().second - frameTimes_.first().second) * 1000.0 / ms : 0;
}

void frmScreen::showNotice(const QString &text)
{
    notice_ = text;
    noticeAt_ = clock_.elapsed();
    showStatus();
}

void frmScreen::showStatus()
{
    QStringList parts;
    if (!notice_.isEmpty() && clock_.elapsed() - noticeAt_ < kNoticeShownMs) {
        parts.append(notice_);
    } else if (view_ && screen_.hasSource()) {
        notice_.clear();
        const QImage &frame = picture->frame();
        if (frame.isNull())
            parts.append(QStringLiteral("フレームを待っています"));
        else if (!evidence_.isEmpty())
            parts.append(QStringLiteral("%1×%2  保存したフレーム %3").arg(frame.width()).arg(frame.height()).arg(QFileInfo(evidence_).fileName()));
        else
            parts.append(QStringLiteral("%1×%2  %3 fps").arg(frame.width()).arg(frame.height()).arg(framesPerSecond(), 0, 'f', 1));
        if (!sourceEnd_.isEmpty())
            parts.append(QStringLiteral("取り込み元が終わりました: %1").arg(sourceEnd_));
        if (showsDisplay() && evidence_.isEmpty())
            parts.append(QStringLiteral("表示部分"));
        const QRect selection = picture->selection();
        if (!selection.isEmpty())
            parts.append(QStringLiteral("選択 %1×%2（%3, %4 から）")
                             .arg(selection.width()).arg(selection.height()).arg(selection.x()).arg(selection.y()));
        if (editingCorners_)
            parts.append(QStringLiteral("四隅をドラッグして合わせ、メニューの「表示部分をこの四隅に決める」で決めます"));
    }
    const QString statusLine = parts.join(QStringLiteral("  "));
    if (lblStatus->text() != statusLine) {
        // (Laid out again only when it takes another number of lines.)
        const int height = lblStatus->heightForWidth(lblStatus->width());
        lblStatus->setText(statusLine);
        if (lblStatus->heightForWidth(lblStatus->width()) != height)
            keepingPictureSize([] {});
    }
    QString waitLine;
    if (wait_) {
        const QString what = wait_->templatePath.isEmpty()
                                 ? (wait_->wantedText.isEmpty() ? QString() : QStringLiteral("「%1」").arg(wait_->wantedText))
                                 : QFileInfo(wait_->templatePath).fileName();
        QString state;
        switch (phase_) {
        case WaitPhase::Waiting:
            // Its time: elapsed of allowed.
            state = QStringLiteral("待っています %1/%2 秒")
                        .arg(waitClock_.elapsed() / 1000)
                        .arg(wait_->seconds, 0, 'g', 4);
            break;
        case WaitPhase::Found:
            state = wait_->keyword == QLatin1String("WAITGONE") ? QStringLiteral("消えました") : QStringLiteral("見つかりました");
            break;
        case WaitPhase::RanOut:
            state = QStringLiteral("%1 秒で時間切れ").arg(wait_->secondsWaited, 0, 'f', 1);
            break;
        case WaitPhase::Failed:
            state = QStringLiteral("止まりました");
            break;
        case WaitPhase::None:
            break;
        }
        if (shownSimilarity_ >= 0)
            state += QStringLiteral(" 類似度 %1").arg(shownSimilarity_, 0, 'f', 3);
        if (!evidence_.isEmpty())
            state += QStringLiteral("（保存したフレームを表示中）");
        // The file's line, as the run's messages name it.
        waitLine = QStringLiteral("%1 行目 %2 %3 %4").arg(wait_->line).arg(wait_->keyword, what, state).simplified();
        // Why it stopped, whole (the label wraps).
        if (phase_ == WaitPhase::Failed && !wait_->failure.isEmpty()) {
            QString reason = wait_->failure;
            if (reason.startsWith(wait_->keyword + QStringLiteral(": ")))
                reason = reason.mid(wait_->keyword.size() + 2);
            waitLine += u'\n' + reason;
        }
    }
    // During a run the line keeps the most lines it has taken, shown empty
    // between waits: the picture does not move up and down from one wait
    // to the next (and the window does not ask the window manager for
    // another height at each).
    if (lblWait->text() != waitLine || lblWait->isVisible() != (!waitLine.isEmpty() || lblWait->minimumHeight() > 0) ||
        evidenceBar->isVisible() != !evidence_.isEmpty()) {
        keepingPictureSize([&] {
            lblWait->setText(waitLine);
            if (running_ && !waitLine.isEmpty())
                lblWait->setMinimumHeight(std::max(lblWait->minimumHeight(), lblWait->heightForWidth(width())));
            lblWait->setVisible(!waitLine.isEmpty() || lblWait->minimumHeight() > 0);
            evidenceBar->setVisible(!evidence_.isEmpty());
        });
    }
}

void frmScreen::showMenu(const QPoint &where)
{
    const bool selected = !picture->selection().isEmpty();
    const bool recording = !recordingPath().isEmpty();
    const bool live = picture->isVisible() && evidence_.isEmpty() && !frame_.isNull();
    mnuUndoCheckpoint->setEnabled(recording && std::any_of(recordingShown_.begin(), recordingShown_.end(), [](const QString &line) {
        return line.startsWith(QStringLiteral("WAIT"));
    }));
    mnuShowDisplay->setEnabled(live && !display_.isNull() && !editingCorners_);
    mnuShowDisplay->setChecked(showsDisplay());
    mnuSetCorners->setEnabled(live && !showsDisplay());
    mnuSetCorners->setChecked(editingCorners_);
    mnuSavePicture->setEnabled(selected);
    mnuReadText->setEnabled(selected && !readingBusy_);
    mnuWaitAppear->setEnabled(selected);
    mnuWaitGone->setEnabled(selected);
    mnuWaitText->setEnabled(selected && !readingBusy_);
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("screenMenu"));
    menu.addAction(mnuSavePicture);
    menu.addAction(mnuReadText);
    if (recording) {
        menu.addSeparator();
        menu.addAction(mnuWaitAppear);
        menu.addAction(mnuWaitGone);
        menu.addAction(mnuWaitText);
        menu.addAction(mnuUndoCheckpoint);
    }
    if (!evidencePath_.isEmpty()) {
        menu.addSeparator();
        if (showsEvidence())
            menu.addAction(mnuLive);
        menu.addAction(mnuOpenEvidence);
        menu.addAction(mnuEvidenceFolder);
    }
    menu.addSeparator();
    menu.addAction(mnuShowDisplay);
    QMenu *zoom = menu.addMenu(QStringLiteral("拡大(&E)"));
    zoom->setObjectName(QStringLiteral("zoomMenu"));
    zoom->setEnabled(live);
    for (QAction *action : mnuZoom) {
        action->setChecked(action->objectName() == QStringLiteral("mnuZoom%1").arg(picture->zoom()));
        zoom->addAction(action);
    }
    menu.addAction(mnuSetCorners);
    if (editingCorners_)
        menu.addAction(mnuApplyCorners);
    menu.addSeparator();
    menu.addAction(mnuSource);
    menu.exec(picture->mapToGlobal(where));
}

QImage frmScreen::selectedStill() const
{
    const QRect selection = picture->selection();
    if (view_ && !selection.isEmpty() && !shownLately_.isEmpty() &&
        shownLately_.front().cacheKey() == picture->frame().cacheKey()) {
        const QImage still = view_->stillCut(shownLately_, selection);
        if (!still.isNull())
            return still;
    }
    return picture->selectedPixels();
}

void frmScreen::mnuSavePicture_Click()
{
    // The pixels as they are when the user asks, whatever comes meanwhile.
    const QImage pixels = picture->selectedPixels();
    if (pixels.isNull())
        return;
    QString folder = lastPicturePath_.isEmpty() ? macroFolder_ : QFileInfo(lastPicturePath_).absolutePath();
    if (folder.isEmpty())
        folder = QDir::currentPath();
    const QString path = desktop_.chooseNewPicture(this, freeName(folder, QStringLiteral("画像")));
    if (path.isEmpty())
        return;
    QString error;
    if (!savePng(pixels, path, &error)) {
        desktop_.showMessage(this, error);
        return;
    }
    lastPicturePath_ = path;
    showNotice(QStringLiteral("%1×%2 の画像を「%3」に保存しました。")
                   .arg(pixels.width()).arg(pixels.height()).arg(QDir::toNativeSeparators(path)));
}

void frmScreen::waitStarted(const ScreenWaitReport &report)
{
    waitClock_.start();
    wait_ = report;
    phase_ = WaitPhase::Waiting;
    shownSimilarity_ = -1;
    ++waitsSeen_;
    templateSize_ = report.templatePath.isEmpty() ? QSize() : QImageReader(report.templatePath).size();
    markWait();
    showStatus();
}

void frmScreen::markWait()
{
    if (!wait_)
        return;
    const RunScreen::WaitState state = screen_.waitState();
    FramePicture::Mark mark;
    mark.colour = phase_ == WaitPhase::Waiting ? kWaitingColour : phase_ == WaitPhase::Found ? kFoundColour : kRanOutColour;
    if (!wait_->templatePath.isEmpty()) {
        // The newest frame's best place; the best of all while none is known.
        const bool newest = state.lastSimilarity >= 0;
        if (phase_ == WaitPhase::Waiting && (newest || state.bestSimilarity >= 0)) {
            shownSimilarity_ = newest ? state.lastSimilarity : state.bestSimilarity;
            mark.rect = QRect(newest ? state.lastPlace : state.bestPlace, templateSize_);
        } else if (phase_ != WaitPhase::Waiting && picture->mark()) {
            mark.rect = picture->mark()->rect;
        }
        if (shownSimilarity_ >= 0)
            mark.text = QString::number(shownSimilarity_, 'f', 3);
    } else {
        mark.rect = wait_->region.isEmpty() ? picture->frame().rect() : wait_->region;
        if (state.readings > 0 || !wait_->readText.isEmpty())
            mark.text = shortened(phase_ == WaitPhase::Waiting ? state.lastRead : wait_->readText, 30);
    }
    picture->setMark(mark.rect.isEmpty() ? std::nullopt : std::optional(mark));
}

void frmScreen::waitEnded(const ScreenWaitReport &report)
{
    // Ended for a reason other than its time (the source ended), or ran
    // out; either leaves the frame it ended on.
    const bool failed = !report.found && !report.failure.isEmpty();
    const bool ranOut = !report.found && !failed && !report.evidence.isEmpty();
    if (!wait_) {
        // A wait that began before the window was opened: only its end is
        // known here, and one that ran out leaves its evidence all the same.
        if (!ranOut && !failed)
            return;
        ++waitsSeen_;
        shownSimilarity_ = -1;
        templateSize_ = report.templatePath.isEmpty() ? QSize() : QImageReader(report.templatePath).size();
    }
    wait_ = report;
    if (report.found) {
        phase_ = WaitPhase::Found;
        if (report.similarity >= 0 && !report.templatePath.isEmpty() && report.keyword != QLatin1String("WAITGONE")) {
            shownSimilarity_ = report.similarity;
            picture->setMark(FramePicture::Mark{QRect(report.place, templateSize_), kFoundColour,
                                                QString::number(report.similarity, 'f', 3)});
        }
        markWait();
        const qint64 wait = waitsSeen_;
        QTimer::singleShot(kFoundShownMs, this, [this, wait] {
            if (wait == waitsSeen_ && phase_ == WaitPhase::Found) {
                phase_ = WaitPhase::None;
                wait_.reset();
                picture->setMark(std::nullopt);
                showStatus();
            }
        });
    } else if (ranOut || failed) {
        phase_ = failed ? WaitPhase::Failed : WaitPhase::RanOut;
        // The frame the run saved, not the live one, until the user goes
        // back to the live picture, chooses a source or runs again.
        const QImage evidence(report.evidence);
        evidencePath_ = report.evidence;
        if (!evidence.isNull()) {
            evidence_ = report.evidence;
            // A selection on it is cut from it alone.
            shownLately_.clear();
            keepingPictureSize([&] { showFrame(evidence.convertToFormat(QImage::Format_RGB888)); });
        }
        if (report.similarity >= 0)
            shownSimilarity_ = report.similarity;
        if (!report.templatePath.isEmpty() && report.similarity >= 0)
            picture->setMark(FramePicture::Mark{QRect(report.place, templateSize_), kRanOutColour,
                                                QString::number(report.similarity, 'f', 3)});
        else
            markWait();
    } else {
        // Stopped, or the source failed: nothing to mark.
        phase_ = WaitPhase::None;
        wait_.reset();
        picture->setMark(std::nullopt);
    }
    showStatus();
}
