#include "app/sourceopening.h"

#include "macro/runscreen.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
// How often the opening is looked at: its end shows within this.
constexpr int kLookMs = 50;
} // namespace

SourceOpening::SourceOpening(RunScreen &screen, QWidget *parent)
    : QDialog(parent), screen_(screen)
{
    setObjectName(QStringLiteral("dlgSourceOpening"));
    setWindowTitle(QStringLiteral("画面の取り込み元"));
    // Not modal: the windows go on while it opens.
    setModal(false);
    lblConnecting = new QLabel(this);
    lblConnecting->setObjectName(QStringLiteral("lblConnecting"));
    lblConnecting->setWordWrap(true);
    cmdCancel = new QPushButton(QStringLiteral("取消"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblConnecting);
    layout->addWidget(cmdCancel, 0, Qt::AlignHCenter);
    connect(cmdCancel, &QPushButton::clicked, this, &SourceOpening::cancel);
    poll_.setInterval(kLookMs);
    connect(&poll_, &QTimer::timeout, this, &SourceOpening::look);
}

void SourceOpening::openSource(const QString &source)
{
    if (isOpening())
        screen_.abandonOpen();
    lblConnecting->setText(QStringLiteral("画面の取り込み元「%1」に接続中…").arg(source));
    screen_.startOpen(source);
    poll_.start();
    look();
    if (isOpening()) {
        show();
        raise();
    }
}

void SourceOpening::cancel()
{
    if (!isOpening())
        return;
    poll_.stop();
    screen_.abandonOpen();
    hide();
    Q_EMIT openEnded(false, QString());
}

void SourceOpening::look()
{
    const RunScreen::OpenState state = screen_.openState();
    if (!state.done)
        return;
    poll_.stop();
    hide();
    Q_EMIT openEnded(state.opened, state.error);
}
