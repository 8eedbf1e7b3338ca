#include "macro/amounts.h"

#include <algorithm>
#include <cmath>

QString formatCount(qint64 count)
{
    QString digits = QString::number(count < 0 ? -count : count);
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, u',');
    return count < 0 ? QStringLiteral("-") + digits : digits;
}

namespace {

// `large` of the larger unit and `small` of the smaller one; the smaller
// left out when 0.
QString twoUnits(qint64 large, const QString &largeUnit, qint64 small, const QString &smallUnit)
{
    if (small == 0)
        return QStringLiteral("%1 %2").arg(formatCount(large), largeUnit);
    return QStringLiteral("%1 %2 %3 %4").arg(formatCount(large), largeUnit).arg(small).arg(smallUnit);
}

} // namespace

QString formatDuration(double seconds)
{
    // Waits can be as long as a float allows; beyond some thirty million
    // years the figure stops growing rather than overflowing.
    seconds = std::min(std::max(0.0, seconds), 1e15);
    // Each size is rounded to its own unit first, so that 59.7 seconds reads
    // "1 分" and not "60 秒".
    if (std::round(seconds * 10) < 100) {
        QString text = QString::number(std::round(seconds * 10) / 10, 'f', 1);
        if (text.endsWith(QLatin1String(".0")))
            text.chop(2);
        return text + QStringLiteral(" 秒");
    }
    const qint64 wholeSeconds = std::llround(seconds);
    if (wholeSeconds < 60)
        return QStringLiteral("%1 秒").arg(wholeSeconds);
    if (wholeSeconds < 3600)
        return twoUnits(wholeSeconds / 60, QStringLiteral("分"), wholeSeconds % 60, QStringLiteral("秒"));
    const qint64 minutes = std::llround(seconds / 60);
    if (minutes < 24 * 60)
        return twoUnits(minutes / 60, QStringLiteral("時間"), minutes % 60, QStringLiteral("分"));
    const qint64 hours = std::llround(seconds / 3600);
    return twoUnits(hours / 24, QStringLiteral("日"), hours % 24, QStringLiteral("時間"));
}
