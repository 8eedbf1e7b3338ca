#include "cli/handsetline.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

HandsetLine::~HandsetLine()
{
    close();
}

bool HandsetLine::fail(const QString &message)
{
    error_ = message;
    close();
    return false;
}

bool HandsetLine::openPseudoTerminal(const QString &linkPath)
{
    char name[PATH_MAX] = {};
    if (::openpty(&fd_, &slave_, name, nullptr, nullptr) != 0) {
        fd_ = slave_ = -1;
        return fail(QStringLiteral("仮想端末を作れません: %1").arg(systemError()));
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    ::tcgetattr(slave_, &initial_);
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

bool HandsetLine::openDevice(const QString &path)
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
    const termios taken = settings();
    marksBytes_ = taken.c_iflag & PARMRK;
    checksParity_ = marksBytes_ && (taken.c_cflag & PARENB) && (taken.c_iflag & INPCK);
    ::tcflush(fd_, TCIFLUSH);
    return true;
}

void HandsetLine::close()
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

QByteArray HandsetLine::readAvailable(bool *ended, qsizetype maxBytes)
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

bool HandsetLine::waitForBytes(int timeoutMs) const
{
    if (fd_ < 0)
        return false;
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN);
}

termios HandsetLine::settings() const
{
    termios t{};
    if (fd_ >= 0)
        ::tcgetattr(fd_, &t);
    return t;
}
