#include "link/textsender.h"

#include "link/chartable.h"
#include "link/seriallink.h"
#include "platform/cp932.h"

TextSender::TextSender(SerialLink &link, std::function<void(const QString &)> showText)
    : link_(link), showText_(std::move(showText))
{
}

void TextSender::show(const QString &text)
{
    if (showText_)
        showText_(text);
}

void TextSender::SendString(const QString &text)
{
    show(text);
    // Walked in UTF-16 units: half of a surrogate pair has no code and is
    // skipped like any other character code page 932 lacks.
    for (const QChar ch : text) {
        const std::optional<quint16> code = cp932Code(ch);
        if (!code)
            continue;
        if (*code > 0xFF) {
            const QString digits = QString::number(*code, 16).toUpper().rightJustified(4, u'0');
            link_.SendPacket(0xC4, 1, 2, KeyPacket::DoubleByte, HexDigitValue(digits.mid(0, 1)),
                             HexDigitValue(digits.mid(1, 1)), HexDigitValue(digits.mid(2, 1)),
                             HexDigitValue(digits.mid(3, 1)), 0, 0);
        } else {
            SendCharacter(QString(ch));
        }
    }
}

void TextSender::SendCharacters(const QString &text)
{
    show(text);
    for (const QChar ch : text)
        SendCharacter(QString(ch));
}

void TextSender::SendCharacter(const QString &ch)
{
    const std::optional<quint16> code = CharacterTable::find(ch);
    if (!code)
        return;
    link_.SendPacket(KeyPacket::forCode(KeyPacket::Character, *code));
}

int TextSender::HexDigitValue(const QString &digit)
{
    static const QString kDigits = QStringLiteral("0123456789ABCDEF");
    if (digit.size() == 1) {
        const qsizetype i = kDigits.indexOf(digit[0]);
        if (i >= 0)
            return static_cast<int>(i);
    }
    return 16;
}
