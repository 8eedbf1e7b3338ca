#pragma once

#include <QPointF>
#include <QSize>
#include <QString>
#include <array>
#include <optional>

// Where the handset's display lies in a source's frames, as a macro's
// DISPLAY line, `screen --display` and the screen window give it:
//
//   AUTO [WxH]                       found in the frames (a bright
//                                    quadrilateral) and followed as they come
//   WHOLE                            the frame is the display (a screen
//                                    capture, the model handset's own picture)
//   x,y x,y x,y x,y [WxH]            these four corners of the frame: top-left,
//                                    top-right, bottom-right, bottom-left
//
// WxH is the display's own resolution (240x320, 480x800): the upright
// picture of the display is made at that size. Without it the size follows
// from the corners.
struct DisplayArea {
    enum class Mode { Found, WholeFrame, Corners };
    Mode mode = Mode::Found;
    // Mode::Corners: top-left, top-right, bottom-right, bottom-left, in the
    // frame's pixels.
    std::array<QPointF, 4> corners{};
    // Empty: not known.
    QSize resolution;

    // The text as written; nullopt and `problem` (Japanese, naming what is
    // wrong) when it is not one of the forms above.
    static std::optional<DisplayArea> parse(const QString &text, QString *problem);
    // The text parse() reads back.
    QString toText() const;

    bool operator==(const DisplayArea &other) const = default;
};
