#include "macro/seconds.h"

#include <algorithm>
#include <limits>

std::optional<float> parseSeconds(const QString &text)
{
    const QString t = text.trimmed();
    qsizetype i = 0;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-'))
        ++i;
    int digits = 0;
    bool point = false;
    for (; i < t.size(); ++i) {
        const QChar c = t[i];
        if (c >= u'0' && c <= u'9')
            ++digits;
        else if (c == u'.' && !point)
            point = true;
        else
            return std::nullopt;
    }
    if (digits == 0)
        return std::nullopt;
    bool ok = false;
    const double value = t.toDouble(&ok); // QString::toDouble is locale-independent
    if (!ok)
        return std::nullopt;
    // Beyond the float range the wait is as good as endless; clamp rather
    // than overflow the conversion.
    const double limit = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(value, -limit, limit));
}
