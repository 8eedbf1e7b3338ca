#include "platform/terminationsignals.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
int pipeFds[2] = {-1, -1};

// SIGPIPE too: a reader of the output that goes away (`… | head`) ends the
// program in order instead of killing it with packets still queued.
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

TerminationSignals::Kind kindOf(int signalNumber)
{
    switch (signalNumber) {
    case SIGINT:
        return TerminationSignals::Kind::Interrupt;
    case SIGPIPE:
        return TerminationSignals::Kind::OutputGone;
    default:
        return TerminationSignals::Kind::Terminate;
    }
}

void onSignal(int signalNumber)
{
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &byte, 1);
}
} // namespace

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    if (::pipe(pipeFds) != 0)
        return;
    for (int fd : pipeFds) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::readPipe);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : kSignals)
        ::sigaction(signalNumber, &action, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    for (int signalNumber : kSignals)
        ::signal(signalNumber, SIG_DFL);
    delete notifier_;
    for (int &fd : pipeFds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void TerminationSignals::readPipe()
{
    unsigned char byte = 0;
    while (::read(pipeFds[0], &byte, 1) == 1)
        Q_EMIT received(kindOf(byte));
}

#else

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent) {}
TerminationSignals::~TerminationSignals() = default;
void TerminationSignals::readPipe() {}

#endif
