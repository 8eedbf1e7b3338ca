#include "cli/terminalkeys.h"

#include <optional>

namespace {

using Kind = TerminalKey::Kind;

constexpr char kEsc = '\x1b';

TerminalKey key(Kind kind)
{
    return TerminalKey{kind, QString(), 0};
}

TerminalKey functionKey(int number)
{
    return TerminalKey{Kind::Function, QString(), number};
}

TerminalKey text(const QString &character)
{
    return TerminalKey{Kind::Text, character, 0};
}

// The final bytes the two kinds of sequence (ESC [ and ESC O) share: the
// cursor keys, Home, End, and F1 to F4.
std::optional<TerminalKey> cursorOrFunctionKey(char final)
{
    switch (final) {
    case 'A':
        return key(Kind::Up);
    case 'B':
        return key(Kind::Down);
    case 'C':
        return key(Kind::Right);
    case 'D':
        return key(Kind::Left);
    case 'H':
        return key(Kind::Home);
    case 'F':
        return key(Kind::End);
    case 'P':
    case 'Q':
    case 'R':
    case 'S':
        return functionKey(final - 'P' + 1);
    default:
        return std::nullopt;
    }
}

// The key of an ESC [ ... sequence: `parameters` are the bytes between
// "ESC [" and `final`.
TerminalKey csiKey(QByteArrayView parameters, char final)
{
    // Modifiers come as a second parameter ("1;2A" is Shift+Up); the key
    // is the same.
    const qsizetype semicolon = parameters.indexOf(';');
    const QByteArrayView first = semicolon < 0 ? parameters : parameters.first(semicolon);
    if (const std::optional<TerminalKey> common = cursorOrFunctionKey(final))
        return *common;
    if (final != '~')
        return key(Kind::Unknown);
    bool ok = false;
    const int code = first.toInt(&ok);
    if (!ok)
        return key(Kind::Unknown);
    switch (code) {
    case 1:
    case 7:
        return key(Kind::Home);
    case 2:
        return key(Kind::Insert);
    case 3:
        return key(Kind::Delete);
    case 4:
    case 8:
        return key(Kind::End);
    case 5:
        return key(Kind::PageUp);
    case 6:
        return key(Kind::PageDown);
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
        return functionKey(code - 10);
    case 17:
    case 18:
    case 19:
    case 20:
    case 21:
        return functionKey(code - 11);
    case 23:
    case 24:
        return functionKey(code - 12);
    default:
        return key(Kind::Unknown);
    }
}

// The key of an ESC O x sequence (cursor keys in application mode, F1 to F4,
// the numeric pad in application mode).
TerminalKey ss3Key(char final)
{
    if (const std::optional<TerminalKey> common = cursorOrFunctionKey(final))
        return *common;
    switch (final) {
    case 'M':
        return key(Kind::Enter);
    case 'j':
        return text(QStringLiteral("*"));
    case 'k':
        return text(QStringLiteral("+"));
    case 'm':
        return text(QStringLiteral("-"));
    case 'n':
        return text(QStringLiteral("."));
    case 'o':
        return text(QStringLiteral("/"));
    default:
        if (final >= 'p' && final <= 'y')
            return text(QString(QChar(u'0' + (final - 'p'))));
        return key(Kind::Unknown);
    }
}

// The length of an escape sequence at the start of `bytes` (which starts
// with ESC), with its key; 0 when it is cut short.
qsizetype escapeSequence(QByteArrayView bytes, TerminalKey *result)
{
    if (bytes.size() < 2)
        return 0;
    const char second = bytes[1];
    if (second == 'O') {
        if (bytes.size() < 3)
            return 0;
        *result = ss3Key(bytes[2]);
        return 3;
    }
    if (second != '[') {
        // Alt with a key, or ESC pressed twice: the Escape key, then the rest.
        *result = key(Kind::Escape);
        return 1;
    }
    // The Linux console's F1 to F5: ESC [ [ A to E.
    if (bytes.size() >= 3 && bytes[2] == '[') {
        if (bytes.size() < 4)
            return 0;
        *result = bytes[3] >= 'A' && bytes[3] <= 'E' ? functionKey(bytes[3] - 'A' + 1) : key(Kind::Unknown);
        return 4;
    }
    // Parameter and intermediate bytes, then one final byte.
    for (qsizetype i = 2; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x40 && c <= 0x7E) {
            *result = csiKey(bytes.sliced(2, i - 2), static_cast<char>(c));
            return i + 1;
        }
        if (c < 0x20 || c > 0x3F) {
            // No sequence: what came so far is no key.
            *result = key(Kind::Unknown);
            return i;
        }
    }
    return 0;
}

// The length of the UTF-8 character at the start of `bytes`, with the
// character; 0 when it is cut short; -1 when the first byte starts none
// (or a byte-order mark, which is no character typed).
qsizetype utf8Character(QByteArrayView bytes, QString *character)
{
    const auto lead = static_cast<unsigned char>(bytes[0]);
    qsizetype length = -1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    if (length < 0)
        return -1;
    for (qsizetype i = 1; i < length; ++i) {
        if (i >= bytes.size())
            return 0;
        if ((static_cast<unsigned char>(bytes[i]) & 0xC0) != 0x80)
            return -1;
    }
    // A byte-order mark is dropped by the conversion: no character, no key.
    *character = QString::fromUtf8(bytes.first(length));
    return character->isEmpty() || character->contains(QChar::ReplacementCharacter) ? -1 : length;
}

} // namespace

QList<TerminalKey> decodeTerminalKeys(QByteArrayView bytes, bool complete, qsizetype *used)
{
    QList<TerminalKey> keys;
    qsizetype i = 0;
    while (i < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        const QByteArrayView rest = bytes.sliced(i);
        qsizetype length = 1;
        if (c == static_cast<unsigned char>(kEsc)) {
            TerminalKey sequence;
            length = escapeSequence(rest, &sequence);
            if (length == 0) {
                if (!complete)
                    break;
                // Quiet after it: the Escape key, then what followed.
                sequence = key(Kind::Escape);
                length = 1;
            }
            keys.append(sequence);
        } else if (c == '\r' || c == '\n') {
            // Enter sends CR; Ctrl-J sends LF.
            keys.append(key(Kind::Enter));
        } else if (c == '\t') {
            keys.append(key(Kind::Tab));
        } else if (c == 0x7F || c == 0x08) {
            keys.append(key(Kind::Backspace));
        } else if (c == 0x03) {
            keys.append(key(Kind::Interrupt));
        } else if (c == 0x04) {
            keys.append(key(Kind::EndOfInput));
        } else if (c < 0x20) {
            keys.append(key(Kind::Unknown));
        } else if (c < 0x80) {
            keys.append(text(QString(QChar(c))));
        } else {
            QString character;
            length = utf8Character(rest, &character);
            // A character cut short waits for its bytes however long they
            // take: the quiet only ever decides a lone ESC.
            if (length == 0)
                break;
            if (length <= 0) {
                keys.append(key(Kind::Unknown));
                length = 1;
            } else {
                keys.append(text(character));
            }
        }
        i += length;
    }
    *used = i;
    return keys;
}
