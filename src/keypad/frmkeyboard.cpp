#include "keypad/frmkeyboard.h"

#include "keypad/keypadbuttons.h"
#include "link/keytable.h"
#include "widgets/appearance.h"
#include "widgets/desktop.h"
#include "widgets/taskbar.h"
#include "widgets/twips.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace {

const QString kDisconnected = QStringLiteral("切断");
const QString kConnected = QStringLiteral("接続中");

constexpr int kPortCount = 16;

} // namespace

frmKeyboard::frmKeyboard(Desktop &desktop, Waiter *lineClock, QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      MSComm1([this] { return cmbCommPort->currentText(); }, lineClock), desktop_(desktop)
{
    setObjectName(QStringLiteral("frmKeyboard"));
    // The program ends with the main window, whatever the keypad shows.
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowIcon(programIcon());
    setFont(userInterfaceFont());
    setFixedSize(twipsSize(3150, 4590));
    keepOffTaskbar(this);

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

    // A failure surfaces in the middle of a send; report it once the send
    // has returned.
    connect(&MSComm1, &SerialLink::failed, this, &frmKeyboard::linkFailed, Qt::QueuedConnection);
}

void frmKeyboard::load(const QString &title, const QString &version, const QString &mainPortText)
{
    setWindowTitle(title + QLatin1Char(' ') + version);
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
    if (const std::optional<KeyPacket> packet = KeyTable::find(QString::fromLatin1(kKeypadButtons[Index].key)))
        MSComm1.SendPacket(*packet);
}

void frmKeyboard::SendStr(const QString &Str)
{
    const UnloadGuard::Busy busy(unloadGuard_);
    text_.SendString(Str);
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
        if (!MSComm1.ClosePort())
            desktop_.showMessage(this, MSComm1.errorText());
    }
    event->accept();
    Q_EMIT closed();
}
