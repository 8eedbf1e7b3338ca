#include "platform/systemreason.h"

#include <QCoreApplication>
#include <algorithm>

namespace {

// The reason in Japanese where Qt's catalogue has it (the C library's
// words for the common failures), else as given.
QString translated(const QString &reason)
{
    const QString text = reason.trimmed();
    const QByteArray source = text.toUtf8();
    return QCoreApplication::translate("QIODevice", source.constData());
}

bool inEnglish(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar ch) { return ch.unicode() < 0x80; });
}

} // namespace

namespace SystemReason {

QString inSentence(const QString &reason)
{
    const QString text = translated(reason);
    if (text.isEmpty())
        return QString();
    if (inEnglish(text))
        return QStringLiteral("（システムの理由: %1）").arg(text);
    return QStringLiteral("（%1）").arg(text);
}

QString asLine(const QString &reason)
{
    const QString text = translated(reason);
    if (text.isEmpty())
        return QString();
    if (inEnglish(text))
        return QStringLiteral("（システムの理由: %1）").arg(text);
    return text.endsWith(u'。') ? text : text + u'。';
}

} // namespace SystemReason
