#include "widgets/desktop.h"

#include "platform/process.h"
#include "widgets/appearance.h"
#include "widgets/guide.h"
#include "widgets/placement.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStandardPaths>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// The caption the user sees is 「すべて(*.*)」; the pattern matches every
// file, names without a dot included.
const QString kEveryFile = QStringLiteral("すべて(*.*) (*)");

// Qt's own file dialog (where the desktop offers none of its own) wide
// enough that its columns and places are read whole in the user interface
// font: names, 「1,023 バイト」, 「平文テキストドキュメント」,
// 「2026/12/07 11:41」, 「コンピュータ」.
void sizeForReading(QFileDialog &dialog)
{
    auto *details = dialog.findChild<QTreeView *>(QStringLiteral("treeView"));
    auto *places = dialog.findChild<QListView *>(QStringLiteral("sidebar"));
    auto *splitter = dialog.findChild<QSplitter *>(QStringLiteral("splitter"));
    if (!details || !places || !splitter)
        return;
    const QFontMetrics metrics(details->font());
    const int pad = metrics.horizontalAdvance(QStringLiteral("MM"));
    const int name = metrics.horizontalAdvance(QStringLiteral("メール送信マクロ-2026年12月.txt")) + 2 * pad;
    const int size = metrics.horizontalAdvance(QStringLiteral("1,023 キロバイト")) + pad;
    const int type = metrics.horizontalAdvance(QStringLiteral("平文テキストドキュメント")) + pad;
    const int date = metrics.horizontalAdvance(QStringLiteral("2026/12/07 23:59")) + pad;
    QHeaderView *header = details->header();
    header->setStretchLastSection(false);
    header->resizeSection(0, name);
    header->resizeSection(1, size);
    header->resizeSection(2, type);
    header->resizeSection(3, date);
    const QFontMetrics placeMetrics(places->font());
    const int placesWidth = placeMetrics.horizontalAdvance(QStringLiteral("コンピュータ")) + places->iconSize().width() +
                            3 * placeMetrics.horizontalAdvance(u'M');
    const int listWidth = name + size + type + date + details->verticalScrollBar()->sizeHint().width() + 2 * details->frameWidth();
    splitter->setSizes({placesWidth, listWidth});
    dialog.resize(std::max(dialog.width(), placesWidth + listWidth + 4 * pad), std::max(dialog.height(), 28 * metrics.height()));
}

QString runFileDialog(QWidget *parent, const QString &fileName, QFileDialog::AcceptMode mode,
                      const QString &filter = kEveryFile, const QString &suffix = QString())
{
    QFileDialog dialog(parent, QString(), fileName, filter);
    dialog.setOptions(QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(mode);
    dialog.setDefaultSuffix(suffix);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    sizeForReading(dialog);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.selectedFiles().value(0);
}

// `dialog` beside `area` (on the screen) rather than over it, once it has
// its size; nothing when `area` is empty.
void placeClearOf(QWidget &dialog, const QRect &area)
{
    if (area.isEmpty())
        return;
    dialog.adjustSize();
    const QScreen *screen = QGuiApplication::screenAt(area.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // (The window manager's frame: a title bar's height or so more.)
    const QSize outer = dialog.size() + QSize(8, 32);
    dialog.move(placeBeside(area, outer, screen->availableGeometry()));
}

// A message box at least wide enough for its caption.
void widenForCaption(QMessageBox &box)
{
    auto *grid = qobject_cast<QGridLayout *>(box.layout());
    if (!grid)
        return;
    // The caption, the window manager's buttons beside it, and room.
    const int wanted = box.fontMetrics().horizontalAdvance(box.windowTitle()) + 160;
    grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                  grid->columnCount());
}

} // namespace

