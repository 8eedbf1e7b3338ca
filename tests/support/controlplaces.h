#pragma once

#include <QList>
#include <QRect>
#include <QWidget>

// Where each control of `window` sits, in the window's own order: equal
// lists mean no control moved or changed size.
inline QList<QRect> controlPlaces(QWidget *window)
{
    QList<QRect> places;
    for (QWidget *child : window->findChildren<QWidget *>())
        places.append(child->geometry());
    return places;
}
