#pragma once

#include <QString>
#include <optional>

// Port numbers as the user types them (port box, /P, PORTNO) and the device
// each number names on this machine.

// A whole number, optionally signed and surrounded by spaces ("3", " 12 ",
// "+4"); nothing else. Returns no value when the text is no whole number or
// does not fit 32 bits.
std::optional<qint32> parseWholeNumber(const QString &text);

// The environment variable that may point port number `n` at a device:
// "QUILLONEMU_COM<n>".
QString portVariableName(qint32 n);

// The device that port number `n` names: the value of the environment variable
// QUILLONEMU_COM<n> when it is set, else COM<n> on Windows and /dev/ttyS<n-1>
// elsewhere. Empty for numbers below 1, which name no device, and when the
// variable is set but empty.
QString devicePathForPort(qint32 n);

// Whether `text` is a device's path rather than a port number: an absolute
// path ("/dev/ttyUSB0"; on Windows also "COM3" or "\\.\COM12").
bool isDevicePath(const QString &text);

// How messages name a port: "ポート 3 (/dev/ttyS2)" for port number 3, or
// "ポート /dev/ttyUSB0" for a device given by its path (number 0).
QString portLabel(qint32 number, const QString &device);
