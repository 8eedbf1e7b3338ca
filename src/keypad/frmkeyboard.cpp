#include "keypad/frmkeyboard.h"

#include "keypad/keypadbuttons.h"
#include "link/keytable.h"
#include "macro/macrorecorder.h"
#include "widgets/appearance.h"
#include "widgets/desktop.h"
#include "widgets/taskbar.h"
#include "widgets/twips.h"

#include <QAction>
#include <QApplication>
#include <QScopeGuard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>

namespace {

const QString kDisconnected = QStringLiteral("切断");
const QString kConnected = QStringLiteral("接続中");
const QString kRecording = QStringLiteral(" - 記録中");
// The save-file dialog's first suggestion, beside the macro file or in the
// current folder.
const QString kRecordFileName = QStringLiteral("記録.txt");

constexpr int kPortCount = 16;

} // namespace

frmKeyboard::frmKeyboard(Desktop &desktop, Waiter *lineClock, QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      MSComm1([this] { return cmbCommPort->currentText(); }, lineClock), desktop_(desktop)
{
    setObjectName(QStringLiteral("frmKeyboard"));
    MSComm1.setHolder(QStringLiteral("キーボード"), QStringLiteral("キーボードの「切断」で使えるようになります"));
    // The program ends with the main window, whatever the keypad shows.
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowIcon(programIcon());
    setFont(userInterfaceFont());
    setFixedSize(clientSize());
    keepOffTaskbar(this);
    askForNoMinimize(this);

    for (int i = 0; i < kButtonCount; ++i) {
        const KeypadButton &b = kKeypadButtons[i];
        auto *button = new QPushButton(QString::fromUtf16(b.caption), this);
        button->setObjectName(QStringLiteral("Command1_%1").arg(i));
        const int width = i == kConnectButton ? kConnectButtonWidth : kKeyButtonWidth;
        button->setGeometry(twipsRect(b.left, b.top, width, kButtonHeight));
        connect(button, &QPushButton::clicked, this, [this, i] { Command1_Click(i); });
        Command1.append(button);
    }

    lblPort = new QLabel(QStringLiteral("ポート"), this);
    lblPort->setObjectName(QStringLiteral("lblPort"));
    lblPort->setGeometry(twipsRect(2280, 120, 735, 240));

    cmbCommPort = new QComboBox(this);
    cmbCommPort->setObjectName(QStringLiteral("cmbCommPort"));
    cmbCommPort->setEditable(true);
    cmbCommPort->setInsertPolicy(QComboBox::NoInsert);
    cmbCommPort->setGeometry(twipsRect(2280, 360, 735, 315));

    for (int i = 1; i < kButtonCount; ++i)
        setTabOrder(Command1[i - 1], Command1[i]);
    setTabOrder(Command1.last(), cmbCommPort);

    // The recording is in the context menu, so that no control moves.
    mnuRecordStart = new QAction(QStringLiteral("記録開始(&R)..."), this);
    mnuRecordStart->setObjectName(QStringLiteral("mnuRecordStart"));
    connect(mnuRecordStart, &QAction::triggered, this, &frmKeyboard::mnuRecordStart_Click);
    mnuRecordStop = new QAction(QStringLiteral("記録終了(&T)"), this);
    mnuRecordStop->setObjectName(QStringLiteral("mnuRecordStop"));
    connect(mnuRecordStop, &QAction::triggered, this, &frmKeyboard::mnuRecordStop_Click);
    addAction(mnuRecordStart);
    addAction(mnuRecordStop);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    showRecording();

    // A failure surfaces in the middle of a send; report it once the send
    // has returned.
    connect(&MSComm1, &SerialLink::failed, this, &frmKeyboard::linkFailed, Qt::QueuedConnection);
}

frmKeyboard::~frmKeyboard() = default;

void frmKeyboard::load(const QString &title, const QString &version, const QString &mainPortText)
{
    if (offersScreen_ && !mnuScreen) {
        mnuScreen = new QAction(QStringLiteral("画面(&G)"), this);
        mnuScreen->setObjectName(QStringLiteral("mnuScreen"));
        connect(mnuScreen, &QAction::triggered, this, &frmKeyboard::screenWanted);
        addAction(mnuScreen);
    }
    caption_ = title + QLatin1Char(' ') + version;
    showRecording();
    cmbCommPort->setEditText(mainPortText);
    for (int port = 1; port <= kPortCount; ++port)
        cmbCommPort->addItem(QString::number(port));
    // The first item of an empty list becomes the current one and replaces
    // the text; the main window's port text stays, list item or not.
    cmbCommPort->setCurrentIndex(cmbCommPort->findText(mainPortText));
    cmbCommPort->setEditText(mainPortText);
    Command1[kConnectButton]->setText(kDisconnected);
}

void frmKeyboard::Command1_Click(int Index)
{
    const UnloadGuard::Busy busy(unloadGuard_);
    if (Index < 0 || Index >= kButtonCount)
        return;
    if (Index == kConnectButton) {
        connectOrDisconnect();
        return;
    }
    const QString key = QString::fromLatin1(kKeypadButtons[Index].key);
    const double sentMs = lineClockMs();
    MSComm1.SendPacket(KeyTable::find(key).value());
    // Recorded when it went out: not while disconnected (a packet the link
    // does not take leaves its port closed).
    if (recording_ && MSComm1.isOpen())
        recording_->addKey(key, sentMs, lineClockMs());
}

void frmKeyboard::SendStr(const QString &Str)
{
    const UnloadGuard::Busy busy(unloadGuard_);
    // Busy over the program's windows while the text goes out.
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const auto restoreCursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    if (!recording_ || !MSComm1.isOpen()) {
        text_.SendString(Str);
        return;
    }
    // A character at a time, so that a recording finished in the middle of
    // the text (the keypad or the program closing) holds what went out.
    textGoingOut_ = TextGoingOut{lineClockMs(), QString()};
    text_.SendStringByCharacter(Str, [] { return true; }, [this](QChar ch) {
        if (textGoingOut_)
            textGoingOut_->typed += ch;
    });
    recordTextGoingOut();
}

bool frmKeyboard::addCheckpoint(const QString &line, const QString &source, const QString &display)
{
    if (!recording_)
        return false;
    // After what of a text has gone out so far.
    recordTextGoingOut();
    const double now = lineClockMs();
    if (!source.isEmpty())
        recording_->lookAt(source, now, display);
    if (!line.isEmpty())
        recording_->addCheckpoint(line, now);
    return true;
}

QString frmKeyboard::removeLastCheckpoint()
{
    return recording_ ? recording_->removeLastCheckpoint() : QString();
}

QStringList frmKeyboard::recordedLines() const
{
    return recording_ ? recording_->lines() : QStringList();
}

void frmKeyboard::mnuRecordStart_Click()
{
    if (recording_)
        return;
    // Where the last recording went; before any, beside the macro file.
    QString start = recordPath_;
    if (start.isEmpty()) {
        start = recordFolder_.isEmpty() ? kRecordFileName : QDir(recordFolder_).filePath(kRecordFileName);
    }
    const QString path = desktop_.chooseNewFile(this, start);
    if (path.isEmpty())
        return;
    QString error;
    if (!MacroRecorder::canWrite(path, &error)) {
        desktop_.showMessage(this, error);
        return;
    }
    recordPath_ = path;
    recording_ = std::make_unique<MacroRecorder>();
    showRecording();
    if (!MSComm1.isOpen())
        desktop_.showMessage(this, QStringLiteral("記録を始めましたが、キーボードは切断中です。\n"
                                                  "「切断」のボタンを押して接続するまで、キーは送られず記録もされません。"));
}

void frmKeyboard::mnuRecordStop_Click()
{
    if (!recording_)
        return;
    recordTextGoingOut();
    if (recording_->size() == 0) {
        recording_.reset();
        showRecording();
        desktop_.showMessage(this, QStringLiteral("記録したキーと文字列はありません（切断中のキーは記録されません）。\n"
                                                  "ファイル「%1」には書き込みませんでした。")
                                       .arg(QDir::toNativeSeparators(recordPath_)));
        return;
    }
    const QStringList pictures = recording_->checkpointPictures();
    if (!finishRecording())
        return;
    // Where it all went: the file, and the checkpoints' pictures beside it.
    const QString folder = QDir::toNativeSeparators(QFileInfo(recordPath_).absolutePath());
    QString message = QStringLiteral("記録を「%1」に保存しました。").arg(QDir::toNativeSeparators(recordPath_));
    if (!pictures.isEmpty())
        message += QStringLiteral("\nチェックポイントの画像（%1）は同じフォルダ「%2」にあります。")
                       .arg(pictures.join(QStringLiteral("、")), folder);
    desktop_.showMessage(this, message);
}

bool frmKeyboard::finishRecording()
{
    if (finishing_) {
        saveFinishingRecordingAside();
        return false;
    }
    if (!recording_)
        return false;
    recordTextGoingOut();
    if (recording_->size() == 0) {
        // Nothing recorded: no file is written, none replaced.
        recording_.reset();
        showRecording();
        return false;
    }
    finishing_ = std::move(recording_);
    showRecording();
    QString error;
    // The message and the dialog let events run: the program may end while
    // they are open, and then the recording has been saved aside.
    while (!finishing_->write(recordPath_, &error)) {
        desktop_.showMessage(this, error + QStringLiteral("\n記録を保存するファイルを選び直してください。"));
        const QString path = finishing_ ? desktop_.chooseNewFile(this, recordPath_) : QString();
        if (!finishing_)
            return false;
        if (path.isEmpty()) {
            desktop_.showMessage(this, QStringLiteral("記録（キーと文字列 %1 個）を保存しませんでした。").arg(finishing_->size()));
            finishing_.reset();
            return false;
        }
        recordPath_ = path;
    }
    finishing_.reset();
    return true;
}

void frmKeyboard::saveFinishingRecordingAside()
{
    const std::unique_ptr<MacroRecorder> recording = std::move(finishing_);
    const QString name = QStringLiteral("記録-%1.txt").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    QString error;
    for (const QString &folder : {QDir::homePath(), QDir::tempPath()}) {
        const QString path = QDir(folder).filePath(name);
        if (!QFileInfo::exists(path) && recording->write(path, &error)) {
            desktop_.showMessage(this, QStringLiteral("プログラムを終えるため、記録を「%1」に保存しました。").arg(path));
            return;
        }
    }
    desktop_.showMessage(this, QStringLiteral("記録（キーと文字列 %1 個）を保存しませんでした。").arg(recording->size()));
}

double frmKeyboard::lineClockMs() const
{
    return MSComm1.port().clock().elapsedMs();
}

void frmKeyboard::recordTextGoingOut()
{
    if (textGoingOut_ && recording_)
        recording_->addText(textGoingOut_->typed, textGoingOut_->sentMs, lineClockMs());
    textGoingOut_.reset();
}

void frmKeyboard::showRecording()
{
    setWindowTitle(recording_ ? caption_ + kRecording : caption_);
    mnuRecordStart->setEnabled(!recording_);
    mnuRecordStop->setEnabled(recording_ != nullptr);
}

void frmKeyboard::connectOrDisconnect()
{
    QPushButton *button = Command1[kConnectButton];
    if (button->text() == kDisconnected) {
        if (!MSComm1.OpenPort()) {
            desktop_.showMessage(this, QStringLiteral("キーボードを接続できません。\n%1").arg(MSComm1.errorText()));
            return;
        }
        button->setText(kConnected);
    } else {
        if (!MSComm1.ClosePort())
            desktop_.showMessage(this, MSComm1.errorText());
        button->setText(kDisconnected);
    }
}

void frmKeyboard::linkFailed(const QString &message)
{
    if (!MSComm1.isOpen())
        Command1[kConnectButton]->setText(kDisconnected);
    desktop_.showMessage(this, QStringLiteral("%1\nキーボードの接続を切断しました。").arg(message));
}

void frmKeyboard::closeEvent(QCloseEvent *event)
{
    {
        const UnloadGuard::Busy busy(unloadGuard_);
        finishRecording();
        // Gone at once, while the port lets out what was handed to it.
        hide();
        Q_EMIT closing();
        if (!MSComm1.ClosePort())
            desktop_.showMessage(this, MSComm1.errorText());
    }
    event->accept();
    Q_EMIT closed();
}

QSize frmKeyboard::clientSize()
{
    return twipsSize(3150, 4590);
}
