#include "platform/process.h"

#include <cstdio>
#include <cstdlib>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

QString quoteArguments(const QStringList &arguments)
{
    QStringList quoted;
    for (const QString &a : arguments)
        quoted.append(u'"' + a + u'"');
    return quoted.join(u' ');
}

QString processCommandLine(const QStringList &arguments)
{
#ifdef Q_OS_WIN
    Q_UNUSED(arguments);
    // Skip the program name (quoted or not) and the spaces after it.
    const QString raw = QString::fromWCharArray(GetCommandLineW());
    qsizetype i = 0;
    if (raw.startsWith(u'"')) {
        i = raw.indexOf(u'"', 1);
        i = i < 0 ? raw.size() : i + 1;
    } else {
        while (i < raw.size() && raw[i] != u' ' && raw[i] != u'\t')
            ++i;
    }
    return raw.mid(i);
#else
    return quoteArguments(arguments);
#endif
}

void terminateProcess(int code)
{
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(code);
}
