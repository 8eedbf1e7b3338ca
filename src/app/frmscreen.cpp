#include "app/frmscreen.h"

#include "keypad/keypadwindows.h"
#include "macro/macrorunner.h"
#include "platform/cp932.h"
#include "screen/screenplugin.h"
#include "screen/screenview.h"
#include "screen/sourceaddress.h"
#include "widgets/appearance.h"
#include "widgets/desktop.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QVBoxLayout>

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

const QColor kWaitingColour(255, 200, 0);
const QColor kFoundColour(0, 200, 0);
const QColor kRanOutColour(230, 0, 0);

const QString kCaption = QStringLiteral("画面");

QString shortened(const QString &text, qsizetype longest)
{
    const QString line = text.simplified();
    return line.size() > longest ? line.left(longest) + QStringLiteral("…") : line;
}

// Whether a macro file (Shift-JIS) can hold `text` as it is.
bool fitsMacroFile(const QString &text)
{
    return decodeCp932(encodeCp932(text)) == text;
}

// A file name in `folder` not taken yet: `base` and the first free number.
QString freeName(const QString &folder, const QString &base)
{
    QString path;
    for (int n = 1; path.isEmpty() || QFileInfo::exists(path); ++n)
        path = QDir(folder).filePath(QStringLiteral("%1%2.png").arg(base).arg(n));
    return path;
}

// Writes `pixels` as a PNG file, whole or not at all.
bool savePng(const QImage &pixels, const QString &path, QString *error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && pixels.save(&file, "PNG") && file.commit())
        return true;
    *error = QStringLiteral("画像ファイル「%1」に書き込めません: %2。").arg(QDir::toNativeSeparators(path), file.errorString());
    return false;
}

// `source` as a recording's SCREEN line takes it: a file by its whole path
// (a replay reads a relative one beside the macro file); empty when a line
// cannot hold it (a space, a character Shift-JIS lacks).
QString screenLineSource(const QString &source)
{
    const SourceAddress address = parseSourceAddress(source);
    if (!address.isValid())
        return {};
    QString word = source;
    if (address.kind == SourceAddress::Kind::StillImage || address.kind == SourceAddress::Kind::VideoFile)
        word = QFileInfo(source).absoluteFilePath();
    if (word.contains(u' ') || word.contains(u'\t') || word.contains(QChar(0x3000)) || !fitsMacroFile(word))
        return {};
    return word;
}

} // namespace

frmScreen::frmScreen(Desktop &desktop, LazyScreen &screen, KeypadWindows &keypad, std::function<void()> chooseSource,
                     std::function<QString()> macroFolder)
    : desktop_(desktop), screen_(screen), keypad_(keypad), chooseSource_(std::move(chooseSource)),
      macroFolder_(std::move(macroFolder))
{
    setObjectName(QStringLiteral("frmScreen"));
    setWindowIcon(programIcon());
    setFont(userInterfaceFont());
    setWindowTitle(kCaption);

    picture = new FramePicture(this);
    picture->setContextMenuPolicy(Qt::CustomContextMenu);
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
    for (QLabel *label : {lblStatus, lblWait})
        label->setIndent(4);
    // Wide enough for a wait's line with a usual name, whatever the frame.
    setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("999 行目 WAITIMAGE 記録99.png 時間切れ（保存したフレームを表示中） 類似度 0.000")) + 8);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 2);
    layout->setSpacing(2);
    layout->addWidget(picture, 1);
    layout->addWidget(lblNoSource);
    layout->addWidget(cmdSource, 0, Qt::AlignHCenter);
    layout->addWidget(lblStatus);
    layout->addWidget(lblWait);

    auto item = [this](const QString &caption, const char *name, void (frmScreen::*handler)()) {
        auto *action = new QAction(caption, this);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    mnuSavePicture = item(QStringLiteral("選択範囲を画像として保存..."), "mnuSavePicture", &frmScreen::mnuSavePicture_Click);
    mnuReadText = item(QStringLiteral("選択範囲の文字を読む"), "mnuReadText", &frmScreen::mnuReadText_Click);
    mnuWaitAppear = item(QStringLiteral("選択範囲が現れるまで待つ"), "mnuWaitAppear", &frmScreen::mnuWaitAppear_Click);
    mnuWaitGone = item(QStringLiteral("選択範囲が消えるまで待つ"), "mnuWaitGone", &frmScreen::mnuWaitGone_Click);
    mnuWaitText = item(QStringLiteral("この文字が現れるまで待つ"), "mnuWaitText", &frmScreen::mnuWaitText_Click);
    mnuSource = new QAction(QStringLiteral("画面の取り込み元(&S)..."), this);
    mnuSource->setObjectName(QStringLiteral("mnuSource"));
    connect(mnuSource, &QAction::triggered, this, [this] { chooseSource_(); });
    connect(cmdSource, &QPushButton::clicked, this, [this] { chooseSource_(); });
    connect(picture, &QWidget::customContextMenuRequested, this, &frmScreen::showMenu);
    connect(picture, &FramePicture::selectionChanged, this, &frmScreen::showStatus);

    clock_.start();
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &frmScreen::refresh);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        // Room for the window's frame and the status line.
        const QSize room = screen->availableGeometry().size() - QSize(40, 120);
        picture->setLargest(room);
    }
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
    evidence_.clear();
    wait_.reset();
    phase_ = WaitPhase::None;
    picture->setMark(std::nullopt);
    frameNumber_ = 0; // the live frame again (now, or when shown)
    if (isVisible())
        refresh();
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
    QWidget::hideEvent(event);
}

