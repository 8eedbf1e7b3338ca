#include "console/jsonline.h"

#include <QDateTime>
#include <QJsonDocument>
#include <cmath>

namespace {

QDateTime localTime(double msSinceEpoch)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(msSinceEpoch)));
    return t.toOffsetFromUtc(t.offsetFromUtc());
}

} // namespace

QString jsonLine(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString isoTime(double msSinceEpoch)
{
    return localTime(msSinceEpoch).toString(Qt::ISODateWithMs);
}

QString clockTime(double msSinceEpoch)
{
    return localTime(msSinceEpoch).toString(QStringLiteral("HH:mm:ss.zzz"));
}
