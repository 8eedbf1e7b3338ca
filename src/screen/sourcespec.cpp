#include "screen/sourcespec.h"

namespace {

// Camera numbers beyond this are no camera any system lists.
constexpr int kLargestCameraNumber = 999;

bool hasScheme(const QString &text, QLatin1StringView scheme)
{
    return text.startsWith(scheme, Qt::CaseInsensitive);
}

} // namespace

SourceSpec parseSourceSpec(const QString &text)
{
    SourceSpec spec;
    spec.text = text;
    if (text.trimmed().isEmpty()) {
        spec.problem = QStringLiteral("画面の取り込み元が空です。");
        return spec;
    }
    const QLatin1StringView camera("camera");
    if (text.compare(camera, Qt::CaseInsensitive) == 0) {
        spec.kind = SourceSpec::Kind::Camera;
        return spec;
    }
    if (hasScheme(text, QLatin1StringView("camera:"))) {
        const QString rest = text.mid(camera.size() + 1);
        if (rest.isEmpty()) {
            spec.problem = QStringLiteral("「%1」: camera: の後にカメラの番号か名前がありません。").arg(text);
            return spec;
        }
        bool allDigits = true;
        for (const QChar c : rest)
            allDigits = allDigits && c >= u'0' && c <= u'9';
        if (allDigits) {
            bool ok = false;
            const int number = rest.toInt(&ok);
            if (!ok || number < 1 || number > kLargestCameraNumber) {
                spec.problem = QStringLiteral("「%1」: カメラの番号は 1 から %2 までです。").arg(text, QString::number(kLargestCameraNumber));
                return spec;
            }
            spec.cameraNumber = number;
        } else {
            spec.cameraName = rest;
        }
        spec.kind = SourceSpec::Kind::Camera;
        return spec;
    }
    for (const char *scheme : {"http://", "https://", "rtsp://"}) {
        const QLatin1StringView prefix(scheme);
        if (hasScheme(text, prefix)) {
            if (text.size() == prefix.size() || text.at(prefix.size()) == u'/') {
                spec.problem = QStringLiteral("「%1」: URL にホスト名がありません。").arg(text);
                return spec;
            }
            spec.kind = SourceSpec::Kind::Stream;
            return spec;
        }
    }
    const QString lower = text.toLower();
    for (const char *ext : {".png", ".jpg", ".jpeg", ".bmp"}) {
        if (lower.endsWith(QLatin1StringView(ext))) {
            spec.kind = SourceSpec::Kind::StillImage;
            return spec;
        }
    }
    spec.kind = SourceSpec::Kind::VideoFile;
    return spec;
}
