#pragma once

#include <QString>
#include <functional>

class QObject;

// Showing the user guide, an MHTML file (help.mht).

// Writes the page and the pictures of the guide `path` into the folder
// `dir`, emptied first. Returns the page's path, or an empty text and the
// reason in `error` (a message naming the file, in Japanese).
QString unpackGuide(const QString &path, const QString &dir, QString *error);

// Shows the guide `path`. On Windows the shell opens the file itself.
// Elsewhere browsers cannot read MHTML: the guide is unpacked into `pageDir`
// and the desktop's opener (xdg-open; open on macOS) shows the page. When
// nothing shows it, `failed` gets a message naming the file: at once, or
// when the opener gives up. The opener runs as long as it likes (it may wait
// for the browser) and belongs to `context`.
void openGuide(const QString &path, const QString &pageDir, QObject *context,
               const std::function<void(const QString &message)> &failed);
