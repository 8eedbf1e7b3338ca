#pragma once

#include "app/frmabout.h"
#include "app/frmhandsets.h"
#include "app/frmscreen.h"
#include "app/sourceopening.h"
#include "link/seriallink.h"
#include "macro/macrorunner.h"
#include "macro/macrosettings.h"
#include "macro/passresults.h"
#include "macro/runhost.h"
#include "platform/waiter.h"
#include "rack/handsetsjob.h"
#include "screen/screenplugin.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>
#include <QPointer>
#include <memory>
#include <optional>

class Desktop;
class KeypadWindows;
class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;


// The main window: what the next run uses (macro file, address file, port,
// counter), how a run goes on (statement line, typed text), the run and stop
// buttons, and the menus. It holds the program's shared settings and its own
// serial link, used by the runs.
class frmMain : public QMainWindow, public MacroSettings, private RunHost {
    Q_OBJECT
    // The run's clock; it paces the window's port too, so it comes first.
    EventLoopWaiter waiter_;

public:
    // `desktop` gives the dialogs, the messages, the guide and the end of the
    // program.
    explicit frmMain(Desktop &desktop, QWidget *parent = nullptr);
    ~frmMain() override;

    // Fixed at start-up.
    QString Title;
    QString Version;
    QString Copyright;

    // The load handler: InitSettings with `commandLine`, then, when it named a
    // macro file, the run (before the window shows; an EXIT ends the program
    // inside), then one pass of pending events. The caller shows the window.
    // Returns how the start-up run ended, or no value when there was none.
    std::optional<MacroRunner::Outcome> Form_Load(const QString &commandLine);
    void InitSettings(const QString &commandLine);
    void ParseCommandLine(const QString &text);

    // Closing the window, "終了(&X)" and the signals that end the program:
    // the window's port and the keypad's are closed with every sent byte
    // delivered and the program ends at once, also in the middle of a run
    // or of a text (what was not yet handed to the line is not sent).
    void Form_Unload();

    // Controls.
    QLabel *lblAddr;
    QLabel *lblCounter;
    QLineEdit *txtCounter;
    QLabel *lblPort;
    QComboBox *cmbCommPort;
    QGroupBox *frmMacroFile;
    QLabel *lblMacroFile;
    QGroupBox *frmAddrFile;
    QLabel *lblAddrFile;
    QLabel *lblStatus;
    QPushButton *cmdSend;
    QPushButton *cmdStop;
    QMenu *mnuFile;
    QAction *mnuFileMacro;
    QAction *mnuFileAddr;
    QAction *mnuFileHandsets;
    QAction *mnuFileHandsetsClose;
    QAction *mnuFileLine;
    QAction *mnuFileExit;
    QMenu *mnuView;
    QAction *mnuKeyboard;
    QAction *mnuScreen;
    QAction *mnuScreenSource;
    QMenu *mnuHelp;
    QAction *mnuHelpContents;
    QAction *mnuHelpLine;
    QAction *mnuHelpAbout;

    // The window's serial port, used by the runs.
    SerialLink MSComm1;

    MacroRunner &runner() { return runner_; }
    KeypadWindows &keypad() { return *keypad_; }
    frmAbout *about() const { return about_; }

    // The user guide as installed with the program.
    QString installedHelp;

    // Handlers.
    void cmdSend_Click();
    void cmdStop_Click();
    void mnuFileMacro_Click();
    void mnuFileAddr_Click();
    void mnuFileHandsets_Click();
    // The main window's own run again, on its port, once no job runs.
    void mnuFileHandsetsClose_Click();
    void mnuFileExit_Click();
    void mnuKeyboard_Click();
    void mnuScreenSource_Click();
    // 「画面(&G)」, also the keypad's: shows the screen window.
    void mnuScreen_Click();
    // The screen window (hidden until asked for).
    frmScreen *screenWindow() const { return screenWindow_; }

    // The handsets file open (/H, 「携帯電話機の一覧を開く(&H)...」): a run
    // then deals the job's passes out to every handset it names. Empty: none
    // (the window's own run).
    QString handsetsFile() const { return handsetsFile_; }
    // Opens the handsets file `path`: read at once, its problems told with
    // the file and the line (and no list is open then). True when it opened.
    bool openHandsetsFile(const QString &path);
    // The window of the last job on the handsets (null before the first).
    frmHandsets *handsetsWindow() const { return handsetsWindow_; }
    // That job, while the window shows it.
    HandsetsJob *handsetsJob() const { return handsetsJob_.get(); }

