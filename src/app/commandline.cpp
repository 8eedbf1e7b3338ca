#include "app/commandline.h"

QList<CommandLineSwitch> parseCommandLineSwitches(const QString &text)
{
    QList<CommandLineSwitch> switches;
    if (text.isEmpty())
        return switches;
    for (QString piece : text.split(QStringLiteral("\" "))) {
        piece.remove(u'"');
        const QString name = piece.left(2);
        if (name == QLatin1String("/M") || name == QLatin1String("/A") || name == QLatin1String("/P") ||
            name == QLatin1String("/S") || name == QLatin1String("/R") || name == QLatin1String("/F") ||
            name == QLatin1String("/H"))
            switches.append({name[1], piece.mid(2)});
    }
    return switches;
}

QString trimSpaces(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.mid(begin, end - begin);
}

StartSettings startSettings(const QString &commandLine)
{
    StartSettings start;
    for (const CommandLineSwitch &s : parseCommandLineSwitches(trimSpaces(commandLine))) {
        if (s.letter == u'M')
            start.macroFile = s.value;
        else if (s.letter == u'A')
            start.addrFile = s.value;
        else if (s.letter == u'S')
            start.screen = s.value;
        else if (s.letter == u'R')
            start.results = s.value;
        else if (s.letter == u'F')
            start.maxFailuresInARow = s.value;
        else if (s.letter == u'H')
            start.handsets = s.value;
        else
            start.port = s.value;
    }
    return start;
}
