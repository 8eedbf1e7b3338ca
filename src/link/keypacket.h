#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>

// The ten bytes that press one key or type one character on the handset:
// C4 01 02, the kind, four payload bytes, 00 00.
struct KeyPacket {
    enum Kind : std::uint8_t { Character = 1, DoubleByte = 2, Key = 3 };
    static constexpr std::size_t kSize = 10;

    std::array<std::uint8_t, kSize> bytes{};

    // A packet of `kind` whose payload is the four given bytes.
    static constexpr KeyPacket make(Kind kind, std::uint8_t p4, std::uint8_t p5, std::uint8_t p6, std::uint8_t p7)
    {
        return KeyPacket{{0xC4, 0x01, 0x02, kind, p4, p5, p6, p7, 0x00, 0x00}};
    }
    // A character or double-byte packet carrying a 16-bit code as its four
    // hexadecimal digits, most significant first.
    static constexpr KeyPacket forCode(Kind kind, std::uint16_t code)
    {
        return make(kind, static_cast<std::uint8_t>(code >> 12 & 0xF), static_cast<std::uint8_t>(code >> 8 & 0xF),
                    static_cast<std::uint8_t>(code >> 4 & 0xF), static_cast<std::uint8_t>(code & 0xF));
    }

    Kind kind() const { return static_cast<Kind>(bytes[3]); }
    QByteArray toByteArray() const;
    // "C4 01 02 03 00 00 04 06 00 00"
    QString toHex() const;

    friend bool operator==(const KeyPacket &, const KeyPacket &) = default;
};

// The hexadecimal forms the system prints.
// Bytes spaced and upper-case: "C4 01 02".
QString spacedHex(QByteArrayView bytes);
// `value` in upper-case hexadecimal, at least `digits` wide ("0F", "82A0").
QString upperHex(unsigned value, int digits);
