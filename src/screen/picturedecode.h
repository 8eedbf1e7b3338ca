#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>
#include <opencv2/core/mat.hpp>

// Every picture the screen layer takes in (a stream's part, a still image,
// a template) is read here, and only here: the size its header claims is
// looked at before anything is decoded, a picture cut short is no picture,
// and nothing a library throws or prints gets past.

// No camera gives a picture larger than this on a side; a header that
// claims more is a damaged or hostile one, refused before decoding.
constexpr int kLargestPictureSide = 8192;
// A picture file larger than this is no camera's frame or template.
constexpr qint64 kLargestPictureBytes = 64 * 1024 * 1024;

// The size a JPEG, PNG, BMP or WebP header claims (an invalid size when
// the bytes are none of these or the header is cut).
QSize pictureHeaderSize(const QByteArray &bytes);

// Decodes `bytes` (JPEG, PNG, or any format the image library reads) to
// 8-bit BGR, or BGRA when `keepAlpha` and the picture has an alpha channel.
// An empty Mat and `problem` (in the user's words) when it is no picture,
// is cut short or damaged, or claims more than kLargestPictureSide.
cv::Mat decodePicture(const QByteArray &bytes, QString *problem, bool keepAlpha = false);

// The same for a file; `problem` also says when it is missing or cannot be
// read.
cv::Mat readPictureFile(const QString &path, QString *problem, bool keepAlpha = false);

// Whether the file at `path` holds a picture the image library reads (a
// still image, whatever its name ends in).
bool isPictureFile(const QString &path);

// Keeps the image and video libraries' own messages off standard error:
// the sources report in the user's words what went wrong.
void quietPictureLibraries();

// Why the file at `path` cannot be read at all (missing, a folder, no
// permission); empty when it can.
QString fileProblem(const QString &path);
