#include "app/frmmain.h"

#include "app/commandline.h"
#include "app/frmabout.h"
#include "app/frmscreen.h"
#include "app/programinfo.h"
#include "keypad/keypadwindows.h"
#include "link/textsender.h"
#include "macro/amounts.h"
#include "macro/filelines.h"
#include "platform/portnumber.h"
#include "screen/cameras.h"
#include "screen/sourceaddress.h"
#include "widgets/appearance.h"
#include "widgets/desktop.h"
#include "widgets/placement.h"
#include "widgets/taskbar.h"
#include "widgets/twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QMouseEvent>
#include <QWindow>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

namespace {

template <typename Widget>
Widget *place(Widget *widget, const char *name, QRect geometry)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}

// A file's path in its frame: cut in the middle when it is too long, so
// that the file's name stays in view; the whole path as the tooltip.
void showPath(QLabel *label, const QString &path)
{
    label->setText(label->fontMetrics().elidedText(path, Qt::ElideMiddle, label->contentsRect().width()));
    label->setToolTip(path);
}

} // namespace

frmMain::frmMain(Desktop &desktop, QWidget *parent)
    : QMainWindow(parent), MSComm1([this] { return CommPort; }, &waiter_), desktop_(desktop),
      runner_(*this, *this, MSComm1, waiter_), keypad_(new KeypadWindows(desktop, this))
{
    installedHelp = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/" QUILLONEMU_HELP_FROM_BINDIR));

    setObjectName(QStringLiteral("frmMain"));
    MSComm1.setHolder(QStringLiteral("マクロの実行"), QStringLiteral("メインウィンドウの「停止」で実行を止めると使えます"));
    setWindowIcon(programIcon());
    setFont(userInterfaceFont());
    createControls();
    createMenus();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    connect(&MSComm1, &SerialLink::packetSent, this, &frmMain::packetSent);
    keypad_->setOffersScreen(true);
    connect(keypad_, &KeypadWindows::screenWanted, this, &frmMain::mnuScreen_Click);
    // Made now, shown when asked for: it follows every screen wait, so that
    // opened in the middle of one (or after one ran out) it shows it.
    screenWindow_ = new frmScreen(desktop_, screen_, *keypad_);
    connect(screenWindow_, &frmScreen::sourceWanted, this, &frmMain::mnuScreenSource_Click);
    // The keypad's recordings and the screen window's pictures go beside
    // the macro file first.
    connect(this, &frmMain::macroFolderChanged, keypad_, &KeypadWindows::setRecordFolder);
    connect(this, &frmMain::macroFolderChanged, screenWindow_, &frmScreen::setMacroFolder);
    screenWindow_->watchRun(runner_);
    sourceOpening_ = new SourceOpening(screen_, this);
    connect(sourceOpening_, &SourceOpening::openEnded, this, &frmMain::screenSourceOpened);
    screenWaitTimer_.setInterval(200);
    connect(&screenWaitTimer_, &QTimer::timeout, this, &frmMain::showScreenWait);
    connect(&runner_, &MacroRunner::screenWaitStarted, this, &frmMain::screenWaitStarted);
    connect(&runner_, &MacroRunner::screenWaitEnded, this, [this](const ScreenWaitReport &report) {
        lastEvidence_ = report.evidence;
        screenWait_.reset();
        screenWaitTimer_.stop();
        if (!typing_)
            lblStatus->setText(withFailedPasses(statusText_));
    });
    connect(&runner_, &MacroRunner::passEnded, this, [this](const PassRecord &record) {
        if (record.result == PassRecord::Result::Failed)
            ++failedPasses_;
    });
    observeHeldInput([this](QObject *receiver, const QEvent &event) { inputHeld(receiver, event); });
    gateHeldInput([](QObject *receiver) {
        const QWindow *modal = QGuiApplication::modalWindow();
        return !modal || receiver == modal;
    });
}

