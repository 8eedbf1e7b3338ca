#pragma once

#include <QByteArray>
#include <QString>

// A file written whole or not at all: a temporary file beside it, renamed
// over it once every byte is on the disk; on failure a message that names
// the file and gives the system's own reason (a full disk, a folder that
// does not exist). The screen layer's files and the model screen's picture
// go through here.

// Writes `bytes` to `path`; false and `error` when it cannot, and then the
// file at `path` is as it was.
bool writeWholeFile(const QString &path, const QByteArray &bytes, QString *error);
