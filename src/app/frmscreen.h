#pragma once

#include "macro/displayarea.h"
#include "macro/runscreen.h"
#include "widgets/framepicture.h"

#include <QElapsedTimer>
#include <QList>
#include <QPair>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>
#include <thread>

class Desktop;
class KeypadWindows;
class LazyScreen;
class MacroRunner;
class QAction;
class QLabel;
class QPushButton;
class ScreenView;

// The screen window 「画面」: the frames of the screen the runs watch, live,
// at their own size or scaled down to fit the desktop. A drag on the picture
// selects a rectangle; its context menu saves the rectangle as a template,
// reads its text, and, while the keypad records, puts a checkpoint (a wait
// for the rectangle to appear or go, or for its text) into the recording.
// During a run's screen wait it marks what the wait sees, with its time;
// after a wait that ran out it shows the frame saved as evidence, with a
// way back to the live picture (taken at once when a source is chosen) and
// to the evidence file and its folder. It opens beside the main window and
// keeps its place; the picture keeps its size whatever the status lines
// below it say. It owns no port and takes no part in a run: closing it only
// hides it.
//
// The display: its outline found in the frames is drawn on them; the user
// can drag its four corners and give its resolution (the display then goes
// to the screen and, while recording, into the recording as a DISPLAY line),
// look at the upright picture of the display instead of the frame, and
// enlarge either (x2, x3, to the window) to select a small text to the
// pixel; a selection is then in the display's pixels. While the keypad
// records, the recording's last lines show below the picture, and the last
// checkpoint can be taken back. The menu opens from the keyboard too
// (Menu key, Shift+F10), and the arrow keys move the selection (Shift:
// size it).
class frmScreen : public QWidget {
    Q_OBJECT
public:
    // How long a recorded checkpoint waits, in seconds: a slow handset's
    // screen change with room to spare.
    static constexpr int kCheckpointSeconds = 30;
    // A selection lower than this (in the frame's pixels) is too small for
    // the recogniser to read surely: its reading says so.
    static constexpr int kSureReadingHeight = 16;
    // The recording's lines shown below the picture.
    static constexpr int kRecordingLinesShown = 3;

    // `screen` is the runs' screen.
    frmScreen(Desktop &desktop, LazyScreen &screen, KeypadWindows &keypad);
    ~frmScreen() override;

    // Follows `runner`'s screen waits.
    void watchRun(MacroRunner &runner);
    // A run starts: the evidence of the last one and the selection go.
    void runStarted();
    // The run has ended: the wait's line takes only the lines it needs.
    void runEnded();
    // The screen's source could not be opened: `reason` is shown (in place
    // of the picture when there is none).
    void showSourceProblem(const QString &reason);
    // Shows the window, the first time beside `mainWindow` and the keypad's
    // place `keypad` next to it, afterwards where it was.
    void showBeside(const QWidget *mainWindow, const QRect &keypad);
    // Shows the live picture instead of the evidence.
    void showLive();
    // The window looks at the handset named `name` (of a handsets list):
    // its caption names it before the source.
    void setHandsetName(const QString &name);
    // Whether the window stands where it stays: placed, and looked at again
    // once the window manager framed it at its frame's size.
    bool settled() const { return placed_ && framed_; }

    FramePicture *picture;
    QLabel *lblNoSource;
    QPushButton *cmdSource;
    // The frames (size and rate) and the selection, or a notice; the run's
    // screen wait in progress (hidden when there is none).
    QLabel *lblStatus;
    QLabel *lblWait;
    // Shown with the evidence: back to the live picture, the evidence file
    // and its folder.
    QWidget *evidenceBar;
    QPushButton *cmdLive;
    QPushButton *cmdOpenEvidence;
    QPushButton *cmdEvidenceFolder;
    // While the keypad records: its last lines.
    QLabel *lblRecording;
    // The context menu's items.
    QAction *mnuSavePicture;
    QAction *mnuReadText;
    QAction *mnuWaitAppear;
    QAction *mnuWaitGone;
    QAction *mnuWaitText;
    QAction *mnuSource;
    QAction *mnuLive;
    QAction *mnuOpenEvidence;
    QAction *mnuEvidenceFolder;
    QAction *mnuUndoCheckpoint;
    // Its 「表示」 part: the upright display, the enlargements (one of them
    // checked), the corners.
    QAction *mnuShowDisplay;
    QList<QAction *> mnuZoom;
    QAction *mnuSetCorners;
    QAction *mnuApplyCorners;

    // Handlers.
    void mnuSavePicture_Click();
    void mnuReadText_Click();
    void mnuWaitAppear_Click();
    void mnuWaitGone_Click();
    void mnuWaitText_Click();
    void mnuUndoCheckpoint_Click();
    void mnuShowDisplay_Click();
    void mnuSetCorners_Click();
    void mnuApplyCorners_Click();

    // Whether the picture is the upright display (not the frame).
    bool showsDisplay() const { return showDisplay_ && !display_.isNull(); }
    // The display the user set last (Mode::Found until then).
    DisplayArea displayArea() const { return displayArea_; }

