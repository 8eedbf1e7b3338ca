#pragma once

#include "keypad/unloadguard.h"
#include "link/seriallink.h"
#include "link/textsender.h"

#include <QList>
#include <QWidget>
#include <memory>
#include <optional>

class Desktop;
class MacroRecorder;
class QAction;
class QComboBox;
class QLabel;
class QPushButton;

// The on-screen keypad: one button per handset key, each sending its key at
// once over the keypad's own serial link, and a connect button that opens
// and closes that link. The connection state is the connect button's
// caption: "切断" while closed, "接続中" while open.
//
// Its context menu records what the keypad sends into a macro file:
// 「記録開始...」 asks for the file, 「記録終了」 writes it. While recording, the
// caption ends in 「 - 記録中」; the keys and texts sent while connected are
// recorded (the text entry window's too), with the times of the line's
// clock. Closing the keypad, or the program, writes the file first.
class frmKeyboard : public QWidget {
    Q_OBJECT
public:
    // The keypad's fixed size, inside its frame.
    static QSize clientSize();
    // `desktop` shows its messages; `lineClock` paces the keypad's port (see
    // SerialPort::setClock), which keeps a real one of its own when none is
    // given.
    explicit frmKeyboard(Desktop &desktop, Waiter *lineClock = nullptr, QWidget *parent = nullptr);
    ~frmKeyboard() override;

    // The load steps: caption, the main window's port text, the port list
    // "1" to "16", the connect button showing "切断". KeypadWindows then shows
    // the keypad and the text entry window.
    void load(const QString &title, const QString &version, const QString &mainPortText);

    // Presses button `Index`: 0 to 38 send their key (nothing while
    // disconnected), 39 connects or disconnects, anything else does nothing.
    void Command1_Click(int Index);

    // Types `Str` on the handset through the keypad's link.
    void SendStr(const QString &Str);

    // 「記録開始...」: asks for the file (the save-file dialog) and starts
    // recording into it, once it is known to be writable; warns when the
    // keypad is disconnected (nothing is recorded until it connects).
    void mnuRecordStart_Click();
    // 「記録終了」: see finishRecording(); a recording that holds nothing is
    // not written, and the user is told so.
    void mnuRecordStop_Click();
    // Ends the recording, if one runs, and writes its file (a recording that
    // holds nothing writes none). When the file
    // cannot be written the user is told and asked for another one, until
    // it is written or the user cancels (and is told that it was not).
    // Called again while the user is being asked (the program ends meanwhile:
    // a signal), it writes the recording to a file of its own in the home
    // folder and says where.
    // True when it wrote the file.
    bool finishRecording();
    bool isRecording() const { return recording_ != nullptr; }
    // Puts a checkpoint line (WAITIMAGE, WAITGONE, WAITTEXT) into the
    // recording in progress, at this moment, looking at screen `source` (as
    // a SCREEN line takes it; empty: none is written) and its `display` (a
    // DISPLAY line's text; empty: none); false when no recording runs. An
    // empty `line` records only the source and display.
    bool addCheckpoint(const QString &line, const QString &source, const QString &display = QString());
    // Takes back the last checkpoint of the recording in progress: its
    // line, or an empty text when there is none.
    QString removeLastCheckpoint();
    // The recording's lines so far (none when no recording runs).
    QStringList recordedLines() const;
    // The context menu's 「画面(&G)」, which asks for the screen window (the
    // main window's) through screenWanted(); no item when not offered
    // before load().
    void setOffersScreen(bool offers) { offersScreen_ = offers; }
    // The file the last recording went to (the next one's dialog starts
    // there), and the folder a first recording's dialog starts in (the macro
    // file's; none: the current folder).
    QString recordPath() const { return recordPath_; }
    void setRecordPath(const QString &path) { recordPath_ = path; }
    void setRecordFolder(const QString &folder) { recordFolder_ = folder; }

    // Indexes 0 to 38 are the key buttons, 39 the connect button.
    QList<QPushButton *> Command1;
    QComboBox *cmbCommPort = nullptr;
    QLabel *lblPort = nullptr;
    // The context menu's items.
    QAction *mnuRecordStart = nullptr;
    QAction *mnuRecordStop = nullptr;
    QAction *mnuScreen = nullptr;
    // Its port number is the text of cmbCommPort at each OpenPort().
    SerialLink MSComm1;

    // Deletes the window once no handler of it runs (see UnloadGuard).
    void unload() { unloadGuard_.unload(); }

Q_SIGNALS:
    // The user closes the window: it has hidden, its port still drains.
    void closing();
    // The user closed the window; the port is closed already.
    void closed();
    // The user asks for the screen window (「画面(&G)」).
    void screenWanted();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // A text being typed while recording: when it began and what has gone
    // out of it.
    struct TextGoingOut {
        double sentMs;
        QString typed;
    };

    void connectOrDisconnect();
    void linkFailed(const QString &message);
    double lineClockMs() const;
    void recordTextGoingOut();
    void showRecording();
    void saveFinishingRecordingAside();

    Desktop &desktop_;
    TextSender text_{MSComm1};
    UnloadGuard unloadGuard_{this};
    QString caption_;
    std::unique_ptr<MacroRecorder> recording_;
    // The recording being written while the user is asked for a file.
    std::unique_ptr<MacroRecorder> finishing_;
    QString recordPath_;
    QString recordFolder_;
    bool offersScreen_ = false;
    std::optional<TextGoingOut> textGoingOut_;
};
