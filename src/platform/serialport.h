#pragma once

#include "platform/linetiming.h"
#include "platform/waiter.h"

#include <QObject>
#include <QSerialPort>
#include <QString>
#include <memory>
#include <optional>

// One serial port chosen by number, opened write-only at 600 baud, even
// parity, 8 data bits, 1 stop bit, without flow control.
//
// The sending queue is bounded: the bytes written but not yet on the line
// never pass LineTiming::kQueueBoundBytes (about 10 s of line time). Drivers
// under-report what they hold (a pseudo-terminal's TIOCOUTQ stays 0 with
// 20 KB unread in it), so the line is counted by its own rate: what was
// handed over, less what 600 baud can have carried since, or what the
// program and the driver still hold if that is more. A write that would pass
// the bound pauses until the line has made room (Waiter::pauseUntil: windows
// repaint, a close or a signal is seen, clicks and keys wait), then hands
// its bytes on whole. Nothing is dropped, cut or reordered, and the line
// stays busy back to back.
class SerialPort : public QObject {
    Q_OBJECT
public:
    explicit SerialPort(QObject *parent = nullptr);
    ~SerialPort() override;

    // The clock the line is counted on and the pauses are taken with. A run
    // passes its own, so that a test's fake clock paces the line too;
    // otherwise the port keeps a real one.
    void setClock(Waiter *clock);
    // The clock the line is counted on.
    const Waiter &clock() const { return *clock_; }

    // Opens the port that `portText` names (a whole number, see
    // devicePathForPort). On failure returns false and errorText() holds a
    // message naming the port number and the device.
    bool open(const QString &portText);
    bool isOpen() const;
    // Lets every byte written leave the line, then closes the port. A line
    // that does not drain (nobody reads the device) ends the wait at its
    // time-out: the line time of what is left and a second more. Returns
    // the bytes the program still held then and had to drop (0 normally),
    // or -1 when the port failed while it drained (the device went away, or
    // the driver can no longer say what it holds: failed() was signalled
    // and errorText() says how many packets may not have arrived).
    qint64 close();

    // Hands the bytes on once the queue has room for them; false when the
    // port is closed (also when it was closed while this waited for room) or
    // the write failed (a failure is also signalled).
    bool write(const QByteArray &bytes);

    // The bytes written but not yet on the line, as far as can be known.
    qint64 pendingBytes() const;
    // The bytes the program and the driver still hold.
    qint64 heldBytes() const;
    // When, on clock(), the last byte handed over will have crossed the
    // line: the handset cannot have seen it before.
    double lineDoneMs() const { return lineClock_.busyUntilMs(); }

    // Every byte handed to the line since this port object was made, over
    // all the devices it opened.
    qint64 bytesHandedOver() const { return handedTotal_; }
    // How many of the first bytesHandedOver() have surely crossed the line:
    // by the line's clock while the device was known to be there. After a
    // failure or a close that dropped bytes, the bytes from the first that
    // may be lost on are not counted, whatever came after them (until the
    // port opens again).
    qint64 bytesSurelyAcross() const;

    QString errorText() const { return errorText_; }
    qint32 portNumber() const { return portNumber_; }
    QString devicePath() const { return devicePath_; }

    // The line settings on the open port, as the port reports them.
    QSerialPort::Parity parity() const { return port_.parity(); }

Q_SIGNALS:
    // The open port failed: a write error, the device is gone, or the line
    // stopped taking bytes. The port has been closed; `message` names the
    // port and the device.
    void failed(const QString &message);

private:
    bool waitForRoom(qint64 bytes);
    bool handOver(const QByteArray &bytes);
    void onError(QSerialPort::SerialPortError error);
    void fail(QSerialPort::SerialPortError error, const QString &detail, const QString &consequence = QString());
    void noteHeldBytes();
    // Whether the device is still there (a hung-up terminal, a pulled USB
    // adapter, a driver that cannot say what it holds): notes the time when
    // it is, fails the port when it is not (while `closing`, only when bytes
    // may be lost with it).
    bool deviceThere(bool closing);
    // The bytes handed over that may not have crossed the line: those the
    // line's clock had not carried across when the device was last known
    // to be there.
    qint64 bytesUnsureSinceConfirmed() const;
    void noteLoss(qint64 bytes);
    double now() const { return clock_->elapsedMs(); }

    QSerialPort port_;
    std::unique_ptr<Waiter> ownClock_;
    Waiter *clock_;
    // The line's time for everything handed over since the port opened.
    LineClock lineClock_;
    // Failures since the port was made, so that a close can tell whether
    // the port failed while it drained.
    int failures_ = 0;
    // When the device was last known to be there (line clock time).
    double confirmedAtMs_ = 0;
    qint64 handedTotal_ = 0;
    // Bytes from the first that may have been lost (see bytesSurelyAcross).
    std::optional<qint64> firstUnsureByte_;
    QString errorText_;
    QString devicePath_;
    qint32 portNumber_ = 0;
};

// Why a port did not open, for the user: `error` as the serial port reports
// it, `systemReason` in the operating system's words, and whether this user
// may read and write the device (where that can be known; true elsewhere).
QString portOpenFailureReason(QSerialPort::SerialPortError error, const QString &systemReason, bool userMayAccess);
