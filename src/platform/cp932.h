#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Code page 932 (Shift-JIS as Windows writes it).

// Decodes Shift-JIS bytes. A byte sequence that is no character becomes
// U+FFFD, one per offending byte; decoding never fails.
QString decodeCp932(QByteArrayView bytes);

// The code of one UTF-16 unit in code page 932: 0 to 255 for a single-byte
// character, lead * 256 + trail for a double-byte one. No value when code
// page 932 has no such character (a lone surrogate, an emoji half, the euro
// sign, ...): callers then send nothing rather than a substitute.
std::optional<quint16> cp932Code(QChar ch);

// Encodes `text` in Shift-JIS, one character at a time by cp932Code();
// characters code page 932 lacks are left out.
QByteArray encodeCp932(QStringView text);
