#pragma once

#include "link/keypacket.h"
#include "macro/runscreen.h"

#include <QFile>
#include <QJsonObject>
#include <QObject>
#include <QString>

class MacroRunner;
class SerialLink;

// --log: every packet a run sends, as one JSON object per line appended to a
// file ("event":"packet"): the time, the pass counter, the line of the macro
// file and the keyword of the statement that sent it, and the ten bytes; and every pass
// that reached REPEAT ("event":"pass"): the counter after it, the time, its
// length in seconds and the packets it sent; and every screen wait
// ("event":"screen"): the template, whether it was found, the best
// similarity and its place, the seconds waited and the frames seen. A write
// that fails is told at once (writeFailed), and nothing more is written.
class RunLog : public QObject {
    Q_OBJECT
public:
    // Opens `path` for appending; on failure errorText() names the file.
    bool open(const QString &path);
    // Logs what `runner` sends through `link` from now on.
    void follow(const MacroRunner &runner, const SerialLink &link);
    // The port failed with packets on the line ("event":"delivery"): the
    // packets handed over, those that surely arrived, and the counter to
    // resume from.
    void writeDelivery(const MacroRunner &runner);
    // Closes the file; false when something could not be written (then
    // errorText() says so).
    bool close();

    QString errorText() const { return error_; }

Q_SIGNALS:
    // An entry could not be written (a full disk, say); `message` names the
    // file. The log is closed.
    void writeFailed(const QString &message);

private:
    void writePacket(const KeyPacket &packet);
    void writePass(qint32 counter, double durationMs, qint64 packets);
    void writeScreenWait(const ScreenWaitReport &report);
    void write(const QJsonObject &entry);

    QFile file_;
    const MacroRunner *runner_ = nullptr;
    qint64 line_ = 0;
    QString keyword_;
    QString error_;
};
