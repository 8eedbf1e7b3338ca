#include "screen/sourceaddress.h"

namespace {

// Camera numbers beyond this are no camera any system lists.
constexpr int kLargestCameraNumber = 999;

bool hasScheme(const QString &text, QLatin1StringView scheme)
{
    return text.startsWith(scheme, Qt::CaseInsensitive);
}

} // namespace

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
                address.problem = QStringLiteral("「%1」: URL にホスト名がありません。").arg(text);
                return address;
            }
            address.kind = SourceAddress::Kind::Stream;
            return address;
        }
    }
    const QString lower = text.toLower();
    for (const char *ext : {".png", ".jpg", ".jpeg", ".bmp"}) {
        if (lower.endsWith(QLatin1StringView(ext))) {
            address.kind = SourceAddress::Kind::StillImage;
            return address;
        }
    }
    address.kind = SourceAddress::Kind::VideoFile;
    return address;
}
