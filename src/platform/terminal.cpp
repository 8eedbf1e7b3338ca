#include "platform/terminal.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace Terminal {

bool standardOutputIsTerminal()
{
#ifdef Q_OS_UNIX
    return ::isatty(STDOUT_FILENO) == 1;
#else
    return false;
#endif
}

bool standardInputIsTerminal()
{
#ifdef Q_OS_UNIX
    return ::isatty(STDIN_FILENO) == 1;
#else
    return false;
#endif
}

int standardOutputColumns()
{
#ifdef Q_OS_UNIX
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
#endif
    return 80;
}

} // namespace Terminal

TerminalInput::TerminalInput(QObject *parent) : QObject(parent) {}

TerminalInput::~TerminalInput()
{
    restore();
}

#ifdef Q_OS_UNIX

bool TerminalInput::start()
{
    if (notifier_)
        return true;
    termios mode{};
    if (!Terminal::standardInputIsTerminal() || ::tcgetattr(STDIN_FILENO, &mode) != 0)
        return false;
    savedMode_ = QByteArray(reinterpret_cast<const char *>(&mode), sizeof mode);
    // Every key as it is pressed, nothing echoed or turned into a signal;
    // output is still processed (a line end still starts a new line).
    mode.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &mode) != 0)
        return false;
    notifier_ = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminalInput::readTerminal);
    return true;
}

void TerminalInput::restore()
{
    if (!notifier_)
        return;
    // Possibly called from a handler of its own signals.
    notifier_->setEnabled(false);
    notifier_->deleteLater();
    notifier_ = nullptr;
    termios mode{};
    std::memcpy(&mode, savedMode_.constData(), sizeof mode);
    ::tcsetattr(STDIN_FILENO, TCSADRAIN, &mode);
}

void TerminalInput::readTerminal()
{
    char buffer[4096];
    // The notifier says bytes are there, so this read does not block.
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n > 0) {
        Q_EMIT received(QByteArray(buffer, n));
        return;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    notifier_->setEnabled(false);
    Q_EMIT closed();
}

#else

bool TerminalInput::start()
{
    return false;
}
void TerminalInput::restore() {}
void TerminalInput::readTerminal() {}

#endif
