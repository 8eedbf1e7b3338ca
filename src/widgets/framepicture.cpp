#include "widgets/framepicture.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

FramePicture::FramePicture(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("picture"));
    setCursor(Qt::CrossCursor);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The arrow keys move and size the selection; the Menu key and
    // Shift+F10 open the menu.
    setFocusPolicy(Qt::StrongFocus);
}

namespace {
// How near a corner's handle a press takes it, in the widget's points.
constexpr int kHandleReach = 8;
const QColor kOutlineColour(0, 170, 255);
} // namespace

void FramePicture::setFrame(const QImage &frame)
{
    const bool resized = frame.size() != frame_.size();
    frame_ = frame;
    if (resized) {
        selection_ = QRect();
        dragStart_.reset();
        updateGeometry();
        Q_EMIT selectionChanged(selection_);
    }
    update();
}

void FramePicture::setLargest(const QSize &largest)
{
    largest_ = largest;
    updateGeometry();
}

void FramePicture::setZoom(int zoom)
{
    zoom_ = std::clamp(zoom, kFillZoom, 3);
    updateGeometry();
    update();
}

QSize FramePicture::sizeHint() const
{
    if (frame_.isNull())
        return {320, 240};
    if (zoom_ == kFillZoom)
        return largest_.isValid() ? frame_.size().scaled(largest_, Qt::KeepAspectRatio) : frame_.size();
    const QSize wanted = frame_.size() * zoom_;
    if (!largest_.isValid())
        return wanted;
    return frame_.size().scaled(wanted.boundedTo(largest_), Qt::KeepAspectRatio);
}

double FramePicture::scale() const
{
    if (frame_.isNull())
        return 1.0;
    const double fits = std::min(double(width()) / frame_.width(), double(height()) / frame_.height());
    return zoom_ == kFillZoom ? fits : std::min(double(zoom_), fits);
}

QRect FramePicture::shownRect() const
{
    const QSize shown(int(std::lround(frame_.width() * scale())), int(std::lround(frame_.height() * scale())));
    return QRect(QPoint((width() - shown.width()) / 2, (height() - shown.height()) / 2), shown);
}

QPoint FramePicture::toFrame(const QPoint &point) const
{
    const QRect shown = shownRect();
    const double s = scale();
    const int x = int(std::floor((point.x() - shown.x()) / s));
    const int y = int(std::floor((point.y() - shown.y()) / s));
    return {std::clamp(x, 0, std::max(0, frame_.width() - 1)), std::clamp(y, 0, std::max(0, frame_.height() - 1))};
}

QRect FramePicture::toWidget(const QRect &frameRect) const
{
    const QRect shown = shownRect();
    const double s = scale();
    const QPoint topLeft(shown.x() + int(std::floor(frameRect.x() * s)), shown.y() + int(std::floor(frameRect.y() * s)));
    const QPoint end(shown.x() + int(std::ceil((frameRect.x() + frameRect.width()) * s)),
                     shown.y() + int(std::ceil((frameRect.y() + frameRect.height()) * s)));
    return QRect(topLeft, end - QPoint(1, 1));
}

void FramePicture::setSelection(const QRect &rect)
{
    selection_ = rect.intersected(frame_.rect());
    update();
    Q_EMIT selectionChanged(selection_);
}

QImage FramePicture::selectedPixels() const
{
    if (selection_.isEmpty() || frame_.isNull())
        return {};
    return frame_.copy(selection_);
}

void FramePicture::setMark(const std::optional<Mark> &mark)
{
    mark_ = mark;
    update();
}

void FramePicture::setOutline(const QPolygonF &outline, bool editable)
{
    outline_ = outline.size() == 4 ? outline : QPolygonF();
    outlineEditable_ = editable && !outline_.isEmpty();
    if (!outlineEditable_)
        cornerDragged_ = -1;
    update();
}

