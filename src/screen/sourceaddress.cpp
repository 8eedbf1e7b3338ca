#include "screen/sourceaddress.h"

namespace {

// Camera numbers beyond this are no camera any system lists.
constexpr int kLargestCameraNumber = 999;

bool hasScheme(const QString &text, QLatin1StringView scheme)
{
    return text.startsWith(scheme, Qt::CaseInsensitive);
}

} // namespace

QString shownSource(const QString &text)
{
    const qsizetype scheme = text.indexOf(QLatin1String("://"));
    if (scheme < 0)
        return text;
    const qsizetype authority = scheme + 3;
    qsizetype authorityEnd = text.size();
    for (const QChar end : {u'/', u'?', u'#'}) {
        const qsizetype found = text.indexOf(end, authority);
        if (found >= 0 && found < authorityEnd)
            authorityEnd = found;
    }
    // The last @ of the authority ends the user information (a password
    // may hold an @ of its own).
    const qsizetype at = text.lastIndexOf(u'@', authorityEnd - 1);
    if (at < authority)
        return text;
    const qsizetype colon = text.indexOf(u':', authority);
    if (colon < 0 || colon > at)
        return text;
    return text.left(colon + 1) + QStringLiteral("***") + text.mid(at);
}

SourceAddress parseSourceAddress(const QString &text)
{
    SourceAddress address;
    address.text = text;
    if (text.trimmed().isEmpty()) {
        address.problem = QStringLiteral("画面の取り込み元が空です。");
        return address;
    }
    const QLatin1StringView camera("camera");
    if (text.compare(camera, Qt::CaseInsensitive) == 0) {
        address.kind = SourceAddress::Kind::Camera;
        return address;
    }
    if (hasScheme(text, QLatin1StringView("camera:"))) {
        const QString rest = text.mid(camera.size() + 1);
        if (rest.isEmpty()) {
            address.problem = QStringLiteral("「%1」: camera: の後にカメラの番号か名前がありません。").arg(text);
            return address;
        }
        bool allDigits = true;
        for (const QChar c : rest)
            allDigits = allDigits && c >= u'0' && c <= u'9';
        if (allDigits) {
            bool ok = false;
            const int number = rest.toInt(&ok);
            if (!ok || number < 1 || number > kLargestCameraNumber) {
                address.problem = QStringLiteral("「%1」: カメラの番号は 1 から %2 までです。").arg(text, QString::number(kLargestCameraNumber));
                return address;
            }
            address.cameraNumber = number;
        } else {
            address.cameraName = rest;
        }
        address.kind = SourceAddress::Kind::Camera;
        return address;
    }
    for (const char *scheme : {"http://", "https://", "rtsp://"}) {
        const QLatin1StringView prefix(scheme);
        if (hasScheme(text, prefix)) {
            if (text.size() == prefix.size() || text.at(prefix.size()) == u'/') {
                address.problem = QStringLiteral("「%1」: URL にホスト名がありません。").arg(shownSource(text));
                return address;
            }
            address.kind = SourceAddress::Kind::Stream;
            return address;
        }
    }
    const QString lower = text.toLower();
    for (const char *ext : {".png", ".jpg", ".jpeg", ".bmp", ".tif", ".tiff", ".webp", ".pnm", ".pbm", ".pgm", ".ppm"}) {
        if (lower.endsWith(QLatin1StringView(ext))) {
            address.kind = SourceAddress::Kind::StillImage;
            return address;
        }
    }
    address.kind = SourceAddress::Kind::VideoFile;
    return address;
}
