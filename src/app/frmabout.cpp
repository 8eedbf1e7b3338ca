#include "app/frmabout.h"

#include "widgets/appearance.h"
#include "widgets/taskbar.h"
#include "widgets/twips.h"

#include <QLabel>
#include <QPushButton>

namespace {
constexpr int kOffsetTwips = 256;
}

frmAbout::frmAbout(QWidget *parent) : QDialog(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("バージョン情報"));
    setWindowIcon(programIcon());
    setFont(userInterfaceFont());
    setFixedSize(twipsSize(5925, 3300));
    askForNoMinimize(this);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(twipsRect(120, 240, 480, 480));
    Image1->setPixmap(programIcon().pixmap(32, 32));

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(twipsRect(840, 240, 4935, 255));

    lblCopyright = new QLabel(this);
    lblCopyright->setObjectName(QStringLiteral("lblCopyright"));
    lblCopyright->setGeometry(twipsRect(840, 480, 4935, 255));

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(twipsRect(4440, 2760, 1335, 375));
    cmdOK->setDefault(true);
    cmdOK->setFocus();
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::close);
}

void frmAbout::Form_Load(const QPoint &mainTopLeft, const QString &title, const QString &version,
                         const QString &copyright)
{
    const int offset = twipsToPixels(kOffsetTwips);
    move(mainTopLeft + QPoint(offset, offset));
    Label1->setText(title + u' ' + version);
    lblCopyright->setText(copyright);
}
