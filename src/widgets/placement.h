#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

// Where a window whose outer size is `frame` goes beside the window whose
// outer rectangle is `anchor`: right of it when the screen's `available`
// area has room there, else left of it, else at the side with more room,
// always inside `available`. Its top is level with the anchor's, moved up
// as far as the screen needs to hold `below` more pixels under the window
// (a window that opens below it).
QPoint placeBeside(const QRect &anchor, const QSize &frame, const QRect &available, int below = 0);

// Where a window whose outer size is `frame` goes just below the window
// whose outer rectangle is `anchor`, left edges level, moved as far as the
// screen's `available` area needs to hold it.
QPoint placeBelow(const QRect &anchor, const QSize &frame, const QRect &available);

// The outer size a window of `client` size will have, with the frame the
// window manager gave the shown window `anchor` (the client size without).
QSize outerSize(const QSize &client, const QWidget *anchor);

