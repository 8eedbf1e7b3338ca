#pragma once

#include <QJsonObject>
#include <QString>

// `object` as one line of JSON, without the line end.
QString jsonLine(const QJsonObject &object);

// A moment in milliseconds since the epoch as ISO 8601 local time with
// milliseconds and the offset from UTC ("2025-06-01T09:30:00.125+09:00").
QString isoTime(double msSinceEpoch);

// The same moment as "09:30:00.125".
QString clockTime(double msSinceEpoch);
