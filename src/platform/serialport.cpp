#include "platform/serialport.h"

#include "platform/linetiming.h"
#include "platform/portnumber.h"
#include "platform/systemreason.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <limits>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

// A line whose held bytes have not moved for this long has stopped: the
// time the whole bounded queue needs, and a second more.
const double kStalledMs = LineTiming::lineMs(LineTiming::kQueueBoundBytes) + 1000.0;
// Slack on top of the line time when the port drains before it closes.
constexpr double kDrainSlackMs = 1000.0;

// How often a port that drains before it closes asks whether its device is
// still there: the packets that may be lost are counted from the last time
// it was.
constexpr double kDeviceCheckMs = 100.0;
// The packets the port carries are ten bytes each: a count of bytes that may
// be lost is told as packets.
constexpr qint64 kPacketBytes = 10;

// Bytes the operating system holds for the line but has not sent yet; no
// value when the driver cannot say (a hung-up terminal answers EIO).
std::optional<qint64> systemQueuedBytes(const QSerialPort &port)
{
#if defined(Q_OS_UNIX) && defined(TIOCOUTQ)
    int queued = 0;
    if (!port.isOpen() || ::ioctl(port.handle(), TIOCOUTQ, &queued) != 0)
        return std::nullopt;
    return queued;
#else
    Q_UNUSED(port);
    return 0;
#endif
}

// Why the device behind an open port is gone, or nothing while it is there.
// A write-only port hears nothing of a hang-up unless it asks.
std::optional<QString> deviceGoneReason(const QSerialPort &port)
{
#ifdef Q_OS_UNIX
    pollfd fd{port.handle(), POLLOUT, 0};
    if (::poll(&fd, 1, 0) < 0 && errno != EINTR)
        return qt_error_string(errno);
    if (fd.revents & (POLLHUP | POLLERR | POLLNVAL))
        return QStringLiteral("回線が切れました");
    if (!systemQueuedBytes(port))
        return qt_error_string(errno);
#else
    Q_UNUSED(port);
#endif
    return std::nullopt;
}

bool userMayAccess(const QString &path)
{
#ifdef Q_OS_UNIX
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0;
#else
    Q_UNUSED(path);
    return true;
#endif
}

} // namespace

QString portOpenFailureReason(QSerialPort::SerialPortError error, const QString &systemReason, bool userMayAccess)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("デバイスがありません。");
    case QSerialPort::PermissionError:
        // A device the user may use but cannot open is held by someone else
        // (on Windows a port is always opened exclusively).
        if (!userMayAccess)
            return QStringLiteral("アクセス権がありません（Linux ではユーザーを dialout グループに加えてください）。");
        return QStringLiteral("ほかのプログラムが使用中です。");
    default:
        return QStringLiteral("開けませんでした%1。").arg(SystemReason::inSentence(systemReason));
    }
}

SerialPort::SerialPort(QObject *parent)
    : QObject(parent), ownClock_(std::make_unique<EventLoopWaiter>()), clock_(ownClock_.get())
{
    connect(&port_, &QSerialPort::errorOccurred, this, &SerialPort::onError);
}

SerialPort::~SerialPort()
{
    if (!port_.isOpen())
        return;
    // Whoever owns the port closes it in order (close()), with events
    // running. A port destroyed open still hands the operating system what
    // it holds, but runs no events and signals nothing: its owner is half
    // gone.
    blockSignals(true);
    const QDeadlineTimer deadline(static_cast<qint64>(LineTiming::lineMs(heldBytes()) + kDrainSlackMs));
    while (port_.bytesToWrite() > 0 && !deadline.hasExpired() &&
           port_.waitForBytesWritten(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())))) {
    }
    port_.close();
}

void SerialPort::setClock(Waiter *clock)
{
    clock_ = clock ? clock : ownClock_.get();
}

