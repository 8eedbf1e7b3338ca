// The screen window's checkpoints: waits for a selection's picture or text
// put into the keypad's recording, the recording's last lines shown and the
// last checkpoint taken back, and the selection's text read.

#include "app/frmscreen.h"

#include "app/screenwindowfiles.h"
#include "keypad/keypadwindows.h"
#include "screen/screenplugin.h"
#include "screen/screenview.h"
#include "widgets/desktop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>

using namespace ScreenWindowFiles;

namespace {

// A selection read as this many letters or digits or more is mostly text
// (an icon reads as nothing, or as a stray sign or two).
constexpr int kTextCharacters = 3;

int lettersIn(const QString &text)
{
    int letters = 0;
    for (const QChar ch : text)
        letters += ch.isLetterOrNumber() ? 1 : 0;
    return letters;
}

// The line's picture, when it waits for one (WAITIMAGE, WAITGONE).
QString pictureOf(const QString &line)
{
    return line.startsWith(QStringLiteral("WAITIMAGE ")) || line.startsWith(QStringLiteral("WAITGONE "))
               ? line.section(u' ', 1, 1)
               : QString();
}

} // namespace

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
    const QImage pixels = selectedStill();
    if (pixels.isNull() || recordingPath().isEmpty() || !view_)
        return;
    const Desktop::KeepClear beside(desktop_, selectionOnScreen());
    if (const QString problem = view_->templateProblem(pixels); !problem.isEmpty()) {
        desktop_.showMessage(this, QStringLiteral("選択範囲を待つ画像にできません: %1。\n記録には何も加えませんでした。").arg(problem));
        return;
    }
    // A picture of a text is found on a screen with one character changed
    // as well: a selection that is mostly text is refused, and the text
    // check offered. (The whole screen, or most of it, is a picture of the
    // screen, text or not.)
    const QSize frame = picture->frame().size();
    if (qint64(pixels.width()) * pixels.height() * 2 >= qint64(frame.width()) * frame.height()) {
        putPictureCheckpoint(keyword, pixels);
        return;
    }
    const QRect selection = selectionOnScreen();
    readSelection([this, keyword, pixels, selection](const QString &text) {
        if (lettersIn(text) >= kTextCharacters) {
            const Desktop::KeepClear beside(desktop_, selection);
            desktop_.showMessage(this, QStringLiteral("選択範囲はほとんどが文字です（「%1」と読めました）。\n"
                                                      "文字の画像は、一文字だけ違う画面でも見つかってしまうため、待つ画像にしません。"
                                                      "文字は「この文字が現れるまで待つ」で、画像はアイコンか画面全体を選んで待ってください。\n"
                                                      "記録には何も加えませんでした。")
                                           .arg(offeredText(text)));
            return;
        }
        putPictureCheckpoint(keyword, pixels);
    });
}

void frmScreen::putPictureCheckpoint(const QString &keyword, const QImage &pixels)
{
    const QString recording = recordingPath();
    if (recording.isEmpty())
        return;
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
    keypad_.keyboard()->addCheckpoint(line, screenLineSource(screen_.sourceName()), recordedDisplay());
    showNotice(QStringLiteral("記録に「%1」を加えました。").arg(line));
    showRecordingLines();
}

void frmScreen::mnuReadText_Click()
{
    const QRect selection = selectionOnScreen();
    const int height = picture->selection().height();
    readSelection([this, selection, height](const QString &text) {
        const Desktop::KeepClear beside(desktop_, selection);
        const QString note = readingNote(text, height);
        if (offeredText(text).isEmpty())
            desktop_.showMessage(this, QStringLiteral("選択範囲に読める文字はありませんでした。") + note);
        else
            desktop_.showMessage(this, QStringLiteral("選択範囲の文字:\n%1").arg(note));
    });
}

QString frmScreen::readingNote(const QString &text, int height) const
{
    QString note = offeredText(text);
    if (height < kSureReadingHeight)
        note += QStringLiteral("\n（選択範囲の高さが %1 ピクセルしかなく、文字が小さいため、読み違えているかもしれません。"
                               "画面で確かめてください。）")
                    .arg(height);
    return note;
}

