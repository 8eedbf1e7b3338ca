#include "widgets/placement.h"

#include <QWidget>
#include <algorithm>

namespace {

// Where something `length` long that would start at `at` starts to lie
// within [low, end): moved back from the end as far as it needs, but never
// before `low` (what is longer than the room starts there).
int within(int at, int low, int end, int length)
{
    return std::max(low, std::min(at, end - length));
}

} // namespace

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
    return {within(x, available.left(), available.right() + 1, frame.width()),
            within(anchor.top(), available.top(), available.bottom() + 1 - std::max(below, 0), frame.height())};
}

QPoint placeBelow(const QRect &anchor, const QSize &frame, const QRect &available)
{
    return {within(anchor.left(), available.left(), available.right() + 1, frame.width()),
            within(anchor.bottom() + 1, available.top(), available.bottom() + 1, frame.height())};
}

QSize outerSize(const QSize &client, const QWidget *anchor)
{
    if (!anchor || !anchor->isVisible())
        return client;
    const QRect outer = anchor->frameGeometry();
    const QRect inner = anchor->geometry();
    return client + QSize(outer.width() - inner.width(), outer.height() - inner.height());
}

