#include "platform/receivingline.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

termios terminalSettings(int fd)
{
    termios t{};
    if (fd >= 0)
        ::tcgetattr(fd, &t);
    return t;
}

QByteArray rawSettings(const termios &t)
{
    return QByteArray(reinterpret_cast<const char *>(&t), sizeof t);
}

int baudRate(speed_t speed)
{
    struct Speed {
        speed_t speed;
        int baud;
    };
    static constexpr Speed kSpeeds[] = {
        {B0, 0},         {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},
        {B150, 150},     {B200, 200},       {B300, 300},       {B600, 600},       {B1200, 1200},
        {B1800, 1800},   {B2400, 2400},     {B4800, 4800},     {B9600, 9600},     {B19200, 19200},
        {B38400, 38400}, {B57600, 57600},   {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
    };
    for (const Speed &s : kSpeeds) {
        if (s.speed == speed)
            return s.baud;
    }
    return -1;
}

} // namespace

ReceivingLine::~ReceivingLine()
{
    close();
}

bool ReceivingLine::fail(const QString &message)
{
    error_ = message;
    close();
    return false;
}

bool ReceivingLine::openPseudoTerminal(const QString &linkPath)
{
    char name[PATH_MAX] = {};
    if (::openpty(&fd_, &slave_, name, nullptr, nullptr) != 0) {
        fd_ = slave_ = -1;
        return fail(QStringLiteral("仮想端末を作れません: %1").arg(systemError()));
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    initial_ = rawSettings(terminalSettings(slave_));
    devicePath_ = QFile::decodeName(name);

    if (linkPath.isEmpty())
        return true;
    const QFileInfo existing(linkPath);
    if (existing.isSymLink()) {
        QFile::remove(linkPath);
    } else if (existing.exists()) {
        return fail(QStringLiteral("リンク「%1」を作れません: シンボリックリンクではないファイルがすでにあります。")
                        .arg(linkPath));
    }
    if (::symlink(name, QFile::encodeName(linkPath).constData()) != 0)
        return fail(QStringLiteral("リンク「%1」を作れません: %2").arg(linkPath, systemError()));
    linkPath_ = linkPath;
    return true;
}

bool ReceivingLine::openDevice(const QString &path)
{
    devicePath_ = path;
    fd_ = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return fail(QStringLiteral("デバイス「%1」を開けません: %2").arg(path, systemError()));
    termios t{};
    if (::tcgetattr(fd_, &t) != 0)
        return fail(QStringLiteral("「%1」はシリアルポートではありません: %2").arg(path, systemError()));
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, B600);
    ::cfsetospeed(&t, B600);
    t.c_cflag &= ~(CSIZE | CSTOPB | PARODD | CRTSCTS);
    t.c_cflag |= CS8 | PARENB | CREAD | CLOCAL;
    t.c_iflag &= ~(IGNPAR | ISTRIP | IXON | IXOFF | IXANY);
    t.c_iflag |= INPCK | PARMRK;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(fd_, TCSANOW, &t) != 0)
        return fail(QStringLiteral("デバイス「%1」の回線を設定できません: %2").arg(path, systemError()));
    const termios taken = terminalSettings(fd_);
    marksBytes_ = taken.c_iflag & PARMRK;
    checksParity_ = marksBytes_ && (taken.c_cflag & PARENB) && (taken.c_iflag & INPCK);
    ::tcflush(fd_, TCIFLUSH);
    return true;
}

void ReceivingLine::close()
{
    if (!linkPath_.isEmpty() && QFileInfo(linkPath_).symLinkTarget() == devicePath_)
        QFile::remove(linkPath_);
    linkPath_.clear();
    if (fd_ >= 0)
        ::close(fd_);
    if (slave_ >= 0)
        ::close(slave_);
    fd_ = slave_ = -1;
}

QByteArray ReceivingLine::readAvailable(bool *ended, qsizetype maxBytes)
{
    *ended = false;
    QByteArray data;
    char buffer[4096];
    while (fd_ >= 0 && (maxBytes < 0 || data.size() < maxBytes)) {
        const qsizetype wanted = maxBytes < 0 ? qsizetype(sizeof buffer)
                                              : std::min<qsizetype>(sizeof buffer, maxBytes - data.size());
        const ssize_t n = ::read(fd_, buffer, static_cast<size_t>(wanted));
        if (n > 0) {
            data.append(buffer, n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        } else {
            error_ = n == 0 ? QStringLiteral("デバイス「%1」が閉じられました。").arg(devicePath_)
                            : QStringLiteral("デバイス「%1」を読めません: %2").arg(devicePath_, systemError());
            *ended = true;
            break;
        }
    }
    return data;
}

bool ReceivingLine::waitForBytes(int timeoutMs) const
{
    if (fd_ < 0)
        return false;
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN);
}

LineSettings ReceivingLine::settings() const
{
    const termios t = terminalSettings(fd_);
    LineSettings s;
    s.baud = baudRate(::cfgetospeed(&t));
    const tcflag_t size = t.c_cflag & CSIZE;
    s.dataBits = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    s.stopBits = t.c_cflag & CSTOPB ? 2 : 1;
    s.hardwareFlow = t.c_cflag & CRTSCTS;
    s.softwareFlow = t.c_iflag & (IXON | IXOFF);
    s.rawOutput = !(t.c_oflag & OPOST);
    return s;
}

bool ReceivingLine::senderHasSetTheLine() const
{
    return isPseudoTerminal() && rawSettings(terminalSettings(fd_)) != initial_;
}

#else

ReceivingLine::~ReceivingLine() = default;

bool ReceivingLine::fail(const QString &message)
{
    error_ = message;
    return false;
}

bool ReceivingLine::openPseudoTerminal(const QString &)
{
    return fail(QStringLiteral("このシステムでは仮想端末を作れません。"));
}

bool ReceivingLine::openDevice(const QString &path)
{
    return fail(QStringLiteral("このシステムではデバイス「%1」で受信できません。").arg(path));
}

void ReceivingLine::close() {}

QByteArray ReceivingLine::readAvailable(bool *ended, qsizetype)
{
    *ended = true;
    return {};
}

bool ReceivingLine::waitForBytes(int) const
{
    return false;
}

LineSettings ReceivingLine::settings() const
{
    return {};
}

bool ReceivingLine::senderHasSetTheLine() const
{
    return false;
}

#endif
