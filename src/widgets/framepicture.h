#pragma once

#include <QColor>
#include <QImage>
#include <QPolygonF>
#include <QRect>
#include <QString>
#include <QWidget>
#include <optional>

// A frame of the handset's screen, shown at its own size or scaled down to
// fit, or enlarged (x2, x3, or to fill the widget) so that a small text can
// be selected to the pixel; with a rectangle the user drags out on it (or
// moves and sizes with the arrow keys), a mark the program puts on it, and
// the outline of the handset's display, whose corners the user can drag.
// Rectangles and corners are in the frame's own pixels, whatever the scale.
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
    // 1: at its own size, scaled down to fit; 2, 3: enlarged that many
    // times (within the largest); kFillZoom: as large as the widget allows.
    static constexpr int kFillZoom = 0;
    void setZoom(int zoom);
    int zoom() const { return zoom_; }
    QSize sizeHint() const override;

    // The rectangle selected (empty: none).
    QRect selection() const { return selection_; }
    void setSelection(const QRect &rect);
    // The frame's pixels in the selection (null when none).
    QImage selectedPixels() const;

    void setMark(const std::optional<Mark> &mark);
    const std::optional<Mark> &mark() const { return mark_; }

    // The display's outline (top-left, top-right, bottom-right, bottom-left;
    // empty: none drawn). While `editable`, its corners have handles the
    // user drags (and a drag elsewhere still selects).
    void setOutline(const QPolygonF &outline, bool editable);
    const QPolygonF &outline() const { return outline_; }
    bool outlineEditable() const { return outlineEditable_; }

    // The scale the frame is shown at, and the mapping between the widget's
    // points and the frame's pixels.
    double scale() const;
    QPoint toFrame(const QPoint &point) const;
    QRect toWidget(const QRect &frameRect) const;

Q_SIGNALS:
    // While dragging and when done.
    void selectionChanged(const QRect &selection);
    // A corner of the outline dragged.
    void outlineChanged(const QPolygonF &outline);
    // The context menu asked for (a right click, the Menu key, Shift+F10),
    // at `where` in the widget: for the keyboard, the selection's middle.
    void menuAsked(const QPoint &where);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    QRect shownRect() const;
    void dragTo(const QPoint &point);
    QPoint keyboardMenuPlace() const;

    QImage frame_;
    QSize largest_;
    QRect selection_;
    std::optional<QPoint> dragStart_;
    std::optional<Mark> mark_;
    int zoom_ = 1;
    QPolygonF outline_;
    bool outlineEditable_ = false;
    // The corner being dragged (-1: none).
    int cornerDragged_ = -1;
};