void frmScreen::refresh()
{
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
        setWindowTitle(kCaption);
        showStatus();
        return;
    }
    const ScreenPicture newest = view_->newestPicture(sourceNumber_, frameNumber_);
    if (newest.sourceNumber != sourceNumber_) {
        sourceNumber_ = newest.sourceNumber;
        frameNumber_ = 0;
        frameTimes_.clear();
        sourceName_ = newest.sourceName;
        setWindowTitle(kCaption + QStringLiteral(" - ") + sourceName_);
    }
    sourceEnd_ = newest.ended ? newest.endReason : QString();
    if (!newest.image.isNull()) {
        frameNumber_ = newest.number;
        frameTimes_.append({clock_.elapsed(), newest.number});
        if (evidence_.isEmpty())
            showFrame(newest.image);
    }
    while (frameTimes_.size() > 2 && frameTimes_.first().first < clock_.elapsed() - kRateWindowMs)
        frameTimes_.removeFirst();
    if (phase_ == WaitPhase::Waiting)
        markWait();
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
    const bool resized = image.size() != picture->frame().size();
    picture->setFrame(image);
    if (resized)
        adjustSize();
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
        const QRect selection = picture->selection();
        if (!selection.isEmpty())
            parts.append(QStringLiteral("選択 %1×%2（%3, %4 から）")
                             .arg(selection.width()).arg(selection.height()).arg(selection.x()).arg(selection.y()));
    }
    setLine(lblStatus, parts.join(QStringLiteral("  ")));
    QString waitLine;
    if (wait_) {
        const QString what = wait_->templatePath.isEmpty()
                                 ? (wait_->wantedText.isEmpty() ? QString() : QStringLiteral("「%1」").arg(wait_->wantedText))
                                 : QFileInfo(wait_->templatePath).fileName();
        QString state;
        switch (phase_) {
        case WaitPhase::Waiting:
            state = QStringLiteral("待っています");
            break;
        case WaitPhase::Found:
            state = QStringLiteral("見つかりました");
            break;
        case WaitPhase::RanOut:
            state = QStringLiteral("時間切れ（保存したフレームを表示中）");
            break;
        case WaitPhase::None:
            break;
        }
        if (shownSimilarity_ >= 0)
            state += QStringLiteral(" 類似度 %1").arg(shownSimilarity_, 0, 'f', 3);
        waitLine = QStringLiteral("%1 行目 %2 %3 %4").arg(wait_->line).arg(wait_->keyword, what, state).simplified();
    }
    setLine(lblWait, waitLine);
    lblWait->setVisible(!waitLine.isEmpty());
}

void frmScreen::setLine(QLabel *label, const QString &text)
{
    // Cut at the end when the window is narrower than the line; the whole
    // line as the tooltip.
    const QString shown = label->fontMetrics().elidedText(text, Qt::ElideRight, std::max(label->width(), 1));
    if (label->text() != shown)
        label->setText(shown);
    label->setToolTip(shown == text ? QString() : text);
}

void frmScreen::showMenu(const QPoint &where)
{
    const bool selected = !picture->selection().isEmpty();
    const bool recording = !recordingPath().isEmpty();
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
    }
    menu.addSeparator();
    menu.addAction(mnuSource);
    menu.exec(picture->mapToGlobal(where));
}

