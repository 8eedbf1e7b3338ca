#pragma once

#include "link/keypacket.h"

#include <QList>
#include <QString>
#include <functional>
#include <optional>

class SerialLink;

// Types text on the handset through one window's link, one packet per
// character: single-byte characters through the character table, double-byte
// characters as their own code page 932 code. Untypable characters are
// skipped; nothing here waits or yields, so a text is never cut in two.
class TextSender {
public:
    // `showText` is told the text about to be typed (the main window shows it
    // while the keypad does not); it may be empty.
    explicit TextSender(SerialLink &link, std::function<void(const QString &)> showText = {});

    // Types `text`, double-byte characters included, after showing it.
    void SendString(const QString &text);
    // Types `text` as SendString() does (without showing it), a character
    // at a time, for a sender that must know what went out when the text is
    // cut short: `typed` is told each character whose packets all reached
    // the line (an untypable one, which sends nothing, too). Ends at the first
    // character the link did not take (its port closed or failed), or once
    // `carryOn` says no.
    void SendStringByCharacter(const QString &text, const std::function<bool()> &carryOn,
                               const std::function<void(QChar)> &typed);
    // Types `text` through the character table only, after showing it:
    // double-byte characters find no entry and are skipped.
    void SendCharacters(const QString &text);
    // Types one character of the table; anything else sends nothing.
    void SendCharacter(const QString &ch);

    // 0 to 15 for "0" to "9" and "A" to "F"; 16 for anything else
    // (lower-case digits, the empty string, longer strings).
    static int HexDigitValue(const QString &digit);

    // The packets the operations above send, in order, without sending them.
    static QList<KeyPacket> packetsForString(const QString &text);
    static QList<KeyPacket> packetsForCharacters(const QString &text);
    static std::optional<KeyPacket> packetForCharacter(const QString &ch);

private:
    void show(const QString &text);
    void send(const QList<KeyPacket> &packets);

    SerialLink &link_;
    std::function<void(const QString &)> showText_;
};
