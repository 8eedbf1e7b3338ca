#include "xsession.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <QWidget>
#include <QWindow>
#include <QtEndian>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Starts `argv` with its standard output and error on /dev/null (except the
// descriptor `keepFd`, passed on as it is); it gets SIGTERM when this process
// ends.
pid_t spawn(const QList<QByteArray> &argv, int keepFd = -1)
{
    std::vector<char *> args;
    for (const QByteArray &arg : argv)
        args.push_back(const_cast<char *>(arg.constData()));
    args.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        _exit(127);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    for (int fd = 3; fd < 1024; ++fd) {
        if (fd != keepFd)
            close(fd);
    }
    execvp(args[0], args.data());
    _exit(127);
}

// SIGTERM, then SIGKILL when it has not ended within 5 s.
void stop(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    const QDeadlineTimer deadline(5000);
    while (waitpid(pid, nullptr, WNOHANG) == 0) {
        if (deadline.hasExpired()) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            return;
        }
        QThread::msleep(10);
    }
}

int number(const QString &text, const QString &pattern)
{
    const QRegularExpressionMatch match = QRegularExpression(pattern).match(text);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

} // namespace

XSession::~XSession()
{
    stop(windowManager_);
    stop(server_);
}

bool XSession::startServer()
{
    // Xvfb picks a free display itself and writes its number to the pipe
    // once it accepts connections.
    int fds[2];
    if (pipe(fds) != 0) {
        error_ = QStringLiteral("pipe failed");
        return false;
    }
    server_ = spawn({"Xvfb", "-displayfd", QByteArray::number(fds[1]), "-screen", "0", "1280x1024x24", "-nolisten",
                     "tcp", "-noreset"},
                    fds[1]);
    close(fds[1]);
    QByteArray display;
    const QDeadlineTimer deadline(20'000);
    while (!display.endsWith('\n') && !deadline.hasExpired()) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, int(qMax<qint64>(1, deadline.remainingTime()))) <= 0)
            continue;
        char c;
        if (read(fds[0], &c, 1) != 1)
            break;
        display += c;
    }
    close(fds[0]);
    if (!display.endsWith('\n')) {
        error_ = QStringLiteral("Xvfb did not start (is the package xvfb installed?)");
        return false;
    }
    qputenv("DISPLAY", ":" + display.trimmed());
    qputenv("QT_QPA_PLATFORM", "xcb");
    return true;
}

