#pragma once

#include "handset/cameramodel.h"

#include <QImage>
#include <QList>
#include <QRect>
#include <QString>

// A measuring set of handset screens as a camera films them: screens laid
// out as handsets lay them out (a status bar, a title, lines of text, soft
// keys; light and dark themes; 240x320 to 480x800) in several fonts (the
// model handset's IPAGothic as the control, an 8-dot bitmap-style font among
// the others), each with a near miss (one character of its text changed),
// filmed by the model camera with fixed seeds. The bench's figures and the
// tests take their pictures from here, so that they all measure the same.
namespace CameraSet {

struct Font {
    QString name;   // as the figures print it
    QString family;
    bool bitmap = false; // drawn without smoothing, at whole multiples of 8 px
};

struct Layout {
    QString name;
    QSize size;
    bool dark = false;
    int textPixels = 16; // the body text's height
};

// One screen: its picture, the text it shows (the one a wait would look
// for) and where, in the display's pixels; and the same screen with one
// character of that text changed.
struct Screen {
    QImage picture;
    QString text;
    QRect textBox;
    QImage nearMiss;
    QString nearMissText;
};

// What the camera adds besides its usual faults.
enum class Condition { Plain, Moire, Glare, Nudged };
QString conditionName(Condition condition);
QList<Condition> conditions();

// IPAGothic first (the control).
QList<Font> fonts();
QList<Layout> layouts();
// The texts the screens show (Japanese, 3 to 8 characters).
QStringList texts();

// Screen `index` (chooses the text and what surrounds it) in `font` and
// `layout`. Needs a QGuiApplication (the offscreen platform will do).
Screen screen(const Font &font, const Layout &layout, int index);

// The camera of shot `seed` under `condition`.
CameraModel camera(quint32 seed, Condition condition);
// `display` filmed by that camera; Nudged: after the camera was nudged
// (nearer or farther by 5 %, a few pixels aside).
CameraModel::Shot film(const QImage &display, quint32 seed, Condition condition);

} // namespace CameraSet
