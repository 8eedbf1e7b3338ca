#pragma once

#include <QByteArray>
#include <QString>
#include <opencv2/core/mat.hpp>

// Every file the screen layer writes (SNAPSHOT, a wait's evidence,
// READTEXT's text, screen --snapshot) goes through here: whole or not at
// all (a temporary file beside it, renamed over it once every byte is on
// the disk), and on failure a message that names the file and gives the
// system's own reason (a full disk, a folder that does not exist).

// Writes `bytes` to `path`; false and `error` when it cannot, and then the
// file at `path` is as it was.
bool writeWholeFile(const QString &path, const QByteArray &bytes, QString *error);

// Writes `frame` (8-bit BGR) as a PNG file.
bool saveFramePng(const cv::Mat &frame, const QString &path, QString *error);

// Writes `text` in UTF-8, ending with a line break.
bool saveTextFile(const QString &path, const QString &text, QString *error);