frmMain::~frmMain()
{
    observeHeldInput({});
    gateHeldInput({});
    endTyping();
    // The About box has no owner (so that the window manager treats it as a
    // window of its own): one still open goes with the main window, as
    // does the screen window.
    delete about_.data();
    delete screenWindow_.data();
    // The job's handsets stop before their window goes.
    handsetsJob_.reset();
    delete handsetsWindow_.data();
}

void frmMain::createControls()
{
    auto *client = new QWidget(this);
    client->setFixedSize(twipsSize(5295, 2910));
    setCentralWidget(client);

    lblAddr = place(new QLabel(client), "lblAddr", twipsRect(120, 120, 3255, 255));
    lblCounter = place(new QLabel(QStringLiteral("カウンタ"), client), "lblCounter", twipsRect(3600, 0, 615, 255));
    txtCounter = place(new QLineEdit(QStringLiteral("0"), client), "txtCounter", twipsRect(3600, 240, 735, 270));
    lblPort = place(new QLabel(QStringLiteral("ポート"), client), "lblPort", twipsRect(4440, 0, 735, 255));
    cmbCommPort = place(new QComboBox(client), "cmbCommPort", twipsRect(4440, 240, 735, 300));
    cmbCommPort->setEditable(true);
    cmbCommPort->setInsertPolicy(QComboBox::NoInsert);

    frmMacroFile = place(new QGroupBox(QStringLiteral("マクロファイル"), client), "frmMacroFile",
                         twipsRect(120, 720, 5055, 735));
    lblMacroFile = place(new QLabel(frmMacroFile), "lblMacroFile", twipsRect(120, 240, 4815, 375));
    frmAddrFile = place(new QGroupBox(QStringLiteral("アドレスファイル"), client), "frmAddrFile",
                        twipsRect(120, 1560, 5055, 735));
    lblAddrFile = place(new QLabel(frmAddrFile), "lblAddrFile", twipsRect(120, 240, 4815, 375));

    lblStatus = place(new QLabel(client), "lblStatus", twipsRect(120, 2520, 3255, 255));
    cmdSend = place(new QPushButton(QStringLiteral("実行"), client), "cmdSend", twipsRect(3600, 2400, 735, 375));
    cmdStop = place(new QPushButton(QStringLiteral("停止"), client), "cmdStop", twipsRect(4440, 2400, 735, 375));
    for (QPushButton *button : {cmdSend, cmdStop}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    for (QLabel *label : {lblAddr, lblMacroFile, lblAddrFile, lblStatus})
        label->setTextFormat(Qt::PlainText);
    // A wide font must not clip the captions: they may reach into the gap up
    // to the next control.
    lblCounter->resize(std::max(lblCounter->width(), std::min(lblCounter->sizeHint().width(), lblPort->x() - lblCounter->x())),
                       lblCounter->height());

    setTabOrder(cmbCommPort, cmdSend);
    setTabOrder(cmdSend, txtCounter);
    setTabOrder(txtCounter, cmdStop);
    cmbCommPort->setFocus();

    connect(cmdSend, &QPushButton::clicked, this, &frmMain::cmdSend_Click);
    connect(cmdStop, &QPushButton::clicked, this, &frmMain::cmdStop_Click);
}

void frmMain::createMenus()
{
    auto item = [this](QMenu *menu, const QString &caption, const char *name, void (frmMain::*handler)()) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    auto separator = [](QMenu *menu, const char *name) {
        QAction *action = menu->addSeparator();
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };

    mnuFile = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuFileMacro = item(mnuFile, QStringLiteral("マクロファイルを開く(&M)..."), "mnuFileMacro", &frmMain::mnuFileMacro_Click);
    mnuFileAddr = item(mnuFile, QStringLiteral("アドレスファイルを開く(&A)..."), "mnuFileAddr", &frmMain::mnuFileAddr_Click);
    mnuFileHandsets = item(mnuFile, QStringLiteral("携帯電話機の一覧を開く(&H)..."), "mnuFileHandsets",
                           &frmMain::mnuFileHandsets_Click);
    mnuFileHandsetsClose = item(mnuFile, QStringLiteral("携帯電話機の一覧を閉じる(&L)"), "mnuFileHandsetsClose",
                                &frmMain::mnuFileHandsetsClose_Click);
    mnuFileHandsetsClose->setEnabled(false);
    connect(mnuFile, &QMenu::aboutToShow, this, [this] {
        mnuFileHandsetsClose->setEnabled(!handsetsFile_.isEmpty() && !handsetsJobRunning());
    });
    mnuFileLine = separator(mnuFile, "mnuFileLine");
    mnuFileExit = item(mnuFile, QStringLiteral("終了(&X)"), "mnuFileExit", &frmMain::mnuFileExit_Click);

    mnuView = menuBar()->addMenu(QStringLiteral("表示(&V)"));
    mnuView->setObjectName(QStringLiteral("mnuView"));
    mnuKeyboard = item(mnuView, QStringLiteral("キーボード(&K)"), "mnuKeyboard", &frmMain::mnuKeyboard_Click);
    mnuScreen = item(mnuView, QStringLiteral("画面(&G)"), "mnuScreen", &frmMain::mnuScreen_Click);
    mnuScreenSource = item(mnuView, QStringLiteral("画面の取り込み元(&S)..."), "mnuScreenSource",
                           &frmMain::mnuScreenSource_Click);

    mnuHelp = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    mnuHelpContents = item(mnuHelp, QStringLiteral("目次(&C)"), "mnuHelpContents", &frmMain::mnuHelpContents_Click);
    mnuHelpLine = separator(mnuHelp, "mnuHelpLine");
    mnuHelpAbout = item(mnuHelp, QStringLiteral("バージョン情報(&A)"), "mnuHelpAbout", &frmMain::mnuHelpAbout_Click);
}

std::optional<MacroRunner::Outcome> frmMain::Form_Load(const QString &commandLine)
{
    InitSettings(commandLine);
    std::optional<MacroRunner::Outcome> outcome;
    // A screen that cannot be opened stops the start-up run before its
    // first packet.
    const bool screenOpened = !screenSource_ || openScreenSource(*screenSource_);
    if (!MacroFile.isEmpty() && !handsetsFile_.isEmpty()) {
        // The job on the handsets goes on with the window shown.
        runOnHandsets();
    } else if (!MacroFile.isEmpty() && screenOpened) {
        outcome = runner_.RunMacro();
        showPassResults(*outcome);
    }
    QCoreApplication::processEvents();
    return outcome;
}

void frmMain::InitSettings(const QString &commandLine)
{
    Title = ProgramInfo::title();
    Version = ProgramInfo::version();
    Copyright = ProgramInfo::copyright();
    setWindowTitle(Title + u' ' + Version);
    MacroExe = false;
    cmdStop->setEnabled(false);
    cmbCommPort->setEditText(QStringLiteral("1"));
    for (int i = 1; i <= 16; ++i)
        cmbCommPort->addItem(QString::number(i));
    cmbCommPort->setEditText(QStringLiteral("1"));
    ParseCommandLine(commandLine);
}

void frmMain::ParseCommandLine(const QString &text)
{
    const StartSettings start = startSettings(text);
    MacroFile = start.macroFile;
    showPath(lblMacroFile, start.macroFile);
    Q_EMIT macroFolderChanged(MacroFile.isEmpty() ? QString() : QFileInfo(MacroFile).absolutePath());
    AddrFile = start.addrFile;
    showPath(lblAddrFile, start.addrFile);
    if (start.port) {
        CommPort = *start.port;
        cmbCommPort->setEditText(*start.port);
    }
    screenSource_ = start.screen;
    if (start.maxFailuresInARow) {
        const std::optional<qint32> most = parseWholeNumber(*start.maxFailuresInARow);
        if (most && *most >= 1) {
            runner_.setMaxFailuresInARow(*most);
            maxFailuresInARow_ = *most;
        } else {
            desktop_.showMessage(this, QStringLiteral("/F の値「%1」は 1 以上の整数ではありません。既定の %2 を使います。")
                                           .arg(*start.maxFailuresInARow)
                                           .arg(MacroRunner::kMaxFailuresInARow));
        }
    }
    if (start.handsets)
        openHandsetsFile(*start.handsets);
    if (start.results) {
        QString error;
        const bool opened = recordPasses(runner_, results_, *start.results, &error, [this](const QString &message) {
            desktop_.showMessage(this, message + QStringLiteral("\n実行中の文を終えたところで止めます。"));
            runner_.RequestStop();
        });
        if (opened)
            resultsPath_ = *start.results;
        else
            desktop_.showMessage(this, error);
    }
}

void frmMain::showPassResults(MacroRunner::Outcome outcome)
{
    const MacroRunner::PassCounts counts = runner_.passCounts();
    if (counts.failed == 0 && counts.okAfterRetry == 0 && resultsPath_.isEmpty())
        return;
    // A run that ended on an error has said so in its own message; a second
    // box follows only to name the results file.
    if (outcome == MacroRunner::Outcome::Failed && resultsPath_.isEmpty())
        return;
    QString text = QStringLiteral("巡の結果: 成功 %1、失敗 %2、やり直して成功 %3。")
                       .arg(counts.ok)
                       .arg(counts.failed)
                       .arg(counts.okAfterRetry);
    if (!resultsPath_.isEmpty())
        text += QStringLiteral("\n結果ファイル: %1").arg(resultsPath_);
    desktop_.showMessage(this, text);
}

bool frmMain::openScreenSource(const QString &source)
{
    // The start-up run waits for the source; the windows and signals go on.
    typedSource_ = source;
    std::optional<std::pair<bool, QString>> ended;
    QEventLoop loop;
    const QMetaObject::Connection connection =
        connect(sourceOpening_, &SourceOpening::openEnded, &loop, [&](bool opened, const QString &error) {
            ended.emplace(opened, error);
            loop.quit();
        });
    sourceOpening_->openSource(source);
    if (!ended)
        loop.exec();
    disconnect(connection);
    if (!ended->first && !ended->second.isEmpty())
        desktop_.showMessage(this, ended->second);
    return ended->first;
}

void frmMain::screenSourceOpened(bool opened, const QString &error)
{
    if (opened) {
        openedSource_ = typedSource_;
        typedSource_.clear();
        return;
    }
    // Refused: the screen window says why, and the dialog keeps what was
    // typed for the next try. (Cancelled: nothing to say.)
    if (!error.isEmpty()) {
        screenWindow_->showSourceProblem(error);
        if (isVisible())
            bringBack(screenWindow_);
    }
}

void frmMain::mnuScreenSource_Click()
{
    QStringList choices;
    for (const QString &camera : listCameras())
        choices.append(QStringLiteral("camera:") + camera);
    // The source is shown with its password as ***; the dialog starts from
    // what the user typed when that is the source open now, so that OK as it
    // stands opens it again with its password.
    QString start = typedSource_;
    if (start.isEmpty())
        start = !openedSource_.isEmpty() && shownSource(openedSource_) == screen_.sourceName() ? openedSource_
                                                                                                : screen_.sourceName();
    // Over the window it was asked from (the screen window's button, the
    // keypad's menu), this one when none of the program's is active.
    QWidget *asking = QApplication::activeWindow();
    const std::optional<QString> source = desktop_.chooseScreenSource(asking ? asking : this, choices, start);
    if (!source || source->isEmpty())
        return;
    typedSource_ = *source;
    sourceOpening_->openSource(*source);
}

void frmMain::mnuScreen_Click()
{
    // The first time beside this window and the keypad's column (where the
    // keypad and its text entry window are, or open); afterwards where the
    // user left it.
    const frmKeyboard *keyboard = keypad_->keyboard();
    QRect column;
    if (keyboard && keyboard->isVisible()) {
        column = keyboard->frameGeometry();
        if (const frmInput *input = keypad_->input(); input && input->isVisible())
            column |= input->frameGeometry();
    } else {
        const QSize keypad = outerSize(frmKeyboard::clientSize().expandedTo(frmInput::clientSize()), this);
        column = QRect(frameGeometry().topRight() + QPoint(1, 0), keypad);
    }
    screenWindow_->showBeside(this, column);
}

void frmMain::Form_Unload()
{
    closePortsAndEnd();
}

void frmMain::closePortsAndEnd()
{
    // What the keypad recorded is written before anything else can fail.
    keypad_->finishRecording();
    // The windows go at once; the ports may take the line's time (up to the
    // queue's, about 10 s) to let out what was handed to them.
    for (QWidget *window : QApplication::topLevelWidgets())
        window->hide();
    // The handsets of a job stop at the next packet boundary, their ports
    // closed as the runs close them.
    handsetsJob_.reset();
    QStringList undelivered;
    if (!MSComm1.ClosePort())
        undelivered.append(MSComm1.errorText());
    // The keypad's port too, without the keypad's own close handling.
    if (!keypad_->closePort())
        undelivered.append(keypad_->keyboard()->MSComm1.errorText());
    if (!undelivered.isEmpty())
        desktop_.showMessage(this, undelivered.join(u'\n'));
    desktop_.endProgram();
}

void frmMain::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

void frmMain::cmdSend_Click()
{
    if (runner_.isRunning() || handsetsJobRunning())
        return;
    if (!handsetsFile_.isEmpty()) {
        runOnHandsets();
        return;
    }
    failedPasses_ = 0;
    showPassResults(runner_.RunMacro());
}

void frmMain::cmdStop_Click()
{
    // On the handsets as Ctrl-C stops the command line's job: after the
    // statement, a second time at the next packet boundary.
    if (handsetsJobRunning()) {
        handsetsJob_->stop(handsetsJob_->stopping());
        return;
    }
    runner_.RequestStop();
}

bool frmMain::chooseFile(QString *path)
{
    const QString chosen = desktop_.chooseFile(this, dialogFileName_);
    if (chosen.isEmpty())
        return false;
    dialogFileName_ = chosen;
    *path = chosen;
    return true;
}

void frmMain::mnuFileMacro_Click()
{
    QString path;
    if (!chooseFile(&path))
        return;
    MacroFile = path;
    showPath(lblMacroFile, path);
    Q_EMIT macroFolderChanged(QFileInfo(MacroFile).absolutePath());
}

void frmMain::mnuFileAddr_Click()
{
    QString path;
    if (!chooseFile(&path))
        return;
    AddrFile = path;
    showPath(lblAddrFile, path);
}

void frmMain::mnuFileHandsets_Click()
{
    QString path;
    if (!chooseFile(&path))
        return;
    openHandsetsFile(path);
}

bool frmMain::handsetsJobRunning() const
{
    return handsetsJob_ && handsetsJob_->isRunning();
}

void frmMain::mnuFileHandsetsClose_Click()
{
    if (handsetsFile_.isEmpty() || handsetsJobRunning())
        return;
    handsetsFile_.clear();
    statusText_.clear();
    lblStatus->clear();
    lblStatus->setToolTip(QString());
}

bool frmMain::openHandsetsFile(const QString &path)
{
    QString error;
    const std::optional<HandsetsFile> file = HandsetsFile::read(path, &error);
    if (!file) {
        handsetsFile_.clear();
        desktop_.showMessage(this, error);
        return false;
    }
    handsetsFile_ = path;
    statusText_ = QStringLiteral("携帯電話機 %1 台（%2）").arg(file->handsets.size()).arg(QFileInfo(path).fileName());
    lblStatus->setText(statusText_);
    lblStatus->setToolTip(path);
    return true;
}

void frmMain::runOnHandsets()
{
    QString error;
    const std::optional<HandsetsFile> file = HandsetsFile::read(handsetsFile_, &error);
    if (!file) {
        desktop_.showMessage(this, error);
        return;
    }
    const FileLines macro = readFileLines(MacroFile);
    if (MacroFile.isEmpty() || !macro.opened) {
        desktop_.showMessage(this, MacroFile.isEmpty() ? QStringLiteral("マクロファイルを開いてください（ファイル → マクロファイルを開く）。")
                                                      : QStringLiteral("マクロファイル「%1」を開けません。").arg(MacroFile));
        return;
    }
    if (const QString problem = handsetsMacroProblem(MacroFile); !problem.isEmpty()) {
        desktop_.showMessage(this, problem);
        return;
    }
    HandsetsRun run;
    run.settings = static_cast<const MacroSettings &>(*this);
    run.handsets = file->handsets;
    const HandsetsPasses passes = jobPasses(run.settings);
    run.lastCounter = passes.lastCounter;
    run.repeats = passes.repeats;
    run.maxFailuresInARow = maxFailuresInARow_;
    if (!resultsPath_.isEmpty())
        run.evidenceFolder = QFileInfo(resultsPath_).absolutePath();

    // The last job's window goes on showing it until this one starts.
    auto job = std::make_unique<HandsetsJob>(run);
    if (!handsetsWindow_)
        handsetsWindow_ = new frmHandsets(desktop_, *keypad_);
    handsetsWindow_->watch(*job, handsetsFile_);
    handsetsJob_ = std::move(job);
    connect(handsetsJob_.get(), &HandsetsJob::finished, this, &frmMain::handsetsJobEnded);
    if (!handsetsWindow_->isVisible() && QWidget::screen()) {
        // The first time below this window, inside the screen.
        handsetsWindow_->move(placeBelow(frameGeometry(), outerSize(handsetsWindow_->size(), this),
                                         QWidget::screen()->availableGeometry()));
    }
    bringBack(handsetsWindow_);
    setRunning(true);
    statusText_ = QStringLiteral("携帯電話機 %1 台で実行中").arg(run.handsets.size());
    lblStatus->setText(statusText_);
    handsetsJob_->start();
}

void frmMain::handsetsJobEnded()
{
    setRunning(false);
    const PassTally tally = tallyPasses(lastRowOfEachPass(handsetsJob_->records()));
    statusText_ = QStringLiteral("携帯電話機 %1 台: 成功 %2、失敗 %3")
                      .arg(handsetsJob_->run().handsets.size())
                      .arg(formatCount(tally.ok), formatCount(tally.failed));
    lblStatus->setText(statusText_);
}

void frmMain::mnuFileExit_Click()
{
    Form_Unload();
}

void frmMain::mnuKeyboard_Click()
{
    keypad_->showKeyboard(Title, Version, cmbCommPort->currentText(), this);
}

void frmMain::mnuHelpContents_Click()
{
    // The guide in the current directory; without one there, the installed
    // copy (a program started from the desktop's menu has no guide at hand).
    const QString here = QDir::currentPath() + QStringLiteral("/help.mht");
    if (QFileInfo::exists(here)) {
        desktop_.openGuide(this, here);
    } else if (QFileInfo::exists(installedHelp)) {
        desktop_.openGuide(this, installedHelp);
    } else {
        desktop_.showMessage(this, QStringLiteral("ヘルプファイル「%1」が見つかりません（インストール先の「%2」にもありません）。")
                             .arg(QDir::toNativeSeparators(QDir::cleanPath(here)),
                                  QDir::toNativeSeparators(QDir::cleanPath(installedHelp))));
    }
}

void frmMain::mnuHelpAbout_Click()
{
    if (!about_) {
        about_ = new frmAbout();
        about_->Form_Load(frameGeometry().topLeft(), Title, Version, Copyright);
    }
    bringBack(about_);
}

QString frmMain::counterText() const
{
    return txtCounter->text();
}

void frmMain::setCounterText(const QString &text)
{
    txtCounter->setText(text);
}

QString frmMain::portText() const
{
    return cmbCommPort->currentText();
}

void frmMain::setPortText(const QString &text)
{
    cmbCommPort->setEditText(text);
}

void frmMain::setStatusText(const QString &text)
{
    endTyping();
    statusText_ = text;
    lblStatus->setText(withFailedPasses(text));
    showScreenWait();
}

void frmMain::setAddrText(const QString &text)
{
    lblAddr->setText(text);
    // Shown just before its packets go out.
    if (runner_.isRunning())
        startTyping(text);
}

void frmMain::startTyping(const QString &text)
{
    endTyping();
    qsizetype total = 0;
    if (statusText_.endsWith(QStringLiteral(" STRING")))
        total = TextSender::packetsForString(text).size();
    else if (statusText_.endsWith(QStringLiteral(" SENDSTR")))
        total = TextSender::packetsForCharacters(text).size();
    if (total == 0)
        return;
    typing_ = Typing{total};
    QApplication::setOverrideCursor(Qt::BusyCursor);
    showTyping();
}

void frmMain::showTyping()
{
    QString text = QStringLiteral("%1 入力中 %2/%3").arg(statusText_).arg(typing_->sent).arg(typing_->total);
    QString tip;
    if (typing_->stopWaits) {
        text += QStringLiteral(" 停止待ち");
        tip = QStringLiteral("停止は文字列を入力し終えてから行います。");
    } else if (typing_->inputWaits) {
        text += QStringLiteral(" 操作待ち");
        tip = QStringLiteral("クリックとキー操作は文字列を入力し終えてから行います。");
    }
    lblStatus->setText(text);
    lblStatus->setToolTip(tip);
}

void frmMain::endTyping()
{
    if (!typing_)
        return;
    typing_.reset();
    QApplication::restoreOverrideCursor();
    lblStatus->setText(statusText_);
    lblStatus->setToolTip(QString());
}

void frmMain::packetSent()
{
    if (!typing_)
        return;
    if (++typing_->sent >= typing_->total)
        endTyping();
    else
        showTyping();
}

void frmMain::inputHeld(QObject *receiver, const QEvent &event)
{
    if (!typing_)
        return;
    if (event.type() == QEvent::MouseButtonPress && receiver == static_cast<QObject *>(windowHandle())) {
        const auto &press = static_cast<const QMouseEvent &>(event);
        if (childAt(press.position().toPoint()) == cmdStop && cmdStop->isEnabled()) {
            // Pressed until the click comes through after the text.
            cmdStop->setDown(true);
            typing_->stopWaits = true;
        }
    }
    if (event.type() == QEvent::MouseButtonPress || event.type() == QEvent::KeyPress || event.type() == QEvent::Shortcut)
        typing_->inputWaits = true;
    showTyping();
}

void frmMain::setRunning(bool running)
{
    if (!running)
        endTyping();
    if (screenWindow_ && running)
        screenWindow_->runStarted();
    else if (screenWindow_)
        screenWindow_->runEnded();
    cmdSend->setEnabled(!running);
    cmdStop->setEnabled(running);
}

void frmMain::showMessage(const QString &text)
{
    desktop_.showMessage(this, text);
}

void frmMain::showFailure(const RunFailure &failure)
{
    // The frame saved at the wait that failed: the message names it.
    const QString text = failure.messageText();
    if (!lastEvidence_.isEmpty() && text.contains(lastEvidence_))
        desktop_.showEvidenceMessage(this, text, lastEvidence_);
    else
        desktop_.showMessage(this, text);
}

void frmMain::screenWaitStarted(const ScreenWaitReport &report)
{
    lastEvidence_.clear();
    screenWait_ = report;
    screenWaitClock_.start();
    screenWaitTimer_.start();
    showScreenWait();
}

void frmMain::showScreenWait()
{
    if (!screenWait_ || typing_)
        return;
    // 「3 WAITIMAGE 5 行目 2/30 秒」: the run's count as always, then the
    // file's line as the messages and the screen window name it.
    lblStatus->setText(withFailedPasses(QStringLiteral("%1 %2 行目 %3/%4 秒")
                                            .arg(statusText_)
                                            .arg(screenWait_->line)
                                            .arg(screenWaitClock_.elapsed() / 1000)
                                            .arg(screenWait_->seconds, 0, 'g', 4)));
}

QString frmMain::withFailedPasses(const QString &text) const
{
    return failedPasses_ > 0 ? QStringLiteral("%1  失敗 %2").arg(text).arg(failedPasses_) : text;
}

void frmMain::exitProgram()
{
    // EXIT: the run has closed the window's port already.
    closePortsAndEnd();
}
