#include "platform/terminal.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
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
