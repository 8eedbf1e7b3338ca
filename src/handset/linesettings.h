#pragma once

#include "platform/receivingline.h"

#include <QStringList>

// The line settings a sender must give the port: 600 baud, 8 data bits,
// 1 stop bit, no hardware or software flow control, output passed on raw.
// Parity is left out: a Linux pseudo-terminal always clears it.

// What differs in `s` from those settings, one Japanese phrase each; empty
// when nothing does.
QStringList lineSettingDifferences(const LineSettings &s);
