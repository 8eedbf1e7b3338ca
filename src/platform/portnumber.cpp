#include "platform/portnumber.h"

#include <QDir>
#include <QtGlobal>

std::optional<qint32> parseWholeNumber(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    qsizetype i = 0;
    if (t[0] == u'+' || t[0] == u'-')
        i = 1;
    if (i == t.size())
        return std::nullopt;
    for (qsizetype k = i; k < t.size(); ++k) {
        if (t[k] < u'0' || t[k] > u'9')
            return std::nullopt;
    }
    bool ok = false;
    const qint32 value = t.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

QString portVariableName(qint32 n)
{
    return QStringLiteral("QUILLONEMU_COM%1").arg(n);
}

QString devicePathForPort(qint32 n)
{
    if (n < 1)
        return {};
    const QByteArray variable = portVariableName(n).toLatin1();
    if (qEnvironmentVariableIsSet(variable.constData()))
        return qEnvironmentVariable(variable.constData());
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(n);
#else
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
#endif
}

bool isDevicePath(const QString &text)
{
#ifdef Q_OS_WIN
    if (text.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) && parseWholeNumber(text.mid(3)))
        return true;
#endif
    return !text.isEmpty() && QDir::isAbsolutePath(text);
}

QString portLabel(qint32 number, const QString &device)
{
    if (number == 0 && !device.isEmpty())
        return QStringLiteral("ポート %1").arg(device);
    return QStringLiteral("ポート %1 (%2)").arg(QString::number(number), device);
}