bool SerialPort::open(const QString &portText)
{
    if (port_.isOpen())
        return true;
    errorText_.clear();
    devicePath_.clear();
    portNumber_ = 0;

    // A port number, or the device's own path (a handsets file names ports
    // so).
    const bool path = isDevicePath(portText);
    const std::optional<qint32> number = path ? std::optional<qint32>(0) : parseWholeNumber(portText);
    if (!number) {
        errorText_ = QStringLiteral("ポート番号「%1」は整数ではありません。").arg(portText);
        return false;
    }
    portNumber_ = *number;
    devicePath_ = path ? portText : devicePathForPort(*number);
    if (devicePath_.isEmpty()) {
        errorText_ = *number < 1
                         ? QStringLiteral("ポート %1 に当たるデバイスはありません（ポート番号は 1 以上です）。").arg(*number)
                         : QStringLiteral("ポート %1 を開けません: 環境変数 %2 が空です（デバイスのパスを入れてください）。")
                               .arg(*number)
                               .arg(portVariableName(*number));
        return false;
    }
#ifndef Q_OS_WIN
    // On Windows a port is a name, not a file: the serial port decides.
    if (!QFileInfo::exists(devicePath_)) {
        errorText_ = QStringLiteral("%1 を開けません: デバイスがありません。").arg(portLabel(*number, devicePath_));
        return false;
    }
#endif

    port_.setPortName(devicePath_);
    port_.setBaudRate(LineTiming::kBaudRate);
    port_.setParity(QSerialPort::EvenParity);
    port_.setDataBits(QSerialPort::Data8);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::WriteOnly)) {
        errorText_ = QStringLiteral("%1 を開けません: %2")
                         .arg(portLabel(*number, devicePath_),
                              portOpenFailureReason(port_.error(), port_.errorString(),
                                                                 userMayAccess(devicePath_)));
        port_.clearError();
        return false;
    }
    lineClock_ = LineClock();
    confirmedAtMs_ = now();
    // Whoever asks what crossed the line asks of the device open now.
    firstUnsureByte_.reset();
    return true;
}

bool SerialPort::isOpen() const
{
    return port_.isOpen();
}

qint64 SerialPort::close()
{
    if (!port_.isOpen())
        return 0;
    // Another close may run inside one of the pauses (a window closed while
    // the port drains): whichever finds the port still open closes it. The
    // device is asked after every pause: one that went away takes with it
    // what the line had not carried yet, and the close must say so.
    const int failuresBefore = failures_;
    if (deviceThere(true))
        noteHeldBytes();
    const double deadline = now() + LineTiming::lineMs(pendingBytes()) + kDrainSlackMs;
    for (qint64 pending = pendingBytes(); port_.isOpen() && pending > 0; pending = pendingBytes()) {
        const double left = deadline - now();
        if (left <= 0)
            break;
        clock_->pauseUntil(now() + std::min({std::max(LineTiming::lineMs(pending), 1.0), left, kDeviceCheckMs}));
        if (port_.isOpen() && deviceThere(true))
            noteHeldBytes();
    }
    if (!port_.isOpen())
        return failures_ == failuresBefore ? 0 : -1;
    const qint64 dropped = heldBytes();
    noteLoss(std::max(dropped, lineClock_.bytesOnLine(now())));
    port_.close();
    return dropped;
}

bool SerialPort::deviceThere(bool closing)
{
    const std::optional<QString> gone = deviceGoneReason(port_);
    if (!gone) {
        confirmedAtMs_ = now();
        return true;
    }
    const qint64 unsure = bytesUnsureSinceConfirmed();
    if (unsure == 0 && closing) {
        // Everything crossed before the device went: nothing is lost.
        port_.close();
        return false;
    }
    const qint64 packets = (unsure + kPacketBytes - 1) / kPacketBytes;
    fail(QSerialPort::ResourceError, *gone,
         packets == 0 ? QString()
                      : QStringLiteral("回線に出し終えていなかったパケット最大 %1 個が届いていない可能性があります。")
                            .arg(packets));
    return false;
}

qint64 SerialPort::bytesUnsureSinceConfirmed() const
{
    return std::min(handedTotal_, lineClock_.bytesOnLine(confirmedAtMs_));
}

