#pragma once

#include <QObject>
#include <QSerialPort>
#include <QString>

// One serial port chosen by number, opened write-only at 600 baud, even
// parity, 8 data bits, 1 stop bit, without flow control.
//
// Bytes handed to write() leave the program at once as far as the operating
// system takes them; the rest queues in order and follows as the line drains
// (the event loop writes it), without blocking the caller. close() first lets every byte already written
// leave, bounded by the time the queue needs at 600 baud.
class SerialPort : public QObject {
    Q_OBJECT
public:
    static constexpr qint32 kBaudRate = 600;
    // Start bit, 8 data bits, parity bit, stop bit.
    static constexpr int kBitsPerByte = 11;

    explicit SerialPort(QObject *parent = nullptr);
    ~SerialPort() override;

    // Opens the port that `portText` names (a whole number, see
    // devicePathForPort). On failure returns false and errorText() holds a
    // message naming the port number and the device.
    bool open(const QString &portText);
    bool isOpen() const;
    void close();

    // Hands the bytes on; false when the port is closed or the write failed
    // (a failure is also signalled).
    bool write(const QByteArray &bytes);

    // Bytes written but not yet taken by the operating system.
    qint64 queuedBytes() const;

    QString errorText() const { return errorText_; }
    QString devicePath() const { return devicePath_; }

    // The line settings on the open port, as the port reports them.
    QSerialPort::Parity parity() const { return port_.parity(); }

Q_SIGNALS:
    // The open port failed: a write error, or the device is gone. The port
    // has been closed; `message` names the port and the device.
    void failed(const QString &message);

private:
    void onError(QSerialPort::SerialPortError error);
    void fail(QSerialPort::SerialPortError error, const QString &detail);
    void drain();

    QSerialPort port_;
    QString errorText_;
    QString devicePath_;
    qint32 portNumber_ = 0;
};
