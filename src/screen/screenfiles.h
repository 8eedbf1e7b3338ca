#pragma once

#include <QString>
#include <opencv2/core/mat.hpp>

// Every file the screen layer writes (SNAPSHOT, a wait's evidence,
// READTEXT's text, screen --snapshot) goes through here, and from here
// through writeWholeFile (platform/wholefile.h): whole or not at all.

// Writes `frame` (8-bit BGR) as a PNG file.
bool saveFramePng(const cv::Mat &frame, const QString &path, QString *error);

// Writes `text` in UTF-8, ending with a line break.
bool saveTextFile(const QString &path, const QString &text, QString *error);
