// The screen window's view of the handset's display: the outline found in
// the frames, its corners set by the user (to the screen, and into the
// recording), the upright display shown instead of the frame, and the
// picture enlarged.

#include "app/frmscreen.h"

#include "app/screenwindowfiles.h"
#include "keypad/keypadwindows.h"
#include "screen/screenplugin.h"
#include "widgets/desktop.h"

#include <QKeyEvent>
#include <QLayout>
#include <QScreen>

using namespace ScreenWindowFiles;

void frmScreen::showNewest()
{
    if (showsDisplay()) {
        showFrame(display_);
        picture->setOutline({}, false);
        return;
    }
    if (frame_.isNull())
        return;
    showFrame(frame_);
    // The corners the user drags stay as they are dragged; otherwise the
    // display found, or the one the user set while none is found.
    if (editingCorners_)
        return;
    QPolygonF outline = outline_;
    if (outline.isEmpty() && displayArea_.mode == DisplayArea::Mode::Corners)
        outline = QPolygonF(QList<QPointF>(displayArea_.corners.begin(), displayArea_.corners.end()));
    picture->setOutline(outline, false);
}

void frmScreen::setZoom(int zoom)
{
    keepingPictureSize([] {});
    picture->setZoom(zoom);
    for (QAction *action : mnuZoom)
        action->setChecked(action->objectName() == QStringLiteral("mnuZoom%1").arg(zoom));
    // The window takes the picture's new size (not adjustSize(), which keeps
    // a window within two thirds of the screen), beside the main window
    // still.
    if (layout())
        layout()->activate();
    QSize wanted = sizeHint();
    if (const QScreen *screen = this->screen())
        wanted = wanted.boundedTo(screen->availableGeometry().size() - QSize(10, 40));
    resize(wanted);
    ownSize_ = size();
    keepBeside();
}

void frmScreen::mnuShowDisplay_Click()
{
    showDisplay_ = !showDisplay_ && !display_.isNull();
    if (evidence_.isEmpty())
        showNewest();
    showStatus();
}

void frmScreen::mnuSetCorners_Click()
{
    editingCorners_ = !editingCorners_ && !frame_.isNull();
    if (!editingCorners_) {
        showNewest();
        showStatus();
        return;
    }
    showDisplay_ = false;
    showNewest();
    // From the display found, the user's last corners, or a tenth in from
    // the frame's edges.
    QPolygonF corners = outline_;
    if (corners.isEmpty() && displayArea_.mode == DisplayArea::Mode::Corners)
        corners = QPolygonF(QList<QPointF>(displayArea_.corners.begin(), displayArea_.corners.end()));
    if (corners.isEmpty()) {
        const QRectF inside = QRectF(frame_.rect()).adjusted(frame_.width() / 10.0, frame_.height() / 10.0,
                                                             -frame_.width() / 10.0, -frame_.height() / 10.0);
        corners = QPolygonF({inside.topLeft(), inside.topRight(), inside.bottomRight(), inside.bottomLeft()});
    }
    picture->setOutline(corners, true);
    showStatus();
}

void frmScreen::mnuApplyCorners_Click()
{
    const QPolygonF corners = picture->outline();
    if (!editingCorners_ || corners.size() != 4)
        return;
    DisplayArea area;
    area.mode = DisplayArea::Mode::Corners;
    for (int i = 0; i < 4; ++i)
        area.corners[size_t(i)] = QPointF(std::round(corners[i].x()), std::round(corners[i].y()));
    QString resolution = displayArea_.resolution.isEmpty()
                             ? QString()
                             : QStringLiteral("%1x%2").arg(displayArea_.resolution.width()).arg(displayArea_.resolution.height());
    std::optional<DisplayArea> parsed;
    while (!parsed) {
        const std::optional<QString> answer = desktop_.editText(
            this, QStringLiteral("表示部分の解像度"),
            QStringLiteral("表示部分の解像度（例: 240x320。わからなければ空欄: 四隅の大きさになります）:"), resolution);
        if (!answer)
            return;
        resolution = answer->simplified();
        QString problem;
        parsed = DisplayArea::parse(area.toText() + u' ' + resolution, &problem);
        if (!parsed)
            desktop_.showMessage(this, QStringLiteral("解像度「%1」は読めません。240x320 のように書いてください。").arg(resolution));
    }
    displayArea_ = *parsed;
    editingCorners_ = false;
    screen_.setDisplay(displayArea_);
    QString notice = QStringLiteral("表示部分を「DISPLAY %1」にしました。").arg(displayArea_.toText());
    if (!recordingPath().isEmpty()) {
        keypad_.keyboard()->addCheckpoint(QString(), screenLineSource(screen_.sourceName()), recordedDisplay());
        notice += QStringLiteral("記録にも加えました。");
        showRecordingLines();
    }
    showNewest();
    showNotice(notice);
}

QString frmScreen::recordedDisplay() const
{
    return displayArea_.mode == DisplayArea::Mode::Corners ? displayArea_.toText() : QString();
}

void frmScreen::keyPressEvent(QKeyEvent *event)
{
    // The menu from the keyboard wherever the focus is in the window.
    if (event->key() == Qt::Key_Menu || (event->key() == Qt::Key_F10 && (event->modifiers() & Qt::ShiftModifier))) {
        showMenu(picture->selection().isEmpty() ? picture->rect().center() : picture->toWidget(picture->selection()).center());
        return;
    }
    QWidget::keyPressEvent(event);
}