void frmScreen::mnuSavePicture_Click()
{
    // The pixels as they are when the user asks, whatever comes meanwhile.
    const QImage pixels = picture->selectedPixels();
    if (pixels.isNull())
        return;
    QString folder = lastPicturePath_.isEmpty() ? macroFolder_() : QFileInfo(lastPicturePath_).absolutePath();
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

QString frmScreen::recordingPath() const
{
    const frmKeyboard *keyboard = keypad_.keyboard();
    return keyboard && keyboard->isRecording() ? keyboard->recordPath() : QString();
}

void frmScreen::mnuWaitAppear_Click()
{
    addPictureCheckpoint(QStringLiteral("WAITIMAGE"));
}

void frmScreen::mnuWaitGone_Click()
{
    addPictureCheckpoint(QStringLiteral("WAITGONE"));
}

void frmScreen::addPictureCheckpoint(const QString &keyword)
{
    const QImage pixels = picture->selectedPixels();
    const QString recording = recordingPath();
    if (pixels.isNull() || recording.isEmpty() || !view_)
        return;
    if (const QString problem = view_->templateProblem(pixels); !problem.isEmpty()) {
        desktop_.showMessage(this, QStringLiteral("選択範囲を待つ画像にできません: %1。\n記録には何も加えませんでした。").arg(problem));
        return;
    }
    // Beside the recording, named after it: a name the macro line can hold
    // as one word.
    QString base = QFileInfo(recording).completeBaseName().simplified().replace(u' ', u'_');
    if (base.isEmpty() || !fitsMacroFile(base))
        base = QStringLiteral("checkpoint");
    const QString path = freeName(QFileInfo(recording).absolutePath(), base);
    QString error;
    if (!savePng(pixels, path, &error)) {
        desktop_.showMessage(this, error + QStringLiteral("\n記録には何も加えませんでした。"));
        return;
    }
    const QString line = QStringLiteral("%1 %2 %3").arg(keyword, QFileInfo(path).fileName()).arg(kCheckpointSeconds);
    keypad_.keyboard()->addCheckpoint(line, screenLineSource(screen_.sourceName()));
    showNotice(QStringLiteral("記録に「%1」を加えました。").arg(line));
}

void frmScreen::mnuReadText_Click()
{
    readSelection([this](const QString &text) {
        if (text.isEmpty())
            desktop_.showMessage(this, QStringLiteral("選択範囲に読める文字はありませんでした。"));
        else
            desktop_.showMessage(this, QStringLiteral("選択範囲の文字:\n%1").arg(text));
    });
}

void frmScreen::mnuWaitText_Click()
{
    const QRect region = picture->selection();
    if (region.isEmpty() || recordingPath().isEmpty())
        return;
    readSelection([this, region](const QString &read) {
        // One word, as STRING takes it: the comparison ignores spaces anyway.
        QString text = read.simplified().remove(u' ');
        for (;;) {
            const std::optional<QString> answer = desktop_.editText(
                this, QStringLiteral("この文字が現れるまで待つ"),
                QStringLiteral("画面に現れるのを待つ文字列（読めた文字です。直せます）:"), text);
            if (!answer || recordingPath().isEmpty())
                return;
            text = answer->simplified().remove(u' ');
            if (text.isEmpty())
                return;
            if (fitsMacroFile(text))
                break;
            desktop_.showMessage(this, QStringLiteral("「%1」にはマクロファイル（シフト JIS）に書けない文字があります。直してください。").arg(text));
        }
        const QString line = QStringLiteral("WAITTEXT %1 %2 %3,%4,%5,%6")
                                 .arg(text).arg(kCheckpointSeconds)
                                 .arg(region.x()).arg(region.y()).arg(region.width()).arg(region.height());
        keypad_.keyboard()->addCheckpoint(line, screenLineSource(screen_.sourceName()));
        showNotice(QStringLiteral("記録に「%1」を加えました。").arg(line));
    });
}

void frmScreen::readSelection(std::function<void(const QString &)> done)
{
    const QImage pixels = picture->selectedPixels();
    if (pixels.isNull() || readingBusy_ || !view_)
        return;
    if (reading_.joinable())
        reading_.join();
    readingBusy_ = true;
    showNotice(QStringLiteral("選択範囲の文字を読んでいます…"));
    ScreenView *view = view_;
    reading_ = std::thread([this, view, pixels, done = std::move(done)] {
        QString text;
        QString error;
        const bool read = view->readText(pixels, &text, &error);
        QMetaObject::invokeMethod(this, [this, read, text, error, done] {
            readingBusy_ = false;
            notice_.clear();
            showStatus();
            if (!read) {
                desktop_.showMessage(this, error);
                return;
            }
            Q_EMIT textRead(text);
            done(text);
        }, Qt::QueuedConnection);
    });
}

void frmScreen::waitStarted(const ScreenWaitReport &report)
{
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
    const bool ranOut = !report.found && !report.evidence.isEmpty();
    if (!wait_) {
        // A wait that began before the window was opened: only its end is
        // known here, and one that ran out leaves its evidence all the same.
        if (!ranOut)
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
    } else if (ranOut) {
        phase_ = WaitPhase::RanOut;
        // The frame the run saved, not the live one, until the next run.
        const QImage evidence(report.evidence);
        if (!evidence.isNull()) {
            evidence_ = report.evidence;
            showFrame(evidence.convertToFormat(QImage::Format_RGB888));
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