void FramePicture::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    if (frame_.isNull())
        return;
    const QRect shown = shownRect();
    // Enlarged pixel by pixel: each of the frame's pixels a square, to
    // select to the pixel.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, scale() < 1.0);
    painter.drawImage(shown, frame_);
    if (!outline_.isEmpty()) {
        const double s = scale();
        QPolygonF onWidget;
        for (const QPointF &corner : outline_)
            onWidget.append(QPointF(shown.x() + corner.x() * s, shown.y() + corner.y() * s));
        painter.setPen(QPen(kOutlineColour, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawPolygon(onWidget);
        if (outlineEditable_) {
            painter.setBrush(Qt::white);
            for (const QPointF &corner : onWidget)
                painter.drawRect(QRectF(corner - QPointF(4, 4), QSizeF(8, 8)));
            painter.setBrush(Qt::NoBrush);
        }
    }
    if (!selection_.isEmpty()) {
        // Seen on any picture: white under black dashes.
        const QRect r = toWidget(selection_);
        painter.setPen(QPen(Qt::white, 1));
        painter.drawRect(r);
        painter.setPen(QPen(Qt::black, 1, Qt::DashLine));
        painter.drawRect(r);
    }
    if (mark_ && !mark_->rect.isEmpty()) {
        const QRect r = toWidget(mark_->rect);
        painter.setPen(QPen(mark_->colour, 3));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(r.adjusted(-2, -2, 2, 2));
        if (!mark_->text.isEmpty()) {
            const QFontMetrics metrics(font());
            QRect label(0, 0, metrics.horizontalAdvance(mark_->text) + 8, metrics.height() + 4);
            // Above the mark, or below it at the top of the picture.
            label.moveTopLeft(QPoint(r.x() - 3, r.y() - 4 - label.height()));
            if (label.top() < 0)
                label.moveTop(r.bottom() + 4);
            label.moveLeft(std::clamp(label.left(), 0, std::max(0, width() - label.width())));
            painter.fillRect(label, mark_->colour);
            // Black on a light colour, white on a dark one.
            const QColor c = mark_->colour;
            painter.setPen(0.299 * c.red() + 0.587 * c.green() + 0.114 * c.blue() < 100 ? Qt::white : Qt::black);
            painter.drawText(label, Qt::AlignCenter, mark_->text);
        }
    }
}

void FramePicture::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || frame_.isNull()) {
        QWidget::mousePressEvent(event);
        return;
    }
    if (outlineEditable_) {
        const QRect shown = shownRect();
        for (int i = 0; i < 4; ++i) {
            const QPointF corner(shown.x() + outline_[i].x() * scale(), shown.y() + outline_[i].y() * scale());
            if ((corner - event->position()).manhattanLength() <= 2 * kHandleReach) {
                cornerDragged_ = i;
                return;
            }
        }
    }
    dragStart_ = event->position().toPoint();
    dragTo(event->position().toPoint());
}

void FramePicture::mouseMoveEvent(QMouseEvent *event)
{
    if (cornerDragged_ >= 0) {
        const QRect shown = shownRect();
        const double s = scale();
        const QPointF at((event->position().x() - shown.x()) / s, (event->position().y() - shown.y()) / s);
        // On the frame's pixels' corners.
        outline_[cornerDragged_] = QPointF(std::clamp(std::round(at.x()), 0.0, double(frame_.width())),
                                           std::clamp(std::round(at.y()), 0.0, double(frame_.height())));
        update();
        Q_EMIT outlineChanged(outline_);
        return;
    }
    if (dragStart_)
        dragTo(event->position().toPoint());
}

void FramePicture::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && cornerDragged_ >= 0) {
        mouseMoveEvent(event);
        cornerDragged_ = -1;
        return;
    }
    if (event->button() != Qt::LeftButton || !dragStart_)
        return;
    dragTo(event->position().toPoint());
    dragStart_.reset();
}

void FramePicture::dragTo(const QPoint &point)
{
    // The pixels between the two corners, both included, of what the drag
    // covers of the picture: nothing for a drag wholly in the margin around
    // it, or a click without a drag.
    const QRect covered = QRect(*dragStart_, point).normalized().intersected(shownRect());
    if (covered.isEmpty()) {
        setSelection(QRect());
        return;
    }
    const QPoint start = toFrame(covered.topLeft());
    const QPoint end = toFrame(covered.bottomRight());
    setSelection(start == end ? QRect() : QRect(start, end));
}

void FramePicture::keyPressEvent(QKeyEvent *event)
{
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    if (event->key() == Qt::Key_Menu || (event->key() == Qt::Key_F10 && shift)) {
        Q_EMIT menuAsked(keyboardMenuPlace());
        return;
    }
    QPoint step;
    switch (event->key()) {
    case Qt::Key_Left: step = {-1, 0}; break;
    case Qt::Key_Right: step = {1, 0}; break;
    case Qt::Key_Up: step = {0, -1}; break;
    case Qt::Key_Down: step = {0, 1}; break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    if (frame_.isNull())
        return;
    // Ctrl: ten pixels at a time.
    if (event->modifiers() & Qt::ControlModifier)
        step *= 10;
    QRect r = selection_;
    if (r.isEmpty()) {
        // A first selection in the middle, to move and size from there.
        const QSize size = QSize(32, 16).boundedTo(frame_.size());
        r = QRect(QPoint((frame_.width() - size.width()) / 2, (frame_.height() - size.height()) / 2), size);
    } else if (shift) {
        // The right and bottom edges move: the selection grows or shrinks,
        // a pixel wide at the least.
        r.setWidth(std::clamp(r.width() + step.x(), 1, frame_.width() - r.x()));
        r.setHeight(std::clamp(r.height() + step.y(), 1, frame_.height() - r.y()));
    } else {
        r.moveTo(std::clamp(r.x() + step.x(), 0, frame_.width() - r.width()),
                 std::clamp(r.y() + step.y(), 0, frame_.height() - r.height()));
    }
    setSelection(r);
}

void FramePicture::contextMenuEvent(QContextMenuEvent *event)
{
    Q_EMIT menuAsked(event->reason() == QContextMenuEvent::Mouse ? event->pos() : keyboardMenuPlace());
}

QPoint FramePicture::keyboardMenuPlace() const
{
    return selection_.isEmpty() ? rect().center() : toWidget(selection_).center();
}
