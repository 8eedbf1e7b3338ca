#include "macro/characters.h"

#include "link/textsender.h"

#include <algorithm>

namespace {

// The characters of `text`, a surrogate pair as one.
QStringList characters(const QString &text)
{
    QStringList list;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype length = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
        list.append(text.mid(i, length));
        i += length - 1;
    }
    return list;
}

QStringList charactersWithoutPacket(const QString &text, QList<KeyPacket> (*packets)(const QString &))
{
    QStringList missing;
    for (const QString &c : characters(text)) {
        if (packets(c).isEmpty() && !missing.contains(c))
            missing.append(c);
    }
    return missing;
}

bool isControl(QChar c)
{
    return c.category() == QChar::Other_Control || c.category() == QChar::Other_Format;
}

QString describeCharacter(const QString &c)
{
    if (c == u" ")
        return QStringLiteral("半角スペース");
    if (c == u"\u3000")
        return QStringLiteral("全角スペース");
    if (c == u"\t")
        return QStringLiteral("タブ");
    if (c == u"\uFFFD")
        return QStringLiteral("Shift-JIS の文字でないバイト");
    if (c.size() == 1 && isControl(c[0]))
        return QStringLiteral("U+%1").arg(c[0].unicode(), 4, 16, QChar(u'0')).toUpper();
    return u'「' + c + u'」';
}

} // namespace

QStringList untypableCharacters(const QString &text)
{
    return charactersWithoutPacket(text, &TextSender::packetsForString);
}

QStringList unsentAddressCharacters(const QString &text)
{
    return charactersWithoutPacket(text, &TextSender::packetsForCharacters);
}

QString describeCharacters(const QStringList &characters)
{
    QStringList described;
    for (const QString &c : characters)
        described.append(describeCharacter(c));
    return described.join(u'、');
}

QString visibleText(const QString &text)
{
    if (std::none_of(text.begin(), text.end(), isControl))
        return text;
    QString shown;
    shown.reserve(text.size() + 16);
    for (const QChar c : text) {
        if (isControl(c))
            shown += u'<' + describeCharacter(QString(c)) + u'>';
        else
            shown += c;
    }
    return shown;
}
