#pragma once

#include <QStringList>
#include <termios.h>

// The line settings a sender must give the port: 600 baud, 8 data bits,
// 1 stop bit, no hardware or software flow control, output passed on raw.
// Parity is left out: a Linux pseudo-terminal always clears it.

// What differs in `t` from those settings, one Japanese phrase each; empty
// when nothing does.
QStringList lineSettingDifferences(const termios &t);

// Whether `a` and `b` agree in all their flags and speeds.
bool sameLineSettings(const termios &a, const termios &b);

// The baud rate a termios speed stands for; -1 when it is none of the usual.
int baudRate(speed_t speed);
