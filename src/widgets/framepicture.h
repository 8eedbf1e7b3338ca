#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>
#include <QWidget>
#include <optional>

// A frame of the handset's screen, shown at its own size or scaled down to
// fit (never up), with a rectangle the user drags out on it and a mark the
// program puts on it. Rectangles are in the frame's own pixels, whatever the
// scale.
class FramePicture : public QWidget {
    Q_OBJECT
public:
    // What the program marks on the frame: a rectangle, its colour and a
    // text beside it.
    struct Mark {
        QRect rect;
        QColor colour;
        QString text;
    };

    explicit FramePicture(QWidget *parent = nullptr);

    // The frame shown; a frame of another size drops the selection.
    void setFrame(const QImage &frame);
    const QImage &frame() const { return frame_; }

    // The largest the picture may be on the screen (the desktop's room).
    void setLargest(const QSize &largest);
    QSize sizeHint() const override;

    // The rectangle selected (empty: none).
    QRect selection() const { return selection_; }
    void setSelection(const QRect &rect);
    // The frame's pixels in the selection (null when none).
    QImage selectedPixels() const;

    void setMark(const std::optional<Mark> &mark);
    const std::optional<Mark> &mark() const { return mark_; }

    // The scale the frame is shown at (1 or less), and the mapping between
    // the widget's points and the frame's pixels.
    double scale() const;
    QPoint toFrame(const QPoint &point) const;
    QRect toWidget(const QRect &frameRect) const;

Q_SIGNALS:
    // While dragging and when done.
    void selectionChanged(const QRect &selection);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QRect shownRect() const;
    void dragTo(const QPoint &point);

    QImage frame_;
    QSize largest_;
    QRect selection_;
    std::optional<QPoint> dragStart_;
    std::optional<Mark> mark_;
};
