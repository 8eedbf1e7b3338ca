#include "pseudoterminal.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal()
{
    char name[256] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        master_ = slave_ = -1;
        return;
    }
    slavePath_ = QString::fromLocal8Bit(name);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    // Raw on both sides so the bytes arrive exactly as written.
    termios t{};
    ::tcgetattr(slave_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave_, TCSANOW, &t);
}

PseudoTerminal::~PseudoTerminal()
{
    closeMaster();
    if (slave_ >= 0)
        ::close(slave_);
}

void PseudoTerminal::bindPort(int port) const
{
    qputenv(QByteArray("QUILLONEMU_COM") + QByteArray::number(port), slavePath_.toLocal8Bit());
}

QByteArray PseudoTerminal::read(qsizetype count, int timeoutMs)
{
    QByteArray data;
    const QDeadlineTimer deadline(timeoutMs);
    while (data.size() < count && !deadline.hasExpired() && master_ >= 0) {
        QCoreApplication::processEvents();
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, 5) > 0 && (p.revents & POLLIN)) {
            char buffer[4096];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0)
                data.append(buffer, n);
        }
    }
    return data;
}

QByteArray PseudoTerminal::readAvailable(int quietMs)
{
    QByteArray data;
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < quietMs && master_ >= 0) {
        const QByteArray more = read(1 << 20, 10);
        if (!more.isEmpty()) {
            data += more;
            quiet.restart();
        }
    }
    return data;
}

termios PseudoTerminal::settings() const
{
    termios t{};
    ::tcgetattr(slave_, &t);
    return t;
}

void PseudoTerminal::closeMaster()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}
