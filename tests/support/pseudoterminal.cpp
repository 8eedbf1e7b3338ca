#include "pseudoterminal.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal(Mode mode)
{
    char name[256] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        master_ = slave_ = -1;
        return;
    }
    slavePath_ = QString::fromLocal8Bit(name);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    // A program the test starts opens the slave by its path; inheriting the
    // master would keep the line up after closeMaster().
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    if (mode == Mode::Cooked)
        return;
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

namespace {

// Up to `count - data.size()` bytes that arrive within 5 ms.
void readSome(int fd, qsizetype count, QByteArray &data)
{
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 5) > 0 && (p.revents & POLLIN)) {
        char buffer[4096];
        const auto wanted = static_cast<size_t>(std::min<qsizetype>(sizeof buffer, count - data.size()));
        const ssize_t n = ::read(fd, buffer, wanted);
        if (n > 0)
            data.append(buffer, n);
    }
}

} // namespace

QByteArray PseudoTerminal::read(qsizetype count, int timeoutMs)
{
    QByteArray data;
    const QDeadlineTimer deadline(timeoutMs);
    while (data.size() < count && !deadline.hasExpired() && master_ >= 0) {
        QCoreApplication::processEvents();
        readSome(master_, count, data);
    }
    return data;
}

QByteArray PseudoTerminal::readReady()
{
    QByteArray data;
    char buffer[65536];
    ssize_t n = 0;
    while (master_ >= 0 && (n = ::read(master_, buffer, sizeof buffer)) > 0)
        data.append(buffer, n);
    return data;
}

QByteArray PseudoTerminal::readBlocking(qsizetype count, int timeoutMs) const
{
    QByteArray data;
    const QDeadlineTimer deadline(timeoutMs);
    while (data.size() < count && !deadline.hasExpired() && master_ >= 0)
        readSome(master_, count, data);
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

void PseudoTerminal::closeMaster()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

qsizetype PseudoTerminal::fillUp()
{
    const int fd = ::open(QFile::encodeName(slavePath_).constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return 0;
    // The kernel moves what the line took on towards the reader's side in
    // work of its own, later: room can open again after a write was refused
    // (the later the busier the machine). Full is when a round of writes
    // after half a second's wait for room takes nothing.
    qsizetype taken = 0;
    const char byte = 0x55;
    for (bool waited = false;; waited = true) {
        qsizetype round = 0;
        while (::write(fd, &byte, 1) == 1)
            ++round;
        taken += round;
        if (waited && round == 0)
            break;
        pollfd writable{fd, POLLOUT, 0};
        ::poll(&writable, 1, 500);
    }
    ::close(fd);
    return taken;
}
