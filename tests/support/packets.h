#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Packets as the tests write them down.

// "C4 01 02 03 00 00 01 01 00 00" as bytes.
QByteArray hexBytes(QByteArrayView spacedHex);
// The packets of the keys named in `names` ("UP &ENTER F10"), back to back.
QByteArray keyBytes(const QString &names);
// The packets STRING sends for `text`.
QByteArray textBytes(const QString &text);
// `bytes` cut into packets, each as spaced hex.
QStringList packetList(QByteArrayView bytes);
