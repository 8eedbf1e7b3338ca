#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

// How one pass of a job ended, as the run reports it the moment the pass is
// over: what the results file holds a row of, and what a resumed job reads
// back.
struct PassRecord {
    enum class Result {
        Ok,           // it reached its end (REPEAT, the macro's end, EXIT)
        Failed,       // a screen wait ran out (or an error cut it)
        OkAfterRetry, // it failed, was recovered and ran again to its end
        Stopped,      // a stop cut it
        NotDelivered, // the port failed: its packets may not all have arrived
    };

    qint32 counter = 0; // the counter the pass ran with
    // The address lines (from 1) the pass took; 0 when it took none.
    qint64 firstAddrLine = 0;
    qint64 lastAddrLine = 0;
    // The lines it took, as they were typed, joined by " / ".
    QString address;
    Result result = Result::Ok;
    // Where and why it failed (Failed, Stopped, NotDelivered).
    QString file;
    qint64 line = 0;
    QString keyword;
    QString message;
    QString evidence; // the picture a failed wait saved
    QDateTime start;
    double seconds = 0;
    qint64 packets = 0; // handed to the line in the pass, every try
    int tries = 1;
    QString handset; // the handset that did it, in a job on many handsets

    bool done() const { return result == Result::Ok || result == Result::OkAfterRetry; }
};

// "ok", "failed", "ok-after-retry", "stopped", "not-delivered".
QString resultName(PassRecord::Result result);
// The result that `name` names, or none.
std::optional<PassRecord::Result> resultFromName(const QString &name);