ScreenDesktop::ScreenDesktop()
    : guidePageDir(QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/help"))
{
}

QString ScreenDesktop::chooseFile(QWidget *parent, const QString &fileName)
{
    return runFileDialog(parent, fileName, QFileDialog::AcceptOpen);
}

QString ScreenDesktop::chooseNewFile(QWidget *parent, const QString &fileName)
{
    return runFileDialog(parent, fileName, QFileDialog::AcceptSave);
}

QString ScreenDesktop::chooseNewPicture(QWidget *parent, const QString &fileName)
{
    return runFileDialog(parent, fileName, QFileDialog::AcceptSave, QStringLiteral("PNG 画像 (*.png)"), QStringLiteral("png"));
}

std::optional<QString> ScreenDesktop::editText(QWidget *parent, const QString &caption, const QString &label,
                                               const QString &text)
{
    QInputDialog dialog(parent);
    dialog.setWindowTitle(caption);
    dialog.setLabelText(label);
    dialog.setTextValue(text);
    dialog.resize(std::max(dialog.width(), dialog.fontMetrics().horizontalAdvance(QStringLiteral("M")) * 40), dialog.height());
    placeClearOf(dialog, keepClear());
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

void ScreenDesktop::showMessage(QWidget *parent, const QString &text)
{
    // A window not shown yet (a message of the start-up run) would place the
    // box at its own place, the screen's corner: without it, the box is
    // centred on the screen the windows open on.
    if (parent && !parent->window()->isVisible())
        parent = nullptr;
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("QuillonEmu"), text, QMessageBox::Ok, parent);
    box.setWindowIcon(programIcon());
    widenForCaption(box);
    placeClearOf(box, keepClear());
    box.exec();
}

void ScreenDesktop::showEvidenceMessage(QWidget *parent, const QString &text, const QString &evidence)
{
    if (parent && !parent->window()->isVisible())
        parent = nullptr;
    // Opening the frame or its folder leaves the message up: it is shown
    // again until OK.
    for (;;) {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("QuillonEmu"), text, QMessageBox::Ok, parent);
        box.setWindowIcon(programIcon());
        QPushButton *frame = box.addButton(QStringLiteral("証拠のフレームを開く(&O)"), QMessageBox::ActionRole);
        QPushButton *folder = box.addButton(QStringLiteral("フォルダを開く(&F)"), QMessageBox::ActionRole);
        box.setDefaultButton(QMessageBox::Ok);
        box.exec();
        if (box.clickedButton() == frame)
            openPath(parent, evidence);
        else if (box.clickedButton() == folder)
            openPath(parent, QFileInfo(evidence).absolutePath());
        else
            return;
    }
}

void ScreenDesktop::openPath(QWidget *parent, const QString &path)
{
    if (!QFileInfo::exists(path)) {
        showMessage(parent, QStringLiteral("「%1」はもうありません。").arg(QDir::toNativeSeparators(path)));
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        showMessage(parent, QStringLiteral("「%1」を開けるプログラムが見つかりません。").arg(QDir::toNativeSeparators(path)));
}

void ScreenDesktop::openGuide(QWidget *parent, const QString &path)
{
    ::openGuide(path, guidePageDir, parent, [this, parent](const QString &message) { showMessage(parent, message); });
}

std::optional<QString> ScreenDesktop::chooseScreenSource(QWidget *parent, const QStringList &choices,
                                                         const QString &current)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("画面の取り込み元"));
    dialog.setWindowIcon(programIcon());
    auto *label = new QLabel(choices.isEmpty()
                                 ? QStringLiteral("カメラは見つかりませんでした。\n"
                                                  "URL（http://…、rtsp://…）か、画像・動画ファイルのパスを入力してください:")
                                 : QStringLiteral("カメラを選ぶか、URL（http://…、rtsp://…）か画像・動画ファイルのパスを入力してください:"),
                             &dialog);
    label->setWordWrap(true);
    auto *source = new QComboBox(&dialog);
    source->setObjectName(QStringLiteral("cmbSource"));
    source->setEditable(true);
    source->setInsertPolicy(QComboBox::NoInsert);
    source->addItems(choices);
    source->setEditText(current);
    source->setMinimumContentsLength(40);
    label->setBuddy(source);
    auto *browse = new QPushButton(QStringLiteral("参照(&B)..."), &dialog);
    browse->setObjectName(QStringLiteral("cmdBrowse"));
    QObject::connect(browse, &QPushButton::clicked, &dialog, [&dialog, source] {
        QFileInfo start(source->currentText().trimmed());
        const QString path = runFileDialog(&dialog, start.exists() ? start.absoluteFilePath() : QString(), QFileDialog::AcceptOpen,
                                           QStringLiteral("画像・動画 (*.png *.jpg *.jpeg *.bmp *.mp4 *.avi *.mkv *.mov *.webm);;") + kEveryFile);
        if (!path.isEmpty())
            source->setEditText(QDir::toNativeSeparators(path));
    });
    auto *row = new QHBoxLayout;
    row->addWidget(source, 1);
    row->addWidget(browse);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(label);
    layout->addLayout(row);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return source->currentText().trimmed();
}

void ScreenDesktop::endProgram()
{
    terminateProcess(0);
}