bool XSession::startWindowManager()
{
    // openbox runs its start-up command once it manages the screen: windows
    // mapped before that would be taken over where they stand, unfocused.
    const QString ready = readyFile_.filePath(QStringLiteral("window-manager-ready"));
    windowManager_ = spawn({"openbox", "--startup", "touch " + QFile::encodeName(ready)});
    const QDeadlineTimer deadline(20'000);
    while (!deadline.hasExpired()) {
        if (QFile::exists(ready))
            return true;
        if (waitpid(windowManager_, nullptr, WNOHANG) == windowManager_) {
            windowManager_ = -1;
            break;
        }
        QThread::msleep(20);
    }
    error_ = QStringLiteral("openbox did not start (is the package openbox installed?)");
    return false;
}

namespace xtool {

QByteArray run(const QString &program, const QStringList &arguments, bool *ok, int timeoutMs)
{
    QProcess process;
    process.start(program, arguments);
    const bool done = process.waitForFinished(timeoutMs);
    if (!done) {
        process.kill();
        process.waitForFinished(1000);
    }
    if (ok)
        *ok = done && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return process.readAllStandardOutput();
}

QString property(quint64 id, const QString &name)
{
    const QString out = QString::fromUtf8(run(QStringLiteral("xprop"), {"-id", QString::number(id), name}));
    return out.contains(QLatin1String("not found")) ? QString() : out;
}

QStringList atoms(quint64 id, const QString &name)
{
    const QString value = property(id, name).section(QLatin1Char('='), 1);
    QStringList list;
    for (const QString &atom : value.split(QLatin1Char(','), Qt::SkipEmptyParts))
        list.append(atom.trimmed());
    return list;
}

QPoint clientTopLeft(quint64 id)
{
    const QString info = QString::fromUtf8(run(QStringLiteral("xwininfo"), {"-id", QString::number(id)}));
    return {number(info, QStringLiteral("Absolute upper-left X:\\s+(-?\\d+)")),
            number(info, QStringLiteral("Absolute upper-left Y:\\s+(-?\\d+)"))};
}

QPoint frameTopLeft(quint64 id)
{
    const QPoint client = clientTopLeft(id);
    // left, right, top, bottom
    const QStringList extents = property(id, QStringLiteral("_NET_FRAME_EXTENTS")).section(QLatin1Char('='), 1).split(QLatin1Char(','));
    if (extents.size() != 4)
        return {-10000, -10000};
    return client - QPoint(extents[0].trimmed().toInt(), extents[2].trimmed().toInt());
}

QSize sizeHint(quint64 id, const QString &which)
{
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("program specified %1 size: (\\d+) by (\\d+)").arg(which))
            .match(property(id, QStringLiteral("WM_NORMAL_HINTS")));
    return match.hasMatch() ? QSize(match.captured(1).toInt(), match.captured(2).toInt()) : QSize();
}

QList<quint64> stackingOrder()
{
    const QString out = QString::fromUtf8(run(QStringLiteral("xprop"), {"-root", "_NET_CLIENT_LIST_STACKING"}));
    QList<quint64> order;
    for (const QString &id : out.section(QLatin1Char('#'), 1).split(QLatin1Char(','), Qt::SkipEmptyParts))
        order.append(id.trimmed().toULongLong(nullptr, 16));
    return order;
}

bool xdotool(const QStringList &arguments)
{
    bool ok = false;
    run(QStringLiteral("xdotool"), arguments, &ok);
    return ok;
}

bool key(const QString &keys)
{
    return xdotool({"key", "--clearmodifiers", keys});
}

bool type(const QString &text)
{
    return xdotool({"type", "--clearmodifiers", "--delay", "20", text});
}

bool click(QPoint global, int button)
{
    return xdotool({"mousemove", "--sync", QString::number(global.x()), QString::number(global.y()), "click",
                    QString::number(button)});
}

bool doubleClick(QPoint global)
{
    return xdotool({"mousemove", "--sync", QString::number(global.x()), QString::number(global.y()), "click", "--repeat", "2",
                    "--delay", "60", "1"});
}

bool drag(QPoint from, const QList<QPoint> &through, QPoint to)
{
    QStringList arguments = {"mousemove", "--sync", QString::number(from.x()), QString::number(from.y()), "mousedown", "1"};
    for (const QPoint point : through)
        arguments += {"mousemove", "--sync", QString::number(point.x()), QString::number(point.y())};
    arguments += {"mousemove", "--sync", QString::number(to.x()), QString::number(to.y()), "mouseup", "1"};
    return xdotool(arguments);
}

QImage screenshot(quint64 id)
{
    // xwd's dump: a header of big-endian 32-bit fields, the window's name,
    // the colour map, then the pixels as the server holds them.
    bool ok = false;
    const QByteArray dump = run(QStringLiteral("xwd"), {"-silent", "-id", QString::number(id)}, &ok);
    enum Field { HeaderSize = 0, Format = 2, Width = 4, Height = 5, ByteOrder = 7, BitsPerPixel = 11, BytesPerLine = 12,
                 RedMask = 14, GreenMask = 15, BlueMask = 16, ColourCount = 19, FieldCount = 25 };
    if (!ok || dump.size() < FieldCount * 4)
        return {};
    auto field = [&](int index) { return qFromBigEndian<quint32>(dump.constData() + index * 4); };
    const qint64 width = field(Width), height = field(Height), bytesPerLine = field(BytesPerLine);
    const qint64 start = qint64(field(HeaderSize)) + qint64(field(ColourCount)) * 12;
    // Z pixmap, 32 bits a pixel, 8 bits a colour: what a 24-bit X server has.
    if (field(Format) != 2 || field(BitsPerPixel) != 32 || field(RedMask) != 0xff0000 || field(GreenMask) != 0xff00 ||
        field(BlueMask) != 0xff || width <= 0 || height <= 0 || start + bytesPerLine * height > dump.size())
        return {};
    const bool mostFirst = field(ByteOrder) == 1;
    QImage image(int(width), int(height), QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        const char *row = dump.constData() + start + y * bytesPerLine;
        auto *out = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const quint32 pixel = mostFirst ? qFromBigEndian<quint32>(row + x * 4) : qFromLittleEndian<quint32>(row + x * 4);
            out[x] = 0xff000000u | (pixel & 0xffffffu);
        }
    }
    return image;
}

bool managed(QWidget *window)
{
    return window && window->isVisible() && window->windowHandle() && window->windowHandle()->isExposed() &&
           !property(window->winId(), QStringLiteral("_NET_FRAME_EXTENTS")).isEmpty();
}

bool activate(QWidget *window)
{
    // A window manager may pass over a program's own request for the focus
    // (openbox does, now and then, on a busy machine): ask again, and then
    // as the user's tools do, through the window manager.
    for (int attempt = 0; attempt < 5; ++attempt) {
        window->activateWindow();
        if (QTest::qWaitForWindowActive(window, 1000))
            return true;
        run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QString::number(window->winId())});
        if (QTest::qWaitForWindowActive(window, 1000))
            return true;
    }
    return false;
}

} // namespace xtool
