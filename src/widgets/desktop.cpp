#include "widgets/desktop.h"

#include "platform/process.h"
#include "widgets/appearance.h"
#include "widgets/guide.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QStandardPaths>

ScreenDesktop::ScreenDesktop()
    : guidePageDir(QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/help"))
{
}

QString ScreenDesktop::chooseFile(QWidget *parent, const QString &fileName)
{
    // The caption the user sees is 「すべて(*.*)」; the pattern matches every
    // file, names without a dot included.
    return QFileDialog::getOpenFileName(parent, QString(), fileName, QStringLiteral("すべて(*.*) (*)"), nullptr,
                                        QFileDialog::HideNameFilterDetails);
}

QString ScreenDesktop::chooseNewFile(QWidget *parent, const QString &fileName)
{
    return QFileDialog::getSaveFileName(parent, QString(), fileName, QStringLiteral("すべて(*.*) (*)"), nullptr,
                                        QFileDialog::HideNameFilterDetails);
}

void ScreenDesktop::showMessage(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("QuillonEmu"), text, QMessageBox::Ok, parent);
    box.setWindowIcon(programIcon());
    box.exec();
}

void ScreenDesktop::openGuide(QWidget *parent, const QString &path)
{
    ::openGuide(path, guidePageDir, parent, [this, parent](const QString &message) { showMessage(parent, message); });
}

std::optional<QString> ScreenDesktop::chooseScreenSource(QWidget *parent, const QStringList &choices,
                                                         const QString &current)
{
    QInputDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("画面の取り込み元"));
    dialog.setLabelText(QStringLiteral("カメラを選ぶか、URL（http://…、rtsp://…）かファイルのパスを入力してください:"));
    dialog.setComboBoxEditable(true);
    dialog.setComboBoxItems(choices);
    dialog.setTextValue(current);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue().trimmed();
}

void ScreenDesktop::endProgram()
{
    terminateProcess(0);
}