    // The frames per second shown, over the last two seconds.
    double framesPerSecond() const;
    // Whether the window shows the evidence of a wait that ran out.
    bool showsEvidence() const { return !evidence_.isEmpty(); }
    // The evidence frame of the last wait that ran out, shown or not (empty
    // once the next run starts).
    QString evidencePath() const { return evidencePath_; }

public Q_SLOTS:
    // The folder a picture is first saved in (the main window's macro
    // file's; none: the current folder).
    void setMacroFolder(const QString &folder) { macroFolder_ = folder; }

Q_SIGNALS:
    // The user asks for another source (the window's 「画面の取り込み元(&S)...」
    // and its button): the main window's dialog.
    void sourceWanted();
    // A reading asked for by 「選択範囲の文字を読む」 or a WAITTEXT
    // checkpoint is done (for the tests and the status line).
    void textRead(const QString &text);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    enum class WaitPhase { None, Waiting, Found, RanOut, Failed };

    void refresh();
    // Makes a change to the lines below the picture without changing the
    // picture's size: the window grows or shrinks by what they take.
    void keepingPictureSize(const std::function<void()> &change);
    // The window placed beside the main window again when it grew over it.
    void keepBeside();
    void putBeside(const QSize &outer, bool always);
    // The window's outer size once it fits beside `anchor` within
    // `available`: `outer`, or less with its picture shown smaller when
    // there is no room for it on either side.
    QSize fitBeside(const QRect &anchor, const QSize &outer, const QRect &available);
    void placeFrameAt(const QPoint &frame);
    // Leaves the evidence and a wait that ended on it.
    void dropEvidence();
    void showFrame(const QImage &image);
    // The selection's pixels as a template or a text to read: the mean of
    // the last pictures shown that show the same there (a camera's noise
    // averaged out), or of the picture shown alone.
    QImage selectedStill() const;
    void showStatus();
    void showNotice(const QString &text);
    void showMenu(const QPoint &where);
    void waitStarted(const ScreenWaitReport &report);
    void waitEnded(const ScreenWaitReport &report);
    void markWait();
    void addPictureCheckpoint(const QString &keyword);
    void putPictureCheckpoint(const QString &keyword, const QImage &pixels);
    // The recording's last lines below the picture.
    void showRecordingLines();
    // The picture shown (frame or upright display) from what came last.
    void showNewest();
    void setZoom(int zoom);
    // The selection on the screen (for a dialog to keep clear of).
    QRect selectionOnScreen() const;
    // The reading of `pixels` (a selection of `height` frame pixels) as a
    // message says it.
    QString readingNote(const QString &text, int height) const;
    // Reads the selection's text off the user-interface thread; `done` gets
    // the text on it.
    void readSelection(std::function<void(const QString &)> done);
    QString recordingPath() const;
    // The display as a recording's DISPLAY line writes it (empty: the user
    // set none).
    QString recordedDisplay() const;

    Desktop &desktop_;
    LazyScreen &screen_;
    KeypadWindows &keypad_;
    QString macroFolder_;
    ScreenView *view_ = nullptr;
    QString viewError_;
    QString sourceProblem_;
    QTimer refresh_;
    QElapsedTimer clock_;
    qint64 sourceNumber_ = 0;
    qint64 frameNumber_ = 0;
    QString sourceName_;
    QString handsetName_;
    // The window's caption: 画面, the handset's name, the source.
    QString caption(const QString &source) const;
    QString sourceEnd_;
    // (milliseconds, frame number) of the frames seen lately.
    QList<QPair<qint64, qint64>> frameTimes_;
    QString lastPicturePath_;
    QString notice_;
    qint64 noticeAt_ = 0;
    // The run's screen wait this window follows.
    std::optional<ScreenWaitReport> wait_;
    WaitPhase phase_ = WaitPhase::None;
    // A run goes on: the wait's line keeps the most height it has taken
    // (as its minimum height) from one wait to the next.
    bool running_ = false;
    QSize templateSize_;
    double shownSimilarity_ = -1;
    qint64 waitsSeen_ = 0;
    QString evidence_;
    QString evidencePath_;
    QElapsedTimer waitClock_;
    const QWidget *beside_ = nullptr;
    QRect keypadPlace_;
    bool placed_ = false;
    bool framed_ = false;
    bool placeWhenFramed_ = false;
    QSize ownSize_;
    // When the window last took a new frame's size (clock_; -1: never).
    qint64 resizedAt_ = -1;
    std::thread reading_;
    bool readingBusy_ = false;
    // The pictures shown last, newest first (at most kStillFrames, one
    // size), that a selection is cut from.
    QList<QImage> shownLately_;
    // The newest frame and its display (upright picture and outline).
    QImage frame_;
    QImage display_;
    QPolygonF outline_;
    bool showDisplay_ = false;
    bool editingCorners_ = false;
    DisplayArea displayArea_;
    QStringList recordingShown_;
    qint64 recordingLookedAt_ = -1'000'000;
};
