#include "platform/serialport.h"

#include "platform/portnumber.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

// Bytes the operating system holds for the line but has not sent yet.
qint64 systemQueuedBytes(QSerialPort &port)
{
#if defined(Q_OS_UNIX) && defined(TIOCOUTQ)
    int queued = 0;
    if (port.isOpen() && ::ioctl(port.handle(), TIOCOUTQ, &queued) == 0)
        return queued;
#else
    Q_UNUSED(port);
#endif
    return 0;
}

// What a failed open means to the user.
QString openFailureReason(QSerialPort::SerialPortError error, const QString &path)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("デバイスがありません。");
    case QSerialPort::PermissionError:
#ifdef Q_OS_UNIX
        if (::access(QFile::encodeName(path).constData(), R_OK | W_OK) != 0)
            return QStringLiteral("アクセス権がありません（Linux ではユーザーを dialout グループに加えてください）。");
#else
        Q_UNUSED(path);
#endif
        return QStringLiteral("ほかのプログラムが使用中です。");
    default:
        return QStringLiteral("開けませんでした。");
    }
}

} // namespace

SerialPort::SerialPort(QObject *parent) : QObject(parent)
{
    connect(&port_, &QSerialPort::errorOccurred, this, &SerialPort::onError);
}

SerialPort::~SerialPort()
{
    close();
}

bool SerialPort::open(const QString &portText)
{
    if (port_.isOpen())
        return true;
    errorText_.clear();
    devicePath_.clear();
    portNumber_ = 0;

    const std::optional<qint32> number = parseWholeNumber(portText);
    if (!number) {
        errorText_ = QStringLiteral("ポート番号「%1」は整数ではありません。").arg(portText);
        return false;
    }
    portNumber_ = *number;
    devicePath_ = devicePathForPort(*number);
    if (devicePath_.isEmpty()) {
        errorText_ = QStringLiteral("ポート %1 に当たるデバイスはありません（ポート番号は 1 以上です）。").arg(*number);
        return false;
    }
    if (!QFileInfo::exists(devicePath_)) {
        errorText_ = QStringLiteral("ポート %1 (%2) を開けません: デバイスがありません。").arg(*number).arg(devicePath_);
        return false;
    }

    port_.setPortName(devicePath_);
    port_.setBaudRate(kBaudRate);
    port_.setParity(QSerialPort::EvenParity);
    port_.setDataBits(QSerialPort::Data8);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::WriteOnly)) {
        errorText_ = QStringLiteral("ポート %1 (%2) を開けません: %3")
                         .arg(*number)
                         .arg(devicePath_, openFailureReason(port_.error(), devicePath_));
        port_.clearError();
        return false;
    }
    return true;
}

bool SerialPort::isOpen() const
{
    return port_.isOpen();
}

void SerialPort::close()
{
    if (!port_.isOpen())
        return;
    drain();
    if (port_.isOpen())
        port_.close();
}

bool SerialPort::write(const QByteArray &bytes)
{
    if (!port_.isOpen())
        return false;
    qsizetype handedOn = 0;
#ifdef Q_OS_UNIX
    // While nothing waits in the queue, the bytes go to the operating system
    // at once rather than at the next turn of the event loop. What it cannot
    // take now (the line's buffer is full) waits in the queue, in order, and
    // follows as the line drains.
    if (port_.bytesToWrite() == 0) {
        while (handedOn < bytes.size()) {
            const ssize_t n = ::write(port_.handle(), bytes.constData() + handedOn,
                                      static_cast<size_t>(bytes.size() - handedOn));
            if (n > 0) {
                handedOn += n;
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                break;
            } else {
                fail(QSerialPort::ResourceError, qt_error_string(errno));
                return false;
            }
        }
    }
    if (handedOn < bytes.size()) {
        const qint64 rest = bytes.size() - handedOn;
        if (port_.write(bytes.constData() + handedOn, rest) != rest) {
            fail(QSerialPort::WriteError, port_.errorString());
            return false;
        }
    }
#else
    if (port_.write(bytes) != bytes.size()) {
        fail(QSerialPort::WriteError, port_.errorString());
        return false;
    }
    port_.flush();
#endif
    return port_.isOpen();
}

qint64 SerialPort::queuedBytes() const
{
    return port_.isOpen() ? port_.bytesToWrite() : 0;
}

void SerialPort::drain()
{
    const qint64 queued = port_.bytesToWrite() + systemQueuedBytes(port_);
    // The wire time of what is queued, and a second more for slack.
    const qint64 budgetMs = queued * kBitsPerByte * 1000 / kBaudRate + 1000;
    const QDeadlineTimer deadline(budgetMs);
    while (port_.isOpen() && port_.bytesToWrite() > 0 && !deadline.hasExpired()) {
        if (!port_.waitForBytesWritten(static_cast<int>(std::max<qint64>(1, deadline.remainingTime()))))
            break;
    }
    while (port_.isOpen() && systemQueuedBytes(port_) > 0 && !deadline.hasExpired())
        QThread::msleep(5);
}

void SerialPort::onError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::NoError:
    case QSerialPort::TimeoutError:
    case QSerialPort::NotOpenError:
        return;
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
        // Reported by open() itself.
        return;
    default:
        if (port_.isOpen())
            fail(error, port_.errorString());
        return;
    }
}

void SerialPort::fail(QSerialPort::SerialPortError error, const QString &detail)
{
    const QString what = error == QSerialPort::ResourceError
                             ? QStringLiteral("デバイスが外れたか、応答しなくなりました")
                             : QStringLiteral("書き込みエラーです");
    const QString message = QStringLiteral("ポート %1 (%2) に書き込めません: %3（%4）。")
                                .arg(portNumber_)
                                .arg(devicePath_, what, detail);
    port_.clearError();
    if (port_.isOpen())
        port_.close();
    errorText_ = message;
    Q_EMIT failed(message);
}
