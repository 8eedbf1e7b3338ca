#pragma once

#include "handset/handsetoutput.h"
#include "handset/paritymarks.h"
#include "link/packetdecoder.h"
#include "platform/linetiming.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <deque>
#include <utility>

class ReceivingLine;
class QSocketNotifier;

// The virtual handset: takes the bytes that arrive on its line, decodes them
// into packets and reports each one as it comes, with the time its bytes
// arrived and the time they would finish arriving over the real 600-baud line.
// On a pseudo-terminal it also checks the line settings the sender chose; on
// a real port it reports parity errors.
//
// A pseudo-terminal carries bytes at once; the handset reads it at the real
// line's pace (one byte every 18.3 ms, about 54.5 a second), so that a sender
// meets the back-pressure a real line gives. `fast` reads at once instead.
class VirtualHandset : public QObject {
    Q_OBJECT
public:
    struct Options {
        bool json = false;
        qint64 count = 0;           // end after this many packets; 0: no limit
        double timeoutSeconds = 0;  // end after this long; 0: no limit
        bool fast = false;          // read at once rather than at the line's pace
    };

    VirtualHandset(ReceivingLine &line, const Options &options, QObject *parent = nullptr);

    // Reports that the handset listens and starts listening.
    void start();
    // Ends: reads what has arrived so far, reports what was held back and a
    // summary on standard error, then signals finished(). Nothing more after
    // the first call.
    void stop();

Q_SIGNALS:
    void finished(int exitStatus);
    // A whole packet came (valid or not), when its last byte has arrived.
    void packetReceived(const DecodedPacket &packet);

private:
    void onReadable();
    // Reads the bytes the line has carried by now (at its pace).
    void readAtPace();
    void readLine(qsizetype maxBytes);
    void take(const QByteArray &raw, double arrivalMs);
    // When the byte at stream position `offset` arrived.
    double arrivalOf(qint64 offset);
    void report(const QList<DecoderEvent> &events, double arrivalMs);
    void checkLineSettings();
    void end(int exitStatus, bool readRest);
    double nowMs() const;

    ReceivingLine &line_;
    Options options_;
    HandsetOutput output_;
    PacketDecoder decoder_;
    LineClock lineClock_;
    ParityMarks parityMarks_;
    QSocketNotifier *notifier_ = nullptr;
    QTimer timeout_;
    QTimer quiet_; // reports what the decoder held back once the line is quiet
    QTimer pace_;  // the next byte the line carries
    double lineFreeAtMs_ = 0; // at the line's pace: when the last byte read was across
    // The stream position just past each chunk read, and when it was read.
    std::deque<std::pair<qint64, double>> arrivals_;
    QElapsedTimer clock_;
    double startMs_ = 0;
    double lastArrivalMs_ = 0;

    qint64 streamBytes_ = 0;
    qint64 bytesRead_ = 0; // as read, parity marks included
    qint64 packets_ = 0;
    qint64 badPackets_ = 0;
    qint64 strayBytes_ = 0;
    qint64 parityErrors_ = 0;
    bool settingsSeen_ = false;
    bool settingsWarned_ = false;
    bool ended_ = false;
};
