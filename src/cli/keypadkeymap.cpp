#include "cli/keypadkeymap.h"

#include "link/keytable.h"

namespace {

using Kind = TerminalKey::Kind;

// The handset keys on letters, with the keypad window's caption of each.
struct LetterKey {
    char letter;
    const char *key;
    const char16_t *caption;
};

constexpr LetterKey kLetterKeys[] = {
    {'l', "L", u"L"},          {'c', "C", u"C"},        {'r', "R", u"R"},
    {'a', "ADDRESS", u"ア帳"}, {'h', "CALL", u"発信"},  {'i', "INCOMING", u"着信"},
    {'m', "MAIL", u"メール"},  {'e', "EZ", u"EZ"},      {'k', "FUNCTION", u"機能"},
    {'f', "OFFOOK", u"OFF"},   {'n', "ONHOOK", u"ON"},
};

QString keyOfText(const QString &text)
{
    if (text.size() != 1)
        return {};
    const QChar c = text[0];
    if ((c >= u'0' && c <= u'9') || c == u'#' || c == u'*')
        return text;
    // The numeric pad's minus, as in the text entry window.
    if (c == u'-')
        return QStringLiteral("#");
    for (const LetterKey &letter : kLetterKeys) {
        if (c.toLower() == QLatin1Char(letter.letter))
            return QString::fromLatin1(letter.key);
    }
    return {};
}

} // namespace

QString handsetKeyFor(const TerminalKey &key)
{
    switch (key.kind) {
    case Kind::Text:
        return keyOfText(key.text);
    case Kind::Up:
        return QStringLiteral("UP");
    case Kind::Down:
        return QStringLiteral("DOWN");
    case Kind::Left:
        return QStringLiteral("LEFT");
    case Kind::Right:
        return QStringLiteral("RIGHT");
    case Kind::Enter:
        return QStringLiteral("ENTER");
    case Kind::Backspace:
    case Kind::Delete:
        return QStringLiteral("CLEAR");
    case Kind::Home:
        return QStringLiteral("FUNCTION");
    case Kind::End:
        return QStringLiteral("OFFOOK");
    case Kind::PageUp:
        return QStringLiteral("EZ");
    case Kind::PageDown:
        return QStringLiteral("ONHOOK");
    case Kind::Insert:
        return QStringLiteral("MAIL");
    case Kind::Function:
        return key.number >= 1 && key.number <= 10 ? QStringLiteral("F%1").arg(key.number) : QString();
    default:
        return {};
    }
}

QString ampersandFormOf(const QString &name)
{
    // An ampersand form differs from its plain key in byte 5 alone; the
    // table spells it (OFFOOK's is &OFFHOOK).
    std::optional<KeyPacket> packet = KeyTable::find(name);
    if (!packet || packet->kind() != KeyPacket::Key || name.startsWith(u'&'))
        return {};
    packet->bytes[5] = 0x02;
    return KeyTable::nameOf(*packet);
}

QStringList keyMapLines()
{
    QStringList letters;
    for (const LetterKey &letter : kLetterKeys) {
        const QString caption = QString::fromUtf16(letter.caption);
        const QString key = QString::fromLatin1(letter.key);
        const QString name = QString(QLatin1Char(letter.letter));
        letters.append(caption == key ? QStringLiteral("%1 %2").arg(name, key)
                                      : QStringLiteral("%1 %2(%3)").arg(name, key, caption));
    }
    return {
        QStringLiteral("キー配置（押すとすぐに送ります）:"),
        QStringLiteral("  矢印 UP DOWN LEFT RIGHT    Enter ENTER    Backspace・Delete CLEAR"),
        QStringLiteral("  0〜9 # * そのキー（- は #）  F1〜F10 F1〜F10"),
        QStringLiteral("  Home FUNCTION  End OFFOOK  PageUp EZ  PageDown ONHOOK  Insert MAIL"),
        QStringLiteral("  ") + letters.mid(0, 6).join(QStringLiteral("  ")),
        QStringLiteral("  ") + letters.mid(6).join(QStringLiteral("  ")),
        QStringLiteral("  & のあとにキー: そのアンパサンド形（&UP、&OFFHOOK など）"),
        QStringLiteral("  Tab: 文字列を入力（Enter で送信、Esc で取り消し）  Ctrl-D・Ctrl-C: 終了"),
    };
}
