#pragma once

#include "link/keypacket.h"

#include <QString>
#include <QStringList>
#include <optional>

// The 66 key names of the macro language with their packets. The plain
// off-hook key is "OFFOOK" (no H); its ampersand form is "&OFFHOOK".
class KeyTable {
public:
    // The packet of `name`, compared exactly (callers upper-case first).
    static std::optional<KeyPacket> find(const QString &name);

    // All names, plain keys first, in table order.
    static QStringList names();

    // The name of the key `packet` presses, or empty when no key of the
    // table sends it.
    static QString nameOf(const KeyPacket &packet);
};
