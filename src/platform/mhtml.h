#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// A web page archive (MHTML): one MIME message, "multipart/related", that
// holds a page and the pictures it shows. The user guide is one.

struct MhtmlPart {
    // The last segment of the part's Content-Location ("help.htm" for
    // "file:///help.htm"): the name the page refers to it by. "partN" (N from
    // 1) when it has none that is safe as a file name.
    QString fileName;
    // In lower case, without parameters ("text/html", "image/png").
    QByteArray contentType;
    // Decoded from base64 or quoted-printable.
    QByteArray body;
};

// The parts of the archive `data`, in their order. A lone HTML page (not
// multipart) is one part. No value, and the reason in `error` (in Japanese),
// when `data` is no archive or holds no page.
std::optional<QList<MhtmlPart>> readMhtml(QByteArray data, QString *error);