void frmScreen::mnuWaitText_Click()
{
    const QRect selection = picture->selection();
    if (selection.isEmpty() || recordingPath().isEmpty())
        return;
    // The region in the pixels the runs read: the display's when the
    // window shows the display, the frame's when the frame is the display;
    // none (the whole display) when the window shows the frame of a display
    // found in it.
    const QRect region = showsDisplay() || display_.isNull() ? selection : QRect();
    const QRect onScreen = selectionOnScreen();
    readSelection([this, region, onScreen, selection](const QString &read) {
        const Desktop::KeepClear beside(desktop_, onScreen);
        QString text = offeredText(read);
        QString label = QStringLiteral("画面に現れるのを待つ文字列（読めた文字です。直せます）:");
        if (selection.height() < kSureReadingHeight)
            label += QStringLiteral("\n文字が小さく（高さ %1 ピクセル）、読み違えているかもしれません。").arg(selection.height());
        for (;;) {
            const std::optional<QString> answer = desktop_.editText(this, QStringLiteral("この文字が現れるまで待つ"), label, text);
            if (!answer || recordingPath().isEmpty())
                return;
            text = offeredText(*answer);
            if (text.isEmpty())
                return;
            const QString unwritable = unwritableCharacters(text);
            if (unwritable.isEmpty())
                break;
            QStringList named;
            for (const uint code : unwritable.toUcs4())
                named.append(QStringLiteral("「%1」").arg(QString::fromUcs4(reinterpret_cast<const char32_t *>(&code), 1)));
            desktop_.showMessage(this, QStringLiteral("%1 はマクロファイル（シフト JIS）に書けない文字です。"
                                                      "書ける文字に直してください。")
                                           .arg(named.join(QString())));
        }
        QString line = QStringLiteral("WAITTEXT %1 %2").arg(text).arg(kCheckpointSeconds);
        if (!region.isEmpty())
            line += QStringLiteral(" %1,%2,%3,%4").arg(region.x()).arg(region.y()).arg(region.width()).arg(region.height());
        keypad_.keyboard()->addCheckpoint(line, screenLineSource(screen_.sourceName()), recordedDisplay());
        showNotice(QStringLiteral("記録に「%1」を加えました。").arg(line));
        showRecordingLines();
    });
}

void frmScreen::mnuUndoCheckpoint_Click()
{
    frmKeyboard *keyboard = recordingPath().isEmpty() ? nullptr : keypad_.keyboard();
    if (!keyboard)
        return;
    const QString line = keyboard->removeLastCheckpoint();
    if (line.isEmpty())
        return;
    // Its picture goes with it: the window made it for the line alone.
    const QString name = pictureOf(line);
    if (!name.isEmpty())
        QFile::remove(QDir(QFileInfo(recordingPath()).absolutePath()).filePath(name));
    showNotice(QStringLiteral("記録から「%1」を取り消しました。").arg(line));
    showRecordingLines();
}

void frmScreen::showRecordingLines()
{
    const frmKeyboard *keyboard = recordingPath().isEmpty() ? nullptr : keypad_.keyboard();
    const QStringList lines = keyboard ? keyboard->recordedLines() : QStringList();
    if (lines == recordingShown_)
        return;
    recordingShown_ = lines;
    QString text;
    if (keyboard) {
        text = QStringLiteral("記録中「%1」（%2 行）の最後:").arg(QFileInfo(recordingPath()).fileName()).arg(lines.size());
        for (const QString &line : lines.mid(std::max<qsizetype>(0, lines.size() - kRecordingLinesShown)))
            text += QStringLiteral("\n  ") + line;
    }
    keepingPictureSize([&] {
        lblRecording->setText(text);
        lblRecording->setVisible(!text.isEmpty());
    });
}

void frmScreen::readSelection(std::function<void(const QString &)> done)
{
    const QImage pixels = selectedStill();
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

QRect frmScreen::selectionOnScreen() const
{
    const QRect shown = picture->toWidget(picture->selection());
    if (picture->selection().isEmpty())
        return {};
    return QRect(picture->mapToGlobal(shown.topLeft()), picture->mapToGlobal(shown.bottomRight()));
}
