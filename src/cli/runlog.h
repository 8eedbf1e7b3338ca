#pragma once

#include "link/keypacket.h"

#include <QFile>
#include <QObject>
#include <QString>

class MacroRunner;
class SerialLink;

// --log: every packet a run sends, as one JSON object per line appended to a
// file: the time, the pass counter, the line number and keyword of the
// statement that sent it, and the ten bytes.
class RunLog : public QObject {
    Q_OBJECT
public:
    // Opens `path` for appending; on failure errorText() names the file.
    bool open(const QString &path);
    // Logs what `runner` sends through `link` from now on.
    void follow(const MacroRunner &runner, const SerialLink &link);
    // Closes the file; false when something could not be written (then
    // errorText() says so).
    bool close();

    QString errorText() const { return error_; }

private:
    void write(const KeyPacket &packet);

    QFile file_;
    const MacroRunner *runner_ = nullptr;
    qint64 line_ = 0;
    QString keyword_;
    QString error_;
};
