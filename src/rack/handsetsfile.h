#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// One handset of this machine, as a handsets file names it.
struct HandsetEntry {
    QString name;    // the section's name: [A]
    QString port;    // as written: a device path, or a port number as --port takes it
    QString device;  // the device file the port is (a number mapped as --port maps it)
    QString screen;  // as --screen takes it; empty: none
    qint64 line = 0; // of the section's header in the file
};

// The handsets of this machine: an INI file (read with Qt's INI support),
// one section a handset:
//
//   [A]
//   port=/dev/ttyUSB0
//   screen=camera:1
//
// read() refuses a file with a section without a port, the same port (or
// device) twice, an unknown key or a section without a name, with a
// Japanese message naming the file and the line.
struct HandsetsFile {
    QString path;
    QList<HandsetEntry> handsets;

    static std::optional<HandsetsFile> read(const QString &path, QString *error);
    // The handsets named in `names` (as --use gives them: A,C), in that
    // order; all of them when `names` is empty. nullopt and `error` for a
    // name the file does not hold.
    std::optional<QList<HandsetEntry>> take(const QStringList &names, QString *error) const;
};
