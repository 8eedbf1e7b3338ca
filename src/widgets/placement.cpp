#include "widgets/placement.h"

#include <QWidget>
#include <algorithm>

QPoint placeBeside(const QRect &anchor, const QSize &frame, const QRect &available, int below)
{
    const int roomRight = available.right() - anchor.right();
    const int roomLeft = anchor.left() - available.left();
    int x;
    if (roomRight >= frame.width())
        x = anchor.right() + 1;
    else if (roomLeft >= frame.width())
        x = anchor.left() - frame.width();
    else
        x = roomRight >= roomLeft ? available.right() + 1 - frame.width() : available.left();
    x = std::max(available.left(), std::min(x, available.right() + 1 - frame.width()));
    int y = std::min(anchor.top(), available.bottom() + 1 - frame.height() - std::max(below, 0));
    y = std::max(y, available.top());
    return {x, y};
}

QPoint placeBelow(const QRect &anchor, const QSize &frame, const QRect &available)
{
    return {std::clamp(anchor.left(), available.left(), std::max(available.left(), available.right() + 1 - frame.width())),
            std::clamp(anchor.bottom() + 1, available.top(), std::max(available.top(), available.bottom() + 1 - frame.height()))};
}

QSize outerSize(const QSize &client, const QWidget *anchor)
{
    if (!anchor || !anchor->isVisible())
        return client;
    const QRect outer = anchor->frameGeometry();
    const QRect inner = anchor->geometry();
    return client + QSize(outer.width() - inner.width(), outer.height() - inner.height());
}

