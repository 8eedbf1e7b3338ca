#include "macro/runfailure.h"

#include "macro/runmessages.h"

#include <QStringList>

QString RunFailure::messageText() const
{
    if (line <= 0)
        return reason;
    return RunMessages::atLine(file, line, keyword, reason);
}

QString joinedLines(const QString &text)
{
    const QStringList lines = text.split(u'\n');
    QString joined = lines.first();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const bool japanese = !joined.isEmpty() && joined.back().unicode() >= 0x3000;
        joined += (japanese || joined.isEmpty() ? QString() : QStringLiteral(" ")) + lines[i];
    }
    return joined;
}
