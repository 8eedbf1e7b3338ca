#pragma once

#include <QImage>
#include <QString>

// What the screen window writes: pictures beside the macro or recording,
// and the words of the macro lines it puts into a recording.
namespace ScreenWindowFiles {

// Whether a macro file (Shift-JIS) can hold `text` as it is.
bool fitsMacroFile(const QString &text);
// The characters of `text` a macro file cannot hold, each once, in order.
QString unwritableCharacters(const QString &text);
// A file name in `folder` not taken yet: `base` and the first free number.
QString freeName(const QString &folder, const QString &base);
// Writes `pixels` as a PNG file, whole or not at all; false and `error`
// naming the file.
bool savePng(const QImage &pixels, const QString &path, QString *error);
// `source` as a recording's SCREEN line takes it: a file by its whole path
// (a replay reads a relative one beside the macro file); empty when a line
// cannot hold it (a space, a character Shift-JIS lacks).
QString screenLineSource(const QString &source);
// The text read off a selection as a WAITTEXT line offers it: one word, as
// STRING takes it (the comparison ignores spaces anyway).
QString offeredText(const QString &read);

} // namespace ScreenWindowFiles