void SerialPort::noteLoss(qint64 bytes)
{
    if (bytes <= 0)
        return;
    const qint64 first = handedTotal_ - std::min(bytes, handedTotal_);
    firstUnsureByte_ = std::min(first, firstUnsureByte_.value_or(std::numeric_limits<qint64>::max()));
}

qint64 SerialPort::bytesSurelyAcross() const
{
    qint64 across = handedTotal_ - (port_.isOpen() ? std::min(handedTotal_, lineClock_.bytesOnLine(now())) : 0);
    if (firstUnsureByte_)
        across = std::min(across, *firstUnsureByte_);
    return across;
}

qint64 SerialPort::heldBytes() const
{
    if (!port_.isOpen())
        return 0;
    return port_.bytesToWrite() + systemQueuedBytes(port_).value_or(0);
}

qint64 SerialPort::pendingBytes() const
{
    if (!port_.isOpen())
        return 0;
    return std::max(heldBytes(), lineClock_.bytesOnLine(now()));
}

void SerialPort::noteHeldBytes()
{
    // What the program and the driver still hold has not crossed the line,
    // however long ago it was handed over (a driver that took nothing for a
    // while, or under-reports): the line is busy at least for its time.
    lineClock_.holdAtLeast(now(), heldBytes());
}

bool SerialPort::write(const QByteArray &bytes)
{
    if (!waitForRoom(bytes.size()))
        return false;
    if (!handOver(bytes))
        return false;
    // The line carries these after everything handed over before them.
    lineClock_.add(now(), bytes.size());
    handedTotal_ += bytes.size();
    return port_.isOpen();
}

bool SerialPort::waitForRoom(qint64 bytes)
{
    qint64 held = heldBytes();
    double movedAt = now();
    for (;;) {
        if (!port_.isOpen() || !deviceThere(false))
            return false;
        noteHeldBytes();
        const qint64 pending = pendingBytes();
        // An empty line takes any write whole.
        if (pending == 0 || pending + bytes <= LineTiming::kQueueBoundBytes)
            return true;
        const qint64 heldNow = heldBytes();
        if (heldNow < held || heldNow == 0) {
            held = heldNow;
            movedAt = now();
        } else if (now() - movedAt > kStalledMs) {
            fail(QSerialPort::TimeoutError,
                 QStringLiteral("回線が %1 秒以上進みません。送れずに残っているバイト %2 個")
                     .arg(std::lround(kStalledMs / 1000))
                     .arg(heldNow));
            return false;
        }
        const double room = LineTiming::lineMs(pending + bytes - LineTiming::kQueueBoundBytes);
        clock_->pauseUntil(now() + std::max(1.0, room));
    }
}

bool SerialPort::handOver(const QByteArray &bytes)
{
    if (!port_.isOpen())
        return false;
    qsizetype handedOn = 0;
#ifdef Q_OS_UNIX
    // While nothing waits in the program, the bytes go to the operating
    // system at once rather than at the next turn of the event loop. What it
    // cannot take now waits in the program, in order, and follows as the
    // line drains.
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
    return true;
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

void SerialPort::fail(QSerialPort::SerialPortError error, const QString &detail, const QString &consequence)
{
    QString what;
    switch (error) {
    case QSerialPort::ResourceError:
        what = QStringLiteral("デバイスが外れたか、応答しなくなりました");
        break;
    case QSerialPort::TimeoutError:
        what = QStringLiteral("回線がバイトを受け取らなくなりました");
        break;
    default:
        what = QStringLiteral("書き込みエラーです");
        break;
    }
    QString message = QStringLiteral("%1 に書き込めません: %2%3。")
                          .arg(portLabel(portNumber_, devicePath_), what, SystemReason::inSentence(detail));
    if (!consequence.isEmpty())
        message += u'\n' + consequence;
    noteLoss(bytesUnsureSinceConfirmed());
    port_.clearError();
    if (port_.isOpen())
        port_.close();
    ++failures_;
    errorText_ = message;
    Q_EMIT failed(message);
}
