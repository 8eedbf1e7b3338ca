#include "macro/progresstext.h"

#include "macro/amounts.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>

namespace {

// "カウンタ 3/1,000（0.3%）", or "カウンタ 3" for passes without end. The
// share is rounded down, so that 100% means done.
QString counterOfJob(const JobProgress &progress, const QString &label = QStringLiteral("カウンタ"))
{
    // The counter as --counter takes it; the end as a count.
    QString text = QStringLiteral("%1 %2").arg(label).arg(progress.counter());
    if (const std::optional<qint64> end = progress.endCounter())
        text += u'/' + formatCount(*end);
    if (const std::optional<double> share = progress.shareDone())
        text += QStringLiteral("（%1%）").arg(QString::number(std::floor(*share * 1000) / 10, 'f', 1));
    if (progress.failed() > 0)
        text += QStringLiteral(" 失敗 %1").arg(formatCount(progress.failed()));
    return text;
}

// "終了予定 23:40（あと 2 時間 5 分）"; for passes without end "毎時約 480
// 巡"; empty before a pass was measured and once the job is done.
QString outlook(const JobProgress &progress, double nowMs)
{
    const std::optional<double> pass = progress.passMs();
    if (!pass)
        return QString();
    if (!progress.endCounter())
        return QStringLiteral("毎時約 %1 巡").arg(formatCount(std::llround(3'600'000.0 / std::max(1.0, *pass))));
    const std::optional<double> endsAt = progress.endsAtMs();
    if (!endsAt || progress.counter() >= *progress.endCounter())
        return QString();
    return QStringLiteral("終了予定 %1（あと %2）")
        .arg(ProgressText::clockTime(*endsAt, nowMs), formatDuration(std::max(0.0, *endsAt - nowMs) / 1000.0));
}

} // namespace

namespace ProgressText {

QString counterField(const JobProgress &progress, double nowMs)
{
    return passesField(progress, nowMs).replace(0, 1, QStringLiteral("カウンタ"));
}

QString passesField(const JobProgress &progress, double nowMs)
{
    const QString counter = counterOfJob(progress, QStringLiteral("巡"));
    const QString more = outlook(progress, nowMs);
    if (more.isEmpty())
        return counter;
    return progress.endCounter() ? counter + QStringLiteral(" | ") + more : QStringLiteral("%1（%2）").arg(counter, more);
}

QString passLine(const JobProgress &progress, double passMs, double nowMs)
{
    QString text = QStringLiteral("巡完了: %1、この巡 %2").arg(counterOfJob(progress), formatDuration(passMs / 1000.0));
    if (const QString more = outlook(progress, nowMs); !more.isEmpty())
        text += QStringLiteral("、") + more;
    return text;
}

QString clockTime(double atMs, double nowMs)
{
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(std::llround(atMs));
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(std::llround(nowMs));
    if (at.date() == now.date())
        return at.toString(QStringLiteral("H:mm"));
    return at.toString(QStringLiteral("M/d H:mm"));
}

} // namespace ProgressText