    // The screen the runs watch: the source given by /S or the view menu.
    RunScreen &screenSession() { return screen_; }
    void mnuHelpContents_Click();
    void mnuHelpAbout_Click();

Q_SIGNALS:
    // The macro file's folder (none: no macro file) after the user or the
    // command line chose the file.
    void macroFolderChanged(const QString &folder);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createControls();
    void createMenus();
    // Lets the user pick a file; true and the path in `path` when chosen.
    bool chooseFile(QString *path);

    // RunHost: the run works on these controls.
    QString counterText() const override;
    void setCounterText(const QString &text) override;
    QString portText() const override;
    void setPortText(const QString &text) override;
    void setStatusText(const QString &text) override;
    void setAddrText(const QString &text) override;
    void setRunning(bool running) override;
    void showMessage(const QString &text) override;
    // A failure at a screen wait that left its evidence offers to open it.
    void showFailure(const RunFailure &failure) override;
    void exitProgram() override;
    RunScreen *screen() override { return &screen_; }
    // Opens /S's `source` as the screen before the start-up run, the
    // windows going on meanwhile; tells the user when it cannot.
    bool openScreenSource(const QString &source);
    // An opening of the screen's source ended.
    void screenSourceOpened(bool opened, const QString &error);

    // Closes the ports of the window and the keypad, telling the user what
    // could not be delivered, and ends the program.
    void closePortsAndEnd();

    // A text of the run going out (STRING, SENDSTR): the statement line
    // shows the characters typed so far, the pointer is busy over the
    // program's windows, and a click held back until the text is out (a
    // stop) is shown as waiting.
    struct Typing {
        qsizetype total = 0;
        qsizetype sent = 0;
        bool stopWaits = false;
        bool inputWaits = false;
    };
    void startTyping(const QString &text);
    void showTyping();
    void endTyping();
    void packetSent();
    void inputHeld(QObject *receiver, const QEvent &event);

    Desktop &desktop_;
    // The open-file dialog's file name, kept from one use to the next (one
    // dialog serves both file menu items).
    QString dialogFileName_;
    // The screen's source given by /S, opened when the window loads.
    std::optional<QString> screenSource_;
    LazyScreen screen_;
    SourceOpening *sourceOpening_;
    // The source last typed into the source dialog, while it has not
    // opened: the dialog starts with it again.
    QString typedSource_;
    // The last source opened from the dialog or /S as it was typed (with
    // its password, which the open source shows as ***).
    QString openedSource_;
    MacroRunner runner_;
    KeypadWindows *keypad_;
    QPointer<frmAbout> about_;
    QPointer<frmScreen> screenWindow_;
    // The statement line as the run last set it.
    QString statusText_;
    // The run's screen wait in progress, shown on the statement line with
    // its time (the file's line, elapsed and allowed seconds); and the
    // evidence frame of the last one.
    void screenWaitStarted(const ScreenWaitReport &report);
    void showScreenWait();
    std::optional<ScreenWaitReport> screenWait_;
    QElapsedTimer screenWaitClock_;
    QTimer screenWaitTimer_;
    QString lastEvidence_;
    // The job on the handsets of the open handsets file: the file read
    // again and checked before the first packet, then every handset runs
    // the macro, its window showing them; the window's buttons follow it.
    void runOnHandsets();
    bool handsetsJobRunning() const;
    void handsetsJobEnded();
    QString handsetsFile_;
    std::unique_ptr<HandsetsJob> handsetsJob_;
    QPointer<frmHandsets> handsetsWindow_;
    std::optional<int> maxFailuresInARow_;
    // The job's results file (/R) and the failed passes of the run.
    PassResults results_;
    QString resultsPath_;
    qint32 failedPasses_ = 0;
    // After a run: how its passes ended, when a pass failed or the job
    // keeps a results file.
    void showPassResults(MacroRunner::Outcome outcome);
    // The statement line with the passes failed so far after it.
    QString withFailedPasses(const QString &text) const;
    std::optional<Typing> typing_;
};
