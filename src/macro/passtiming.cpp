#include "macro/passtiming.h"

#include <algorithm>

using Kind = Statement::Kind;

PassWaits passWaits(const QList<PassStep> &steps, float startBaseWait)
{
    PassWaits waits;
    float baseWait = startBaseWait;
    for (const PassStep &step : steps) {
        if (step.baseWait)
            baseWait = *step.baseWait;
        const Kind kind = step.statement.kind;
        const double base = kind == Kind::Repeat || kind == Kind::Exit ? 0.0 : std::max(0.0, double(baseWait));
        waits.after.append(step.sleep + base);
        waits.baseWait += base;
        waits.sleep += step.sleep;
    }
    waits.endBaseWait = baseWait;
    return waits;
}

std::optional<Gap> gapAfter(const QList<PassStep> &steps, qsizetype i, const QList<double> &current,
                            const QList<double> *later)
{
    Gap gap;
    gap.seconds = current[i];
    for (qsizetype j = i + 1; j < steps.size(); ++j) {
        if (steps[j].packets > 0) {
            gap.next = j;
            return gap;
        }
        gap.seconds += current[j];
    }
    if (!later)
        return std::nullopt;
    gap.nextPass = true;
    for (qsizetype j = 0; j <= i; ++j) {
        if (steps[j].packets > 0) {
            gap.next = j;
            return gap;
        }
        gap.seconds += (*later)[j];
    }
    return std::nullopt;
}

PassSummary summarizePass(const QList<PassStep> &steps, const PassWaits &first, const PassWaits &later)
{
    PassSummary summary;
    if (!steps.isEmpty()) {
        summary.firstLine = steps.first().line;
        summary.lastLine = steps.last().line;
        const Kind end = steps.last().statement.kind;
        if (end == Kind::Repeat || end == Kind::Exit)
            summary.endKeyword = steps.last().statement.keyword;
    }
    summary.statements = static_cast<int>(steps.size());
    for (const PassStep &step : steps)
        summary.packets += step.packets;
    summary.baseWaitSeconds = first.baseWait;
    summary.sleepSeconds = first.sleep;
    summary.wireSeconds = summary.packets * kPacketWireSeconds;
    if (summary.endKeyword == QLatin1String("REPEAT") && later.baseWait != first.baseWait)
        summary.laterBaseWaitSeconds = later.baseWait;
    return summary;
}

QString formatSeconds(double seconds)
{
    QString text = QString::number(seconds, 'f', 3);
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    return text;
}
