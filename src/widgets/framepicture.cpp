#include "widgets/framepicture.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

FramePicture::FramePicture(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("picture"));
    setCursor(Qt::CrossCursor);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

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

QSize FramePicture::sizeHint() const
{
    if (frame_.isNull())
        return {320, 240};
    if (!largest_.isValid())
        return frame_.size();
    return frame_.size().scaled(frame_.size().boundedTo(largest_), Qt::KeepAspectRatio);
}

double FramePicture::scale() const
{
    if (frame_.isNull())
        return 1.0;
    return std::min({1.0, double(width()) / frame_.width(), double(height()) / frame_.height()});
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

void FramePicture::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    if (frame_.isNull())
        return;
    const QRect shown = shownRect();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, scale() < 1.0);
    painter.drawImage(shown, frame_);
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
    dragStart_ = event->position().toPoint();
    dragTo(event->position().toPoint());
}

void FramePicture::mouseMoveEvent(QMouseEvent *event)
{
    if (dragStart_)
        dragTo(event->position().toPoint());
}

void FramePicture::mouseReleaseEvent(QMouseEvent *event)
{
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
